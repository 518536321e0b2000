// The command-line host: its --set parser, and its commands run as a user
// runs them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32_types.h"
#include "tests/support/test_support.h"
#include "tools/norvavi/host/settings_fields.h"

namespace {

using norv::cli::SetSettingsField;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::TempDir;

const std::string kNorvavi = std::string(NORV_BUILD_DIR) + "/norvavi";

TEST(SetField, TakesEveryKindOfValue) {
  AviSettings s{};
  std::string error;
  for (const char* set : {"compressorHandler=MJPG", "frameRate=29.97", "dataRate=-1",
                          "audioFormat.2=22050", "hwAccelOptions.16=3", "paletteFile=/tmp/a b.pal"})
    ASSERT_TRUE(SetSettingsField(&s, set, &error)) << set << ": " << error;
  EXPECT_EQ(s.compressorHandler, MakeFourCC("MJPG"));
  EXPECT_EQ(s.frameRate, 29.97f);
  EXPECT_EQ(s.dataRate, -1);
  EXPECT_EQ(s.audioFormat[2], 22050u);
  EXPECT_EQ(s.hwAccelOptions[16], 3);
  EXPECT_STREQ(s.paletteFile, "/tmp/a b.pal");
  ASSERT_TRUE(SetSettingsField(&s, "compressorHandler=0", &error));
  ASSERT_TRUE(SetSettingsField(&s, "paletteFile=", &error));
  EXPECT_EQ(s.compressorHandler, 0u);
  EXPECT_EQ(s.paletteFile[0], '\0');
}

TEST(SetField, RefusesAndLeavesTheRecordUnchanged) {
  AviSettings s{};
  s.width = 77;
  const AviSettings before = s;
  std::string error;
  for (const char* bad :
       {"width", "width=", "width=12x", "width=99999999999", "nosuch=1", "audioFormat=1",
        "audioFormat.14=1", "width.0=1", "frameRate=abc", "frameRate=inf", "compressorHandler=ABC",
        "compressorState=5", "compressorStateSize=4", "audioFormat.-1=2", "reserved60=-1"}) {
    error.clear();
    EXPECT_FALSE(SetSettingsField(&s, bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(0, std::memcmp(&s, &before, sizeof s)) << bad;
  }
  EXPECT_FALSE(SetSettingsField(&s, "paletteFile=" + std::string(260, 'x'), &error));
}

TEST(Norvavi, InfoPrintsTheSummaryOfTheDefaults) {
  int status = 0;
  const std::string text =
      RunCommand(kNorvavi + " info --no-project --hardware 0 --ntsc 0", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text,
            "No Compression\nVideo ON\n25 FPS, 160 x 120, 24 Bits\nFrame\n"
            "SubPixel OFF, Cropping OFF\nAudio ON\n16 / 44100 / Stereo\n");
  RunCommand(kNorvavi + " info --set width=abc 2>/dev/null", &status);
  EXPECT_NE(status, 0);
}

// A preset and the same values given one by one make the same movie, byte for byte.
TEST(Norvavi, PresetMakesTheSameMovieAsTheSameSettings) {
  TempDir dir;
  const std::string sets =
      " --set width=320 --set height=240 --set frameRate=15 --set interleaveFrames=1"
      " --set compressorHandler=MJPG --set keyFrameEvery=3 --set audioFormat.2=22050";
  int status = 0;
  RunCommand(kNorvavi + " defaults " + dir.File("p.ostavi") + sets, &status);
  ASSERT_EQ(status, 0);
  const std::string make = kNorvavi + " make -q --duration 1 ";
  RunCommand(make + dir.File("a.avi") + " --preset " + dir.File("p.ostavi"), &status);
  ASSERT_EQ(status, 0);
  RunCommand(make + dir.File("b.avi") + sets, &status);
  ASSERT_EQ(status, 0);
  const auto a = ReadFileBytes(dir.File("a.avi"));
  EXPECT_GT(a.size(), 10000u);
  EXPECT_EQ(a, ReadFileBytes(dir.File("b.avi")));
  EXPECT_EQ(norv::test::VerifyMovie(dir.File("a.avi")), "");
  RunCommand(make + dir.File("c.avi") + " --preset " + dir.File("missing.ostavi") + " 2>/dev/null",
             &status);
  EXPECT_NE(status, 0);
}

}  // namespace

// Compressors whose streams state a rate state the movie's: ffprobe reads
// it back, and a re-encode that follows it keeps every frame.
TEST(Norvavi, CompressedStreamsStateTheMoviesRate) {
  TempDir dir;
  const std::string source = dir.File("src.avi");
  RunCommand(
      "ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=30000/1001 -t 2 "
      "-c:v rawvideo -pix_fmt bgr24 " +
      source);
  for (const char* codec : {"FMP4", "H264"}) {
    const std::string movie = dir.File(std::string(codec) + ".avi");
    int status = -1;
    RunCommand(kNorvavi + " make -q " + movie + " --video " + source + " --audio none -c " + codec +
                   " 2>&1",
               &status);
    ASSERT_EQ(status, 0) << codec;
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams v -show_entries stream=r_frame_rate "
                         "-of csv=p=0 " +
                         movie),
              "30000/1001\n")
        << codec;
    const std::string copy = dir.File(std::string(codec) + ".mp4");
    RunCommand("ffmpeg -v error -i " + movie + " " + copy);
    EXPECT_EQ(RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                         "stream=nb_read_frames -of csv=p=0 " +
                         copy),
              "60\n")
        << codec;
  }
}
