// A binding without windows for tests: each dialog that opens runs the next
// queued script, which acts on it as a user would (types, tabs away, clicks,
// chooses list items, moves track bars) and reads what the controls show.
// Pop-up menus, file choosers and message boxes are answered from queues and
// recorded. Whatever a user could not have done (clicking a disabled button,
// typing a letter into a digits-only edit, a dialog with no script, a dialog
// a script left open) is recorded in errors() instead of failing at once, so
// a test inside the plug-in's modal loop still sees it.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/dialog_binding.h"

namespace norv::ui {

class ScriptedBinding;

// The user's hands on one open dialog.
class ScriptedUser {
 public:
  ScriptedUser(Dialog& dialog, ScriptedBinding& binding) : dialog_(dialog), binding_(binding) {}

  // Actions; false when a user could not do it (recorded as an error).
  bool Click(int id);
  bool Select(int id, int index);
  bool SelectText(int id, const std::string& text);
  // Gives the edit the focus, replaces its text and types `text` one
  // character at a time, each reported as a text change.
  bool Type(int id, const std::string& text);
  // Moves the focus to the next control that can take it.
  bool TabAway();
  bool Scroll(int id, int position);

  // What the dialog shows.
  int templateId() const { return dialog_.dialogTemplate().id; }
  const std::string& Caption() const { return dialog_.caption(); }
  bool IsOpen() const { return !dialog_.ended(); }
  std::string Text(int id) const { return dialog_.Text(id); }
  bool Checked(int id) const { return dialog_.IsChecked(id); }
  bool Enabled(int id) const { return dialog_.IsEnabled(id); }
  bool Visible(int id) const { return dialog_.IsVisible(id); }
  int Selection(int id) const { return dialog_.Selection(id); }
  std::string SelectedText(int id) const;
  std::vector<std::string> Items(int id) const;
  std::vector<std::uint32_t> ItemData(int id) const;
  int Position(int id) const { return dialog_.Position(id); }
  Dialog& dialog() { return dialog_; }

 private:
  Control* Usable(int id, const char* action);
  Dialog& dialog_;
  ScriptedBinding& binding_;
};

class ScriptedBinding : public DialogBinding {
 public:
  using Script = std::function<void(ScriptedUser&)>;

  struct ShownMenu {
    int ownerTemplate = 0;
    std::vector<PopupMenu::Item> items;
    ScreenPoint at;
    std::uint32_t flags = 0;
  };

  // Installs itself as the process's binding and message sink; the
  // destructor puts back no binding and the default sink.
  ScriptedBinding();
  ~ScriptedBinding() override;
  ScriptedBinding(const ScriptedBinding&) = delete;
  ScriptedBinding& operator=(const ScriptedBinding&) = delete;

  // The next dialog to open must come from this template and runs `script`.
  void Expect(int templateId, Script script);
  // The command the next pop-up menu answers with; 0 dismisses it (also the
  // answer when nothing is queued).
  void AnswerMenu(int command);
  // The next file chooser confirms this path, or is cancelled with nullopt
  // (also the answer when nothing is queued).
  void AnswerChooser(std::optional<std::string> path);
  // The button the next message box is answered with (default IDOK).
  void AnswerMessage(int button);

  const std::vector<int>& opened() const { return opened_; }
  const std::vector<ShownMenu>& menus() const { return menus_; }
  // Choosers as requested (their onInit already called).
  const std::vector<OpenFileRequest>& choosers() const { return choosers_; }
  const std::vector<std::string>& messages() const { return messages_; }
  const std::vector<std::string>& errors() const { return errors_; }
  std::size_t pendingScripts() const { return scripts_.size(); }
  void RecordError(std::string error) { errors_.push_back(std::move(error)); }

  void RunModal(Dialog& dialog) override;
  int TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                     std::uint32_t flags) override;
  bool ChooseOpenFile(Dialog& owner, OpenFileRequest& request) override;
  ScreenRect ControlScreenRect(const Dialog& dialog, int id) const override;

  // Where the scripted dialogs stand on the screen.
  static constexpr ScreenPoint kOrigin{200, 100};

 private:
  static int MessageSink(void* self, const char* text, const char* caption, unsigned type);

  struct Expected {
    int templateId;
    Script script;
  };
  std::deque<Expected> scripts_;
  std::deque<int> menuAnswers_;
  std::deque<std::optional<std::string>> chooserAnswers_;
  std::deque<int> messageAnswers_;
  std::vector<int> opened_;
  std::vector<ShownMenu> menus_;
  std::vector<OpenFileRequest> choosers_;
  std::vector<std::string> messages_;
  std::vector<std::string> errors_;
  DialogBinding* previous_;
};

}  // namespace norv::ui
