// The AVI Settings dialog's presets: the menu of the host's "SAMPLES"
// folder, "Browse", loading with the audio rule, and "Save".
#include <cstdio>
#include <cstring>

#include "platform/files/files.h"
#include "platform/files/path.h"
#include "platform/ui/message_box.h"
#include "plugin/dialogs/avi_settings_dialog.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/dialogs/string_table.h"
#include "plugin/host/host_api.h"

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

void AviSettingsDialog::ShowVideoPresetMenu() {
  presetMenu_ = std::make_unique<norv::ui::PopupMenu>();
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
        presetMenu_->Append(kPresetListedFirst + listed, found.cFileName);
        ++listed;
      } while (listed < kMostListed && FindNextFileA(find, &found));
      FindClose(find);
    }
  }
  if (listed == 0) {
    presetMenu_.reset();
    BrowseVideoPreset();
    return;
  }
  presetMenu_->AppendSeparator();
  presetMenu_->Append(kPresetBrowse, LoadStringEntry(kStrBrowse));
  const norv::ui::ScreenRect button = ControlScreenRect(kLoadPreset);
  const int command =
      TrackPopupMenu(*presetMenu_, {button.right + 5, button.top}, norv::ui::kTrackRightButton);
  if (command != 0) Command(command);
}

void AviSettingsDialog::LoadListedVideoPreset(int command) {
  if (presetMenu_ == nullptr) return;
  const std::string* name = presetMenu_->TextOf(command);
  if (name == nullptr) return;
  char folder[260] = {};
  GetHostFolder(folder);
  char path[260];
  if (PresetPath(path, folder, name->c_str())) LoadVideoPreset(path);
}

void AviSettingsDialog::BrowseVideoPreset() {
  char path[260] = {};
  if (AskPresetPath(1, path, kVideoPresetExtension, window()) != 0) LoadVideoPreset(path);
}

bool AviSettingsDialog::LoadVideoPreset(const char* path) {
  // What the file does not fill keeps the working values.
  AviSettings scratch;
  std::memset(&scratch, 0, sizeof scratch);
  CopyFileTypeSettings(&scratch, &settings_);
  if (LoadPresetFile(kVideoPresetKind, &scratch, path) == 0) {
    FrameworkMessageBox(LoadStringEntry(kStrFailedToLoad), MB_OK);
    HostFree(&scratch.compressorState);
    return false;
  }
  // The preset's audio applies only when both the project and the preset have audio.
  if (settings_.audioAvailable != 0 && scratch.audioAvailable != 0) {
    CopyFileTypeSettings(&settings_, &scratch);
  } else {
    const std::int32_t interleaveFrames = settings_.interleaveFrames;
    const std::int32_t audioAvailable = settings_.audioAvailable;
    const std::int32_t audioEnabled = settings_.audioEnabled;
    std::uint32_t audioFormat[14];
    std::memcpy(audioFormat, settings_.audioFormat, sizeof audioFormat);
    CopyFileTypeSettings(&settings_, &scratch);
    settings_.interleaveFrames = interleaveFrames;
    settings_.audioAvailable = audioAvailable;
    settings_.audioEnabled = audioEnabled;
    std::memcpy(settings_.audioFormat, audioFormat, sizeof audioFormat);
  }
  RecordToControls();
  HostFree(&scratch.compressorState);
  return true;
}

void AviSettingsDialog::SaveVideoPreset() {
  ControlsToRecord();
  char path[260] = {};
  if (AskPresetPath(0, path, kVideoPresetExtension, window()) == 0) return;
  if (SavePresetFile(kVideoPresetKind, &settings_, path) == 0)
    FrameworkMessageBox(LoadStringEntry(kStrFailedToSave), MB_OK);
}
