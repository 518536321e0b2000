// Compressors that misbehave, one way at a time: every message the export
// sends fails in turn, sizes lie, the input is scribbled over, the output
// runs past its bound. The export is either refused with nothing left
// behind, or finished with the frames that were compressed, which ffmpeg
// decodes back to the host's pictures; the host's frames are never written
// to (the fixture checks every one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "plugin/host/host_api.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

using namespace norv::test;

constexpr int kWidth = 64, kHeight = 48, kFrames = 5;
constexpr DWORD kHandler = MakeFourCC("HSTL");

TEST(HostileCompressor, EveryMisbehaviourEndsInTheDocumentedResult) {
  const std::vector<int> written(kFrames, 0), refusedFrames(kFrames, -1);
  const std::vector<int> refused;  // no session at all
  const struct {
    Hostile how;
    const char* name;
    std::vector<int> results;
    bool readOnly = false;      // promises to only read its input
    std::set<LONG> fails = {};  // the frames it fails
  } cases[] = {
      {Hostile::kNone, "well behaved", written},
      {Hostile::kNone, "promises to only read", written, true},
      {Hostile::kFailQuery, "query fails", written},
      {Hostile::kFailFormatSize, "format size fails", refused},
      {Hostile::kFailFormat, "format fails", refused},
      {Hostile::kFailSize, "size fails", refused},
      {Hostile::kFailBegin, "begin fails", refused},
      {Hostile::kNone, "frame 1 fails", {-1, 0, 0, 0, 0}, false, {1}},
      {Hostile::kNone, "frame 3 fails", {0, 0, -1, 0, 0}, false, {3}},
      {Hostile::kFailEnd, "end fails", written},
      {Hostile::kFailGetState, "get state fails", written},
      {Hostile::kFailSetState, "set state fails", written},
      {Hostile::kFailClose, "close fails", written},
      {Hostile::kFormatSizeZero, "format of 0 bytes", refused},
      {Hostile::kFormatBelowHeader, "format shorter than a header", refused},
      {Hostile::kFormatPastSize, "format header longer than announced", refused},
      {Hostile::kSizeBeyondBuffer, "frames larger than the bound", refusedFrames},
      {Hostile::kWritesInput, "writes into its input", written},
      {Hostile::kWritesPastOutput, "writes one byte past its bound", refusedFrames},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostScope host;
    TempDir out;
    RecordedMessages messages;
    ScriptedCompressor driver(kHandler);
    driver.Edit()->copies = true;
    driver.Edit()->hostile = c.how;
    driver.Edit()->readOnly = c.readOnly;
    driver.Edit()->failFrames = c.fails;
    // Pattern frames through the driver, with a saved state the driver
    // takes, so that its state messages are sent too.
    MovieSetup setup(out);
    SetFields(setup.settings,
              "size 64x48; audio 1 0 16/44100/2; compressor HSTL; quality 7500 keys 2 only 0");
    setup.settings.compressorState = HostAlloc(ScriptedCompressor::kStateSize, 1);
    setup.settings.compressorStateSize = setup.settings.compressorStateCapacity =
        ScriptedCompressor::kStateSize;
    setup.SetSpan(0, kFrames * 40);
    std::vector<int> results;
    const bool made = RunMovie(setup, kFrames, &results);
    HostFree(&setup.settings.compressorState);
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    // The host's frame, which ends at a page boundary, is lent only to a
    // compressor that promised to read it and nothing more; any other
    // compresses the session's copy.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    for (const ScriptedCall& call : driver.calls())
      EXPECT_EQ(call.inputEnd % page == 0, c.readOnly) << "frame " << call.frameNum;
    EXPECT_EQ(results, c.results);  // none when refused
    EXPECT_EQ(Listing(out.path()), std::vector<std::string>(made ? 1 : 0, "out.avi"));
    if (!made) continue;
    // The frames compressed, as ffmpeg decodes them (flipped to bottom-up, as the host gave them).
    std::vector<std::uint8_t> expected;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
      const auto f = PatternFrame(kWidth, kHeight, i);
      if (results[i] == 0) expected.insert(expected.end(), f.begin(), f.end());
    }
    EXPECT_TRUE(FfmpegDecode(setup.path, "-f rawvideo -pix_fmt bgr24 -vf vflip") == expected);
  }
}

}  // namespace
