// Every built-in driver's output, wrapped into an AVI file, must decode with
// ffmpeg to as many frames as went in and to pictures close to the input
// (identical for the lossless codecs).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

struct Case {
  const char* handler;
  LONG width;
  LONG height;
  int bits;
  double minPsnr;  // 99 means exact
  int keyEvery;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.handler;
}

class DriverDecodes : public testing::TestWithParam<Case> {};

TEST_P(DriverDecodes, FfmpegDecodesEveryFrameCloseToInput) {
  const Case& c = GetParam();
  const DWORD handler = Fcc(c.handler);
  ICINFO info{};
  if (!ICInfo(ICTYPE_VIDEO, handler, &info)) GTEST_SKIP() << c.handler << " is not available";

  constexpr int kFrames = 8;
  InputFormat in = MakeInput(c.width, c.height, c.bits);
  std::vector<std::vector<std::uint8_t>> expected, dibs;
  for (int t = 0; t < kFrames; ++t) {
    if (c.bits == 8) {
      const auto idx = Indexed(c.width, c.height, t);
      dibs.push_back(ToDib(idx, c.width, c.height, 8));
      expected.push_back(ExpandPalette(idx, in.colours()));
    } else {
      expected.push_back(Gradient(c.width, c.height, t));
      dibs.push_back(ToDib(expected.back(), c.width, c.height, 24));
    }
  }
  const Encoded e = EncodeAll(handler, in, dibs, c.keyEvery);
  ASSERT_EQ(e.frames.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; i += c.keyEvery)
    EXPECT_TRUE(e.keys[static_cast<std::size_t>(i)]) << i;

  TempDir dir;
  const std::string file = dir.File("out.avi");
  WriteFileBytes(file, WrapAvi(e, handler));
  const auto decoded = DecodeWithFfmpeg(file, c.width, c.height);
  ASSERT_EQ(decoded.size(), static_cast<std::size_t>(kFrames));
  double worst = 99;
  for (int i = 0; i < kFrames; ++i)
    worst = std::min(worst, Psnr(decoded[static_cast<std::size_t>(i)].data(),
                                 expected[static_cast<std::size_t>(i)].data(),
                                 expected[static_cast<std::size_t>(i)].size()));
  std::printf("%s: worst PSNR %.2f dB, %zu bytes in frame 0\n", c.handler, worst,
              e.frames[0].size());
  EXPECT_GE(worst, c.minPsnr);
}

INSTANTIATE_TEST_SUITE_P(
    AllDrivers, DriverDecodes,
    testing::Values(Case{"MJPG", 160, 120, 24, 35, 1}, Case{"dvsd", 720, 576, 24, 38, 1},
                    Case{"dvsd", 720, 480, 24, 38, 1}, Case{"MSVC", 160, 120, 24, 27, 4},
                    Case{"cvid", 160, 120, 24, 27, 4}, Case{"MRLE", 161, 120, 8, 99, 1},
                    Case{"ZMBV", 161, 120, 8, 99, 3}, Case{"HFYU", 160, 120, 24, 99, 1},
                    Case{"FFV1", 161, 121, 24, 99, 1}, Case{"FMP4", 160, 120, 24, 32, 4},
                    Case{"H264", 160, 120, 24, 36, 4}),
    [](const testing::TestParamInfo<Case>& p) {
      return std::string(p.param.handler) + "_" + std::to_string(p.param.height);
    });

}  // namespace
}  // namespace norv::test
