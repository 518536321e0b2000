// Movies made through norvavi with built-in compressors, read back by
// ffmpeg: lossless and 8-bit codecs give back their reference frames, and
// the exchange export writes a raw DV stream. (Each codec's quality on its
// own: DriverDecodes; every codec through the plug-in: GuardedFrames.)
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"

namespace {

using namespace norv::test;

constexpr int kFrames = 10;

// testsrc2 of `size` (WxH) as raw bottom-up BGR in an AVI.
std::string Source(const std::string& size, const char* rate) {
  return Clip("bgr" + size + ".avi", "-f lavfi -i testsrc2=size=" + size + ":rate=" + rate +
                                         " -frames:v " + std::to_string(kFrames) +
                                         " -c:v rawvideo -pix_fmt bgr24");
}

// Lossless coders, and no coder, give back the source frames with nothing
// for ffprobe to warn about; the 8-bit coders (3-3-2 for the run-length
// coder, 6x6x6 for the block coder) give back the uncompressed 8-bit movie.
TEST(CompressedMovies, LosslessCodecsGiveBackTheirReferenceFrames) {
  TempDir dir;
  const std::string source = Source("320x240", "25");
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"HFYU", ""}, {"FFV1", ""}, {"MRLE", "80"}, {"ZMBV", "81"}};
  for (const auto& [handler, colour] : cases) {
    SCOPED_TRACE(handler);
    const std::string sets = "--audio none --size 320x240 --duration 0.4 --video " + source +
                             (colour.empty() ? "" : " --set colorFormat=" + colour);
    std::string reference = source;
    if (!colour.empty()) {
      reference = dir.File("plain" + colour + ".avi");
      ASSERT_EQ(Make("-q " + reference + " " + sets), 0);
    }
    const auto expected = FfmpegDecode(reference, "-f rawvideo -pix_fmt bgr24");
    ASSERT_EQ(expected.size(), 320u * 240 * 3 * kFrames);
    const std::string out = dir.File("lossless" + handler + ".avi");
    ASSERT_EQ(Make("-q " + out + " " + sets + (handler.empty() ? "" : " -c " + handler)), 0);
    EXPECT_EQ(VerifyMovie(out), "");
    EXPECT_TRUE(FfmpegDecode(out, "-f rawvideo -pix_fmt bgr24") == expected);
    EXPECT_EQ(colour.empty() ? RunCommand("ffprobe -v warning " + out + " 2>&1") : "", "");
  }
}

TEST(CompressedMovies, RawDvStreamIsBareFramesMovedUpFourLinesInNtsc) {
  TempDir dir;
  const std::string source = Source("720x480", "30000/1001");
  const std::string out = dir.File("exchange.avi");
  ASSERT_EQ(Make("-q " + out + " --audio none --size 720x480 -c dvsd --set qrvExport=1 --video " +
                 source + " --rate 29.97 --ntsc 1 --start 0 --end 334"),
            0);
  const std::string bytes = ReadText(out);
  EXPECT_FALSE(bytes.starts_with("RIFF"));
  EXPECT_EQ(bytes.size(), 120000u * kFrames) << "525-line DV frames, back to back";
  EXPECT_EQ(FfprobeFrames(out, "-f dv"), kFrames);
  // The picture comes four lines higher (the bottom four turn black). 4:1:1
  // DV of this source reaches 27.5 dB when nothing is moved; unmoved it
  // would be under 20.
  EXPECT_GE(Psnr("-f dv -i " + out, "-i " + source, "crop=720:464:0:0,", "crop=720:464:0:4,"),
            26.0);
}

}  // namespace
