// norvavi repair --salvage on files other writers made (ffmpeg: INFO and
// JUNK before 'movi'; GStreamer's avimux: MJPEG as '00db', the audio header
// last), damaged the ways files are found: cut short, zeros and garbage in
// the middle (zeros as a lost run of sectors leaves them), the index or the
// headers gone. Each salvage must leave its input as it was, pass verify,
// keep only chunks the original holds (in order), flag key frames as the
// original writer did, and decode with ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "tests/support/avi_walk.h"
#include "tests/support/test_support.h"
#include "tests/tools/avi_bytes.h"
#include "tests/tools/norvavi_run.h"
#include "tools/avicheck/avi_salvage.h"

namespace {

using namespace norv::test;

// Where an idx1 entry's chunk is: avimux counts from the file's start,
// other writers from the 'movi' code.
std::size_t ChunkOf(const Bytes& file, const AviWalk& walk, const WalkedIndexEntry& e) {
  const std::size_t at = walk.moviCodeOffset + e.offset;
  return at + 4 <= file.size() && FourCC(file, at) == e.id ? at : e.offset;
}

// Each video chunk's bytes with its key flag, in index order.
std::vector<std::pair<Bytes, bool>> VideoChunks(const Bytes& file) {
  const AviWalk walk = WalkAvi(file);
  std::vector<std::pair<Bytes, bool>> out;
  for (const auto& e : walk.index) {
    if (e.id != "00dc" && e.id != "00db") continue;
    const std::size_t at = ChunkOf(file, walk, e) + 8;
    out.emplace_back(Bytes(file.begin() + static_cast<long>(at),
                           file.begin() + static_cast<long>(at + e.length)),
                     (e.flags & 0x10) != 0);
  }
  return out;
}

struct Damage {
  const char* name;
  std::string make;  // writes the original to OUT
  std::function<void(Bytes&)> harm;
  bool needsReference;
  std::vector<std::string> dropped;  // the reasons reported, in order
  bool repeats = false;              // a run of the original's chunks stands twice
};

// 3 s of a test picture and a tone, by ffmpeg with these video options.
std::string Ffmpeg(const std::string& video) {
  return "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
         "sine=f=440:r=22050 -t 3 " +
         video + " -c:a pcm_s16le OUT";
}

// The first indexed chunk at or past `from` of the file (0: the file's start).
long ChunkAt(const Bytes& b, double from) {
  std::size_t at = 0;
  if (from > 0) {
    const AviWalk walk = WalkAvi(b);
    for (const auto& e : walk.index) {
      at = ChunkOf(b, walk, e);
      if (static_cast<double>(at) >= static_cast<double>(b.size()) * from) break;
    }
  }
  return static_cast<long>(at);
}

TEST(Salvage, RescuesOtherWritersFilesDamagedTheUsualWays) {
  const TempDir dir;
  const std::vector<Damage> cases = {
      {"mjpeg cut at 60%",
       Ffmpeg("-c:v mjpeg -q:v 3"),
       [](Bytes& b) { b.resize(b.size() * 6 / 10); },
       false,
       {"a chunk cut off by the end of the file"}},
      {"mpeg4 with zeros in the middle, cut",
       Ffmpeg("-c:v mpeg4 -g 5 -bf 0"),
       [](Bytes& b) {
         std::fill_n(b.begin() + ChunkAt(b, 0.3), 3000, 0);
         b.resize(b.size() * 9 / 10);
       },
       false,
       {"zeros", "not a chunk of this file's streams", "a chunk cut off by the end of the file"}},
      {"mpeg4 with a chunk's size overwritten (the chunk is kept whole, with its size put right)",
       Ffmpeg("-c:v mpeg4 -g 5 -bf 0"),
       [](Bytes& b) {
         const AviWalk walk = WalkAvi(b);
         std::size_t seen = 0;
         for (const auto& e : walk.index)
           if (e.id == "00dc" && e.length % 2 == 0 && ++seen == 10) {
             Put32(b, walk.moviCodeOffset + e.offset + 4, e.length * 3 + 101);
             break;
           }
       },
       false,
       {}},
      {"mjpeg whose headers are gone",
       Ffmpeg("-c:v mjpeg -q:v 3"),
       [](Bytes& b) { std::fill_n(b.begin() + ChunkAt(b, 0), 6000, 0); },
       true,
       {"zeros"}},
      {"mjpeg with its RIFF and 'movi' sizes wrong",
       Ffmpeg("-c:v mjpeg -q:v 3"),
       [](Bytes& b) {
         Put32(b, WalkAvi(b).moviCodeOffset - 4, 0x38373635);
         Put32(b, 4, 0x38373635);
       },
       false,
       {}},
      {"mpeg4 with a run of its chunks written twice",
       Ffmpeg("-c:v mpeg4 -g 5 -bf 0"),
       [](Bytes& b) {
         const Bytes run(b.begin() + ChunkAt(b, 0.3), b.begin() + ChunkAt(b, 0.4));
         b.insert(b.begin() + ChunkAt(b, 0.4), run.begin(), run.end());
       },
       false,
       {},
       true},
      {"h264 cut at 73%",
       Ffmpeg("-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p"),
       [](Bytes& b) { b.resize(b.size() * 73 / 100); },
       false,
       {"a chunk cut off by the end of the file"}},
      {"uncompressed with zeros in the middle",
       Ffmpeg("-c:v rawvideo -pix_fmt bgr24"),
       [](Bytes& b) { std::fill_n(b.begin() + ChunkAt(b, 0.5), 150000, 0); },
       false,
       {"zeros", "not a chunk of this file's streams"}},
      {"avimux mjpeg with garbage between two chunks and no idx1",
       "gst-launch-1.0 -q videotestsrc num-buffers=75 ! video/x-raw,width=160,height=120,"
       "framerate=25/1 ! jpegenc ! avimux name=m ! filesink location=OUT audiotestsrc "
       "num-buffers=66 ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! m.",
       [](Bytes& b) {
         const long at = ChunkAt(b, 0.4);
         b.resize(static_cast<std::size_t>(WalkAvi(b).Find("idx1")->headerOffset));
         Bytes garbage(7001);
         for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = (i * 37 + 11) % 251;
         b.insert(b.begin() + at, garbage.begin(), garbage.end());
       },
       false,
       {"not a chunk of this file's streams"}},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string good = dir.File("good.avi"), bad = dir.File("bad.avi"),
                      out = dir.File("out.avi");
    std::filesystem::remove(out);
    const std::size_t out_at = c.make.find("OUT");
    ASSERT_TRUE(Runs(c.make.substr(0, out_at) + good + c.make.substr(out_at + 3)));
    Bytes damaged = ReadFileBytes(good);
    c.harm(damaged);
    WriteFileBytes(bad, damaged);

    const std::string salvage = kNorvavi + " repair --salvage " + bad + " " + out + " --json";
    if (c.needsReference) {
      EXPECT_EQ(Status(salvage + " 2>&1"), 1) << "no headers and no reference";
      EXPECT_FALSE(std::filesystem::exists(out));
      // It never writes over its input.
      EXPECT_EQ(Status(kNorvavi + " repair --salvage " + bad + " " + bad + " 2>&1"), 2);
      EXPECT_EQ(Status(kNorvavi + " repair --salvage --in-place " + bad + " 2>&1"), 2);
    }
    std::string report;
    ASSERT_EQ(Status(salvage + (c.needsReference ? " --reference " + good : ""), &report), 0)
        << report;
    EXPECT_EQ(ReadFileBytes(bad), damaged) << "the input was touched";
    EXPECT_EQ(VerifyMovie(out), "");
    // Kept runs and dropped ranges tile the input without overlapping; the
    // runs count every chunk kept.
    const auto json = nlohmann::json::parse(report);
    std::vector<std::string> whys;
    std::map<std::uint64_t, std::uint64_t> ranges;  // offset -> end
    std::uint64_t frames = 0, blocks = 0;
    for (const auto& d : json["dropped"]) {
      whys.push_back(d["why"]);
      ranges[d["offset"]] = d["offset"].get<std::uint64_t>() + d["bytes"].get<std::uint64_t>();
    }
    for (const auto& k : json["kept"]) {
      ranges[k["offset"]] = k["offset"].get<std::uint64_t>() + k["bytes"].get<std::uint64_t>();
      frames += k["frames"].get<std::uint64_t>();
      blocks += k["audioBlocks"].get<std::uint64_t>();
    }
    EXPECT_EQ(ranges.size(), json["dropped"].size() + json["kept"].size());
    for (auto it = ranges.begin(); std::next(it) != ranges.end(); ++it)
      EXPECT_LE(it->second, std::next(it)->first) << "ranges overlap at " << it->first;
    EXPECT_EQ(whys, c.dropped) << report;
    EXPECT_EQ(frames, json["streams"][0]["chunks"]);
    EXPECT_EQ(blocks * 2, json["streams"][1]["bytes"]) << "16-bit mono: 2 bytes a block";

    // Every kept frame is one of the original's, in its order, flagged as
    // the original writer flagged it.
    const auto original = VideoChunks(ReadFileBytes(good));
    const Bytes salvaged = ReadFileBytes(out);
    const auto kept = VideoChunks(salvaged);
    ASSERT_GT(kept.size(), original.size() / 2);
    // The headers tell the kept length: players take the duration from them.
    const AviWalk walk = WalkAvi(salvaged);
    EXPECT_EQ(Le32(salvaged, walk.Find("avih")->headerOffset + 8 + 16), kept.size());
    EXPECT_EQ(Le32(salvaged, walk.Find("strh")->headerOffset + 8 + 32), kept.size());
    std::set<std::size_t> found;
    int restarts = 0;
    for (std::size_t i = 0, next = 0; i < kept.size(); ++i) {
      const auto same = [&](const auto& o) { return o.first == kept[i].first; };
      auto at = std::find_if(original.begin() + static_cast<long>(next), original.end(), same);
      if (at == original.end() && ++restarts == 1)
        at = std::find_if(original.begin(), original.end(), same);
      ASSERT_NE(at, original.end()) << "frame " << i << " is not the original's, in its order";
      EXPECT_EQ(kept[i].second, at->second) << "key flag of frame " << i;
      next = static_cast<std::size_t>(at - original.begin()) + 1;
      found.insert(next - 1);
    }
    EXPECT_EQ(restarts, c.repeats ? 1 : 0);
    // Every video chunk still whole in the damaged file is kept.
    std::size_t whole = 0;
    for (const auto& o : original)
      whole += std::search(damaged.begin(), damaged.end(),
                           std::boyer_moore_horspool_searcher(o.first.begin(), o.first.end())) !=
               damaged.end();
    EXPECT_EQ(found.size(), whole);
    EXPECT_EQ(FfprobeFrames(out), static_cast<int>(kept.size()));
  }
}

// Stream lists count where readers take them, inside 'hdrl': a stray one
// beside it is copied as it stands but names no stream.
TEST(Salvage, StreamListsCountInsideHdrlOnly) {
  Bytes b = BuildAvi({{"00db", 9216}, {"01wb", 1764}, {"00db", 9216}});
  const std::size_t strl = 88, hdrlEnd = 20 + Le32(b, 16);
  ASSERT_EQ(FourCC(b, strl + 8), "strl");
  const Bytes stray(b.begin() + strl, b.begin() + static_cast<long>(strl + 8 + Le32(b, strl + 4)));
  b.insert(b.begin() + static_cast<long>(hdrlEnd), stray.begin(), stray.end());
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  const TempDir dir;
  WriteFileBytes(dir.File("in.avi"), b);
  const auto r = norv::cli::SalvageAvi({dir.File("in.avi"), dir.File("out.avi")}, nullptr);
  ASSERT_EQ(r.status, 0) << r.message;
  EXPECT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(VerifyMovie(dir.File("out.avi")), "");
}

}  // namespace
