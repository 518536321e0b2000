// norvavi verify on OpenDML movies: a movie of many forms from the plug-in
// is sound and fully indexed, and each single fault planted in an index is
// reported by the index's name.
#include <gtest/gtest.h>

#include <algorithm>

#include "hoststub/norv_host.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/odml_index_check.h"

namespace {

using norv::cli::VerifyAvi;
using norv::test::FourCC;
using norv::test::Le32;
using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

class OpenDmlVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    WriteProfileInt("NorvAvi", "OpenDML", 1, 0);
    setup.settings.width = 96;
    setup.settings.height = 64;
    setup.settings.interleaveFrames = 1;
    setup.SetSpan(0, 1600);  // 40 frames
    OpenDmlRiffLimit() = 160 * 1024;
    MovieSession* s = CreateMovieSession(&setup.request);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->audio.BeginAudioCapture(), 0);
    const Bytes audio(s->audio.audioTotalBytes, 0x11);
    AudioBlock block{audio.data(), static_cast<std::uint32_t>(audio.size())};
    std::uint32_t done = 0;
    ASSERT_EQ(s->StoreAudioBlock(&block, &done), 0);
    for (std::uint32_t i = 0; i < 40; ++i) {
      const auto f = norv::test::PatternFrame(96, 64, i);
      ASSERT_EQ(s->CompressAviFrame(f.data(), &done), 0);
    }
    s->CloseCompression();
    s->FinishMovie();
    delete s;
    good = norv::test::ReadFileBytes(setup.path);
    // The video stream's super index: in the first 'strl', after 'strf'.
    const std::size_t strf = 12 + 12 + 8 + 56 + 12 + 8 + 64;  // RIFF, hdrl, avih, strl, strh
    ASSERT_EQ(FourCC(good, strf), "strf");
    videoIndx = strf + 8 + Le32(good, strf + 4);
    ASSERT_EQ(FourCC(good, videoIndx), "indx");
  }
  void TearDown() override { OpenDmlRiffLimit() = kOpenDmlRiffBytes; }

  // The problems of a copy with one change, by field.
  std::vector<std::string> Problems(const Bytes& bytes) {
    const std::string path = host.dir().File("mutated.avi");
    norv::test::WriteFileBytes(path, bytes);
    std::vector<std::string> fields;
    for (const auto& p : VerifyAvi(path).problems) fields.push_back(p.field);
    return fields;
  }
  // The standard index the super index's entry `n` names.
  std::size_t StandardIndex(std::size_t n) const {
    return static_cast<std::size_t>(Le32(good, videoIndx + 32 + 16 * n));
  }

  norv::test::HostScope host;
  norv::test::RecordedMessages messages;
  norv::test::MovieSetup setup{host.dir()};
  Bytes good;
  std::size_t videoIndx = 0;
};

TEST_F(OpenDmlVerify, EveryChunkOfEveryFormIsIndexedOnce) {
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
}

TEST_F(OpenDmlVerify, PlantedIndexFaultsAreNamed) {
  const std::size_t ix = StandardIndex(1);
  ASSERT_EQ(FourCC(good, ix), "ix00");
  struct Fault {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::string field;
  };
  ASSERT_GE(Le32(good, ix + 12), 2u);
  const std::size_t entry = ix + 32 + 8;  // the form's second frame
  const std::vector<Fault> faults = {
      {"entry offset", entry, Le32(good, entry) + 2, "ix00"},
      {"entry size", entry + 4, Le32(good, entry + 4) - 1, "ix00"},
      {"entry count", ix + 12, Le32(good, ix + 12) - 1, "ix##"},
      {"super entry offset", videoIndx + 32 + 16, static_cast<std::uint32_t>(ix + 8),
       "indx of stream 0 entry 1"},
      {"super entry size", videoIndx + 32 + 16 + 8, 7, "indx of stream 0 entry 1"},
      {"super entry duration", videoIndx + 32 + 16 + 12, 99, "indx of stream 0 entry 1"},
      {"super entries in use", videoIndx + 12, Le32(good, videoIndx + 12) - 1, "ix##"},
      {"super index kind", videoIndx + 8, 2, "indx of stream 0"},
  };
  for (const Fault& f : faults) {
    Bytes bad = good;
    Put32(bad, f.at, f.value);
    const auto problems = Problems(bad);
    EXPECT_NE(std::find(problems.begin(), problems.end(), f.field), problems.end())
        << f.what << ": " << testing::PrintToString(problems);
  }
  // An entry offset so large that adding the header's size wraps around.
  Bytes wrapped = good;
  Put32(wrapped, videoIndx + 32 + 16, 0xFFFFFFFF);
  Put32(wrapped, videoIndx + 32 + 20, 0xFFFFFFFF);
  const auto problems = Problems(wrapped);
  EXPECT_NE(std::find(problems.begin(), problems.end(), "indx of stream 0 entry 1"), problems.end())
      << testing::PrintToString(problems);
}

}  // namespace

namespace {

// `norvavi make --opendml` turns the profile key on for that one movie and
// leaves the profile saying what it said before.
TEST(NorvaviOpenDml, TheOptionHoldsForOneMovie) {
  norv::test::TempDir dir;
  const std::string profile = dir.File("profile.ini");
  const std::string norvavi = std::string(NORV_BUILD_DIR) + "/norvavi";
  auto make = [&](const std::string& name, const std::string& options) {
    int status = -1;
    norv::test::RunCommand(norvavi + " make -q " + dir.File(name) +
                               " --duration 1 --set width=32 --set height=32 --profile " + profile +
                               options,
                           &status);
    EXPECT_EQ(status, 0);
    return VerifyAvi(dir.File(name));
  };
  const auto on = make("on.avi", " --opendml");
  EXPECT_TRUE(on.sound()) << norv::cli::FormatReport(on);
  EXPECT_TRUE(on.openDml);
  const auto off = make("off.avi", "");
  EXPECT_TRUE(off.sound());
  EXPECT_FALSE(off.openDml) << "the option did not stay in the profile";
  EXPECT_EQ(norv::test::RunCommand("grep -i '^OpenDML=' " + profile), "OpenDML=0\n");
}

}  // namespace
