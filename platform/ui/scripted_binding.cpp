#include "platform/ui/scripted_binding.h"

#include <cctype>

#include "platform/ui/message_box.h"

namespace norv::ui {
namespace {

bool TakesFocus(const Control& c) {
  switch (c.kind()) {
    case ControlKind::kGroupBox:
    case ControlKind::kLabel:
      return false;
    default:
      return c.enabled && c.visible;
  }
}

std::string Describe(const Dialog& d, int id) {
  return "dialog " + std::to_string(d.dialogTemplate().id) + " control " + std::to_string(id);
}

}  // namespace

Control* ScriptedUser::Usable(int id, const char* action) {
  Control* c = dialog_.Find(id);
  if (dialog_.ended()) {
    binding_.RecordError(std::string(action) + " on a closed " + Describe(dialog_, id));
    return nullptr;
  }
  if (c == nullptr || !c->enabled || !c->visible) {
    binding_.RecordError(std::string(action) + ": " + Describe(dialog_, id) +
                         (c == nullptr ? " does not exist" : " is disabled or hidden"));
    return nullptr;
  }
  return c;
}

bool ScriptedUser::Click(int id) {
  Control* c = Usable(id, "click");
  if (c == nullptr) return false;
  if (c->kind() != ControlKind::kPushButton && c->kind() != ControlKind::kDefaultPushButton &&
      c->kind() != ControlKind::kCheckBox) {
    binding_.RecordError("click: " + Describe(dialog_, id) + " is not a button");
    return false;
  }
  dialog_.MoveFocus(id);
  if (dialog_.ended()) return true;
  if (c->kind() == ControlKind::kCheckBox) c->checked = !c->checked;
  dialog_.Notify(id, Notification::kClicked);
  return true;
}

bool ScriptedUser::Select(int id, int index) {
  Control* c = Usable(id, "select");
  if (c == nullptr) return false;
  if (c->kind() != ControlKind::kDropDownList || index < 0 ||
      index >= static_cast<int>(c->items.size())) {
    binding_.RecordError("select: " + Describe(dialog_, id) + " has no item " +
                         std::to_string(index));
    return false;
  }
  dialog_.MoveFocus(id);
  c->selection = index;
  dialog_.Notify(id, Notification::kSelectionChanged);
  return true;
}

bool ScriptedUser::SelectText(int id, const std::string& text) {
  const int index = dialog_.FindExact(id, text);
  if (index < 0) {
    binding_.RecordError("select: " + Describe(dialog_, id) + " has no item \"" + text + "\"");
    return false;
  }
  return Select(id, index);
}

bool ScriptedUser::Type(int id, const std::string& text) {
  Control* c = Usable(id, "type");
  if (c == nullptr) return false;
  if (c->kind() != ControlKind::kEdit) {
    binding_.RecordError("type: " + Describe(dialog_, id) + " is not an edit");
    return false;
  }
  dialog_.MoveFocus(id);
  // The focus arrives with the whole text selected: the first key replaces it.
  if (text.empty()) {
    c->text.clear();
    dialog_.Notify(id, Notification::kTextChanged);
    return true;
  }
  bool first = true;
  for (char ch : text) {
    if ((c->style() & kStyleDigitsOnly) != 0 && std::isdigit(static_cast<unsigned char>(ch)) == 0) {
      binding_.RecordError("type: " + Describe(dialog_, id) + " takes digits only");
      return false;
    }
    const std::size_t kept = first ? 0 : c->text.size();
    if (c->textLimit > 0 && kept >= static_cast<std::size_t>(c->textLimit)) return false;
    if (first) c->text.clear();
    c->text.push_back(ch);
    first = false;
    dialog_.Notify(id, Notification::kTextChanged);
  }
  return true;
}

bool ScriptedUser::TabAway() {
  auto& controls = dialog_.controls();
  const std::size_t n = controls.size();
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (controls[i].id() == dialog_.focus()) start = i;
  for (std::size_t step = 1; step <= n; ++step) {
    const Control& c = controls[(start + step) % n];
    if (TakesFocus(c) && c.id() != kNoId) {
      dialog_.MoveFocus(c.id());
      return true;
    }
  }
  return false;
}

bool ScriptedUser::Scroll(int id, int position) {
  Control* c = Usable(id, "scroll");
  if (c == nullptr) return false;
  if (c->kind() != ControlKind::kTrackBar) {
    binding_.RecordError("scroll: " + Describe(dialog_, id) + " is not a track bar");
    return false;
  }
  dialog_.MoveFocus(id);
  dialog_.SetPosition(id, position);
  dialog_.Notify(id, Notification::kScrolled);
  return true;
}

std::string ScriptedUser::SelectedText(int id) const {
  return dialog_.ItemText(id, dialog_.Selection(id));
}

std::vector<std::string> ScriptedUser::Items(int id) const {
  std::vector<std::string> texts;
  for (int i = 0; i < dialog_.ItemCount(id); ++i) texts.push_back(dialog_.ItemText(id, i));
  return texts;
}

std::vector<std::uint32_t> ScriptedUser::ItemData(int id) const {
  std::vector<std::uint32_t> data;
  for (int i = 0; i < dialog_.ItemCount(id); ++i) data.push_back(dialog_.ItemData(id, i));
  return data;
}

ScriptedBinding::ScriptedBinding() : previous_(CurrentDialogBinding()) {
  SetDialogBinding(this);
  NorvSetMessageSink(&ScriptedBinding::MessageSink, this);
}

ScriptedBinding::~ScriptedBinding() {
  NorvSetMessageSink(nullptr, nullptr);
  SetDialogBinding(previous_);
}

void ScriptedBinding::Expect(int templateId, Script script) {
  scripts_.push_back({templateId, std::move(script)});
}
void ScriptedBinding::AnswerMenu(int command) {
  menuAnswers_.push_back(command);
}
void ScriptedBinding::AnswerChooser(std::optional<std::string> path) {
  chooserAnswers_.push_back(std::move(path));
}
void ScriptedBinding::AnswerMessage(int button) {
  messageAnswers_.push_back(button);
}

void ScriptedBinding::RunModal(Dialog& dialog) {
  const int id = dialog.dialogTemplate().id;
  opened_.push_back(id);
  dialog.Initialise();
  if (scripts_.empty() || scripts_.front().templateId != id) {
    if (!dialog.ended()) {
      errors_.push_back("no script for dialog " + std::to_string(id));
      dialog.EndDialog(Dialog::kCancel);
    }
    return;
  }
  Script script = std::move(scripts_.front().script);
  scripts_.pop_front();
  if (dialog.ended()) return;
  ScriptedUser user(dialog, *this);
  script(user);
  if (!dialog.ended()) {
    errors_.push_back("dialog " + std::to_string(id) + " left open by its script");
    dialog.EndDialog(Dialog::kCancel);
  }
}

int ScriptedBinding::TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                                    std::uint32_t flags) {
  menus_.push_back({owner.dialogTemplate().id, menu.items(), at, flags});
  if (menuAnswers_.empty()) return 0;
  const int answer = menuAnswers_.front();
  menuAnswers_.pop_front();
  if (answer != 0 && menu.TextOf(answer) == nullptr) {
    errors_.push_back("menu has no command " + std::to_string(answer));
    return 0;
  }
  return answer;
}

bool ScriptedBinding::ChooseOpenFile(Dialog&, OpenFileRequest& request) {
  // Two windows of the chooser's own, told apart from every dialog.
  static int frame, self;
  if (request.onInit) request.onInit(reinterpret_cast<HWND>(&frame), reinterpret_cast<HWND>(&self));
  OpenFileRequest shown = request;
  shown.onInit = nullptr;
  choosers_.push_back(std::move(shown));
  if (chooserAnswers_.empty()) return false;
  std::optional<std::string> answer = std::move(chooserAnswers_.front());
  chooserAnswers_.pop_front();
  if (!answer || answer->size() > request.maxPath) return false;
  request.path = *answer;
  return true;
}

ScreenRect ScriptedBinding::ControlScreenRect(const Dialog& dialog, int id) const {
  const Control* c = dialog.Find(id);
  if (c == nullptr) return {};
  ScreenRect r = DialogUnitsToPixels(c->rect());
  return {r.left + kOrigin.x, r.top + kOrigin.y, r.right + kOrigin.x, r.bottom + kOrigin.y};
}

int ScriptedBinding::MessageSink(void* self, const char* text, const char*, unsigned) {
  auto* binding = static_cast<ScriptedBinding*>(self);
  binding->messages_.emplace_back(text != nullptr ? text : "");
  if (binding->messageAnswers_.empty()) return IDOK;
  const int answer = binding->messageAnswers_.front();
  binding->messageAnswers_.pop_front();
  return answer;
}

}  // namespace norv::ui
