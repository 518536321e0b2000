// The control model shown in Windows' own dialogs. Each dialog's window is
// made by the dialog manager from the template resource of the same number
// in the module `templates` names when a dialog opens; the binding carries
// the user's actions into the model (clicks, edits, focus moves, list
// choices, track-bar moves) and puts the model's state back onto the
// controls after each of them, as the Qt binding does for its widgets.
// Pop-up menus are real menus and the file chooser is the common open-file
// dialog.
//
// Dialogs run on the thread that opens them, as Windows requires.
#pragma once

#include "platform/ui/dialog_binding.h"

namespace norv::ui {

class Win32Binding : public DialogBinding {
 public:
  using ModuleSource = HINSTANCE (*)();
  explicit Win32Binding(ModuleSource templates) : templates_(templates) {}

  void RunModal(Dialog& dialog) override;
  int TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                     std::uint32_t flags) override;
  bool ChooseOpenFile(Dialog& owner, OpenFileRequest& request) override;
  ScreenRect ControlScreenRect(const Dialog& dialog, int id) const override;

 private:
  ModuleSource templates_;
};

}  // namespace norv::ui
