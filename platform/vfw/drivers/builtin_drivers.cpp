// The list of built-in compressors: a driver is listed only when the codec
// behind it is present in the libavcodec this build runs with.
#include "platform/vfw/drivers/driver.h"

namespace norv::vfw {

const std::vector<const CodecProfile*>& AvailableProfiles() {
  static const std::vector<const CodecProfile*> available = [] {
    const CodecProfile* all[] = {&MjpgProfile(), &DvsdProfile(), &MsvcProfile(), &CvidProfile(),
                                 &MrleProfile(), &ZmbvProfile(), &HfyuProfile(), &Ffv1Profile(),
                                 &Fmp4Profile(), &H264Profile()};
    std::vector<const CodecProfile*> list;
    for (const CodecProfile* p : all)
      if (p->encoder == nullptr || LibavEncoderExists(p->encoder)) list.push_back(p);
    return list;
  }();
  return available;
}

const CodecProfile* FindProfile(DWORD handler) {
  for (const CodecProfile* p : AvailableProfiles())
    if (FourCCUpper(p->handler) == FourCCUpper(handler)) return p;
  return nullptr;
}

}  // namespace norv::vfw
