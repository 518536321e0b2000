// H.264 through libx264, tuned for one-in, one-out: no B-frames, no
// look-ahead, sliced threads only. Quality is the constant rate factor, effort the
// preset. Headers repeat before every IDR frame, so any key frame decodes
// on its own.
#include <iterator>

#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

int RateFactor(DWORD quality) {
  return QualityToScale(quality, 10, 51);
}

void Setup(AVCodecContext* context, const DriverState& state, DWORD quality) {
  static const char* const presets[] = {"ultrafast", "superfast", "veryfast", "faster",
                                        "fast",      "medium",    "slow",     "slower",
                                        "veryslow",  "placebo"};
  const auto effort = static_cast<std::size_t>(state.effort);
  av_opt_set(context->priv_data, "preset", presets[effort < std::size(presets) ? effort : 5], 0);
  av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
  av_opt_set_double(context->priv_data, "crf", RateFactor(quality), 0);
}

void ApplyQuality(AVCodecContext* context, AVFrame*, DWORD quality) {
  // The wrapper reconfigures x264 when the rate factor changes between frames.
  av_opt_set_double(context->priv_data, "crf", RateFactor(quality), 0);
}

}  // namespace

const CodecProfile& H264Profile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("H264"),
      .name = u"H264",
      .description = u"H.264 (libx264)",
      .encoder = "libx264",
      .flags = VIDCF_QUALITY | VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("H264"),
      .pixelFormat = AV_PIX_FMT_YUV420P,
      .defaultQuality = 7500,
      .defaultKeyFrameRate = 250,
      .hasOptions = true,
      .widthMultiple = 2,
      .heightMultiple = 2,
      .setup = &Setup,
      .applyQuality = &ApplyQuality,
      .tagsColour = true,
  };
  return profile;
}

}  // namespace norv::vfw
