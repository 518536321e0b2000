#include "plugin/dialogs/audio_settings_dialog.h"

#include <cstring>
#include <iterator>

#include "platform/ui/message_box.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "plugin/resources/string_table.h"
#include "plugin/settings/project_match.h"

using norv::ui::Notification;

namespace {

constexpr int kAudioPresetKind = 3;
constexpr const char* kAudioPresetExtension = ".ostwav";

struct ListWord {
  int list;
  int word;
  std::initializer_list<std::uint32_t> values;
};

const ListWord kLists[] = {
    {kSampleSizeList, 1, {8, 16}},
    {kSampleRateList, 2, {11025, 22050, 32000, 44100, 48000}},
    {kChannelsList, 3, {1, 2}},
};

}  // namespace

AudioSettingsDialog::AudioSettingsDialog(std::uint32_t* audioBlock, const ProjectSettings* project,
                                         HWND owner)
    : Dialog(*FindDialogTemplate(kAudioSettingsTemplate), owner),
      audioBlock_(audioBlock),
      project_(project) {
  std::memcpy(localAudio_, audioBlock_, sizeof localAudio_);
}

void AudioSettingsDialog::BindControls() {
  Bind(kAudioPresetButton, Notification::kClicked, [this] { ShowAudioPresetMenu(); });
  Bind(kPresetLoad, Notification::kClicked, [this] { LoadAudioPreset(); });
  Bind(kPresetSave, Notification::kClicked, [this] { SaveAudioPreset(); });
  Bind(kPresetSameAsProject, Notification::kClicked, [this] { SameAsProject(); });
}

void AudioSettingsDialog::OnInitDialog() {
  for (const ListWord& l : kLists) {
    if (ItemCount(l.list) != static_cast<int>(l.values.size())) {
      EndDialog(kCancel);
      return;
    }
    int index = 0;
    for (std::uint32_t value : l.values) SetItemData(l.list, index++, value);
  }
  ShowBlock();
  // The caller's block holds the normalised values even if the user cancels.
  std::memcpy(audioBlock_, localAudio_, sizeof localAudio_);
  CentreOnOwner();
}

void AudioSettingsDialog::OnOK() {
  ReadBlock();
  std::memcpy(audioBlock_, localAudio_, sizeof localAudio_);
  EndDialog(kOk);
}

// Each list selects the item of its word's value; a value not offered
// becomes the first item's.
void AudioSettingsDialog::ShowBlock() {
  for (const ListWord& l : kLists) {
    int found = -1;
    for (int i = 0; i < ItemCount(l.list) && found < 0; ++i)
      if (ItemData(l.list, i) == localAudio_[l.word]) found = i;
    if (found < 0) {
      found = 0;
      localAudio_[l.word] = ItemData(l.list, 0);
    }
    Select(l.list, found);
  }
}

void AudioSettingsDialog::ReadBlock() {
  for (const ListWord& l : kLists) {
    const int index = Selection(l.list);
    if (index >= 0) localAudio_[l.word] = ItemData(l.list, index);
  }
}

void AudioSettingsDialog::ShowAudioPresetMenu() {
  ReadBlock();
  int command = 0;
  {
    norv::ui::PopupMenu menu;
    menu.Append(kPresetLoad, LoadStringEntry(kStrLoad));
    menu.Append(kPresetSave, LoadStringEntry(kStrSave));
    if (project_ != nullptr)
      menu.Append(kPresetSameAsProject, LoadStringEntry(kStrSameAsProject),
                  AudioMatchesProject(localAudio_, project_));
    const norv::ui::ScreenRect button = ControlScreenRect(kAudioPresetButton);
    command = TrackPopupMenu(menu, {button.right + 5, button.top}, norv::ui::kTrackRightButton);
  }
  if (command != 0) Command(command);
}

void AudioSettingsDialog::LoadAudioPreset() {
  char path[260] = {};
  if (AskPresetPath(1, path, kAudioPresetExtension, window()) == 0) return;
  if (LoadPresetFile(kAudioPresetKind, localAudio_, path) == 0) {
    FrameworkMessageBox(LoadStringEntry(kStrFailedToLoad), MB_OK);
    return;
  }
  ShowBlock();
}

void AudioSettingsDialog::SaveAudioPreset() {
  char path[260] = {};
  if (AskPresetPath(0, path, kAudioPresetExtension, window()) == 0) return;
  if (SavePresetFile(kAudioPresetKind, localAudio_, path) == 0)
    FrameworkMessageBox(LoadStringEntry(kStrFailedToSave), MB_OK);
}

void AudioSettingsDialog::SameAsProject() {
  if (project_ == nullptr) return;
  CopyProjectAudio(localAudio_, project_);
  ShowBlock();
}
