// DV (the consumer "dvsd" form): fixed frame sizes, fixed frame bytes, no
// quality control; 525-line frames are 4:1:1, 625-line frames 4:2:0.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace norv::vfw {
namespace {

bool SizeAllowed(LONG width, LONG height) {
  return width == 720 && (height == 480 || height == 576);
}

DWORD FrameBytes(const BITMAPINFOHEADER& in) {
  return in.biHeight == 480 ? 120000 : 144000;
}

void Setup(AVCodecContext* context, const DriverState&, DWORD) {
  // The encoder picks its DV profile from size, sampling and frame rate.
  if (context->height == 480) {
    context->pix_fmt = AV_PIX_FMT_YUV411P;
    context->time_base = {1001, 30000};
    context->framerate = {30000, 1001};
  } else {
    context->pix_fmt = AV_PIX_FMT_YUV420P;
  }
}

}  // namespace

const CodecProfile& DvsdProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("dvsd"),
      .name = u"dvsd",
      .description = u"DV Video (libavcodec)",
      .encoder = "dvvideo",
      .outCompression = MakeFourCC("dvsd"),
      .pixelFormat = AV_PIX_FMT_YUV420P,
      .sizeAllowed = &SizeAllowed,
      .maxFrameBytes = &FrameBytes,
      .setup = &Setup,
  };
  return profile;
}

}  // namespace norv::vfw
