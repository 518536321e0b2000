#include "platform/ui/dialog.h"

#include <algorithm>

#include "platform/ui/dialog_binding.h"

namespace norv::ui {

Control::Control(const ControlTemplate& from)
    : visible((from.style & kStyleHidden) == 0),
      id_(from.id),
      kind_(from.kind),
      rect_(from.rect),
      style_(from.style) {
  if (kind_ == ControlKind::kDropDownList) {
    for (const std::string& item : from.items) items.push_back({item, 0});
  } else {
    text = from.caption;
  }
}

const std::string* PopupMenu::TextOf(int id) const {
  for (const Item& item : items_)
    if (!item.separator && item.id == id) return &item.text;
  return nullptr;
}

Dialog::Dialog(const DialogTemplate& from, HWND owner)
    : template_(from), caption_(from.caption), owner_(owner) {
  controls_.reserve(from.controls.size());
  for (const ControlTemplate& c : from.controls) controls_.emplace_back(c);
}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  ended_ = false;
  result_ = 0;
  binding_ = CurrentDialogBinding();
  if (binding_ != nullptr) {
    binding_->RunModal(*this);
  } else {
    Initialise();
  }
  // A loop that returns with the dialog still open closed it as Cancel.
  if (!ended_) EndDialog(kCancel);
  binding_ = nullptr;
  return result_;
}

void Dialog::Initialise() {
  // Without a window of the binding's own, the dialog is told apart by its address.
  if (window_ == nullptr) window_ = reinterpret_cast<HWND>(this);
  BindControls();
  OnInitDialog();
}

void Dialog::Bind(int id, Notification what, Handler handler) {
  handlers_[{id, what}] = std::move(handler);
}

void Dialog::Notify(int id, Notification what) {
  if (ended_) return;
  auto it = handlers_.find({id, what});
  if (it != handlers_.end()) {
    // The handler may rebind; run a copy.
    Handler handler = it->second;
    handler();
    return;
  }
  if (what != Notification::kClicked) return;
  if (id == kOk) OnOK();
  if (id == kCancel) OnCancel();
}

void Dialog::MoveFocus(int id) {
  if (id == focus_) return;
  const int previous = focus_;
  focus_ = id;
  if (previous != kNoId) Notify(previous, Notification::kFocusLost);
}

Control* Dialog::Find(int id) {
  if (id == kNoId) return nullptr;
  for (Control& c : controls_)
    if (c.id() == id) return &c;
  return nullptr;
}

const Control* Dialog::Find(int id) const {
  return const_cast<Dialog*>(this)->Find(id);
}

void Dialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
}

void Dialog::EnableControl(int id, bool enable) {
  if (Control* c = Find(id)) c->enabled = enable;
}
bool Dialog::IsEnabled(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}
void Dialog::ShowControl(int id, bool show) {
  if (Control* c = Find(id)) c->visible = show;
}
bool Dialog::IsVisible(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->visible;
}

void Dialog::SetText(int id, std::string text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->text = std::move(text);
  if (c->kind() == ControlKind::kEdit) Notify(id, Notification::kTextChanged);
}

std::string Dialog::Text(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->text : std::string();
}

void Dialog::SetTextLimit(int id, int characters) {
  if (Control* c = Find(id)) c->textLimit = characters;
}

void Dialog::SetCheck(int id, bool checked) {
  if (Control* c = Find(id)) c->checked = checked;
}
bool Dialog::IsChecked(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->checked;
}

void Dialog::ResetContent(int id) {
  if (Control* c = Find(id)) {
    c->items.clear();
    c->selection = -1;
  }
}

int Dialog::AddItem(int id, std::string text) {
  Control* c = Find(id);
  if (c == nullptr || c->kind() != ControlKind::kDropDownList) return -1;
  c->items.push_back({std::move(text), 0});
  return static_cast<int>(c->items.size()) - 1;
}

int Dialog::ItemCount(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

std::string Dialog::ItemText(int id, int index) const {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(index)].text;
}

bool Dialog::SetItemData(int id, int index, std::uint32_t data) {
  Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return false;
  c->items[static_cast<std::size_t>(index)].data = data;
  return true;
}

std::uint32_t Dialog::ItemData(int id, int index) const {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return 0;
  return c->items[static_cast<std::size_t>(index)].data;
}

int Dialog::FindExact(int id, const std::string& text) const {
  const Control* c = Find(id);
  if (c == nullptr) return -1;
  for (std::size_t i = 0; i < c->items.size(); ++i)
    if (c->items[i].text == text) return static_cast<int>(i);
  return -1;
}

void Dialog::Select(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->selection = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
}

int Dialog::Selection(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->selection : -1;
}

void Dialog::SetRange(int id, int minimum, int maximum) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->rangeMin = minimum;
  c->rangeMax = std::max(minimum, maximum);
  c->position = std::clamp(c->position, c->rangeMin, c->rangeMax);
}

void Dialog::SetPosition(int id, int position) {
  if (Control* c = Find(id)) c->position = std::clamp(position, c->rangeMin, c->rangeMax);
}

int Dialog::Position(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->position : 0;
}

ScreenRect Dialog::ControlScreenRect(int id) const {
  if (binding_ != nullptr) return binding_->ControlScreenRect(*this, id);
  const Control* c = Find(id);
  return c != nullptr ? DialogUnitsToPixels(c->rect()) : ScreenRect{};
}

int Dialog::TrackPopupMenu(const PopupMenu& menu, ScreenPoint at, std::uint32_t flags) {
  if (binding_ == nullptr || menu.empty()) return 0;
  return binding_->TrackPopupMenu(*this, menu, at, flags);
}

bool Dialog::ChooseOpenFile(OpenFileRequest& request) {
  if (binding_ == nullptr) return false;
  return binding_->ChooseOpenFile(*this, request);
}

}  // namespace norv::ui
