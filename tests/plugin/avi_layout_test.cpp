// Uncompressed movies beyond the layout model: more or fewer frames than
// announced, frame-rate conversion, the field-order shift. The file-size
// limit is the AVI writer's (avi_writer_test), ffmpeg's reading of
// uncompressed frames compressed_movies_test's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

class AviLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup.settings.audioEnabled = 0;
    setup.settings.width = 320;
    setup.settings.height = 240;
  }
  std::vector<std::uint8_t> Make(std::uint32_t frames) {
    EXPECT_TRUE(RunMovie(setup, frames));
    return ReadFileBytes(setup.path);
  }
  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
};

// The span's frame count holds whatever the host sends: frames past it are
// refused (the index has room for two entries each: a record and its
// chunk), fewer leave the headers as announced.
TEST_F(AviLayoutTest, TheAnnouncedFrameCountHolds) {
  setup.settings.interleaveFrames = 1;
  setup.SetSpan(0, 120);  // 3 frames announced
  std::vector<int> results;
  ASSERT_TRUE(RunMovie(setup, 10, &results));
  EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 1, 1, 1}));
  auto b = ReadFileBytes(setup.path);
  EXPECT_EQ(WalkAvi(b).index.size(), 6u);
  EXPECT_EQ(Le32(b, 32 + 16), 3u);
  setup.SetSpan(0, 400);  // 10 announced
  b = Make(4);
  EXPECT_EQ(Le32(b, 32 + 16), 10u);
  EXPECT_EQ(Le32(b, 108 + 32), 10u);
  EXPECT_EQ(WalkAvi(b).index.size(), 8u);  // a record and its chunk a frame
}

// The first pixel byte of every video chunk, in file order.
std::vector<std::uint8_t> FirstBytes(const std::vector<std::uint8_t>& b) {
  std::vector<std::uint8_t> out;
  AviWalk w = WalkAvi(b);
  for (const auto& c : w.chunks)
    if (c.id == "00db" || c.id == "00dc") out.push_back(b[c.headerOffset + 8]);
  return out;
}

TEST_F(AviLayoutTest, FrameRateConversionDropsAndNeverRepeats) {
  setup.request.sameAsProject = 1;
  auto run = [&](int projectX100, float rate, std::uint32_t hostFrames) {
    NorvHostSetProject(720, 576, projectX100);
    setup.settings.frameRate = rate;
    setup.SetSpan(0, 2000);
    EXPECT_TRUE(RunMovie(setup, hostFrames));
    return FirstBytes(ReadFileBytes(setup.path));
  };
  auto expect = [](std::vector<std::uint32_t> kept, std::size_t n) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < n && i < kept.size(); ++i)
      out.push_back(PatternFrame(320, 240, kept[i])[0]);
    return out;
  };
  // 30 to 15: host frames 1, 3, 5 ... (counting from 1) are kept.
  auto got = run(3000, 15.0f, 60);
  std::vector<std::uint32_t> odd;
  for (std::uint32_t i = 0; i < 60; i += 2) odd.push_back(i);
  EXPECT_EQ(got, expect(odd, 30));

  // 29.97 to 25: one frame in six dropped, starting with the second.
  got = run(2997, 25.0f, 60);
  std::vector<std::uint32_t> kept;
  for (std::uint32_t i = 0; i < 60; ++i)
    if (i % 6 != 1) kept.push_back(i);
  ASSERT_EQ(got.size(), 50u);
  EXPECT_EQ(got, expect(kept, 50));

  // A movie faster than the host keeps every host frame.
  got = run(1500, 30.0f, 30);
  EXPECT_EQ(got.size(), 30u);
}

TEST_F(AviLayoutTest, FieldOrderShiftMovesThePictureUpALineAndTwoPixelsRight) {
  WriteProfileInt("Last Make Movie", "DV Reverse", 1, 0);
  setup.settings.width = 8;
  setup.settings.height = 4;
  setup.SetSpan(0, 40);
  ASSERT_TRUE(RunMovie(setup, 1));
  auto b = ReadFileBytes(setup.path);
  AviWalk w = WalkAvi(b);
  const auto* chunk = w.Find("00dc");
  ASSERT_NE(chunk, nullptr);
  const std::uint8_t* got = &b[chunk->headerOffset + 8];
  const auto frame = PatternFrame(8, 4, 0);
  const std::size_t shift = (8 + 2) * 3;
  for (std::size_t i = 0; i < shift; ++i) ASSERT_EQ(got[i], 0) << i;
  EXPECT_EQ(0, std::memcmp(got + shift, frame.data(), frame.size() - shift));

  // In NTSC the same profile value has no effect on the AVI path.
  NorvHostSetNtsc(1);
  ASSERT_TRUE(RunMovie(setup, 1));
  b = ReadFileBytes(setup.path);
  w = WalkAvi(b);
  EXPECT_EQ(0, std::memcmp(&b[w.Find("00dc")->headerOffset + 8], frame.data(), frame.size()));
}

TEST_F(AviLayoutTest, VideoOnlyMovieReportsNoFramesDone) {
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  std::uint32_t limit = 0;
  EXPECT_EQ(Plugin().MakeMovieInitCompression(session, 0, 1, &limit), 0);
  EXPECT_EQ(limit, 0x7FFFFFFFu);
  const auto f = PatternFrame(320, 240, 1);
  for (int i = 0; i < 3; ++i) {
    std::uint32_t done = 99;
    EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(session, f.data(), &done), 0);
    EXPECT_EQ(done, 0u);
  }
  Plugin().MakeMovieCloseCompression(session, 0);
  Plugin().MakeMovieDeleteContext(&session);
}

TEST_F(AviLayoutTest, UnwritableOutputShowsItsMessage) {
  std::strcpy(setup.request.outputPath, (host.dir().File("missing/dir/out.avi")).c_str());
  for (const auto& [raw, text] : std::vector<std::pair<int, std::string>>{
           {0, "Fail to create new avi file!"}, {1, "Fail to create new DV file!"}}) {
    setup.settings.qrvExport = raw;
    messages.clear();
    EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{text});
  }
}

}  // namespace
