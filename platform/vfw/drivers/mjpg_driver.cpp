// Motion JPEG: every frame a JPEG picture; quality is the JPEG quantiser.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

int Quantiser(DWORD quality) {
  return QualityToScale(quality, 1, 31);
}

void Setup(AVCodecContext* context, const DriverState& state, DWORD quality) {
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->qmin = 1;
  context->qmax = 31;
  context->global_quality = FF_QP2LAMBDA * Quantiser(quality);
  context->color_range = AVCOL_RANGE_JPEG;
  // Optimal Huffman tables cost a second pass over each frame.
  av_opt_set(context->priv_data, "huffman", state.effort >= 3 ? "optimal" : "default", 0);
}

void ApplyQuality(AVCodecContext*, AVFrame* frame, DWORD quality) {
  frame->quality = FF_QP2LAMBDA * Quantiser(quality);
}

}  // namespace

const CodecProfile& MjpgProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("MJPG"),
      .name = u"MJPG",
      .description = u"Motion JPEG (libavcodec)",
      .encoder = "mjpeg",
      .flags = VIDCF_QUALITY,
      .outCompression = MakeFourCC("MJPG"),
      .pixelFormat = AV_PIX_FMT_YUVJ420P,
      .defaultQuality = 7500,
      .hasOptions = true,
      .setup = &Setup,
      .applyQuality = &ApplyQuality,
  };
  return profile;
}

}  // namespace norv::vfw
