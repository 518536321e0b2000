// Every built-in driver's output, wrapped into an AVI file, must decode with
// ffmpeg to as many frames as went in, each the picture of its own call and
// close to it (identical for the lossless codecs). The YUV codecs convert HD
// pictures with BT.709 and SD ones with BT.601 and say which in the stream,
// so ffmpeg, following the tag, gives the colours back. The encoders run slice
// threads: the same bytes on every run with the same count, and bytes that
// change with it only for the codecs that cut a picture into one slice per
// thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/vfw/drivers/driver.h"
#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

// Sets NORV_ENCODER_THREADS, or unsets it for nullptr (as ctest runs the tests).
void SetThreads(const char* v) {
  v != nullptr ? ::setenv("NORV_ENCODER_THREADS", v, 1) : ::unsetenv("NORV_ENCODER_THREADS");
}

TEST(EncoderThreads, CountComesFromTheVariableOrTheCores) {
  const unsigned cores = std::thread::hardware_concurrency();
  const int all = cores == 0 ? 1 : std::min<int>(static_cast<int>(cores), vfw::kMaxEncoderThreads);
  const std::pair<const char*, int> cases[] = {{nullptr, all}, {"1", 1},    {"3", 3},    {"16", 16},
                                               {"17", all},    {"0", all},  {"-2", all}, {"", all},
                                               {"4x", all},    {"two", all}};
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value == nullptr ? "(unset)" : value);
    SetThreads(value);
    EXPECT_EQ(vfw::EncoderThreads(), expected);
    // A spare thread over the cores, never over the variable or the limit.
    const bool given = value != nullptr && std::to_string(expected) == value;
    EXPECT_EQ(vfw::EncoderThreads(1),
              given ? expected : std::min(all + 1, vfw::kMaxEncoderThreads));
  }
  SetThreads(nullptr);  // the later tests of this process run as ctest runs them
}

struct Case {
  const char* handler;
  LONG width;
  LONG height;
  int bits;
  double minPsnr;  // 99 means exact
  int keyEvery;
  bool bytesFollowThreads = false;  // the bitstream holds one slice per thread
  const char* space = nullptr;      // the colour matrix the stream names, and ffmpeg follows
};

class DriverDecodes : public testing::TestWithParam<Case> {};

TEST_P(DriverDecodes, FfmpegDecodesEveryFrameCloseToInputWhateverTheThreads) {
  const Case& c = GetParam();
  const DWORD handler = Fcc(c.handler);
  ICINFO info{};
  if (!ICInfo(ICTYPE_VIDEO, handler, &info)) GTEST_SKIP() << c.handler << " is not available";

  constexpr int kFrames = 8;
  InputFormat in = MakeInput(c.width, c.height, c.bits);
  std::vector<std::vector<std::uint8_t>> expected, dibs;
  std::vector<bool> asked;  // the key frames, and the only ones
  for (int t = 0; t < kFrames; ++t) {
    const auto top = c.bits == 8 ? Indexed(c.width, c.height, t) : Gradient(c.width, c.height, t);
    dibs.push_back(ToDib(top, c.width, c.height, c.bits));
    expected.push_back(c.bits == 8 ? ExpandPalette(top, in.colours()) : top);
    asked.push_back(t % c.keyEvery == 0);
  }
  auto encode = [&](const char* threads) {
    SetThreads(threads);
    return EncodeAll(handler, in, dibs, asked);
  };
  const Encoded e = encode("3"), again = encode("3"), one = encode("1");
  SetThreads(nullptr);
  ASSERT_EQ(e.frames.size(), static_cast<std::size_t>(kFrames));
  EXPECT_EQ(e.frames, again.frames);
  EXPECT_EQ(e.keys, asked);
  EXPECT_EQ(one.keys, asked);
  EXPECT_EQ(e.frames != one.frames, c.bytesFollowThreads);

  TempDir dir;
  const std::string file = dir.File("out.avi");
  WriteAvi(file, e, handler);
  if (c.space != nullptr) {
    EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=color_space -of csv=p=0 " + file),
              std::string(c.space) + "\n");
  }
  // Top-down BGR frames back to back.
  const auto decoded = FfmpegDecode(file, "-fps_mode passthrough -f rawvideo -pix_fmt bgr24");
  const std::size_t size = expected[0].size();
  ASSERT_EQ(decoded.size(), size * kFrames);
  double worst = 99;
  for (std::size_t i = 0; i < kFrames; ++i)
    worst = std::min(worst, Psnr(decoded.data() + i * size, expected[i].data(), size));
  EXPECT_GE(worst, c.minPsnr);
}

INSTANTIATE_TEST_SUITE_P(
    AllDrivers, DriverDecodes,
    testing::Values(Case{"MJPG", 160, 120, 24, 35, 1, true}, Case{"dvsd", 720, 576, 24, 38, 1},
                    Case{"dvsd", 720, 480, 24, 38, 1}, Case{"MSVC", 160, 120, 24, 27, 4},
                    Case{"cvid", 160, 120, 24, 27, 4}, Case{"MRLE", 161, 120, 8, 99, 1},
                    Case{"ZMBV", 161, 120, 8, 99, 3}, Case{"HFYU", 160, 120, 24, 99, 1},
                    Case{"FFV1", 161, 121, 24, 99, 1},
                    Case{"FMP4", 160, 120, 24, 32, 4, true, "smpte170m"},
                    Case{"H264", 160, 120, 24, 36, 4, true, "smpte170m"},
                    Case{"FMP4", 1280, 720, 24, 34, 4, true, "bt709"},
                    Case{"H264", 1280, 720, 24, 40, 4, true, "bt709"}),
    [](const testing::TestParamInfo<Case>& p) {
      return std::string(p.param.handler) + "_" + std::to_string(p.param.height);
    });

}  // namespace
}  // namespace norv::test
