#include "platform/ui/win32/win32_binding.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace norv::ui {
namespace {

// What the dialog procedure keeps for one open dialog.
struct Shown {
  Dialog* model = nullptr;
  bool initialised = false;
  // Set while the binding writes to the controls: the notifications those
  // writes cause are its own, not the user's.
  bool refreshing = false;
};

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  const int got = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

void SetTextIfChanged(HWND window, const std::string& text) {
  if (WindowText(window) != text) SetWindowTextA(window, text.c_str());
}

std::string ListItemText(HWND list, int index) {
  const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return text;
}

void RefreshList(HWND list, const Control& c) {
  const auto count = static_cast<int>(c.items.size());
  bool same = SendMessageA(list, CB_GETCOUNT, 0, 0) == count;
  for (int i = 0; same && i < count; ++i)
    same = ListItemText(list, i) == c.items[static_cast<std::size_t>(i)].text;
  if (!same) {
    // The lists are unsorted: added items keep the model's order.
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const ListItem& item : c.items)
      SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
  }
  if (SendMessageA(list, CB_GETCURSEL, 0, 0) != c.selection)
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
}

void RefreshTrackBar(HWND track, const Control& c) {
  if (SendMessageA(track, TBM_GETRANGEMIN, 0, 0) != c.rangeMin ||
      SendMessageA(track, TBM_GETRANGEMAX, 0, 0) != c.rangeMax) {
    SendMessageA(track, TBM_SETRANGEMIN, FALSE, c.rangeMin);
    SendMessageA(track, TBM_SETRANGEMAX, TRUE, c.rangeMax);
  }
  if (SendMessageA(track, TBM_GETPOS, 0, 0) != c.position)
    SendMessageA(track, TBM_SETPOS, TRUE, c.position);
}

// The model's state onto the dialog's controls; only what differs is written,
// so the user's caret and selection survive.
void Refresh(HWND window, Shown& shown) {
  const bool wasRefreshing = shown.refreshing;
  shown.refreshing = true;
  Dialog& model = *shown.model;
  SetTextIfChanged(window, model.caption());
  for (const Control& c : model.controls()) {
    if (c.id() == kNoId) continue;
    HWND w = GetDlgItem(window, c.id());
    if (w == nullptr) continue;
    if ((IsWindowEnabled(w) != FALSE) != c.enabled) EnableWindow(w, c.enabled ? TRUE : FALSE);
    const bool visible = (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != c.visible) ShowWindow(w, c.visible ? SW_SHOWNA : SW_HIDE);
    switch (c.kind()) {
      case ControlKind::kGroupBox:
      case ControlKind::kLabel:
      case ControlKind::kPushButton:
      case ControlKind::kDefaultPushButton:
        SetTextIfChanged(w, c.text);
        break;
      case ControlKind::kCheckBox: {
        SetTextIfChanged(w, c.text);
        const bool checked = SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (checked != c.checked)
          SendMessageA(w, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      }
      case ControlKind::kEdit:
        // A limit of 0 is the edit's own maximum.
        SendMessageA(w, EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(c.textLimit, 0)), 0);
        SetTextIfChanged(w, c.text);
        break;
      case ControlKind::kDropDownList:
        RefreshList(w, c);
        break;
      case ControlKind::kTrackBar:
        RefreshTrackBar(w, c);
        break;
    }
  }
  shown.refreshing = wasRefreshing;
}

// Runs a user's action on the model, then shows what it changed; closes the
// window when the logic ended the dialog. Nothing the logic throws may cross
// the dialog manager's frames: it ends the dialog as Cancel.
template <typename Action>
void Deliver(HWND window, Shown& shown, const Action& action) {
  Dialog& model = *shown.model;
  if (model.ended()) return;
  try {
    action(model);
  } catch (...) {
    if (!model.ended()) model.EndDialog(Dialog::kCancel);
  }
  if (model.ended()) {
    ::EndDialog(window, model.result());
    return;
  }
  Refresh(window, shown);
}

// The control that has the focus, if it is one of this dialog's.
int FocusedControl(HWND window) {
  HWND focus = GetFocus();
  if (focus == nullptr || GetParent(focus) != window) return kNoId;
  return GetDlgCtrlID(focus);
}

void Command(HWND window, Shown& shown, int id, UINT code) {
  const Control* c = shown.model->Find(id);
  if (c == nullptr) {
    // Enter, Escape and the close box arrive as clicks of 1 and 2.
    if (code == BN_CLICKED) Deliver(window, shown, [id](Dialog& m) { m.Command(id); });
    return;
  }
  HWND control = GetDlgItem(window, id);
  switch (c->kind()) {
    case ControlKind::kCheckBox:
      if (code != BN_CLICKED) return;
      Deliver(window, shown, [id, control](Dialog& m) {
        // The box has toggled itself already.
        m.Find(id)->checked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
        m.Notify(id, Notification::kClicked);
      });
      return;
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      if (code == BN_CLICKED)
        Deliver(window, shown, [id](Dialog& m) { m.Notify(id, Notification::kClicked); });
      return;
    case ControlKind::kEdit:
      if (code == EN_CHANGE) {
        Deliver(window, shown, [id, control](Dialog& m) {
          m.Find(id)->text = WindowText(control);
          m.Notify(id, Notification::kTextChanged);
        });
      } else if (code == EN_SETFOCUS) {
        Deliver(window, shown, [id](Dialog& m) { m.MoveFocus(id); });
      } else if (code == EN_KILLFOCUS) {
        // Buttons do not say when they take the focus: the edit's loss is
        // reported here, towards whichever control has it now.
        int next = FocusedControl(window);
        if (next == id) next = kNoId;
        Deliver(window, shown, [id, next](Dialog& m) {
          if (m.focus() == id) m.MoveFocus(next);
        });
      }
      return;
    case ControlKind::kDropDownList:
      if (code == CBN_SELCHANGE) {
        Deliver(window, shown, [id, control](Dialog& m) {
          m.Find(id)->selection = static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0));
          m.Notify(id, Notification::kSelectionChanged);
        });
      } else if (code == CBN_SETFOCUS) {
        Deliver(window, shown, [id](Dialog& m) { m.MoveFocus(id); });
      }
      return;
    case ControlKind::kGroupBox:
    case ControlKind::kLabel:
    case ControlKind::kTrackBar:
      return;
  }
}

void CentreOn(HWND window, HWND owner) {
  RECT area{};
  if (owner == nullptr || GetWindowRect(owner, &area) == FALSE)
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  RECT self{};
  if (GetWindowRect(window, &self) == FALSE) return;
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  SetWindowPos(window, nullptr, (area.left + area.right - width) / 2,
               (area.top + area.bottom - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* shown = reinterpret_cast<Shown*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    Dialog& model = *shown->model;
    model.SetWindow(window);
    shown->initialised = true;
    Deliver(window, *shown, [](Dialog& m) { m.Initialise(); });
    if (!model.ended() && model.centred()) CentreOn(window, model.owner());
    // The dialog manager gives the focus to the first control that takes it.
    return TRUE;
  }
  auto* shown = reinterpret_cast<Shown*>(GetWindowLongPtrA(window, DWLP_USER));
  if (shown == nullptr || shown->refreshing) return FALSE;
  switch (message) {
    case WM_COMMAND:
      Command(window, *shown, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL: {
      HWND track = reinterpret_cast<HWND>(lParam);
      if (track == nullptr) return FALSE;
      const int id = GetDlgCtrlID(track);
      const auto position = static_cast<int>(SendMessageA(track, TBM_GETPOS, 0, 0));
      Deliver(window, *shown, [id, position](Dialog& m) {
        m.SetPosition(id, position);
        m.Notify(id, Notification::kScrolled);
      });
      return TRUE;
    }
    default:
      return FALSE;
  }
}

UINT_PTR CALLBACK ChooserHook(HWND self, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* chooser = reinterpret_cast<const OPENFILENAMEA*>(lParam);
    auto* request = reinterpret_cast<OpenFileRequest*>(chooser->lCustData);
    // An explorer-style chooser hooks a child of the chooser's frame.
    if (request != nullptr && request->onInit) request->onInit(GetParent(self), self);
  }
  return 0;
}

}  // namespace

void Win32Binding::RunModal(Dialog& dialog) {
  // The track bars' window class lives in the common controls.
  static const bool registered = [] {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    return InitCommonControlsEx(&classes) != FALSE;
  }();
  (void)registered;
  Shown shown;
  shown.model = &dialog;
  const INT_PTR result = DialogBoxParamA(
      templates_ != nullptr ? templates_() : nullptr, MAKEINTRESOURCEA(dialog.dialogTemplate().id),
      dialog.owner(), &DialogProc, reinterpret_cast<LPARAM>(&shown));
  // Without a window (no template, no memory) the dialog still runs its
  // initialisation over the model, as with no binding, and ends as Cancel.
  if (result == -1 && !shown.initialised) dialog.Initialise();
  dialog.SetWindow(nullptr);
}

int Win32Binding::TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                                 std::uint32_t flags) {
  HMENU popup = CreatePopupMenu();
  if (popup == nullptr) return 0;
  for (const PopupMenu::Item& item : menu.items()) {
    if (item.separator) {
      AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(popup, MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED),
                  static_cast<UINT_PTR>(item.id), item.text.c_str());
    }
  }
  const UINT how = TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN |
                   ((flags & kTrackRightButton) != 0 ? TPM_RIGHTBUTTON : TPM_LEFTBUTTON);
  const BOOL chosen = ::TrackPopupMenu(popup, how, at.x, at.y, 0, owner.window(), nullptr);
  DestroyMenu(popup);
  return chosen;
}

bool Win32Binding::ChooseOpenFile(Dialog& owner, OpenFileRequest& request) {
  // The filter is pairs of strings, each with its terminator, and one more.
  std::string filter = request.filterDescription;
  filter.push_back('\0');
  filter += request.filterPattern;
  filter.push_back('\0');
  std::vector<char> path(request.maxPath + 1, '\0');
  std::memcpy(path.data(), request.path.data(), std::min(request.path.size(), request.maxPath));

  OPENFILENAMEA chooser{};
  chooser.lStructSize = sizeof chooser;
  chooser.hwndOwner = owner.window();
  chooser.lpstrFilter = filter.c_str();
  chooser.nFilterIndex = 1;
  chooser.lpstrFile = path.data();
  chooser.nMaxFile = static_cast<DWORD>(path.size());
  chooser.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  chooser.lpstrDefExt =
      request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  chooser.Flags = (request.hideReadOnly ? OFN_HIDEREADONLY : 0) |
                  (request.explorer ? OFN_EXPLORER : 0) |
                  (request.noNetworkButton ? OFN_NONETWORKBUTTON : 0) |
                  (request.fileMustExist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0) |
                  (request.resizable ? OFN_ENABLESIZING : 0);
  if (request.onInit) {
    chooser.Flags |= OFN_ENABLEHOOK;
    chooser.lpfnHook = &ChooserHook;
    chooser.lCustData = reinterpret_cast<LPARAM>(&request);
  }
  if (GetOpenFileNameA(&chooser) == FALSE) return false;
  std::string chosen(path.data());
  if (chosen.size() > request.maxPath) return false;
  request.path = std::move(chosen);
  return true;
}

ScreenRect Win32Binding::ControlScreenRect(const Dialog& dialog, int id) const {
  HWND control = dialog.window() != nullptr ? GetDlgItem(dialog.window(), id) : nullptr;
  RECT r{};
  if (control == nullptr || GetWindowRect(control, &r) == FALSE) return {};
  return {r.left, r.top, r.right, r.bottom};
}

}  // namespace norv::ui
