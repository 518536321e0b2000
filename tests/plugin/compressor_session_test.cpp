// The compressor session with a scripted driver: the data-rate fit (qualities
// tried, notices, what the session keeps), the saved compressor state, and
// key and delta frames through the frame export, including a failing frame.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hoststub/norv_host.h"
#include "platform/files/files.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

using norv::test::CheckIndexAgainstChunks;
using norv::test::HostScope;
using norv::test::Le32;
using norv::test::MovieSetup;
using norv::test::PatternFrame;
using norv::test::ReadFileBytes;
using norv::test::RecordedMessages;
using norv::test::RunCommand;
using norv::test::RunMovie;
using norv::test::ScriptedCall;
using norv::test::ScriptedCompressor;
using norv::test::WalkAvi;

constexpr char kAdjusted[] = "Image quality adjusted to satisfy the data rate!";
constexpr char kNoQuality[] =
    "The compressor can not find the appropriate quality to satisfy the data rate you select!";

struct SessionDelete {
  void operator()(MovieSession* s) const {
    s->FinishMovie();
    delete s;
  }
};
using SessionPtr = std::unique_ptr<MovieSession, SessionDelete>;

class CompressorSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = setup.settings;
    s.audioEnabled = 0;
    s.width = 64;
    s.height = 48;
    s.frameRate = 25.0f;
    s.compressorHandler = driver.handler();
    s.quality = 7500;
    s.dataRate = -1;
    setup.SetSpan(0, 120);  // 3 frames
  }
  SessionPtr Start() { return SessionPtr(CreateMovieSession(&setup.request)); }
  std::vector<DWORD> TriedQualities() const { return TriedQualities(driver); }
  static std::vector<DWORD> TriedQualities(const ScriptedCompressor& d) {
    std::vector<DWORD> q;
    for (const ScriptedCall& c : d.calls()) {
      EXPECT_EQ(c.frameNum, 0) << "test frames carry frame number 0";
      EXPECT_EQ(c.flags, ICCOMPRESS_KEYFRAME);
      EXPECT_FALSE(c.hadPrev);
      q.push_back(c.quality);
    }
    return q;
  }

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
  // The default sizes: quality / 10 + 100 bytes, twice that for key frames,
  // so at 25 frames per second 7500 needs 42500 bytes a second and 4428 27100.
  ScriptedCompressor driver{MakeFourCC("SCRS")};
};

TEST_F(CompressorSessionTest, QualityDropsByATenthUntilATestFrameFits) {
  // 24 KB/s = 24576: 4920 gives 29600 x 0.9 = 26640 (too much), 4428 gives 24390.
  setup.settings.dataRate = 24;
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(TriedQualities(), (std::vector<DWORD>{7500, 6750, 6075, 5467, 4920, 4428}));
  EXPECT_EQ(s->video.quality, 4428u);
  EXPECT_EQ(s->video.maxFrameBytes, 1084u) << "the fitted frame, not the driver's bound";
  EXPECT_EQ(messages.texts(), std::vector<std::string>{kAdjusted});
  EXPECT_EQ(setup.settings.quality, 7500) << "the user's quality stays in the settings";

  // Real frames go out at the fitted quality, and the headers expect the fitted size.
  std::uint32_t done = 0;
  for (std::uint32_t i = 0; i < 3; ++i)
    ASSERT_EQ(s->CompressAviFrame(PatternFrame(64, 48, i).data(), &done), 0);
  EXPECT_EQ(driver.calls().back().quality, 4428u);
  s.reset();
  const auto b = ReadFileBytes(setup.path);
  EXPECT_EQ(Le32(b, 32 + 28), 1084u);   // avih suggested buffer size
  EXPECT_EQ(Le32(b, 108 + 36), 1084u);  // video strh suggested buffer size
  EXPECT_EQ(Le32(b, 32 + 4), 24u * 1024);
}

TEST_F(CompressorSessionTest, TenTriesAtMostAndTheLastReductionIsKeptUntested) {
  // 18 KB/s = 18432: 3227 gives 18990 (too much), 2904 gives 17550.
  setup.settings.dataRate = 18;
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  const std::vector<DWORD> ten{7500, 6750, 6075, 5467, 4920, 4428, 3985, 3586, 3227, 2904};
  EXPECT_EQ(TriedQualities(), ten);
  EXPECT_EQ(s->video.quality, 2904u) << "the tenth try fitted";
  EXPECT_EQ(s->video.maxFrameBytes, 780u);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{kAdjusted});
  s.reset();

  ScriptedCompressor again(MakeFourCC("SCRN"));
  setup.settings.compressorHandler = again.handler();
  messages.clear();
  setup.settings.dataRate = 17;  // 17408 < 17550: nothing fits
  s = Start();
  ASSERT_NE(s, nullptr) << "the movie goes on without a fitting quality";
  EXPECT_EQ(TriedQualities(again), ten);
  EXPECT_EQ(s->video.quality, 2613u);
  EXPECT_EQ(s->video.maxFrameBytes, 1u << 20) << "the driver's bound stays";
  EXPECT_EQ(messages.texts(), std::vector<std::string>{kNoQuality});
  EXPECT_EQ(setup.settings.quality, 7500);
}

TEST_F(CompressorSessionTest, FitMarginsAndWhenNoTestRuns) {
  ScriptedCompressor flat(MakeFourCC("SCRF"), [](DWORD, bool) { return DWORD{1000}; });
  setup.settings.compressorHandler = flat.handler();
  // 25000 bytes a second x 0.9 = 22500 fits 22 KB/s (22528) but not 21 (21504).
  setup.settings.dataRate = 22;
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(flat.calls().size(), 1u);
  EXPECT_EQ(s->video.quality, 7500u);
  EXPECT_EQ(s->video.maxFrameBytes, 1000u);
  EXPECT_TRUE(messages.texts().empty()) << "a first-try fit is silent";
  s.reset();
  setup.settings.dataRate = 21;
  s = Start();
  EXPECT_EQ(messages.texts(), std::vector<std::string>{kNoQuality});
  s.reset();

  // No data rate: no test frame, no notice, the bound from the driver.
  messages.clear();
  setup.settings.compressorHandler = driver.handler();
  setup.settings.dataRate = -1;
  s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(driver.calls().empty());
  EXPECT_EQ(s->video.quality, 7500u);
  EXPECT_EQ(s->video.maxFrameBytes, 1u << 20);
  EXPECT_TRUE(messages.texts().empty());
}

TEST_F(CompressorSessionTest, AFailedTestFrameIsJudgedWithTheWiderMargin) {
  // Every try fails; the size is what the output header held: 1000 bytes,
  // 25000 a second. With a margin of 1.1 that needs 27500: 27 KB/s (27648)
  // fits at once, 26 (26624) never does, though 0.9 would have let it.
  driver.FailOnFrames({0});
  driver.SetMaxFrameBytes(1000);
  setup.settings.dataRate = 27;
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(driver.calls().size(), 1u);
  EXPECT_TRUE(messages.texts().empty());
  s.reset();
  setup.settings.dataRate = 26;
  s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(driver.calls().size(), 11u);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{kNoQuality});
}

TEST_F(CompressorSessionTest, DvOutputExpectsItsOwnFrameSize) {
  // A DV output format names its fixed frame size; the driver's bound is ignored.
  driver.SetOutputFormat(MakeFourCC("dvsd"), 120000);
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->video.maxFrameBytes, 120000u);
  s.reset();
  // The bound does not matter there, even when the driver cannot give one;
  // any other output without a bound is refused.
  driver.SetSizeAnswer(ICERR_UNSUPPORTED);
  s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->video.maxFrameBytes, 120000u);
  s.reset();
  driver.SetOutputFormat(MakeFourCC("SCRS"), 120000);
  EXPECT_EQ(Start(), nullptr);
  driver.SetSizeAnswer(1 << 20);
  s = Start();
  EXPECT_EQ(s->video.maxFrameBytes, 1u << 20);
  s.reset();
  driver.SetSizeAnswer(0x80000000);  // a frame bound no buffer is made for
  EXPECT_EQ(Start(), nullptr);

  setup.settings.compressorHandler = MakeFourCC("dvsd");
  setup.settings.width = 720;
  setup.settings.height = 576;
  s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->video.maxFrameBytes, 144000u);
  s.reset();
  setup.settings.height = 480;
  s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->video.maxFrameBytes, 120000u);
}

// The movie's rate reaches the compressor only when the host's profile asks.
TEST_F(CompressorSessionTest, RateIsToldOnlyWhenTheProfileAsks) {
  setup.settings.frameRate = 29.97f;
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(driver.ratesTold(), "");
  WriteProfileInt("NorvAvi", "FramesInfo", 1, 0);
  ASSERT_NE(Start(), nullptr);
  WriteProfileInt("NorvAvi", "FramesInfo", 0, 0);
  EXPECT_EQ(driver.ratesTold(), "29970/1000");
}

TEST_F(CompressorSessionTest, SavedStateIsRestoredOnlyWhenItFits) {
  auto withState = [&](std::uint32_t size) {
    HostFree(&setup.settings.compressorState);
    setup.settings.compressorState = HostAlloc(size, 1);
    auto* p = static_cast<std::uint8_t*>(HostBlockAddress(setup.settings.compressorState));
    for (std::uint32_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(0xA0 + i);
    setup.settings.compressorStateSize = size;
    setup.settings.compressorStateCapacity = size;
    return std::vector<std::uint8_t>(p, p + size);
  };
  const auto saved = withState(ScriptedCompressor::kStateSize);
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(driver.lastStateSet(), saved);

  ScriptedCompressor fresh(MakeFourCC("SCRT"));
  setup.settings.compressorHandler = fresh.handler();
  withState(ScriptedCompressor::kStateSize - 8);
  ASSERT_NE(Start(), nullptr) << "a state of another size is no reason to refuse";
  EXPECT_TRUE(fresh.lastStateSet().empty());

  // A size without a block leaves the compressor at its defaults.
  HostFree(&setup.settings.compressorState);
  setup.settings.compressorStateSize = ScriptedCompressor::kStateSize;
  ASSERT_NE(Start(), nullptr);
  EXPECT_TRUE(fresh.lastStateSet().empty());

  fresh.SetConfigurable(false);
  withState(ScriptedCompressor::kStateSize);
  ASSERT_NE(Start(), nullptr);
  EXPECT_TRUE(fresh.lastStateSet().empty()) << "no configuration dialog, no state";
  EXPECT_TRUE(messages.texts().empty());
  HostFree(&setup.settings.compressorState);
}

// An 8-bit movie hands the compressor its 8-bit frames, the previous one
// described as 8-bit with its own size.
TEST_F(CompressorSessionTest, EightBitMoviesDescribeThePreviousFrameAsEightBit) {
  ScriptedCompressor eight(MakeFourCC("8bit"));
  eight.TakesEightBitsOnly(8);
  setup.settings.compressorHandler = eight.handler();
  setup.settings.colorFormat = 81;
  setup.settings.keyFrameEvery = 2;
  std::vector<int> results;
  ASSERT_TRUE(RunMovie(setup, 3, &results));
  EXPECT_EQ(results, (std::vector<int>{0, 0, 0}));
  const auto calls = eight.calls();
  ASSERT_EQ(calls.size(), 3u);
  for (const std::size_t i : {0u, 2u}) {
    EXPECT_TRUE(calls[i].hadPrev) << i;
    EXPECT_EQ(calls[i].prevBits, 8) << i;
    EXPECT_EQ(calls[i].prevImageSize, 64u * 48u) << i;
  }
  EXPECT_EQ(calls[2].prevHash, calls[1].inputHash) << "the previous frame's pixels, not its table";
}

TEST_F(CompressorSessionTest, KeyFramesFollowTheCountAndDeltasTheLastCompressedFrame) {
  setup.settings.keyFrameEvery = 4;
  setup.SetSpan(0, 320);  // 8 frames
  driver.FailOnFrames({3});
  std::vector<int> results;
  ASSERT_TRUE(RunMovie(setup, 8, &results));
  EXPECT_EQ(results, (std::vector<int>{0, 0, -1, 0, 0, 0, 0, 0}));
  EXPECT_GE(driver.begins(), 1);
  EXPECT_EQ(driver.ends(), driver.begins()) << "every compression begun is ended";

  const auto calls = driver.calls();
  ASSERT_EQ(calls.size(), 8u);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const bool key = (i + 1) % 4 == 0;
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(calls[i].frameNum, static_cast<LONG>(i + 1)) << "a failed frame keeps its number";
    EXPECT_EQ(calls[i].flags, key ? ICCOMPRESS_KEYFRAME : 0u);
    EXPECT_EQ(calls[i].hadPrev, !key);
  }
  EXPECT_TRUE(calls[0].prevAllZero) << "the first delta frame follows a black picture";
  EXPECT_EQ(calls[1].prevHash, calls[0].inputHash);
  EXPECT_EQ(calls[4].prevHash, calls[3].inputHash) << "a key frame is a reference too";
  EXPECT_EQ(calls[5].prevHash, calls[4].inputHash);

  // Frame 3 left nothing in the file; the chunk kinds follow the count.
  const auto b = ReadFileBytes(setup.path);
  EXPECT_EQ(CheckIndexAgainstChunks(b), "");
  const auto walk = WalkAvi(b);
  std::vector<std::string> ids;
  std::vector<std::uint32_t> lengths;
  for (const auto& e : walk.index) {
    ids.push_back(e.id);
    lengths.push_back(e.length);
    EXPECT_EQ(e.flags, e.id == "00db" ? 0x10u : 0u);
  }
  EXPECT_EQ(ids,
            (std::vector<std::string>{"00dc", "00dc", "00db", "00dc", "00dc", "00dc", "00db"}));
  EXPECT_EQ(lengths, (std::vector<std::uint32_t>{850, 850, 1700, 850, 850, 850, 1700}));
  int status = -1;
  RunCommand("ffprobe -v quiet -show_streams " + setup.path + " >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
}

// A driver that says it wrote more than the bound it gave: the frame is a
// compressor failure (not a write failure), in a movie and in a raw stream
// alike, and nothing of it reaches the file.
TEST_F(CompressorSessionTest, AFrameOverTheDriversOwnBoundIsACompressorFailure) {
  setup.settings.keyFrameEvery = 1;  // every frame 1700 bytes
  driver.SetMaxFrameBytes(2000);
  for (int raw : {0, 1}) {
    SCOPED_TRACE(raw != 0 ? "raw stream" : "movie");
    setup.settings.qrvExport = raw;
    SessionPtr s = Start();
    ASSERT_NE(s, nullptr);
    std::vector<int> results;
    for (std::uint32_t i = 0; i < 3; ++i) {
      driver.OverstateSizes(i == 1 ? 301 : 0);
      const auto frame = PatternFrame(64, 48, i);
      std::uint32_t done = 0;
      results.push_back(raw != 0 ? s->WriteRawFrame(frame.data(), &done)
                                 : s->CompressAviFrame(frame.data(), &done));
    }
    driver.OverstateSizes(0);
    s.reset();
    EXPECT_EQ(results, (std::vector<int>{0, -1, 0}));
    const auto b = ReadFileBytes(setup.path);
    if (raw != 0) {
      EXPECT_EQ(b, std::vector<std::uint8_t>(2 * 1700, 0x4B));
    } else {
      std::vector<std::string> ids;
      for (const auto& e : WalkAvi(b).index) ids.push_back(e.id);
      EXPECT_EQ(ids, (std::vector<std::string>{"00db", "00db"}));
    }
  }
}

// FNV-1a over bytes, as the scripted driver hashes what it is given.
std::uint64_t Fnv(const std::uint8_t* p, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

TEST_F(CompressorSessionTest, RawStreamKeysDeltasShiftsAndGoesOnAfterFailures) {
  setup.settings.qrvExport = 1;
  setup.settings.keyFrameEvery = 3;
  setup.SetSpan(0, 240);  // 6 frames
  WriteProfileInt("Last Make Movie", "DV Reverse", 1, 0);
  driver.FailOnFrames({2});
  SessionPtr s = Start();
  ASSERT_NE(s, nullptr);
  std::vector<int> results;
  std::vector<std::uint64_t> shifted;
  for (std::uint32_t i = 0; i < 6; ++i) {
    const auto frame = PatternFrame(64, 48, i);
    // Field order reversed: the picture moves one line forward, the last line black.
    std::vector<std::uint8_t> moved(frame.size(), 0);
    std::copy(frame.begin() + 64 * 3, frame.end(), moved.begin());
    shifted.push_back(Fnv(moved.data(), moved.size()));
    if (i == 3) NorvSetDiskBudget(0);
    std::uint32_t done = 0;
    results.push_back(s->WriteRawFrame(frame.data(), &done));
    NorvSetDiskBudget(-1);
  }
  s.reset();
  WriteProfileInt("Last Make Movie", "DV Reverse", 0, 0);
  EXPECT_EQ(results, (std::vector<int>{0, -1, 0, 1, 0, 0}));

  const auto calls = driver.calls();
  ASSERT_EQ(calls.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i + 1);
    const bool key = (i + 1) % 3 == 0;
    EXPECT_EQ(calls[i].flags, key ? ICCOMPRESS_KEYFRAME : 0u);
    EXPECT_EQ(calls[i].hadPrev, !key);
    EXPECT_EQ(calls[i].inputHash, shifted[i]);
  }
  EXPECT_TRUE(calls[0].prevAllZero);
  EXPECT_EQ(calls[3].prevHash, calls[2].inputHash);
  EXPECT_EQ(calls[4].prevHash, calls[3].inputHash)
      << "a frame the disk refused is still the reference";
  // The frames that landed, back to back: 850 bytes a delta, 1700 a key frame.
  const auto b = ReadFileBytes(setup.path);
  std::vector<std::uint8_t> want;
  for (int frame : {1, 3, 5, 6}) {
    const bool key = frame % 3 == 0;
    want.insert(want.end(), key ? 1700 : 850, key ? 0x4B : 0x44);
  }
  EXPECT_EQ(b, want);
}

}  // namespace
