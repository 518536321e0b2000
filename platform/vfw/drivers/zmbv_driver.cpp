// Zip Motion Blocks Video: lossless, zlib over 8-bit frames or block
// differences; effort is the zlib level.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace norv::vfw {
namespace {

void Setup(AVCodecContext* context, const DriverState& state, DWORD) {
  context->compression_level = state.effort;
}

}  // namespace

const CodecProfile& ZmbvProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("ZMBV"),
      .name = u"ZMBV",
      .description = u"Zip Motion Blocks Video (libavcodec)",
      .encoder = "zmbv",
      .flags = VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("ZMBV"),
      .outBitCount = 8,
      .accepts24 = false,
      .accepts8 = true,
      .pixelFormat = AV_PIX_FMT_PAL8,
      .defaultKeyFrameRate = 25,
      .honoursForcedKey = false,
      .hasOptions = true,
      .setup = &Setup,
  };
  return profile;
}

}  // namespace norv::vfw
