// Every compressor we ship, every colour format, odd widths, both output
// modes and the field-order shift, fed host frames that end at a page
// boundary: nothing reads past the host's frame or writes into it, and every
// movie is finished and readable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/host/host_api.h"
#include "tests/platform/vfw_test_util.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

struct Size {
  int width, height;
};

// Sizes `handler` takes at `bits` per pixel: the first with padded rows and
// the first whose rows end exactly at the frame's end, where a reader that
// strays lands on the guard page at once.
std::vector<Size> SizesFor(DWORD handler, int bits) {
  HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
  std::vector<Size> found;
  bool padded = false, tight = false;
  for (Size s : {Size{37, 21}, Size{53, 30}, Size{36, 20}, Size{52, 36}, Size{720, 576}}) {
    InputFormat in = MakeInput(s.width, s.height, bits);
    const bool isTight = (s.width * bits / 8) % 4 == 0;
    if ((isTight ? tight : padded) || (s.width == 720 && !found.empty())) continue;
    if (handler == 0 ||
        (hic != nullptr && ICCompressQuery(hic, in.header(), nullptr) == ICERR_OK)) {
      found.push_back(s);
      (isTight ? tight : padded) = true;
    }
  }
  if (hic != nullptr) ICClose(hic);
  return found;
}

TEST(GuardedFrames, NothingReadsPastTheHostsFrameNorWritesIntoIt) {
  HostScope host;
  std::vector<DWORD> handlers{0};  // uncompressed, then the shipped compressors
  for (const ICINFO& info : Enumerate(ICTYPE_VIDEO)) handlers.push_back(info.fccHandler);
  int movies = 0;
  for (const DWORD handler : handlers) {
    for (const int colorFormat : {24, 80, 82, 83}) {
      const int bits = colorFormat == 24 ? 24 : 8;
      for (const Size size : SizesFor(handler, bits)) {
        for (const int mode : {0, 1, 2}) {  // AVI, AVI with the field shift, raw stream
          if (mode == 2 && (handler == 0 || bits == 8)) continue;
          const std::string fields = "colour " + std::to_string(colorFormat) + "; size " +
                                     std::to_string(size.width) + "x" + std::to_string(size.height);
          SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&handler), handler ? 4 : 0) +
                       " mode " + std::to_string(mode) + "; " + fields);
          WriteProfileInt("Last Make Movie", "DV Reverse", mode == 1 ? 1 : 0, 0);
          MovieSetup setup(host.dir(), "m" + std::to_string(movies++) + ".avi");
          SetFields(setup.settings, fields + "; audio 1 0 16/44100/2; quality 7500 keys 3 only 0");
          setup.settings.compressorHandler = handler;
          setup.settings.qrvExport = mode == 2 ? 1 : 0;
          setup.SetSpan(0, 160);  // 4 frames
          std::vector<int> results;
          ASSERT_TRUE(RunMovie(setup, 4, &results));
          EXPECT_EQ(results, std::vector<int>(4, 0));
          if (mode != 2) FfmpegDecode(setup.path, "-xerror -f null");  // fails on any error
        }
      }
    }
  }
  WriteProfileInt("Last Make Movie", "DV Reverse", 0, 0);
  EXPECT_GT(movies, 20);
}

}  // namespace
