// The "AVI Settings" dialog: edits a deep copy of the host's record, keeps
// the controls within the size, aspect, frame-rate and hardware limits, runs
// the smaller dialogs and the preset commands, and copies the result back at
// the end of its initialisation and at OK.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ui/dialog.h"
#include "plugin/dialogs/compressor_rows.h"
#include "plugin/dialogs/video_presets.h"
#include "plugin/host/project_settings.h"

class AviSettingsDialog : public norv::ui::Dialog {
 public:
  AviSettingsDialog(AviSettings* hostSettings, const ProjectSettings* project, HWND parent);
  ~AviSettingsDialog() override;

  // Fills every control from the working copy, normalising it on the way.
  void RecordToControls();
  // Reads the controls back into the working copy.
  void ControlsToRecord();
  const AviSettings& settings() const { return settings_; }

 protected:
  void BindControls() override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  // Frame rate and size.
  void SelectFrameRate();
  void ReadFrameRate();
  void RebuildFrameRateList();
  int ClampWidth(int w) const;
  int ClampHeight(int h) const;
  void ApplyHardwareLimits();
  void RecomputeLockedSize(bool fromWidth);
  void LockAspectRule();
  void OnSizeFocusLost(int id);
  void OnAspectFocusLost(int id);
  void OnHardwareToggled();
  void OnFieldHandlingChanged();
  void ShowNumber(int id, int value);
  int Number(int id) const;
  // Buttons.
  void OpenAudioSettings();
  void OpenAudioOptions();
  void BrowsePaletteFile();
  bool ValidatePaletteFile();

  // The compressor, colour and playback-platform rows.
  void BuildCompressorList();
  void FillColourList(const CompressorEntry& row);
  void SelectColour(int code);
  void OnColourChanged();
  void SelectCompressorFromRecord();
  void OnCompressorChanged(bool fromRecord);
  bool SetDataRateItemData();
  void OnDataRateChanged();
  void OpenPlaybackOptions();
  void OpenCompressionOptions();

  // Presets.
  void ShowVideoPresetMenu();
  void LoadListedVideoPreset(int command);
  void BrowseVideoPreset();
  void LoadVideoPresetFile(const char* path);
  void SaveVideoPresetFile();

  AviSettings* hostSettings_;
  const ProjectSettings* project_;
  AviSettings settings_{};
  std::vector<CompressorEntry> compressorEntries_;
  VideoPresetMenu presetMenu_;
  int syncEnabled_ = 0;
  int minWidth_ = 32;
  int minHeight_ = 32;
  int maxWidth_ = 9999;
  int maxHeight_ = 9999;
  int normalMaxWidth_ = 9999;
  int normalMaxHeight_ = 9999;
  int hwMaxWidth_ = 0;
  int hwMaxHeight_ = 0;
  int hwAvailable_ = 0;
  int intraOnly_ = 0;
};
