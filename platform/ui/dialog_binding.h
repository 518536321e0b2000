// Where the control model meets a user: a binding runs a dialog's modal
// loop, shows pop-up menus and the file chooser, and knows where controls
// stand on the screen. The host program installs one binding for the
// process (real windows in a GUI host, a script in tests); the plug-in's
// dialogs run through whichever is installed.
#pragma once

#include "platform/ui/dialog.h"

namespace norv::ui {

class DialogBinding {
 public:
  virtual ~DialogBinding() = default;
  // Creates the dialog's windows, calls dialog.Initialise(), and returns once
  // dialog.ended() is true. Runs nested when a dialog opens another.
  virtual void RunModal(Dialog& dialog) = 0;
  virtual int TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                             std::uint32_t flags) = 0;
  virtual bool ChooseOpenFile(Dialog& owner, OpenFileRequest& request) = 0;
  virtual ScreenRect ControlScreenRect(const Dialog& dialog, int id) const = 0;
};

// The process's binding; null (the default) when no dialog can be shown.
// The binding is not owned and must outlive its installation.
void SetDialogBinding(DialogBinding* binding);
DialogBinding* CurrentDialogBinding();

// Dialog units to pixels for the template font "MS Sans Serif" 8 at 96 dpi
// (base units 6 x 13), as bindings without a real font lay dialogs out.
ScreenRect DialogUnitsToPixels(const DialogRect& rect);

}  // namespace norv::ui
