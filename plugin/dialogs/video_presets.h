// Video presets: the menu of the host's "SAMPLES" folder, loading a preset
// file into a settings record with the audio rule, and saving one. They work
// on a record and a window, not on a dialog, so any dialog may offer them.
#pragma once

#include <memory>

#include "platform/ui/dialog.h"
#include "plugin/host/avi_settings.h"

class VideoPresetMenu {
 public:
  // Lists the presets beside `button` of `owner` and returns the chosen
  // command (0 for none); false when the folder lists none and nothing was
  // shown.
  bool Show(norv::ui::Dialog& owner, const norv::ui::ScreenRect& button, int* command);
  // The file of a listed command; false when the command lists none.
  bool PathOf(int command, char (&path)[260]) const;

 private:
  std::unique_ptr<norv::ui::PopupMenu> menu_;
};

// Asks for a preset file to load; false when the user cancels.
bool AskVideoPresetToLoad(HWND owner, char (&path)[260]);
// Loads `path` over `settings`; the preset's audio applies only when both
// have audio. Shows the failure message and leaves `settings` as it was.
bool LoadVideoPreset(AviSettings* settings, const char* path);
// Asks for a file and saves `settings` in it; the failure message if it fails.
void SaveVideoPreset(const AviSettings& settings, HWND owner);
