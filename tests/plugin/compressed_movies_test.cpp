// Movies made through norvavi with built-in compressors, read back by
// ffmpeg: lossless and 8-bit codecs give back their reference frames, and
// the exchange export writes a raw DV stream. (Each codec's quality on its
// own: DriverDecodes; every codec through the plug-in: GuardedFrames.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"

namespace {

using namespace norv::test;

constexpr int kFrames = 10;

// testsrc2 as raw bottom-up BGR in an AVI.
std::string Source(int width, int height, const char* rate) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  return Clip("bgr" + size + ".avi", "-f lavfi -i testsrc2=size=" + size + ":rate=" + rate +
                                         " -frames:v " + std::to_string(kFrames) +
                                         " -c:v rawvideo -pix_fmt bgr24");
}

// Makes OUT with norvavi from `source`; its exit status.
int Make(const std::string& out, const std::string& source, int width, int height,
         const std::string& sets, const std::string& timing = "--duration 0.4") {
  return norv::test::Make("-q " + out + " --plugin " + NORV_BUILD_DIR +
                          "/NorvAvi.so --audio none --video " + source +
                          " --set width=" + std::to_string(width) +
                          " --set height=" + std::to_string(height) + " " + sets + " " + timing);
}

// The decoded pictures in BGR, one hash per frame.
std::string FrameHashes(const std::string& path) {
  return RunCommand("ffmpeg -v error -i " + path +
                    " -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F, '{print $6}'");
}

// Lossless coders, and no coder, give back the source frames with nothing
// for ffprobe to warn about; the 8-bit coders (3-3-2 for the run-length
// coder, 6x6x6 for the block coder) give back the uncompressed 8-bit movie.
TEST(CompressedMovies, LosslessCodecsGiveBackTheirReferenceFrames) {
  TempDir dir;
  const std::string source = Source(320, 240, "25");
  for (const auto& [handler, colour] :
       {std::pair{"", ""}, std::pair{"HFYU", ""}, std::pair{"FFV1", ""}, std::pair{"MRLE", "80"},
        std::pair{"ZMBV", "81"}}) {
    SCOPED_TRACE(handler);
    const std::string sets = *colour ? std::string("--set colorFormat=") + colour : "";
    std::string reference = source;
    if (*colour) {
      reference = dir.File(std::string("plain") + colour + ".avi");
      ASSERT_EQ(Make(reference, source, 320, 240, sets), 0);
    }
    const std::string expected = FrameHashes(reference);
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), kFrames);
    const std::string out = dir.File(std::string("lossless") + handler + ".avi");
    ASSERT_EQ(Make(out, source, 320, 240,
                   sets + (*handler ? std::string(" --set compressorHandler=") + handler : "")),
              0);
    EXPECT_EQ(VerifyMovie(out), "");
    EXPECT_EQ(FrameHashes(out), expected);
    EXPECT_EQ(*colour ? "" : RunCommand("ffprobe -v warning " + out + " 2>&1"), "");
  }
}

TEST(CompressedMovies, RawDvStreamIsBareFramesMovedUpFourLinesInNtsc) {
  TempDir dir;
  const std::string source = Source(720, 480, "30000/1001");
  const std::string out = dir.File("exchange.avi");
  ASSERT_EQ(Make(out, source, 720, 480,
                 "--set qrvExport=1 --set compressorHandler=dvsd --set frameRate=29.97 --ntsc 1",
                 "--start 0 --end 334"),
            0);
  const auto bytes = ReadFileBytes(out);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_NE(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(bytes.size(), 120000u * kFrames) << "525-line DV frames, back to back";
  EXPECT_EQ(FfprobeFrames(out, "-f dv"), kFrames);
  // The picture comes four lines higher (the bottom four turn black). 4:1:1
  // DV of this source reaches 27.5 dB when nothing is moved; unmoved it
  // would be under 20.
  EXPECT_GE(Psnr("-f dv -i " + out, "-i " + source, "crop=720:464:0:0,", "crop=720:464:0:4,"),
            26.0);
}

}  // namespace
