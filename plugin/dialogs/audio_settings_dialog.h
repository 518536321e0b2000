// "Audio Settings": sample size, sampling rate and channels of an audio
// format block, with the ">>" menu of audio presets and "Same As Project".
// The dialog writes the caller's block itself, at initialisation (normalised
// values) and at OK.
#pragma once

#include <cstdint>

#include "platform/ui/dialog.h"
#include "plugin/host/project_settings.h"

class AudioSettingsDialog : public norv::ui::Dialog {
 public:
  static constexpr int kWords = 14;

  // `audioBlock` (14 words) and `project` (may be null) are not owned.
  AudioSettingsDialog(std::uint32_t* audioBlock, const ProjectSettings* project, HWND owner);

 protected:
  void BindControls() override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  void ShowBlock();
  void ReadBlock();
  void ShowAudioPresetMenu();
  void LoadAudioPreset();
  void SaveAudioPreset();
  void SameAsProject();

  std::uint32_t* audioBlock_;
  std::uint32_t localAudio_[kWords];
  const ProjectSettings* project_;
};
