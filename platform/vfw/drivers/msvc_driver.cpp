// Microsoft Video 1: 4x4 colour blocks over 15-bit pixels, with skipped
// blocks in delta frames. libavcodec's encoder has no quality knob, so the
// driver does not claim one.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace norv::vfw {

const CodecProfile& MsvcProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("MSVC"),
      .name = u"MSVC",
      .description = u"Microsoft Video 1 (libavcodec)",
      .encoder = "msvideo1",
      .flags = VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("MSVC"),
      .outBitCount = 16,
      .pixelFormat = AV_PIX_FMT_RGB555LE,
      .defaultQuality = 7500,
      .defaultKeyFrameRate = 15,
      // Its key frames follow its own counter; a restart gives one on demand.
      .honoursForcedKey = false,
      .widthMultiple = 4,
      .heightMultiple = 4,
      // The dithering RGB555 path of libswscale reads in blocks of 16 bytes.
      .scalerReadsPastInput = true,
  };
  return profile;
}

}  // namespace norv::vfw
