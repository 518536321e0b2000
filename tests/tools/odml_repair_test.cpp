// norvavi repair on OpenDML exports cut in an 'AVIX' form: at every kind of
// cut point the finished file is sound, every kept frame decodes as it went
// in, and the kept audio is the pushed audio's beginning.
#include <gtest/gtest.h>

#include <filesystem>

#include "hoststub/norv_host.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"
#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/avi_verify.h"

namespace {

using norv::test::Le32;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 64, kHeight = 48;

class OpenDmlRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    WriteProfileInt("NorvAvi", "OpenDML", 1, 0);
    setup.settings.width = kWidth;
    setup.settings.height = kHeight;
    setup.settings.interleaveFrames = 1;
    setup.settings.audioFormat[1] = 16;
    setup.settings.audioFormat[2] = 22050;
    setup.settings.audioFormat[3] = 1;
    setup.SetSpan(0, 1600);  // 40 frames
    OpenDmlRiffLimit() = 64 * 1024;
  }
  void TearDown() override { OpenDmlRiffLimit() = kOpenDmlRiffBytes; }

  // An export of 40 frames cut after `frames` of them: the session deleted
  // without being finished, as a crash leaves it (the buffer reaches the disk).
  Bytes Cut(std::uint32_t frames) {
    MovieSession* s = CreateMovieSession(&setup.request);
    EXPECT_NE(s, nullptr);
    if (s == nullptr) return {};
    EXPECT_EQ(s->audio.BeginAudioCapture(), 0);
    audio.resize(s->audio.audioTotalBytes);
    for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<std::uint8_t>(i / 3 + i);
    AudioBlock block{audio.data(), static_cast<std::uint32_t>(audio.size())};
    std::uint32_t done = 0;
    EXPECT_EQ(s->StoreAudioBlock(&block, &done), 0);
    for (std::uint32_t i = 0; i < frames; ++i) {
      const auto f = norv::test::PatternFrame(kWidth, kHeight, i);
      EXPECT_EQ(s->CompressAviFrame(f.data(), &done), 0);
    }
    s->CloseCompression();
    delete s;
    return ReadFileBytes(setup.path);
  }

  // Repairs `bytes` and checks the result with verify and ffmpeg.
  void ExpectRepaired(const Bytes& bytes, const std::string& what) {
    const std::string cut = host.dir().File("cut.avi"), fixed = host.dir().File("fixed.avi");
    WriteFileBytes(cut, bytes);
    const auto result = norv::cli::RepairAvi({cut, fixed, false});
    ASSERT_EQ(result.status, 0) << what << ": " << result.message;
    const auto report = norv::cli::VerifyAvi(fixed);
    EXPECT_TRUE(report.sound()) << what << ":\n" << norv::cli::FormatReport(report);
    const std::uint64_t frames = report.streams.at(0).chunks;
    const std::uint64_t audioBytes = report.streams.at(1).bytes;
    EXPECT_EQ(report.streams[0].length, frames) << what;
    EXPECT_EQ(report.streams[1].length, audioBytes / 2) << what;

    Bytes video;
    const std::size_t row = kWidth * 3;
    for (std::uint32_t i = 0; i < frames; ++i) {
      const auto f = norv::test::PatternFrame(kWidth, kHeight, i);
      for (int y = kHeight - 1; y >= 0; --y)
        video.insert(video.end(), f.begin() + static_cast<long>(row * y),
                     f.begin() + static_cast<long>(row * (y + 1)));
    }
    const std::string expected = host.dir().File("expected.raw");
    WriteFileBytes(expected, video);
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + fixed +
                         " -map 0:v -f rawvideo -pix_fmt bgr24 - | md5sum"),
              RunCommand("md5sum < " + expected))
        << what << ": the frames";
    WriteFileBytes(expected, Bytes(audio.begin(), audio.begin() + static_cast<long>(audioBytes)));
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + fixed + " -map 0:a -f s16le - | md5sum"),
              RunCommand("md5sum < " + expected))
        << what << ": the audio";
  }

  norv::test::HostScope host;
  norv::test::RecordedMessages messages;
  norv::test::MovieSetup setup{host.dir()};
  Bytes audio;
};

TEST_F(OpenDmlRepair, CutExportsAreFinishedWhereverTheyStop) {
  const Bytes whole = Cut(30);
  // The form in progress: the last RIFF header, with its size never set.
  std::size_t last = 0;
  for (std::size_t at = 0; at + 12 <= whole.size() && Le32(whole, at + 4) != 0;
       at += 8 + Le32(whole, at + 4))
    last = at + 8 + Le32(whole, at + 4);
  ASSERT_GT(last, 0u);
  ASSERT_LT(last + 24, whole.size());
  ExpectRepaired(whole, "cut between records");
  // Torn inside the last chunk, inside a chunk header, just after the form's opening.
  ExpectRepaired(Bytes(whole.begin(), whole.end() - 100), "torn chunk");
  ExpectRepaired(Bytes(whole.begin(), whole.end() - (kWidth * kHeight * 3 + 4)), "torn header");
  ExpectRepaired(Bytes(whole.begin(), whole.begin() + static_cast<long>(last + 24)), "empty form");

  // Cut before the first form closed: the room of the super indexes is still
  // JUNK, and 'idx1' is missing too.
  OpenDmlRiffLimit() = kOpenDmlRiffBytes;
  const Bytes early = Cut(10);
  ASSERT_EQ(Le32(early, 4), 0u);
  ExpectRepaired(early, "cut in the first form");
  const auto first = norv::cli::VerifyAvi(host.dir().File("fixed.avi"));
  EXPECT_EQ(first.totalFrames, first.streams.at(0).chunks) << "the main header counts the frames";
  ExpectRepaired(Bytes(early.begin(), early.end() - 100), "torn in the first form");

  // A finished movie is not touched.
  const std::string done = host.dir().File("done.avi");
  WriteFileBytes(done, ReadFileBytes(setup.path));
  MovieSession* s = CreateMovieSession(&setup.request);
  ASSERT_NE(s, nullptr);
  for (std::uint32_t i = 0; i < 3; ++i) {
    const auto f = norv::test::PatternFrame(kWidth, kHeight, i);
    std::uint32_t n = 0;
    s->CompressAviFrame(f.data(), &n);
  }
  s->FinishMovie();
  delete s;
  EXPECT_NE(norv::cli::RepairAvi({setup.path, host.dir().File("again.avi"), false}).status, 0);
}

}  // namespace
