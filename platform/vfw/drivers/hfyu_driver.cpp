// HuffYUV: lossless, intra only; its Huffman tables travel as extradata
// after the output format's header.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace norv::vfw {

const CodecProfile& HfyuProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("HFYU"),
      .name = u"HFYU",
      .description = u"Huffyuv lossless (libavcodec)",
      .encoder = "huffyuv",
      .flags = 0,
      .outCompression = MakeFourCC("HFYU"),
      .outBitCount = 24,
      .accepts24 = true,
      .accepts8 = false,
      .pixelFormat = AV_PIX_FMT_RGB24,
      .defaultQuality = 10000,
      .defaultKeyFrameRate = 0,
      .honoursForcedKey = true,
      .hasOptions = false,
      .needsExtradata = true,
      .widthMultiple = 2,
      .heightMultiple = 1,
      .sizeAllowed = nullptr,
      .maxFrameBytes = nullptr,
      .setup = nullptr,
      .applyQuality = nullptr,
      .createEncoder = nullptr,
  };
  return profile;
}

}  // namespace norv::vfw
