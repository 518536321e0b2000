#include "plugin/dialogs/video_presets.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "platform/files/path.h"
#include "platform/ui/message_box.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "plugin/resources/string_table.h"

namespace {

constexpr int kVideoPresetKind = 1;
constexpr const char* kVideoPresetExtension = ".ostavi";
constexpr const char* kPresetFolder = "SAMPLES";
constexpr int kMostListed = kPresetListedLast - kPresetListedFirst + 1;

bool PresetPath(char (&out)[260], const char* folder, const char* name) {
  const int n = std::snprintf(out, sizeof out, "%s%s%c%s", folder, kPresetFolder,
                              norv::platform::kPathSeparator, name);
  return n > 0 && n < static_cast<int>(sizeof out);
}

}  // namespace

bool VideoPresetMenu::Show(norv::ui::Dialog& owner, const norv::ui::ScreenRect& button,
                           int* command) {
  *command = 0;
  menu_ = std::make_unique<norv::ui::PopupMenu>();
  char folder[260] = {};
  GetHostFolder(folder);
  char pattern[260];
  int listed = 0;
  if (PresetPath(pattern, folder, (std::string("*") + kVideoPresetExtension).c_str())) {
    WIN32_FIND_DATAA found{};
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (found.cFileName[0] == '.' || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          continue;
        menu_->Append(kPresetListedFirst + listed, found.cFileName);
        ++listed;
      } while (listed < kMostListed && FindNextFileA(find, &found));
      FindClose(find);
    }
  }
  if (listed == 0) {
    menu_.reset();
    return false;
  }
  menu_->AppendSeparator();
  menu_->Append(kPresetBrowse, LoadStringEntry(kStrBrowse));
  *command =
      owner.TrackPopupMenu(*menu_, {button.right + 5, button.top}, norv::ui::kTrackRightButton);
  return true;
}

bool VideoPresetMenu::PathOf(int command, char (&path)[260]) const {
  if (menu_ == nullptr) return false;
  const std::string* name = menu_->TextOf(command);
  if (name == nullptr) return false;
  char folder[260] = {};
  GetHostFolder(folder);
  return PresetPath(path, folder, name->c_str());
}

bool AskVideoPresetToLoad(HWND owner, char (&path)[260]) {
  std::memset(path, 0, sizeof path);
  return AskPresetPath(1, path, kVideoPresetExtension, owner) != 0;
}

bool LoadVideoPreset(AviSettings* settings, const char* path) {
  // What the file does not fill keeps the working values.
  AviSettings scratch;
  std::memset(&scratch, 0, sizeof scratch);
  CopyFileTypeSettings(&scratch, settings);
  if (LoadPresetFile(kVideoPresetKind, &scratch, path) == 0) {
    FrameworkMessageBox(LoadStringEntry(kStrFailedToLoad), MB_OK);
    HostFree(&scratch.compressorState);
    return false;
  }
  // The preset's audio applies only when both the project and the preset have audio.
  if (settings->audioAvailable != 0 && scratch.audioAvailable != 0) {
    CopyFileTypeSettings(settings, &scratch);
  } else {
    const std::int32_t interleaveFrames = settings->interleaveFrames;
    const std::int32_t audioAvailable = settings->audioAvailable;
    const std::int32_t audioEnabled = settings->audioEnabled;
    std::uint32_t audioFormat[14];
    std::memcpy(audioFormat, settings->audioFormat, sizeof audioFormat);
    CopyFileTypeSettings(settings, &scratch);
    settings->interleaveFrames = interleaveFrames;
    settings->audioAvailable = audioAvailable;
    settings->audioEnabled = audioEnabled;
    std::memcpy(settings->audioFormat, audioFormat, sizeof audioFormat);
  }
  HostFree(&scratch.compressorState);
  return true;
}

void SaveVideoPreset(const AviSettings& settings, HWND owner) {
  char path[260] = {};
  if (AskPresetPath(0, path, kVideoPresetExtension, owner) == 0) return;
  if (SavePresetFile(kVideoPresetKind, &settings, path) == 0)
    FrameworkMessageBox(LoadStringEntry(kStrFailedToSave), MB_OK);
}
