// "Compression Options": quality and key-frame interval on two track bars,
// and the compressor's own configuration dialog.
#pragma once

#include "platform/ui/dialog.h"

class CompressionOptionsDialog : public norv::ui::Dialog {
 public:
  // `compressor` is an open instance or null; not owned.
  CompressionOptionsDialog(int keyFrameEvery, int quality, int canConfigure, void* compressor);

  int keyFrameEvery;
  int quality;

 protected:
  void BindControls() override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  int canConfigure_;
  void* compressor_;
};
