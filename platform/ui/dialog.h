// The control model: a modal dialog made from a template, with the state of
// every control (enabled, visible, text, check, list items with 32-bit data
// and a selection, track-bar range and position), the focus, and handlers
// bound by control identifier. Dialog logic derives from `Dialog` and talks
// only to it; a binding (dialog_binding.h) shows the model as windows, or
// drives it from a script, and reports the user's actions back as
// notifications.
//
// As with the platform's controls, writes by the logic do not notify, with
// one exception: setting an edit's text reports "text changed", so logic
// that writes edits from a text-changed handler guards itself.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/win32_types.h"

namespace norv::ui {

class DialogBinding;

enum class Notification {
  kClicked,           // button or check box pressed (a check box has toggled already)
  kSelectionChanged,  // the user chose another list item
  kTextChanged,       // an edit's text changed, by the user or the logic
  kFocusLost,         // the focus left the control
  kScrolled,          // a track bar moved
};

struct ListItem {
  std::string text;
  std::uint32_t data = 0;
};

class Control {
 public:
  explicit Control(const ControlTemplate& from);

  int id() const { return id_; }
  ControlKind kind() const { return kind_; }
  const DialogRect& rect() const { return rect_; }
  std::uint32_t style() const { return style_; }

  bool enabled = true;
  bool visible = true;
  std::string text;   // caption of buttons and labels, contents of edits
  int textLimit = 0;  // edit: most characters the user may type; 0 = no limit
  bool checked = false;
  std::vector<ListItem> items;
  int selection = -1;  // -1: none
  int rangeMin = 0;
  int rangeMax = 100;
  int position = 0;

 private:
  int id_;
  ControlKind kind_;
  DialogRect rect_;
  std::uint32_t style_;
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
};
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class PopupMenu {
 public:
  struct Item {
    int id = 0;  // 0 for a separator
    std::string text;
    bool checked = false;
    bool separator = false;
  };

  void Append(int id, std::string text, bool checked = false) {
    items_.push_back({id, std::move(text), checked, false});
  }
  void AppendSeparator() { items_.push_back({0, {}, false, true}); }
  const std::vector<Item>& items() const { return items_; }
  bool empty() const { return items_.empty(); }
  // The text of the item with that command, or null.
  const std::string* TextOf(int id) const;

 private:
  std::vector<Item> items_;
};

enum TrackFlags : std::uint32_t {
  kTrackLeftButton = 0,
  kTrackRightButton = 1u << 0,  // the right button chooses as well as the left
};

// An open-file chooser. The binding fills `path` when the user confirms.
struct OpenFileRequest {
  std::string title;
  std::string filterDescription;
  std::string filterPattern;
  std::string defaultExtension;
  std::string path;  // in: initial file name; out: the chosen full path
  std::size_t maxPath = 259;
  bool hideReadOnly = true;
  bool explorer = true;
  bool noNetworkButton = true;
  bool resizable = false;
  bool fileMustExist = false;
  // Called once the chooser exists, with its frame window and its own window.
  std::function<void(HWND frame, HWND self)> onInit;
};

class Dialog {
 public:
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;

  explicit Dialog(const DialogTemplate& from, HWND owner = nullptr);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally through the current binding and returns the
  // result it ended with. With no binding installed the dialog is initialised
  // over the model alone and then closed as Cancel.
  int DoModal();

  // ---- The binding's side ----
  // Binds the handlers, then runs the logic's initialisation.
  void Initialise();
  // A user's action on a control; handlers bound to it run. Button clicks
  // of 1 and 2 without a handler of their own reach OnOK and OnCancel.
  void Notify(int id, Notification what);
  // A command from a menu or accelerator: handled like a click.
  void Command(int id) { Notify(id, Notification::kClicked); }
  // Moves the focus; the control losing it reports kFocusLost.
  void MoveFocus(int id);
  int focus() const { return focus_; }
  bool ended() const { return ended_; }
  int result() const { return result_; }
  const DialogTemplate& dialogTemplate() const { return template_; }
  const std::string& caption() const { return caption_; }
  std::vector<Control>& controls() { return controls_; }
  Control* Find(int id);
  const Control* Find(int id) const;
  HWND window() const { return window_; }
  HWND owner() const { return owner_; }
  void SetWindow(HWND window) { window_ = window; }

  // ---- The logic's side ----
  void EndDialog(int result);
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  void EnableControl(int id, bool enable);
  bool IsEnabled(int id) const;
  void ShowControl(int id, bool show);
  bool IsVisible(int id) const;
  void SetText(int id, std::string text);
  std::string Text(int id) const;
  void SetTextLimit(int id, int characters);
  void SetCheck(int id, bool checked);
  bool IsChecked(int id) const;
  // Drop-down lists.
  void ResetContent(int id);
  int AddItem(int id, std::string text);  // index of the new item, -1 on failure
  int ItemCount(int id) const;
  std::string ItemText(int id, int index) const;
  bool SetItemData(int id, int index, std::uint32_t data);
  std::uint32_t ItemData(int id, int index) const;       // 0 for a missing item
  int FindExact(int id, const std::string& text) const;  // -1 when none
  void Select(int id, int index);                        // -1 or out of range: no selection
  int Selection(int id) const;                           // -1: none
  // Track bars; the position is kept within the range.
  void SetRange(int id, int minimum, int maximum);
  void SetPosition(int id, int position);
  int Position(int id) const;
  // The screen rectangle of a control, as the binding shows it.
  ScreenRect ControlScreenRect(int id) const;
  // Shows a pop-up menu with its top left at `at`; the chosen command, or 0.
  int TrackPopupMenu(const PopupMenu& menu, ScreenPoint at, std::uint32_t flags);
  // Runs an open-file chooser owned by this dialog; true when confirmed.
  bool ChooseOpenFile(OpenFileRequest& request);
  void CentreOnOwner() { centred_ = true; }
  bool centred() const { return centred_; }

 protected:
  using Handler = std::function<void()>;
  void Bind(int id, Notification what, Handler handler);

  // Overridden by each dialog, in this order of use.
  virtual void BindControls() {}
  virtual void OnInitDialog() {}
  virtual void OnOK() { EndDialog(kOk); }
  virtual void OnCancel() { EndDialog(kCancel); }

 private:
  DialogTemplate template_;
  std::string caption_;
  std::vector<Control> controls_;
  std::map<std::pair<int, Notification>, Handler> handlers_;
  HWND owner_;
  HWND window_ = nullptr;
  DialogBinding* binding_ = nullptr;
  int focus_ = kNoId;
  bool ended_ = false;
  int result_ = 0;
  bool centred_ = false;
};

}  // namespace norv::ui
