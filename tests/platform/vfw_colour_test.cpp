// Colour bars through the YUV codecs that carry colour fields: HD pictures
// are converted with BT.709 and SD ones with BT.601, and the stream says
// which, so ffmpeg, following the tag, gives the bars back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

// Eight 75% bars, top-down BGR: white, yellow, cyan, green, magenta, red,
// blue, black.
std::vector<std::uint8_t> Bars(LONG w, LONG h) {
  static const std::uint8_t kBgr[8][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0},
                                          {0, 191, 0},     {191, 0, 191}, {0, 0, 191},
                                          {191, 0, 0},     {0, 0, 0}};
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 3));
  for (LONG y = 0; y < h; ++y)
    for (LONG x = 0; x < w; ++x)
      std::memcpy(&px[static_cast<std::size_t>((y * w + x) * 3)], kBgr[x * 8 / w], 3);
  return px;
}

TEST(ColourTags, BarsComeBackThroughTheTaggedMatrix) {
  const struct {
    const char* handler;
    LONG width, height;
    const char* space;
  } cases[] = {{"FMP4", 1280, 720, "bt709"},
               {"FMP4", 640, 480, "smpte170m"},
               {"H264", 1280, 720, "bt709"},
               {"H264", 640, 480, "smpte170m"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.handler) + " " + std::to_string(c.height) + " lines");
    const DWORD handler = Fcc(c.handler);
    ICINFO info{};
    if (!ICInfo(ICTYPE_VIDEO, handler, &info)) continue;
    InputFormat in = MakeInput(c.width, c.height, 24);
    const auto bars = Bars(c.width, c.height);
    const Encoded e = EncodeAll(
        handler, in, {ToDib(bars, c.width, c.height, 24)}, [](std::size_t) { return true; }, 10000);
    ASSERT_EQ(e.frames.size(), 1u);
    TempDir dir;
    const std::string file = dir.File("bars.avi");
    WriteFileBytes(file, WrapAvi(e, handler));
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams v -show_entries stream=color_space "
                         "-of csv=p=0 " +
                         file),
              std::string(c.space) + "\n");
    const auto decoded = DecodeWithFfmpeg(file, c.width, c.height);
    ASSERT_EQ(decoded.size(), 1u);
    // Bar centres on the middle line, away from the chroma edges.
    int worst = 0;
    for (int bar = 0; bar < 8; ++bar) {
      const std::size_t at =
          static_cast<std::size_t>((c.height / 2 * c.width + (2 * bar + 1) * c.width / 16) * 3);
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::abs(decoded[0][at + k] - bars[at + k]));
    }
    EXPECT_LE(worst, 3) << "levels off on a bar";
  }
}

}  // namespace
}  // namespace norv::test
