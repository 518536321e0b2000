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
      .outCompression = MakeFourCC("HFYU"),
      .pixelFormat = AV_PIX_FMT_RGB24,
      .needsExtradata = true,
      .widthMultiple = 2,
  };
  return profile;
}

}  // namespace norv::vfw
