// norvavi verify, repair and salvage: verify's rules on files built byte by
// byte, other writers' files, exports of the plug-in cut off at random points
// (AVI 1.0 and OpenDML) repaired and decoded, damaged files salvaged, and the
// file replacement the repair writes through.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "plugin/avi/open_dml.h"
#include "tests/support/avi_walk.h"
#include "tests/support/open_dml_fixture.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/test_support.h"
#include "tests/tools/avi_bytes.h"
#include "tests/tools/norvavi_run.h"
#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/avi_salvage.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/odml_index_check.h"
#include "tools/avicheck/replace_file.h"
#include "tools/norvavi/sources/media_decoder.h"

namespace {

using norv::cli::RepairAvi;
using norv::cli::VerifyAvi;
using namespace norv::test;

// What verify finds, in order: each problem's field (an unindexed chunk
// with its message), then each note's.
std::vector<std::string> Findings(const norv::cli::VerifyReport& r) {
  std::vector<std::string> found;
  for (const auto& p : r.problems)
    found.push_back(p.field + (p.field == "idx1" ? ": " + p.message : ""));
  for (const auto& n : r.notes) found.push_back("note " + n.field);
  return found;
}

// Each single fault planted in a sound file is named by its field, and nothing else is.
TEST(Verify, EachPlantedFaultIsNamedAndNothingElse) {
  const Bytes good = BuildAvi(kMovie);
  ASSERT_EQ(Findings(VerifyBytes(good)), std::vector<std::string>{});
  const auto w = WalkAvi(good);
  const std::size_t idx1 = At(good, "idx1") + 8, strh = At(good, "strh") + 8,
                    avih = At(good, "avih") + 8;
  auto at = [&](std::size_t e, std::size_t field) { return idx1 + e * 16 + field; };
  using Change = std::function<void(Bytes&)>;
  auto add = [](std::size_t where, std::int64_t delta) -> Change {
    return [=](Bytes& b) { Put32(b, where, static_cast<std::uint32_t>(Le32(b, where) + delta)); };
  };
  auto set = [](std::size_t where, std::uint32_t value) -> Change {
    return [=](Bytes& b) { Put32(b, where, value); };
  };
  auto listSize = [&](const char* type) { return add(At(good, type) - 4, 1); };
  auto unindexed = [&](std::size_t e) {
    return "idx1: chunk '" + w.index[e].id + "' at " +
           std::to_string(w.moviCodeOffset + w.index[e].offset) + " is not indexed";
  };
  std::vector<std::string> everyId;
  for (std::size_t e = 0; e < w.index.size(); ++e)
    everyId.push_back("idx1 entry " + std::to_string(e) + " id");
  const struct {
    const char* what;
    Change change;
    std::vector<std::string> found;
  } faults[] = {
      {"entry length one more", add(at(3, 12), 1), {"idx1 entry 3 length"}},
      {"entry length one less", add(at(3, 12), -1), {"idx1 entry 3 length"}},
      // The chunk it named is then unindexed too.
      {"entry offset", add(at(3, 8), 2), {"idx1 entry 3 offset", unindexed(3)}},
      // No chunk matches either way of reading the offsets; as the first lies
      // before 'movi' they stay relative to it, and each entry is blamed for its id.
      {"every entry names a stream the file lacks",
       [&](Bytes& b) {
         for (std::size_t e = 0; e < w.index.size(); ++e) std::memcpy(&b[at(e, 0)], "09dc", 4);
       },
       everyId},
      {"key flag on a delta", set(at(3, 4), 0x10), {"idx1 entry 3 flags"}},
      {"key frame without its flag", set(at(1, 4), 0), {"idx1 entry 1 flags"}},
      {"key frame entry named as a delta",
       set(at(1, 0), Le32(good, at(3, 0))),
       {"idx1 entry 1 id"}},
      {"record without the list flag", set(at(0, 4), 0), {"idx1 entry 0 flags"}},
      {"index cut inside its last entry",
       [&](Bytes& b) {
         b.resize(b.size() - 8);
         add(4, -8)(b), add(idx1 - 4, -8)(b);
       },
       {"idx1 size", unindexed(8)}},
      {"stream one chunk short", add(strh + 32, -1), {"stream 0 length"}},
      {"a stream too many", add(avih + 24, 1), {"avih streams"}},
      // One too large: the list then claims a byte that is not its own.
      {"record size", listSize("rec "), {"LIST 'rec ' size", "..."}},
      {"movi size", listSize("movi"), {"LIST 'movi' size", "..."}},
      {"hdrl size", listSize("hdrl"), {"LIST 'hdrl' size", "..."}},
      {"strl size", listSize("strl"), {"LIST 'strl' size", "..."}},
      {"RIFF size", listSize("AVI "), {"RIFF size"}},
      {"a chunk two bytes past its list", add(At(good, "strf") + 4, 2), {"'strf' size"}},
      // Readers stop reading headers at 'movi': the first list holds, the second is named.
      {"a second header list after the index",
       [&](Bytes& b) {
         Insert(b, b.size(), Bytes(good.begin() + 12, good.begin() + w.moviCodeOffset - 8));
       },
       {"LIST 'hdrl'"}},
      {"odd chunk without its pad", [](Bytes& b) { b = BuildAvi(kMovie, false); }, {"pad", "pad"}},
      {"odd chunk ending its form",
       [](Bytes& b) { Insert(b, b.size(), std::string("JUNK\3\0\0\0\1\2\3", 11)); },
       {"pad"}},
      {"unfinished export", set(4, 0), {"RIFF size"}},
      // Another writer's audio header: a sample size of 1 with 4-byte blocks.
      {"audio sample size 1", set(At(good, "auds") + 44, 1), {}},
      {"suggested buffer one short", add(strh + 36, -1), {"note stream 0 suggested buffer size"}},
      // Writers that name every frame '##dc' flag their key frames so.
      {"every frame a '##dc', key frames flagged",
       [](Bytes& b) {
         b = BuildAvi({{"00dc", 10}, {"00dc", 10}});
         for (const std::size_t flags : {12, 28}) Put32(b, At(b, "idx1") + flags, 0x10);
       },
       {}},
  };
  for (const auto& f : faults) {
    Bytes b = good;
    f.change(b);
    const auto report = VerifyBytes(b);
    auto found = Findings(report);
    const std::size_t first = f.found.size() - 1;  // with "...": these first, then anything
    if (!f.found.empty() && f.found.back() == "..." && found.size() > first)
      found.resize(first), found.push_back("...");
    EXPECT_EQ(found, f.found) << f.what << "\n" << norv::cli::FormatReport(report);
  }
}

// How far the audio runs ahead of and behind the video along the file:
// 0.12 s of sound, four frames (0.16 s), then the rest of the sound.
TEST(Verify, SkewFollowsTheChunksInFileOrder) {
  const auto r = VerifyBytes(BuildAvi(
      {{"01wb", 21168}, {"00db", 10}, {"00db", 10}, {"00db", 10}, {"00db", 10}, {"01wb", 7056}}));
  ASSERT_TRUE(r.sound() && r.skewKnown) << norv::cli::FormatReport(r);
  EXPECT_NEAR(r.leadMs, 120.0, 0.01);
  EXPECT_NEAR(r.lagMs, 40.0, 0.01);
}

// Another writer's OpenDML file: ffmpeg's past 1 GiB ('indx', 'ix##', an
// 'AVIX' form), with JUNK and every frame a '00dc'.
TEST(Verify, FfmpegOpenDmlFileIsSound) {
  TempDir dir;
  const std::string path = dir.File("ff.avi");
  ASSERT_TRUE(
      Runs("ffmpeg -v error -y -f lavfi -i color=c=blue:s=1280x720:r=25:d=16 -f lavfi -i "
           "sine=d=16 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " +
           path));
  const auto r = VerifyAvi(path);
  // Its OpenDML main header asks for a 1 MiB buffer, less than a frame.
  EXPECT_EQ(Findings(r), std::vector<std::string>{"note avih suggested buffer size"})
      << norv::cli::FormatReport(r);
  EXPECT_EQ(std::tuple(r.openDml, r.extensionForms, r.streams.at(0).chunks),
            std::tuple(true, 1, 400u));
}

// What the writer leaves on disk when an export stops at byte `cut`: the
// lists still open keep the size 0 they were created with.
Bytes CutOff(const Bytes& full, std::size_t cut) {
  Bytes b(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  for (const auto& c : WalkAvi(full).chunks)
    if ((c.id == "RIFF" || c.id == "LIST") && c.headerOffset + 8 <= cut &&
        cut < c.headerOffset + 8 + c.size)
      Put32(b, c.headerOffset + 4, 0);
  return b;
}

struct Decoded {
  std::vector<std::string> frames;  // each decoded picture's bytes
  std::string audio;                // the decoded audio bytes
};

// Decoded by libavformat and libavcodec, in this process: a hundred cuts
// would otherwise spend their time starting ffmpeg.
Decoded Decode(const std::string& path) {
  Decoded d;
  AVFrame* frame = av_frame_alloc();
  std::string error;
  norv::cli::MediaDecoder video, audio;
  EXPECT_TRUE(video.Open(path, AVMEDIA_TYPE_VIDEO, &error)) << error;
  while (video.Next(frame)) {
    std::string picture;
    for (int y = 0; y < frame->height; ++y)
      picture.append(reinterpret_cast<const char*>(frame->data[0] + y * frame->linesize[0]),
                     static_cast<std::size_t>(frame->width) * 3);
    d.frames.push_back(picture);
  }
  if (audio.Open(path, AVMEDIA_TYPE_AUDIO, &error))
    while (audio.Next(frame))
      d.audio.append(reinterpret_cast<const char*>(frame->data[0]),
                     static_cast<std::size_t>(frame->nb_samples) * frame->ch_layout.nb_channels *
                         av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format)));
  av_frame_free(&frame);
  return d;
}

class CutExports : public ::testing::TestWithParam<int> {};

// A hundred cuts after the headers: each repairs into a file that verify
// accepts and from which ffmpeg decodes every whole frame and audio chunk
// before the cut, exactly as from the whole movie.
TEST_P(CutExports, RepairKeepsEveryWholeChunkBeforeTheCut) {
  TempDir dir;
  const std::string movie = dir.File("m.avi");
  ASSERT_TRUE(Runs(kNorvavi + " make -q " + movie +
                   " --set width=32 --set height=32 --duration 2 --set keyFrameEvery=4 "
                   "--set interleaveFrames=" +
                   std::to_string(GetParam())));
  const Bytes full = ReadFileBytes(movie);
  const auto made = VerifyAvi(movie);
  EXPECT_TRUE(made.sound()) << norv::cli::FormatReport(made);
  EXPECT_GT(made.leadMs, 0.0) << "the audio starts ahead";
  const Decoded whole = Decode(movie);
  ASSERT_EQ(whole.frames.size(), 50u);
  ASSERT_EQ(whole.audio.size(), 2u * 44100 * 4);

  // The items one level inside 'hdrl' and 'movi', with what each holds.
  struct Item {
    std::size_t end, frames, audioBytes;
  };
  std::vector<Item> items;
  const auto w = WalkAvi(full);
  const auto* movi = w.Find("LIST", "movi");
  for (const auto& c : w.chunks) {
    if (c.depth <= movi->depth) continue;
    if (c.depth == movi->depth + 1) items.push_back({c.headerOffset + 8 + c.size, 0, 0});
    items.back().frames += c.id.substr(2) == "dc" || c.id.substr(2) == "db";
    if (c.id == "01wb") items.back().audioBytes += c.size;
  }
  ASSERT_GT(items.size(), 10u);

  std::mt19937 rng(1234 + GetParam());
  std::uniform_int_distribution<std::size_t> where(items[0].end, full.size() - 1);
  const std::string cut = dir.File("cut.avi"), fixed = dir.File("fixed.avi");
  for (int n = 0; n < 100; ++n) {
    const std::size_t at = where(rng);
    SCOPED_TRACE("cut at " + std::to_string(at));
    WriteFileBytes(cut, CutOff(full, at));
    const auto result = RepairAvi({cut, fixed, false});
    ASSERT_EQ(result.status, 0) << result.message;
    std::size_t frames = 0, audioBytes = 0;
    for (const Item& item : items)
      if (item.end <= at) frames += item.frames, audioBytes += item.audioBytes;
    EXPECT_EQ(std::pair(result.videoFrames, result.audioBytes), std::pair(frames, audioBytes));
    const auto report = VerifyAvi(fixed);
    ASSERT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    const Decoded got = Decode(fixed);
    ASSERT_EQ(got.frames.size(), frames);
    EXPECT_TRUE(std::equal(got.frames.begin(), got.frames.end(), whole.frames.begin()));
    ASSERT_EQ(got.audio.size(), audioBytes);
    EXPECT_EQ(got.audio, whole.audio.substr(0, audioBytes));
  }
}

INSTANTIATE_TEST_SUITE_P(Interleave, CutExports, ::testing::Values(1, 30));

// Repair never makes a file worse: what it does not understand it refuses,
// writing nothing and leaving the input as it was. The torn ends the writer
// can leave it finishes: an odd chunk whose pad byte never landed, a tail of
// zeros (space the file system gave but nothing filled), and with another
// writer's audio header, whose sample size is not its block size, the length
// still counts blocks. What the repair fuzz target found
// (fuzz/corpus/avi_repair/finding-*) is refused or repaired as reported.
TEST(Repair, FinishesTornEndsAndRefusesWhatItDoesNotUnderstand) {
  TempDir dir;
  const Bytes good = BuildAvi(kMovie);
  const Bytes cut = CutOff(good, At(good, "idx1"));  // the index never written
  auto changed = [&](std::size_t at, const char* to) {
    Bytes b = cut;
    std::memcpy(&b[at], to, 4);
    return b;
  };
  Bytes overrun = cut, streams = cut, other = cut, otherFixed = good;
  const std::size_t lastStream = At(good, "strl", 2) - 4;  // its size
  Put32(overrun, lastStream, Le32(good, lastStream) + 64);
  Put32(streams, At(good, "avih") + 8 + 24, 3);
  Put32(other, At(good, "auds") + 44, 1);
  Put32(otherFixed, At(good, "auds") + 44, 1);
  const std::size_t dataEnd = At(good, "00dc") + 8 + 51;  // the odd '00dc'
  Bytes zeroed = CutOff(good, dataEnd + 1);
  zeroed.resize(zeroed.size() + 4096, 0);
  // What a whole file would hold, indexed as the repair indexes: only whole
  // pictures flagged as key frames.
  auto asRepaired = [](Bytes b) {
    for (std::size_t e = At(b, "idx1") + 8; e < b.size(); e += 16)
      if (FourCC(b, e) == "01wb") Put32(b, e + 4, 0);
    return b;
  };
  // The chunks kept, their pad restored, then the index.
  const Bytes padded = asRepaired(BuildAvi({kMovie.begin(), kMovie.begin() + 4}));
  struct Case {
    std::string what;
    Bytes bytes;
    std::string refused;  // why; "" when repaired into `fixed`; "?" either way
    Bytes fixed;
    std::uint64_t dropped = 0;
  };
  std::vector<Case> cases = {
      {"finished", good, "the file is finished"},
      {"cut in the headers", Bytes(good.begin(), good.begin() + 200), "the headers are cut off"},
      {"not an AVI", ReadFileBytes(std::string(NORV_SOURCE_DIR) + "/README.md"),
       "not a RIFF 'AVI '"},
      // Another writer's stream name, a chunk this plug-in never writes.
      {"stream name", changed(At(good, "strf"), "strn"), "a layout this plug-in does not write"},
      {"unknown chunk", changed(At(good, "movi") + 4, "zzzz"), "unrecognised chunk 'zzzz'"},
      // Headers the repair copies as they stand, wrong in ways verify names.
      {"strl overrun", overrun, "the finished file would still not be sound: LIST 'strl' size"},
      {"a stream too many", streams, "the finished file would still not be sound: avih streams"},
      {"pad never landed", CutOff(good, dataEnd), "", padded},
      {"zeroed tail", zeroed, "", padded, 4096},
      {"another writer's audio header", other, "", asRepaired(otherFixed)},
  };
  for (const auto& entry : std::filesystem::directory_iterator(std::string(NORV_SOURCE_DIR) +
                                                               "/fuzz/corpus/avi_repair"))
    if (entry.path().filename().string().rfind("finding-", 0) == 0)
      cases.push_back(
          {entry.path().filename().string(), ReadFileBytes(entry.path().string()), "?"});
  ASSERT_GE(cases.size(), 13u) << "the fuzz findings";
  const std::string in = dir.File("in.avi"), out = dir.File("out.avi");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(in, c.bytes);
    std::filesystem::remove(out);
    const auto result = RepairAvi({in, out, false});
    EXPECT_EQ(ReadFileBytes(in), c.bytes);
    EXPECT_TRUE(c.refused == "?" || (result.status != 0) == !c.refused.empty()) << result.message;
    if (result.status != 0) {
      EXPECT_EQ(std::pair(result.status, std::filesystem::exists(out)), std::pair(1, false));
      const std::string why = c.refused == "?" ? "" : c.refused;
      EXPECT_NE(result.message.find("nothing changed: " + why), std::string::npos)
          << result.message;
      continue;
    }
    const auto report = VerifyAvi(out);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    EXPECT_EQ(result.videoFrames, report.totalFrames) << result.message;
    std::uint64_t chunks = 0;
    for (const auto& s : report.streams) chunks += s.chunks;
    EXPECT_EQ(result.chunksKept, chunks) << result.message;
    if (!c.fixed.empty()) {
      EXPECT_EQ(ReadFileBytes(out), c.fixed);
      EXPECT_EQ(std::pair(result.bytesDropped, result.audioBytes),
                std::pair(c.dropped, report.streams.at(1).bytes));
    }
  }
  // The command refuses as the library does, and never writes over its input.
  WriteFileBytes(in, good);
  std::string err;
  EXPECT_EQ(Status(kNorvavi + " repair " + in + " " + out + " 2>&1", &err), 1);
  EXPECT_NE(err.find("nothing changed: the file is finished"), std::string::npos) << err;
  EXPECT_EQ(Status(kNorvavi + " repair " + in + " " + in + " 2>/dev/null"), 2);
  EXPECT_EQ(Status(kNorvavi + " repair " + in + " 2>/dev/null"), 2);
}

constexpr int kWidth = 64, kHeight = 48;

// Frame i of the pattern as a decoder shows it: top row first, where the
// pattern keeps its rows bottom first.
std::string Upright(std::uint32_t i) {
  const auto f = PatternFrame(kWidth, kHeight, i);
  std::string picture;
  for (int y = kHeight - 1; y >= 0; --y)
    picture.append(reinterpret_cast<const char*>(f.data()) + kWidth * 3 * y, kWidth * 3);
  return picture;
}

// The OpenDML indexes of `path` checked on their own, against the streams
// verify counted.
norv::cli::OpenDmlIndexSummary IndexesOf(const std::string& path,
                                         const norv::cli::VerifyReport& report) {
  norv::cli::FileReader file;
  std::string error;
  EXPECT_TRUE(file.Open(path, &error)) << error;
  norv::cli::VerifyReport fresh;
  fresh.streams = report.streams;
  const auto summary = norv::cli::CheckOpenDmlIndexes(file, fresh);
  EXPECT_EQ(std::tuple(fresh.problemCount, summary.superIndexes, summary.entries),
            std::tuple(0u, 2, report.streams[0].chunks + report.streams[1].chunks));
  return summary;
}

class OpenDml : public OpenDmlTest {
 protected:
  void SetUp() override {
    OpenDmlTest::SetUp();
    SetFields(setup.settings, "interleave 1; audio 1 1 16/22050/1");
    setup.settings.width = kWidth;
    setup.settings.height = kHeight;
    setup.SetSpan(0, 1600);  // 40 frames
    formBytes = 64 * 1024;
  }

  // The file an export of 40 frames leaves, stopped after `frames`.
  Bytes Make(std::uint32_t frames, bool finish) {
    EXPECT_EQ(Export(frames, finish), std::vector<int>(frames, 0));
    return ReadFileBytes(setup.path);
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
    const std::uint64_t frames = report.streams.at(0).chunks, audioBytes = report.streams[1].bytes;
    EXPECT_EQ(std::tuple(report.streams[0].length, report.streams[1].length),
              std::tuple(frames, audioBytes / 2));
    EXPECT_TRUE(report.extensionForms != 0 || report.totalFrames == frames)
        << "the main header counts the frames";
    ExpectDecodes(fixed, frames, audioBytes);
  }

  // What ffmpeg's libraries decode: the first `frames` pictures and
  // `audioBytes` of the sound that went in.
  void ExpectDecodes(const std::string& path, std::uint64_t frames, std::uint64_t audioBytes) {
    const Decoded got = Decode(path);
    ASSERT_EQ(got.frames.size(), frames);
    for (std::uint32_t i = 0; i < frames; ++i)
      EXPECT_EQ(got.frames[i], Upright(i)) << "frame " << i;
    EXPECT_EQ(got.audio, std::string(audio.begin(), audio.begin() + static_cast<long>(audioBytes)));
  }
};

TEST_F(OpenDml, EveryChunkOfEveryFormIsIndexedOnceAndPlantedFaultsAreNamed) {
  const Bytes good = Make(40, true);
  const auto report = VerifyAvi(setup.path);
  EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
  ASSERT_GE(report.extensionForms, 4);
  ExpectDecodes(setup.path, 40, audio.size());
  const auto summary = IndexesOf(setup.path, report);
  // One per form for the video; the audio ends before the video does.
  const auto forms = 1u + static_cast<unsigned>(report.extensionForms);
  EXPECT_GT(summary.standardIndexes, forms);
  EXPECT_LE(summary.standardIndexes, 2 * forms);

  const std::size_t indx = At(good, "indx");          // the video stream's
  const std::size_t ix = Le32(good, indx + 32 + 16);  // the second form's
  ASSERT_EQ(FourCC(good, ix), "ix00");
  ASSERT_GE(Le32(good, ix + 12), 2u);
  const std::size_t entry = ix + 32 + 8;  // the form's second frame
  std::size_t whole = 0;                  // and its first whole picture, '00db'
  for (std::size_t e = ix + 32; e < ix + 32 + 8 * Le32(good, ix + 12) && whole == 0; e += 8)
    if (FourCC(good, Le32(good, ix + 20) + Le32(good, e) - 8) == "00db") whole = e;
  ASSERT_NE(whole, 0u);
  const struct {
    const char* what;
    std::size_t at;
    std::uint64_t value;  // above 32 bits: the next word too
    std::string field;
  } faults[] = {
      {"entry offset", entry, Le32(good, entry) + 2, "ix00"},
      {"entry size", entry + 4, Le32(good, entry + 4) - 1, "ix00"},
      {"entry key bit", entry + 4, Le32(good, entry + 4) ^ 0x80000000u, "ix00"},
      {"entry key bit of a whole picture", whole + 4, Le32(good, whole + 4) | 0x80000000u, "ix00"},
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
    const auto problems = Findings(VerifyBytes(bad));
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
  formBytes = kOpenDmlRiffBytes;
  const Bytes early = Make(10, false);
  ASSERT_EQ(Le32(early, 4), 0u);
  ExpectRepaired(early, "cut in the first form");
  ExpectRepaired(Bytes(early.begin(), early.end() - 100), "torn in the first form");
  // Headers it would write past, or could not walk: refused before it writes.
  Bytes overrun = early, unreadable = early;
  Put32(overrun, At(early, "JUNK", 2) + 4, 8192);  // the audio room, past its stream list
  Put32(unreadable, At(early, "strf"), 0);
  // And a finished movie is not touched.
  for (const auto& [bytes, why] : {std::pair{overrun, "a header chunk (at 4456) is unreadable"},
                                   {unreadable, "a header chunk (at 172) is unreadable"},
                                   {Make(3, true), "the file is finished"}}) {
    WriteFileBytes(host.dir().File("in.avi"), bytes);
    const auto refused = norv::cli::RepairAvi({host.dir().File("in.avi"), "", true});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.message.find(std::string("nothing changed: ") + why), std::string::npos)
        << refused.message;
    EXPECT_EQ(ReadFileBytes(host.dir().File("in.avi")), bytes);
  }
}

// A damaged OpenDML file salvaged into OpenDML again: forms, standard and
// super indexes rebuilt for what was kept, every kept picture one of the
// export's in its order, and the key flags as the plug-in named its chunks.
TEST_F(OpenDml, SalvageWritesFormsAndIndexesForWhatWasKept) {
  Bytes damaged = Make(40, true);
  // Garbage over two frames and more, from a video chunk's header on.
  const char* id = "00d";
  const auto garbage = std::search(damaged.begin() + static_cast<long>(damaged.size() / 3),
                                   damaged.end(), id, id + 3);
  std::fill_n(garbage, 20000, 0xA7);
  damaged.resize(damaged.size() * 9 / 10);
  const std::string in = host.dir().File("damaged.avi"), out = host.dir().File("salvaged.avi");
  WriteFileBytes(in, damaged);
  for (const std::uint64_t form : {formBytes, kOpenDmlRiffBytes}) {
    SCOPED_TRACE(form);
    std::filesystem::remove(out);
    const auto salvaged = norv::cli::SalvageAvi({in, out, "", form}, nullptr);
    ASSERT_EQ(salvaged.status, 0) << salvaged.message;
    const auto report = VerifyAvi(out);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    EXPECT_EQ(report.extensionForms > 3, form == formBytes);
    EXPECT_EQ(report.totalFrames, report.streams[0].chunksInFirstForm);
    IndexesOf(out, report);

    const Decoded got = Decode(out);
    ASSERT_GT(got.frames.size(), 20u);
    ASSERT_LT(got.frames.size(), 38u);
    std::uint32_t next = 0, keys = 0;
    for (const std::string& picture : got.frames) {
      while (next < 40 && Upright(next) != picture) ++next;
      ASSERT_LT(next, 40u) << "a picture the export did not hold";
      keys += ++next % 4 == 0 ? 1 : 0;
    }
    EXPECT_EQ(salvaged.streams[0].keyFrames, keys);
  }

  // A form per chunk, 257 of them: more than the super indexes have room
  // for, so the copy is AVI 1.0 in one form.
  setup.SetSpan(0, 257 * 40);
  WriteFileBytes(in, Make(257, true));
  std::filesystem::remove(out);
  const auto salvaged = norv::cli::SalvageAvi({in, out, "", 1}, nullptr);
  ASSERT_EQ(salvaged.status, 0) << salvaged.message;
  const auto report = VerifyAvi(out);
  EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
  EXPECT_EQ(std::tuple(report.extensionForms, report.streams[0].chunks), std::tuple(0, 257u));
}

// `norvavi make --opendml` turns the profile key on for that one movie and
// leaves the profile saying what it said before.
TEST(NorvaviOpenDml, TheOptionHoldsForOneMovie) {
  TempDir dir;
  const std::string profile = dir.File("profile.ini");
  for (const std::string options : {" --opendml", ""}) {
    const std::string movie = dir.File("m" + std::to_string(options.size()) + ".avi");
    EXPECT_TRUE(Runs(kNorvavi + " make -q " + movie +
                     " --duration 1 --set width=32 --set height=32 --profile " + profile +
                     options));
    const auto report = VerifyAvi(movie);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    EXPECT_EQ(report.openDml, !options.empty()) << "the option did not stay in the profile";
  }
  EXPECT_EQ(RunCommand("grep -i '^OpenDML=' " + profile), "OpenDML=0\n");
}

// ReplaceFile: the target changes only on Commit, and the copy beside it
// goes on every way out.
TEST(ReplaceFile, ReplacesOnCommitOnlyAndLeavesNothingBehind) {
  TempDir dir;
  const std::string target = dir.File("movie.avi");
  const Bytes old = {'o', 'l', 'd'}, replaced = {'n', 'e', 'w'};
  std::string error;
  // Given up while open, given up once closed, committed.
  for (int wayOut = 0; wayOut < 3; ++wayOut) {
    SCOPED_TRACE(wayOut);
    WriteFileBytes(target, old);
    {
      norv::cli::ReplaceFile file(target);
      ASSERT_TRUE(file.Create(0640, &error)) << error;
      EXPECT_EQ(std::filesystem::path(file.path()).parent_path(), dir.path());
      ASSERT_EQ(::write(file.fd(), replaced.data(), replaced.size()), 3);
      EXPECT_TRUE(wayOut < 1 || file.Close(&error)) << error;
      EXPECT_TRUE(wayOut < 2 || file.Commit(&error)) << error;
    }
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"movie.avi"});
    EXPECT_EQ(ReadFileBytes(target), wayOut == 2 ? replaced : old);
  }
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0640));

  norv::cli::ReplaceFile open(target);
  ASSERT_TRUE(open.Create(0600, &error));
  EXPECT_FALSE(open.Commit(&error)) << "a copy still open is not whole";
  norv::cli::ReplaceFile nowhere(dir.File("missing/movie.avi"));
  EXPECT_FALSE(nowhere.Create(0600, &error));
  EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
}

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

using Harm = std::function<void(Bytes&)>;

struct Damage {
  const char* name;
  std::string make;  // writes the original to OUT
  std::vector<Harm> harms;
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

Harm CutTo(std::size_t percent) {
  return [=](Bytes& b) { b.resize(b.size() * percent / 100); };
}

Harm ZerosAt(double from, long count) {
  return [=](Bytes& b) { std::fill_n(b.begin() + ChunkAt(b, from), count, 0); };
}

// The tenth even-sized video chunk's size overwritten.
void OverwriteASize(Bytes& b) {
  const AviWalk walk = WalkAvi(b);
  std::size_t seen = 0;
  for (const auto& e : walk.index)
    if (e.id == "00dc" && e.length % 2 == 0 && ++seen == 10)
      return Put32(b, walk.moviCodeOffset + e.offset + 4, e.length * 3 + 101);
}

void BreakRiffAndMoviSizes(Bytes& b) {
  Put32(b, WalkAvi(b).moviCodeOffset - 4, 0x38373635);
  Put32(b, 4, 0x38373635);
}

void RepeatARun(Bytes& b) {
  const Bytes run(b.begin() + ChunkAt(b, 0.3), b.begin() + ChunkAt(b, 0.4));
  b.insert(b.begin() + ChunkAt(b, 0.4), run.begin(), run.end());
}

// No idx1, and garbage between two chunks.
void DropIndexAddGarbage(Bytes& b) {
  const long at = ChunkAt(b, 0.4);
  b.resize(static_cast<std::size_t>(WalkAvi(b).Find("idx1")->headerOffset));
  Bytes garbage(7001);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = (i * 37 + 11) % 251;
  b.insert(b.begin() + at, garbage.begin(), garbage.end());
}

// A copy of the first stream list beside 'hdrl', where readers do not take it.
void AddAStrayStreamList(Bytes& b) {
  const std::size_t strl = At(b, "strl") - 8, end = strl + 8 + Le32(b, strl + 4);
  Insert(b, At(b, "movi") - 8,
         Bytes(b.begin() + static_cast<long>(strl), b.begin() + static_cast<long>(end)));
}

// repair --salvage on files other writers made (ffmpeg: INFO and
// JUNK before 'movi'; GStreamer's avimux: MJPEG as '00db', the audio header
// last), damaged the ways files are found: cut short, zeros and garbage in
// the middle (zeros as a lost run of sectors leaves them), the index or the
// headers gone, a stream list out of place. Each salvage must leave its
// input as it was, pass verify, keep only chunks the original holds (in
// order), flag key frames as the original writer did, and decode with ffmpeg.
TEST(Salvage, RescuesOtherWritersFilesDamagedTheUsualWays) {
  const TempDir dir;
  const std::string mjpeg = Ffmpeg("-c:v mjpeg -q:v 3"), mpeg4 = Ffmpeg("-c:v mpeg4 -g 5 -bf 0");
  const std::string h264 = Ffmpeg("-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p"),
                    raw = Ffmpeg("-c:v rawvideo -pix_fmt bgr24");
  const std::string avimux =
      "gst-launch-1.0 -q videotestsrc num-buffers=75 ! video/x-raw,width=160,height=120,"
      "framerate=25/1 ! jpegenc ! avimux name=m ! filesink location=OUT audiotestsrc "
      "num-buffers=66 ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! m.";
  const std::string cut = "a chunk cut off by the end of the file",
                    foreign = "not a chunk of this file's streams";
  const std::vector<Damage> cases = {
      {"mjpeg cut at 60%", mjpeg, {CutTo(60)}, false, {cut}},
      {"mpeg4, zeros, cut", mpeg4, {ZerosAt(0.3, 3000), CutTo(90)}, false, {"zeros", foreign, cut}},
      // The chunk is kept whole, with its size put right.
      {"mpeg4 with a chunk's size overwritten", mpeg4, {OverwriteASize}, false, {}},
      {"mjpeg whose headers are gone", mjpeg, {ZerosAt(0, 6000)}, true, {"zeros"}},
      {"mjpeg with its RIFF and 'movi' sizes wrong", mjpeg, {BreakRiffAndMoviSizes}, false, {}},
      {"mpeg4 with a run of its chunks written twice", mpeg4, {RepeatARun}, false, {}, true},
      {"h264 cut at 73%", h264, {CutTo(73)}, false, {cut}},
      {"uncompressed, zeros in the middle", raw, {ZerosAt(0.5, 150000)}, false, {"zeros", foreign}},
      {"avimux, garbage, no idx1", avimux, {DropIndexAddGarbage}, false, {foreign}},
      // Copied as it stands, naming no stream.
      {"mjpeg with a stream list beside 'hdrl'", mjpeg, {AddAStrayStreamList}, false, {}},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string good = dir.File("good.avi"), bad = dir.File("bad.avi"),
                      out = dir.File("out.avi");
    std::filesystem::remove(out);
    const std::size_t out_at = c.make.find("OUT");
    ASSERT_TRUE(Runs(c.make.substr(0, out_at) + good + c.make.substr(out_at + 3)));
    Bytes damaged = ReadFileBytes(good);
    for (const Harm& harm : c.harms) harm(damaged);
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
    for (const char* kind : {"dropped", "kept"})
      for (const auto& r : json[kind])
        ranges[r["offset"]] = r["offset"].get<std::uint64_t>() + r["bytes"].get<std::uint64_t>();
    for (const auto& d : json["dropped"]) whys.push_back(d["why"]);
    for (const auto& k : json["kept"]) {
      frames += k["frames"].get<std::uint64_t>();
      blocks += k["audioBlocks"].get<std::uint64_t>();
    }
    EXPECT_EQ(ranges.size(), json["dropped"].size() + json["kept"].size());
    for (auto it = ranges.begin(); std::next(it) != ranges.end(); ++it)
      EXPECT_LE(it->second, std::next(it)->first) << "ranges overlap at " << it->first;
    EXPECT_EQ(whys, c.dropped) << report;
    EXPECT_EQ(json["streams"].size(), 2u);
    EXPECT_EQ(frames, json["streams"][0]["chunks"]);
    EXPECT_EQ(blocks * 2, json["streams"][1]["bytes"]) << "16-bit mono: 2 bytes a block";

    // Every kept frame is one of the original's, in its order, flagged as
    // the original writer flagged it.
    const auto original = VideoChunks(ReadFileBytes(good));
    const Bytes salvaged = ReadFileBytes(out);
    const auto kept = VideoChunks(salvaged);
    ASSERT_GT(kept.size(), original.size() / 2);
    // The headers tell the kept length: players take the duration from them.
    EXPECT_EQ(Le32(salvaged, At(salvaged, "avih") + 8 + 16), kept.size());
    EXPECT_EQ(Le32(salvaged, At(salvaged, "strh") + 8 + 32), kept.size());
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

}  // namespace
