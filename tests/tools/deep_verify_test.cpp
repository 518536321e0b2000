// norvavi verify --deep on a file ffmpeg wrote, sound and then with its
// index and stream format made to lie: each lie is found where it is, and
// only a delta frame flagged as a key frame (or data no decoder reads)
// makes the file unsound.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/avi_walk.h"
#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"

namespace {

using namespace norv::test;
using Bytes = std::vector<std::uint8_t>;

TEST(DeepVerify, FindsKeyFlagsAndFormatsThatContradictTheData) {
  const TempDir dir;
  const std::string good = dir.File("good.avi"), bad = dir.File("bad.avi");
  ASSERT_TRUE(
      Runs("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mpeg4 -g 10 "
           "-bf 0 " +
           good));
  const Bytes original = ReadFileBytes(good);
  const AviWalk walk = WalkAvi(original);
  const std::size_t indexAt = walk.Find("idx1")->headerOffset + 8;

  struct Case {
    const char* name;
    std::function<void(Bytes&)> lie;
    int status;
    std::string report;  // the lines about the data, in order
  };
  const auto flip = [&](std::size_t entry) {
    return [=](Bytes& b) { b[indexAt + 16 * entry + 4] ^= 0x10; };
  };
  const std::vector<Case> cases = {
      {"sound", [](Bytes&) {}, 0, "deep: the data agrees with the headers and the index"},
      {"a delta frame flagged key", flip(3), 1,
       "key flag: stream 0 chunk 3 (at " +
           std::to_string(walk.moviCodeOffset + walk.index[3].offset + 8) +
           "): indexed as a key frame, but the data is a delta frame"},
      {"a key frame not flagged", flip(10), 0,
       "note: key flag: stream 0 chunk 10 (at " +
           std::to_string(walk.moviCodeOffset + walk.index[10].offset + 8) +
           "): a key frame in the data, not flagged as one in the index"},
      {"MJPG named over MPEG-4 data",
       [&](Bytes& b) {
         const std::size_t strf = walk.Find("strf")->headerOffset + 8;
         std::copy_n("MJPG", 4, b.begin() + static_cast<long>(strf + 16));
       },
       1, "deep: 50 problems"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = original;
    c.lie(file);
    WriteFileBytes(bad, file);
    std::string out;
    EXPECT_EQ(Status(kNorvavi + " verify --deep " + bad, &out), c.status) << out;
    EXPECT_NE(out.find(c.report), std::string::npos) << out;
  }
}

}  // namespace
