// MPEG-4 Visual (no B-frames): quality is the quantiser,
// effort the macroblock decision and trellis quantisation.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

int Quantiser(DWORD quality) {
  return QualityToScale(quality, 2, 31);
}

void Setup(AVCodecContext* context, const DriverState& state, DWORD quality) {
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->global_quality = FF_QP2LAMBDA * Quantiser(quality);
  av_opt_set(context->priv_data, "mbd", state.effort >= 5 ? "rd" : "simple", 0);
  context->trellis = state.effort >= 8 ? 1 : 0;
}

void ApplyQuality(AVCodecContext*, AVFrame* frame, DWORD quality) {
  frame->quality = FF_QP2LAMBDA * Quantiser(quality);
}

}  // namespace

const CodecProfile& Fmp4Profile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("FMP4"),
      .name = u"FMP4",
      .description = u"MPEG-4 Visual (libavcodec)",
      .encoder = "mpeg4",
      .flags = VIDCF_QUALITY | VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("FMP4"),
      .pixelFormat = AV_PIX_FMT_YUV420P,
      .defaultQuality = 7500,
      .defaultKeyFrameRate = 250,
      .hasOptions = true,
      .widthMultiple = 2,
      .heightMultiple = 2,
      .setup = &Setup,
      .applyQuality = &ApplyQuality,
  };
  return profile;
}

}  // namespace norv::vfw
