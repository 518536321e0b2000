// The plug-in as a host loads it (NorvAvi.so through dlopen), and a movie
// driven through its exports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/norvavi/host/plugin_loader.h"

namespace norv::test {

// The exports of the built NorvAvi.so, loaded once per test program.
const cli::PluginExports& Plugin();

// Default settings (from the plug-in) and a request for OUT.avi in a
// scratch folder spanning 0..1000 ms.
struct MovieSetup {
  explicit MovieSetup(const TempDir& dir, const std::string& name = "out.avi");
  AviSettings settings{};
  MovieRequest request{};
  std::string path;
  void SetSpan(std::uint32_t startMs, std::uint32_t endMs) {
    request.startTime = startMs;
    request.endTime = endMs;
  }
};

// Sets a record's fields from "; "-separated lines, each a field's name and
// values: "compressor SCRA", "rate 25", "size 160x120", "aspect 4:3 lock 0",
// "colour 24", "field 0", "subPixel 1", "crop 1" (the rectangle's last
// word), "quality 7500 keys 4 only 0", "dataRate 0 -1", "interleave 30",
// "audio 1 1 16/44100/2" (available, enabled, bits/rate/channels), "hw 1",
// "state 24/1000" (the compressor state's size and capacity).
void SetFields(AviSettings& s, const std::string& changes);

// A bottom-up 24-bit frame whose every byte is derived from `seed`, so
// frames can be told apart after the round trip.
std::vector<std::uint8_t> PatternFrame(int width, int height, std::uint32_t seed);

// Runs a whole movie through the exports: GetContext, InitCompression,
// `frames` video frames (frame(i), by default PatternFrame(i), each ending
// at a page boundary and checked unchanged after its call),
// CloseCompression, DeleteContext; an AVI file left must pass norvavi
// verify. Returns false when the plug-in refused the movie; `results`
// receives each frame call's result.
using FrameSource = std::function<std::vector<std::uint8_t>(std::uint32_t)>;
bool RunMovie(MovieSetup& setup, std::uint32_t frames, std::vector<int>* results = nullptr,
              const FrameSource& frame = nullptr);

// A test of one movie: the host in its known state, the messages recorded,
// the movie set up in the host's scratch folder.
class MovieTest : public ::testing::Test {
 protected:
  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
};

}  // namespace norv::test
