// The compressor session with a scripted driver: the data-rate fit (qualities
// tried, notices, what the session keeps), the saved compressor state, and
// key and delta frames through the frame export and the raw stream,
// including a failing frame.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/files/files.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

using namespace norv::test;

constexpr char kAdjusted[] = "Image quality adjusted to satisfy the data rate!";
constexpr char kNoQuality[] =
    "The compressor can not find the appropriate quality to satisfy the data rate you select!";

using SessionPtr = std::unique_ptr<MovieSession, decltype([](MovieSession* s) {
                                     s->FinishMovie();
                                     delete s;
                                   })>;

class CompressorSessionTest : public MovieTest {
 protected:
  void SetUp() override {
    SetFields(setup.settings,
              "compressor SCRS; size 64x48; rate 25; quality 7500 keys 4 only 0; "
              "dataRate 0 -1; audio 1 0 16/44100/2");
    setup.SetSpan(0, 120);  // 3 frames
  }
  SessionPtr Start() { return SessionPtr(CreateMovieSession(&setup.request)); }
  // Checks the calls from `first` on, 64x48 frames at `bits` per pixel,
  // against the rule: numbered from 1 (a failed frame keeps its number),
  // every `every`-th a key frame, each delta frame given the last frame
  // handed over, key, failed or refused by the disk, the first one a black
  // picture. Returns the hashes of the inputs.
  static std::vector<std::uint64_t> KeysAndDeltas(const std::vector<ScriptedCall>& calls,
                                                  std::size_t first, std::size_t every, WORD bits) {
    const std::vector<std::uint8_t> black(64 * 48 * bits / 8, 0);
    std::vector<std::uint64_t> inputs;
    for (std::size_t i = first; i < calls.size(); ++i) {
      const std::size_t n = i - first + 1;
      const ScriptedCall& c = calls[i];
      const auto prev = i == first ? Fnv1a(black.data(), black.size()) : calls[i - 1].inputHash;
      const auto got = std::tuple(c.frameNum, c.flags, c.inputBits, c.hadPrev, c.prevBits,
                                  c.prevImageSize, c.prevHash);
      EXPECT_EQ(got, n % every == 0 ? std::tuple(LONG(n), DWORD{ICCOMPRESS_KEYFRAME}, bits, false,
                                                 WORD{0}, DWORD{0}, std::uint64_t{0})
                                    : std::tuple(LONG(n), DWORD{0}, bits, true, bits,
                                                 DWORD(black.size()), prev))
          << "frame " << n;
      inputs.push_back(c.inputHash);
    }
    return inputs;
  }

  // The default sizes: quality / 10 + 100 bytes, twice that for key frames,
  // so at 25 frames per second 7500 needs 42500 bytes a second and 4428 27100.
  ScriptedCompressor driver{MakeFourCC("SCRS")};
};

// The data-rate fit: test frames at falling qualities (a tenth less each
// time, ten at most) until one fits the rate with a margin of 0.9, or 1.1
// for a test frame that failed (its size is then the output header's).
TEST_F(CompressorSessionTest, DataRateFitTriesFallingQualities) {
  const std::vector<DWORD> six{7500, 6750, 6075, 5467, 4920, 4428};
  std::vector<DWORD> ten = six;
  ten.insert(ten.end(), {3985, 3586, 3227, 2904});
  const auto flat = [](DWORD, bool) { return DWORD{1000}; };
  struct Case {
    const char* what;
    ScriptedCompressor::SizeFunction size;  // null: the default sizes
    bool failTests;                         // every test frame fails, the header says 1000
    std::int32_t dataRate;
    std::vector<DWORD> tried;
    DWORD quality;           // the session's, and the real frames'
    std::uint32_t maxFrame;  // the session's frame bound
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"24 KB/s: 4920 gives 26640, 4428 24390", nullptr, false, 24, six, 4428, 1084, {kAdjusted}},
      {"18 KB/s: the tenth try fits", nullptr, false, 18, ten, 2904, 780, {kAdjusted}},
      {"17 KB/s: nothing fits", nullptr, false, 17, ten, 2613, 1u << 20, {kNoQuality}},
      {"22 KB/s fits 22500 at once, silently", flat, false, 22, {7500}, 7500, 1000, {}},
      {"21 KB/s never fits 22500", flat, false, 21, ten, 2613, 1u << 20, {kNoQuality}},
      {"no data rate: no test frame", nullptr, false, -1, {}, 7500, 1u << 20, {}},
      {"27 KB/s fits 27500 of a failed test", nullptr, true, 27, {7500}, 7500, 1000, {}},
      {"26 KB/s never does, though 0.9 would", nullptr, true, 26, ten, 2613, 1000, {kNoQuality}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    ScriptedCompressor fit(MakeFourCC("SCRF"), c.size);
    if (c.failTests) {
      fit.Edit()->failFrames = {0};
      fit.Edit()->maxFrameBytes = 1000;
    }
    setup.settings.compressorHandler = fit.handler();
    setup.settings.dataRate = c.dataRate;
    SessionPtr s = Start();
    ASSERT_NE(s, nullptr) << "the movie goes on without a fitting quality";
    // Test frames are key frames numbered 0: (number, flags, previous given, quality).
    std::vector<std::tuple<LONG, DWORD, bool, DWORD>> tried, want;
    for (const ScriptedCall& t : fit.calls())
      tried.emplace_back(t.frameNum, t.flags, t.hadPrev, t.quality);
    for (const DWORD q : c.tried) want.emplace_back(0, ICCOMPRESS_KEYFRAME, false, q);
    EXPECT_EQ(tried, want);
    EXPECT_EQ(s->video.quality, c.quality);
    EXPECT_EQ(s->video.maxFrameBytes, c.maxFrame);
    EXPECT_EQ(messages.texts(), c.messages);
    EXPECT_EQ(setup.settings.quality, 7500) << "the user's quality stays in the settings";
    std::uint32_t done = 0;
    ASSERT_EQ(s->CompressAviFrame(PatternFrame(64, 48, 1).data(), &done), 0);
    EXPECT_EQ(fit.calls().back().quality, c.quality);
  }
}

// The frame bound the session works with: a DV output's fixed frame size,
// whatever the driver answers, else the driver's bound; 0: refused.
TEST_F(CompressorSessionTest, TheFrameBoundIsTheDriversOrADvFrame) {
  const DWORD dv = MakeFourCC("dvsd"), scripted = driver.handler();
  struct Case {
    DWORD output;                       // what the driver's format names
    std::optional<LRESULT> sizeAnswer;  // none: the driver's bound, 1 MiB
    DWORD handler;
    const char* size;
    std::uint32_t bound;
  };
  for (const Case& c : {
           Case{dv, std::nullopt, scripted, "size 64x48", 120000},
           Case{dv, ICERR_UNSUPPORTED, scripted, "size 64x48", 120000},
           Case{scripted, ICERR_UNSUPPORTED, scripted, "size 64x48", 0},
           Case{scripted, 1 << 20, scripted, "size 64x48", 1u << 20},
           Case{scripted, 0x80000000, scripted, "size 64x48", 0},  // no buffer is made for it
           Case{0, std::nullopt, dv, "size 720x576", 144000},      // the built-in DV compressor
           Case{0, std::nullopt, dv, "size 720x480", 120000},
       }) {
    SCOPED_TRACE(::testing::Message() << c.output << " " << c.size);
    driver.Edit()->outCompression = c.output;
    driver.Edit()->outImageSize = 120000;
    driver.Edit()->sizeAnswer = c.sizeAnswer;
    setup.settings.compressorHandler = c.handler;
    SetFields(setup.settings, c.size);
    SessionPtr s = Start();
    EXPECT_EQ(s == nullptr ? 0 : s->video.maxFrameBytes, c.bound);
  }
}

// The saved state is restored only when it fits; the movie's rate reaches
// the compressor only when the host's profile asks, in thousandths to the
// nearest (12345.6 here).
TEST_F(CompressorSessionTest, SavedStateIsRestoredOnlyWhenItFitsAndTheRateToldWhenAsked) {
  auto withState = [&](std::uint32_t size) {
    HostFree(&setup.settings.compressorState);
    setup.settings.compressorState = HostAlloc(size, 1);
    auto* p = static_cast<std::uint8_t*>(HostBlockAddress(setup.settings.compressorState));
    for (std::uint32_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(0xA0 + i);
    setup.settings.compressorStateSize = setup.settings.compressorStateCapacity = size;
    return std::vector<std::uint8_t>(p, p + size);
  };
  setup.settings.frameRate = 12.3456f;
  const auto saved = withState(ScriptedCompressor::kStateSize);
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(driver.lastStateSet(), saved);
  EXPECT_EQ(driver.ratesTold(), "");
  WriteProfileInt("NorvAvi", "FramesInfo", 1, 0);
  ASSERT_NE(Start(), nullptr);
  EXPECT_EQ(driver.ratesTold(), "12346/1000");

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

  fresh.Edit()->configurable = false;
  withState(ScriptedCompressor::kStateSize);
  ASSERT_NE(Start(), nullptr);
  EXPECT_TRUE(fresh.lastStateSet().empty()) << "no configuration dialog, no state";
  EXPECT_TRUE(messages.texts().empty());
  HostFree(&setup.settings.compressorState);
}

// Key frames follow the count; a delta frame gets the last frame handed to
// the compressor, key or failed, described at the input's depth: an 8-bit
// movie hands over its 8-bit frames, the previous one with its own size.
TEST_F(CompressorSessionTest, KeyFramesFollowTheCountAndDeltasTheLastCompressedFrame) {
  setup.SetSpan(0, 320);  // 8 frames
  ScriptedCompressor eight(MakeFourCC("8bit"));
  eight.Edit()->eightBitInput = true;
  eight.Edit()->outBits = 8;
  for (const auto& [d, every] : {std::pair<ScriptedCompressor*, int>{&driver, 4}, {&eight, 2}}) {
    const bool eightBit = d == &eight;
    SCOPED_TRACE(eightBit ? "8-bit" : "24-bit");
    d->Edit()->failFrames = {3};
    setup.settings.compressorHandler = d->handler();
    setup.settings.colorFormat = eightBit ? 81 : 24;
    setup.settings.keyFrameEvery = every;
    std::vector<int> results;
    ASSERT_TRUE(RunMovie(setup, 8, &results));
    EXPECT_EQ(results, (std::vector<int>{0, 0, -1, 0, 0, 0, 0, 0}));
    EXPECT_GE(d->begins(), 1);
    EXPECT_EQ(d->ends(), d->begins()) << "every compression begun is ended";

    ASSERT_EQ(d->calls().size(), 8u);
    KeysAndDeltas(d->calls(), 0, static_cast<std::size_t>(every), eightBit ? 8 : 24);
  }
}

// The raw stream compresses the host's 24-bit frame, moved when the field
// order is reversed, whatever the colour format: its compressor is started
// for 24 bits, and one that takes 8-bit input only is refused before anything
// is written. It goes on after a failed frame, a full disk and a frame the
// driver says is larger than the bound it gave (a compressor failure, not a
// write failure, with nothing of it in the file).
TEST_F(CompressorSessionTest, RawStreamCompressesTheTwentyFourBitFrameAndGoesOnAfterFailures) {
  SetFields(setup.settings, "quality 7500 keys 3 only 0");
  setup.settings.qrvExport = 1;
  setup.SetSpan(0, 240);  // 6 frames
  driver.Edit()->failFrames = {2};
  driver.Edit()->maxFrameBytes = 2000;
  for (const auto& [colour, reverse] : {std::pair{80, 0}, {80, 1}, {24, 1}}) {
    SCOPED_TRACE(std::to_string(colour) + (reverse != 0 ? " field order reversed" : " as given"));
    setup.settings.colorFormat = colour;
    WriteProfileInt("Last Make Movie", "DV Reverse", reverse, 0);
    const std::size_t first = driver.calls().size();
    SessionPtr s = Start();
    ASSERT_NE(s, nullptr);
    std::vector<int> results;
    std::vector<std::uint64_t> given;
    for (std::uint32_t i = 0; i < 6; ++i) {
      const auto frame = PatternFrame(64, 48, i);
      // Field order reversed: the picture moves forward by a scanline counted
      // at the movie's depth (64 bytes at 8 bits, 192 at 24), the end black.
      std::vector<std::uint8_t> moved(frame.size(), 0);
      std::copy(frame.begin() + 64 * reverse * (colour == 24 ? 3 : 1), frame.end(), moved.begin());
      given.push_back(Fnv1a(moved.data(), moved.size()));
      if (i == 3) NorvSetDiskBudget(0);
      driver.Edit()->overstated = i == 5 ? 301 : 0;  // a key frame: 2001 bytes
      std::uint32_t done = 0;
      results.push_back(s->WriteRawFrame(frame.data(), &done));
      NorvSetDiskBudget(-1);
    }
    s.reset();
    EXPECT_EQ(results, (std::vector<int>{0, -1, 0, 1, 0, -1}));

    ASSERT_EQ(driver.calls().size(), first + 6);
    EXPECT_EQ(KeysAndDeltas(driver.calls(), first, 3, 24), given);
    // The frames that landed, back to back: 850 bytes a delta (1 and 5),
    // 1700 a key frame (3).
    std::vector<std::uint8_t> want(850, 0x44);
    want.insert(want.end(), 1700, 0x4B);
    want.insert(want.end(), 850, 0x44);
    EXPECT_EQ(ReadFileBytes(setup.path), want);
  }
  WriteProfileInt("Last Make Movie", "DV Reverse", 0, 0);

  // Even for an 8-bit movie: the raw stream feeds it 24-bit frames.
  setup.settings.colorFormat = 80;
  setup.settings.compressorHandler = MakeFourCC("MRLE");
  std::filesystem::remove(setup.path);
  EXPECT_EQ(Start(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(setup.path));
}

}  // namespace
