// FFV1: lossless, every frame coded on its own. Up to the default effort it
// codes as libavcodec does by default (Golomb-Rice, far faster than the range
// coder); more effort selects the range coder, then the larger context model.
// Version 3 at every size (libavcodec picks it by itself only above SD):
// slices the encoder's threads share, their count following the picture
// size alone, so the bytes still do not depend on the cores. One thread
// more than the cores: the host decodes on one of them, and a slice thread
// sharing that core finishes its slices late, leaving the rest to the
// calling thread; the spare one takes them up.
#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

void Setup(AVCodecContext* context, const DriverState& state, DWORD) {
  context->level = 3;
  av_opt_set_int(context->priv_data, "coder", state.effort > kDefaultEffort ? 1 : 0, 0);
  av_opt_set_int(context->priv_data, "context", state.effort >= 8 ? 1 : 0, 0);
}

}  // namespace

const CodecProfile& Ffv1Profile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("FFV1"),
      .name = u"FFV1",
      .description = u"FFV1 lossless (libavcodec)",
      .encoder = "ffv1",
      .outCompression = MakeFourCC("FFV1"),
      .pixelFormat = AV_PIX_FMT_BGR0,
      .hasOptions = true,
      .needsExtradata = true,
      .spareThreads = 1,
      .setup = &Setup,
  };
  return profile;
}

}  // namespace norv::vfw
