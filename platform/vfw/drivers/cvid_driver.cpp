// Cinepak: vector-quantised strips with inter frames; quality is the
// encoder's rate-distortion lambda, effort its extra codebook passes.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

int Lambda(DWORD quality) {
  // Lambda 1 (sharpest) .. 40 in units of FF_LAMBDA_SCALE; the codec's own default is 2.
  return QualityToScale(quality, 1, 40) * FF_LAMBDA_SCALE;
}

void Setup(AVCodecContext* context, const DriverState& state, DWORD) {
  av_opt_set_int(context->priv_data, "max_extra_cb_iterations", state.effort / 2, 0);
}

void ApplyQuality(AVCodecContext*, AVFrame* frame, DWORD quality) {
  frame->quality = Lambda(quality);
}

}  // namespace

const CodecProfile& CvidProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("cvid"),
      .name = u"cvid",
      .description = u"Cinepak (libavcodec)",
      .encoder = "cinepak",
      .flags = VIDCF_QUALITY | VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("cvid"),
      .pixelFormat = AV_PIX_FMT_RGB24,
      .defaultQuality = 7500,
      .defaultKeyFrameRate = 15,
      .honoursForcedKey = false,
      .hasOptions = true,
      .widthMultiple = 4,
      .heightMultiple = 4,
      .setup = &Setup,
      .applyQuality = &ApplyQuality,
  };
  return profile;
}

}  // namespace norv::vfw
