// norvavi verify and repair on OpenDML movies of many 'AVIX' forms from the
// plug-in: a finished one is sound and fully indexed, a fault planted in one
// of its indexes is named by the index, and an export cut off anywhere in a
// form is repaired into a sound file whose frames and sound ffmpeg decodes
// as they went in.
#include <gtest/gtest.h>

#include <algorithm>

#include "hoststub/norv_host.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"
#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/odml_index_check.h"

namespace {

using norv::cli::VerifyAvi;
using norv::test::FourCC;
using norv::test::Le32;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 64, kHeight = 48;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

class OpenDml : public ::testing::Test {
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

  // An export of 40 frames stopped after `frames`: finished, or the session
  // deleted unfinished as a crash leaves it (the buffer reaches the disk).
  Bytes Make(std::uint32_t frames, bool finish) {
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
    if (finish) s->FinishMovie();
    delete s;
    return ReadFileBytes(setup.path);
  }

  // The fields of the problems verify finds in `bytes`.
  std::vector<std::string> Problems(const Bytes& bytes) {
    const std::string path = host.dir().File("mutated.avi");
    WriteFileBytes(path, bytes);
    std::vector<std::string> fields;
    for (const auto& p : VerifyAvi(path).problems) fields.push_back(p.field);
    return fields;
  }

  // Repairs `bytes` and checks the result with verify and ffmpeg.
  void ExpectRepaired(const Bytes& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    const std::string cut = host.dir().File("cut.avi"), fixed = host.dir().File("fixed.avi");
    WriteFileBytes(cut, bytes);
    const auto result = norv::cli::RepairAvi({cut, fixed, false});
    ASSERT_EQ(result.status, 0) << result.message;
    const auto report = VerifyAvi(fixed);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    const std::uint64_t frames = report.streams.at(0).chunks;
    const std::uint64_t audioBytes = report.streams.at(1).bytes;
    EXPECT_EQ(report.streams[0].length, frames);
    EXPECT_EQ(report.streams[1].length, audioBytes / 2);
    if (report.extensionForms == 0) {
      EXPECT_EQ(report.totalFrames, frames) << "the main header counts the frames";
    }

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
        << "the frames";
    WriteFileBytes(expected, Bytes(audio.begin(), audio.begin() + static_cast<long>(audioBytes)));
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + fixed + " -map 0:a -f s16le - | md5sum"),
              RunCommand("md5sum < " + expected))
        << "the audio";
  }

  norv::test::HostScope host;
  norv::test::RecordedMessages messages;
  norv::test::MovieSetup setup{host.dir()};
  Bytes audio;
};

TEST_F(OpenDml, EveryChunkOfEveryFormIsIndexedOnceAndPlantedFaultsAreNamed) {
  const Bytes good = Make(40, true);
  const auto report = VerifyAvi(setup.path);
  EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
  ASSERT_GE(report.extensionForms, 4);
  norv::cli::FileReader file;
  std::string error;
  ASSERT_TRUE(file.Open(setup.path, &error));
  norv::cli::VerifyReport fresh;
  fresh.streams = report.streams;
  const auto summary = norv::cli::CheckOpenDmlIndexes(file, fresh);
  EXPECT_EQ(fresh.problemCount, 0u);
  EXPECT_EQ(summary.superIndexes, 2);
  // One per form for the video; the audio ends before the video does.
  const auto forms = 1u + static_cast<unsigned>(report.extensionForms);
  EXPECT_GT(summary.standardIndexes, forms);
  EXPECT_LE(summary.standardIndexes, 2 * forms);
  EXPECT_EQ(summary.entries, report.streams[0].chunks + report.streams[1].chunks);

  // The video stream's super index: in the first 'strl', after 'strf'.
  const std::size_t strf = 12 + 12 + 8 + 56 + 12 + 8 + 64;  // RIFF, hdrl, avih, strl, strh
  ASSERT_EQ(FourCC(good, strf), "strf");
  const std::size_t indx = strf + 8 + Le32(good, strf + 4);
  ASSERT_EQ(FourCC(good, indx), "indx");
  const std::size_t ix = Le32(good, indx + 32 + 16);  // the second form's
  ASSERT_EQ(FourCC(good, ix), "ix00");
  ASSERT_GE(Le32(good, ix + 12), 2u);
  const std::size_t entry = ix + 32 + 8;  // the form's second frame
  const struct {
    const char* what;
    std::size_t at;
    std::uint64_t value;  // above 32 bits: the next word too
    std::string field;
  } faults[] = {
      {"entry offset", entry, Le32(good, entry) + 2, "ix00"},
      {"entry size", entry + 4, Le32(good, entry + 4) - 1, "ix00"},
      {"entry count", ix + 12, Le32(good, ix + 12) - 1, "ix##"},
      {"super entry offset", indx + 32 + 16, static_cast<std::uint32_t>(ix + 8),
       "indx of stream 0 entry 1"},
      {"super entry size", indx + 32 + 16 + 8, 7, "indx of stream 0 entry 1"},
      {"super entry duration", indx + 32 + 16 + 12, 99, "indx of stream 0 entry 1"},
      {"super entries in use", indx + 12, Le32(good, indx + 12) - 1, "ix##"},
      {"super index kind", indx + 8, 2, "indx of stream 0"},
      // So large that adding the header's size wraps around.
      {"super entry offset past 4 GiB", indx + 32 + 16, ~0ull, "indx of stream 0 entry 1"},
  };
  for (const auto& f : faults) {
    Bytes bad = good;
    Put32(bad, f.at, static_cast<std::uint32_t>(f.value));
    if (f.value >> 32 != 0) Put32(bad, f.at + 4, static_cast<std::uint32_t>(f.value >> 32));
    const auto problems = Problems(bad);
    EXPECT_NE(std::find(problems.begin(), problems.end(), f.field), problems.end())
        << f.what << ": " << testing::PrintToString(problems);
  }
}

TEST_F(OpenDml, CutExportsAreFinishedWhereverTheyStop) {
  const Bytes whole = Make(30, false);
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
  const Bytes early = Make(10, false);
  ASSERT_EQ(Le32(early, 4), 0u);
  ExpectRepaired(early, "cut in the first form");
  ExpectRepaired(Bytes(early.begin(), early.end() - 100), "torn in the first form");

  // A finished movie is not touched.
  Make(3, true);
  EXPECT_NE(norv::cli::RepairAvi({setup.path, host.dir().File("again.avi"), false}).status, 0);
}

// `norvavi make --opendml` turns the profile key on for that one movie and
// leaves the profile saying what it said before.
TEST(NorvaviOpenDml, TheOptionHoldsForOneMovie) {
  norv::test::TempDir dir;
  const std::string profile = dir.File("profile.ini");
  for (const std::string options : {" --opendml", ""}) {
    const std::string movie = dir.File("m" + std::to_string(options.size()) + ".avi");
    int status = -1;
    RunCommand(std::string(NORV_BUILD_DIR) + "/norvavi make -q " + movie +
                   " --duration 1 --set width=32 --set height=32 --profile " + profile + options,
               &status);
    EXPECT_EQ(status, 0);
    const auto report = VerifyAvi(movie);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    EXPECT_EQ(report.openDml, !options.empty()) << "the option did not stay in the profile";
  }
  EXPECT_EQ(RunCommand("grep -i '^OpenDML=' " + profile), "OpenDML=0\n");
}

}  // namespace
