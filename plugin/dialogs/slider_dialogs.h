// "Audio Options" and "Playback Options": one integer on a track bar, with
// its number beside it.
#pragma once

#include "platform/ui/dialog.h"

class SliderDialog : public norv::ui::Dialog {
 public:
  // Set before the run, read after OK.
  int value;

 protected:
  SliderDialog(int templateId, int track, int label, int minimum, int maximum, int initial);
  void BindControls() override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  void ShowPosition();
  int track_;
  int label_;
  int minimum_;
  int maximum_;
};

// The audio-video interleave period in frames, 1..999.
class AudioOptionsDialog : public SliderDialog {
 public:
  AudioOptionsDialog();
};

// The custom target data rate in kilobytes per second, 1..8000.
class PlaybackOptionsDialog : public SliderDialog {
 public:
  PlaybackOptionsDialog();
};
