#include "plugin/dialogs/slider_dialogs.h"

#include <algorithm>
#include <string>

#include "plugin/dialogs/dialog_templates.h"

SliderDialog::SliderDialog(int templateId, int track, int label, int minimum, int maximum,
                           int initial)
    : Dialog(*FindDialogTemplate(templateId)),
      value(initial),
      track_(track),
      label_(label),
      minimum_(minimum),
      maximum_(maximum) {}

void SliderDialog::BindControls() {
  Bind(track_, norv::ui::Notification::kScrolled, [this] { ShowPosition(); });
}

void SliderDialog::OnInitDialog() {
  SetRange(track_, minimum_, maximum_);
  // The track bar keeps its position in range: a value outside shows at the nearer end.
  SetPosition(track_, value);
  ShowPosition();
}

void SliderDialog::OnOK() {
  value = std::clamp(Position(track_), minimum_, maximum_);
  EndDialog(kOk);
}

void SliderDialog::ShowPosition() {
  SetText(label_, std::to_string(Position(track_)));
}

AudioOptionsDialog::AudioOptionsDialog()
    : SliderDialog(kAudioOptionsTemplate, kInterleaveTrack, kInterleaveLabel, 1, 999, 0) {}

PlaybackOptionsDialog::PlaybackOptionsDialog()
    : SliderDialog(kPlaybackOptionsTemplate, kDataRateTrack, kDataRateLabel, 1, 8000, 1) {}
