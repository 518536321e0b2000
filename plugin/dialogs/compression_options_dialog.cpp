#include "plugin/dialogs/compression_options_dialog.h"

#include <algorithm>
#include <string>

#include "platform/vfw/vfw.h"
#include "plugin/dialogs/dialog_templates.h"

using norv::ui::Notification;

CompressionOptionsDialog::CompressionOptionsDialog(int keyFrameEvery_, int quality_,
                                                   int canConfigure, void* compressor)
    : Dialog(*FindDialogTemplate(kCompressionOptionsTemplate)),
      keyFrameEvery(keyFrameEvery_),
      quality(quality_),
      canConfigure_(canConfigure),
      compressor_(compressor) {}

void CompressionOptionsDialog::BindControls() {
  Bind(kQualityTrack, Notification::kScrolled,
       [this] { SetText(kQualityLabel, std::to_string(Position(kQualityTrack))); });
  Bind(kKeyFrameTrack, Notification::kScrolled,
       [this] { SetText(kKeyFrameLabel, std::to_string(Position(kKeyFrameTrack))); });
  Bind(kConfigure, Notification::kClicked,
       [this] { ICConfigure(static_cast<HIC>(compressor_), window()); });
}

void CompressionOptionsDialog::OnInitDialog() {
  SetRange(kQualityTrack, 0, 100);
  SetPosition(kQualityTrack, quality / 100);
  SetText(kQualityLabel, std::to_string(Position(kQualityTrack)));
  SetRange(kKeyFrameTrack, 1, 999);
  SetPosition(kKeyFrameTrack, keyFrameEvery);
  SetText(kKeyFrameLabel, std::to_string(Position(kKeyFrameTrack)));
  EnableControl(kConfigure, canConfigure_ == 1);
  ICINFO info{};
  const bool described =
      compressor_ != nullptr && ICGetInfo(static_cast<HIC>(compressor_), &info, sizeof info) != 0;
  EnableControl(kQualityTrack, described && (info.dwFlags & VIDCF_QUALITY) != 0);
  EnableControl(kKeyFrameTrack, described && (info.dwFlags & VIDCF_TEMPORAL) != 0);
}

void CompressionOptionsDialog::OnOK() {
  quality = std::clamp(Position(kQualityTrack) * 100, 0, 10000);
  keyFrameEvery = std::clamp(Position(kKeyFrameTrack), 1, 999);
  EndDialog(kOk);
}
