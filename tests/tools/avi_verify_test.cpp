// norvavi verify and repair: movies from the plug-in and from ffmpeg,
// single-field mutations, and exports cut off at random points.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "tests/support/avi_walk.h"
#include "tests/support/test_support.h"
#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/norvavi/sources/media_decoder.h"

namespace {

using norv::cli::RepairAvi;
using norv::cli::VerifyAvi;
using norv::test::FourCC;
using norv::test::Le32;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::TempDir;
using norv::test::WalkAvi;
using norv::test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

const std::string kNorvavi = std::string(NORV_BUILD_DIR) + "/norvavi";

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// A small movie with a tone, through the plug-in as a user makes it.
std::string MakeMovie(const TempDir& dir, const std::string& name, const std::string& sets) {
  const std::string path = dir.File(name);
  int status = 0;
  RunCommand(kNorvavi + " make -q " + path + " --set width=32 --set height=32" + sets, &status);
  EXPECT_EQ(status, 0);
  return path;
}

// Where the audio stream's 'strh' data starts; 0 when there is none.
std::size_t AudioHeader(const Bytes& b) {
  for (const auto& c : WalkAvi(b).chunks)
    if (c.id == "strh" && FourCC(b, c.headerOffset + 8) == "auds") return c.headerOffset + 8;
  return 0;
}

// The fields of the problems verify finds, in order.
std::vector<std::string> Fields(const std::vector<norv::cli::VerifyFinding>& findings) {
  std::vector<std::string> fields;
  for (const auto& f : findings) fields.push_back(f.field);
  return fields;
}
std::vector<std::string> ProblemFields(const std::string& path) {
  return Fields(VerifyAvi(path).problems);
}
std::vector<std::string> NoteFields(const std::string& path) {
  return Fields(VerifyAvi(path).notes);
}

TEST(Verify, FfmpegFilesWithJunkAndAbsoluteOffsetsAreSound) {
  TempDir dir;
  const std::string path = dir.File("ff.avi");
  int status = 0;
  RunCommand(
      "ffmpeg -v error -f lavfi -i testsrc2=d=2:s=64x48 -f lavfi -i sine=d=2 "
      "-c:v rawvideo -c:a pcm_s16le " +
          path,
      &status);
  ASSERT_EQ(status, 0);
  auto r = VerifyAvi(path);
  EXPECT_TRUE(r.sound()) << norv::cli::FormatReport(r);
  EXPECT_TRUE(r.notes.empty()) << norv::cli::FormatReport(r);
  EXPECT_FALSE(r.indexAbsolute);
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[0].chunks, 50u);

  // The same index with offsets from the start of the file, as some writers do.
  Bytes b = ReadFileBytes(path);
  const auto w = WalkAvi(b);
  const auto* idx1 = w.Find("idx1");
  ASSERT_NE(idx1, nullptr);
  for (std::size_t e = idx1->headerOffset + 8; e < idx1->headerOffset + 8 + idx1->size; e += 16)
    Put32(b, e + 8, Le32(b, e + 8) + w.moviCodeOffset);
  WriteFileBytes(path, b);
  r = VerifyAvi(path);
  EXPECT_TRUE(r.sound()) << norv::cli::FormatReport(r);
  EXPECT_TRUE(r.indexAbsolute);
}

// Past 1 GiB ffmpeg goes OpenDML: 'indx', 'odml', 'ix##' and an 'AVIX' form.
TEST(Verify, FfmpegOpenDmlFileIsSound) {
  TempDir dir;
  const std::string path = dir.File("big.avi");
  int status = 0;
  RunCommand(
      "ffmpeg -v error -f lavfi -i color=c=blue:s=1280x720:r=25:d=16 -f lavfi -i sine=d=16 "
      "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " +
          path,
      &status);
  ASSERT_EQ(status, 0);
  const auto r = VerifyAvi(path);
  EXPECT_TRUE(r.sound()) << norv::cli::FormatReport(r);
  EXPECT_TRUE(r.openDml);
  EXPECT_GE(r.extensionForms, 1);
  EXPECT_EQ(r.streams.at(0).chunks, 400u);
  std::filesystem::remove(path);
}

// Each single-field fault is reported, by the field's name, and nothing else is.
TEST(Verify, SingleFieldMutationsAreNamed) {
  TempDir dir;
  const std::string movie =
      MakeMovie(dir, "m.avi", " --duration 1 --set interleaveFrames=1 --set keyFrameEvery=3");
  const Bytes good = ReadFileBytes(movie);
  ASSERT_TRUE(VerifyAvi(movie).sound());
  const auto w = WalkAvi(good);
  const std::size_t idx1 = w.Find("idx1")->headerOffset + 8;
  auto entry = [&](const std::string& id) {
    for (std::size_t i = 0; i < w.index.size(); ++i)
      if (w.index[i].id == id) return i;
    ADD_FAILURE() << "no " << id;
    return std::size_t{0};
  };
  const std::size_t key = entry("00db"), delta = entry("00dc");
  const std::string mutated = dir.File("x.avi");
  // `only`: no other field is blamed (a missing pad makes its lists odd as well).
  auto expect = [&](const Bytes& b, const std::string& field, bool only) {
    WriteFileBytes(mutated, b);
    const auto fields = ProblemFields(mutated);
    ASSERT_FALSE(fields.empty()) << field;
    EXPECT_EQ(fields[0], field);
    if (only) {
      EXPECT_EQ(std::count(fields.begin(), fields.end(), field), std::ssize(fields))
          << norv::cli::FormatReport(VerifyAvi(mutated));
    }
  };
  auto at = [&](std::size_t e, std::size_t field) { return idx1 + e * 16 + field; };
  const std::string name = "idx1 entry " + std::to_string(delta) + " ";

  // One 32-bit word changed, and only `field` blamed.
  auto word = [&](std::size_t where, std::uint32_t value, const std::string& field) {
    Bytes changed = good;
    Put32(changed, where, value);
    expect(changed, field, true);
  };
  word(at(delta, 12), Le32(good, at(delta, 12)) + 1, name + "length");
  word(at(delta, 12), Le32(good, at(delta, 12)) - 1, name + "length");
  Bytes b = good;
  Put32(b, at(delta, 8), Le32(b, at(delta, 8)) + 2);
  WriteFileBytes(mutated, b);
  {
    // The chunk it named is then unindexed too, and listed by its place.
    const auto report = VerifyAvi(mutated);
    EXPECT_EQ(Fields(report.problems), (std::vector<std::string>{name + "offset", "idx1"}));
    const std::size_t unindexed = w.moviCodeOffset + w.index[delta].offset;
    if (report.problems.size() == 2) {
      EXPECT_EQ(report.problems[1].message,
                "chunk '00dc' at " + std::to_string(unindexed) + " is not indexed");
    }
  }
  // Every entry names a stream the file lacks: no chunk matches either way
  // of reading the offsets, and as the first offset lies before 'movi' they
  // stay relative to it, so each entry is blamed for its id, not its offset.
  b = good;
  for (std::size_t e = 0; e < w.index.size(); ++e) std::memcpy(&b[at(e, 0)], "09dc", 4);
  WriteFileBytes(mutated, b);
  {
    const auto report = VerifyAvi(mutated);
    EXPECT_EQ(report.problemCount, w.index.size());
    std::vector<std::string> ids;  // of the problems kept
    for (std::size_t e = 0; e < std::min(report.problems.size(), w.index.size()); ++e)
      ids.push_back("idx1 entry " + std::to_string(e) + " id");
    EXPECT_EQ(Fields(report.problems), ids);
  }
  word(at(delta, 4), 0x10, name + "flags");
  word(at(key, 4), 0, "idx1 entry " + std::to_string(key) + " flags");
  word(at(key, 0), Le32(good, at(delta, 0)), "idx1 entry " + std::to_string(key) + " id");
  const std::size_t record = entry("rec ");
  word(at(record, 4), 0, "idx1 entry " + std::to_string(record) + " flags");
  // Half an entry at the end: the index is cut inside its last entry.
  b = good;
  b.resize(b.size() - 8);
  Put32(b, 4, Le32(b, 4) - 8);
  Put32(b, idx1 - 4, Le32(b, idx1 - 4) - 8);
  expect(b, "idx1 size", false);  // the last chunk is then unindexed too
  // Header counts: a stream one chunk short, a stream too many.
  const std::size_t strh = w.Find("strh")->headerOffset + 8;
  word(strh + 32, Le32(good, strh + 32) - 1, "stream 0 length");
  word(32 + 24, Le32(good, 32 + 24) + 1, "avih streams");

  // One too large: the list then claims a byte that is not its own.
  for (const auto& [id, type, field] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"LIST", "rec ", "LIST 'rec ' size"},
           {"LIST", "movi", "LIST 'movi' size"},
           {"LIST", "hdrl", "LIST 'hdrl' size"},
           {"LIST", "strl", "LIST 'strl' size"},
           {"RIFF", "AVI ", "RIFF size"}}) {
    b = good;
    const std::size_t list = w.Find(id, type)->headerOffset;
    Put32(b, list + 4, Le32(b, list + 4) + 1);
    expect(b, field, false);
  }

  // A second header list after the index, announcing other streams: readers
  // stop reading headers at 'movi', so the first one holds and this one is
  // named, not counted.
  b = good;
  const auto* hdrl = w.Find("LIST", "hdrl");
  Bytes second(good.begin() + hdrl->headerOffset,
               good.begin() + hdrl->headerOffset + 8 + hdrl->size);
  Put32(second, w.Find("avih")->headerOffset - hdrl->headerOffset + 8 + 24, 7);
  b.insert(b.end(), second.begin(), second.end());
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  expect(b, "LIST 'hdrl'", true);

  // An odd chunk without its pad byte: shorten a video chunk by one byte
  // and fix every size and offset, so that only the pad is missing.
  const auto* chunk = [&] {
    for (const auto& c : w.chunks)
      if (c.id == "00dc") return &c;
    return static_cast<const norv::test::WalkedChunk*>(nullptr);
  }();
  const std::size_t cut = chunk->headerOffset + 8 + chunk->size - 1;
  b = good;
  Put32(b, chunk->headerOffset + 4, chunk->size - 1);
  for (const auto& c : w.chunks)
    if ((c.id == "LIST" || c.id == "RIFF") && c.headerOffset < cut &&
        cut < c.headerOffset + 8 + c.size)
      Put32(b, c.headerOffset + 4, c.size - 1);
  for (std::size_t e = 0; e < w.index.size(); ++e) {
    const std::size_t header = w.moviCodeOffset + w.index[e].offset;
    if (header > cut) Put32(b, at(e, 8), w.index[e].offset - 1);
    if (header == chunk->headerOffset) Put32(b, at(e, 12), chunk->size - 1);
    if (header < cut && cut < header + 8 + w.index[e].length && w.index[e].id == "rec ")
      Put32(b, at(e, 12), w.index[e].length - 1);
  }
  b.erase(b.begin() + static_cast<std::ptrdiff_t>(cut));
  expect(b, "pad", true);

  // Another writer's audio header, a sample size of 1 with 4-byte blocks:
  // the length still counts blocks.
  b = good;
  const std::size_t audioHeader = AudioHeader(good);
  ASSERT_NE(audioHeader, 0u);
  ASSERT_EQ(Le32(b, audioHeader + 44), 4u);
  Put32(b, audioHeader + 44, 1);
  WriteFileBytes(mutated, b);
  EXPECT_TRUE(ProblemFields(mutated).empty()) << norv::cli::FormatReport(VerifyAvi(mutated));

  // A chunk claiming two bytes more than its list holds.
  b = good;
  const std::size_t strf = w.Find("strf")->headerOffset;
  Put32(b, strf + 4, Le32(b, strf + 4) + 2);
  expect(b, "'strf' size", false);

  // A suggested buffer one byte short of the largest chunk is noted.
  b = good;
  const std::size_t videoHeader = w.Find("strh")->headerOffset + 8;
  Put32(b, videoHeader + 36, static_cast<std::uint32_t>(w.Find("00db")->size - 1));
  WriteFileBytes(mutated, b);
  auto notes = NoteFields(movie);
  notes.insert(notes.begin(), "stream 0 suggested buffer size");
  EXPECT_EQ(NoteFields(mutated), notes);

  // An odd chunk that ends its form exactly, leaving its pad byte no room.
  b = good;
  b.insert(b.end(), {'J', 'U', 'N', 'K', 3, 0, 0, 0, 1, 2, 3});
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  expect(b, "pad", true);
}

// The skew, recomputed from the chunks in file order: audio seconds (bytes
// over the format's byte rate) minus video seconds (frames over the rate).
TEST(Verify, SkewFollowsTheChunksInFileOrder) {
  TempDir dir;
  for (const std::string interleave : {"1", "10"}) {
    const std::string movie = MakeMovie(dir, "m" + interleave + ".avi",
                                        " --duration 2 --set interleaveFrames=" + interleave);
    const Bytes b = ReadFileBytes(movie);
    const auto w = WalkAvi(b);
    std::size_t audioFormat = 0;
    for (const auto& c : w.chunks)
      if (c.id == "strf") audioFormat = c.headerOffset + 8;  // the second is the audio's
    const double bytesPerSecond = Le32(b, audioFormat + 8);
    double audio = 0, video = 0, lead = 0, lag = 0;
    for (const auto& c : w.chunks) {
      if (c.id == "00db" || c.id == "00dc") video += 1.0 / 25.0;
      if (c.id == "01wb") audio += c.size / bytesPerSecond;
      if (c.id == "00db" || c.id == "00dc" || c.id == "01wb") {
        lead = std::max(lead, (audio - video) * 1000.0);
        lag = std::max(lag, (video - audio) * 1000.0);
      }
    }
    const auto r = VerifyAvi(movie);
    ASSERT_TRUE(r.skewKnown);
    EXPECT_NEAR(r.leadMs, lead, 0.01) << interleave;
    EXPECT_NEAR(r.lagMs, lag, 0.01) << interleave;
    EXPECT_GT(lead, 0.0) << "the audio starts ahead";
  }
}

TEST(Verify, CommandExitsAndReportsAsJson) {
  TempDir dir;
  const std::string movie = MakeMovie(dir, "m.avi", " --duration 1");
  int status = -1;
  const std::string text = RunCommand(kNorvavi + " verify " + movie, &status);
  EXPECT_EQ(status, 0) << text;
  EXPECT_NE(text.find("\nsound\n"), std::string::npos) << text;
  Bytes b = ReadFileBytes(movie);
  Put32(b, 4, 0);  // as an unfinished export leaves it
  WriteFileBytes(movie, b);
  const auto j = nlohmann::json::parse(RunCommand(kNorvavi + " verify --json " + movie, &status));
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(j["sound"].get<bool>());
  EXPECT_TRUE(j["riff"]["unfinished"].get<bool>());
  EXPECT_EQ(j["problems"][0]["field"], "RIFF size");
  RunCommand(kNorvavi + " verify " + dir.File("none.avi") + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  RunCommand(kNorvavi + " verify 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

// What the writer leaves on disk when an export stops at byte `cut`: the
// lists still open keep the size 0 they were created with.
Bytes CutOff(const Bytes& full, std::size_t cut) {
  Bytes b(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  const auto w = WalkAvi(full);
  for (const auto& c : w.chunks)
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
  if (audio.Open(path, AVMEDIA_TYPE_AUDIO, &error)) {
    while (audio.Next(frame))
      d.audio.append(reinterpret_cast<const char*>(frame->data[0]),
                     static_cast<std::size_t>(frame->nb_samples) * frame->ch_layout.nb_channels *
                         av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format)));
  }
  av_frame_free(&frame);
  return d;
}

// ffmpeg's own checksums of the decoded pictures, and of the decoded audio.
std::vector<std::string> FfmpegChecksums(const std::string& path) {
  std::istringstream lines(RunCommand("ffmpeg -v error -i " + path +
                                      " -map 0:v -f framemd5 - -map 0:a -f md5 - | grep -v '^#' | "
                                      "awk -F, '{print $NF}'"));
  std::vector<std::string> sums;
  for (std::string line; std::getline(lines, line);) sums.push_back(line);
  return sums;
}

class CutExports : public ::testing::TestWithParam<int> {};

// A hundred cuts after the headers: each repairs into a file that verify
// accepts and from which ffmpeg decodes every whole frame and audio chunk
// before the cut, exactly as from the whole movie.
TEST_P(CutExports, RepairKeepsEveryWholeChunkBeforeTheCut) {
  TempDir dir;
  const std::string movie = MakeMovie(
      dir, "m.avi",
      " --duration 2 --set keyFrameEvery=4 --set interleaveFrames=" + std::to_string(GetParam()));
  const Bytes full = ReadFileBytes(movie);
  const Decoded whole = Decode(movie);
  ASSERT_EQ(whole.frames.size(), 50u);
  ASSERT_EQ(whole.audio.size(), 2u * 44100 * 4);
  const std::vector<std::string> wholeSums = FfmpegChecksums(movie);
  ASSERT_EQ(wholeSums.size(), 51u);  // the pictures, then the audio

  // The top-level items of 'movi', with what each holds.
  struct Item {
    std::size_t end, frames, audioBytes;
  };
  std::vector<Item> items;
  const auto w = WalkAvi(full);
  const auto* movi = w.Find("LIST", "movi");
  for (std::size_t i = 0; i < w.chunks.size(); ++i) {
    const auto& c = w.chunks[i];
    if (c.depth != movi->depth + 1) continue;
    Item item{c.headerOffset + 8 + c.size, 0, 0};
    for (std::size_t k = i; k < w.chunks.size() && (k == i || w.chunks[k].depth > c.depth); ++k) {
      item.frames += w.chunks[k].id.substr(2) == "dc" || w.chunks[k].id.substr(2) == "db";
      if (w.chunks[k].id == "01wb") item.audioBytes += w.chunks[k].size;
    }
    items.push_back(item);
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
    EXPECT_EQ(result.videoFrames, frames);
    EXPECT_EQ(result.audioBytes, audioBytes);
    const auto report = VerifyAvi(fixed);
    ASSERT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    const Decoded got = Decode(fixed);
    ASSERT_EQ(got.frames.size(), frames);
    EXPECT_TRUE(std::equal(got.frames.begin(), got.frames.end(), whole.frames.begin()));
    ASSERT_EQ(got.audio.size(), audioBytes);
    EXPECT_EQ(got.audio, whole.audio.substr(0, audioBytes));
    // Every tenth cut also through the ffmpeg command: the pictures match
    // the whole movie's first ones.
    if (n % 10 == 0) {
      const std::vector<std::string> sums = FfmpegChecksums(fixed);
      ASSERT_GE(sums.size(), frames);
      EXPECT_TRUE(std::equal(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(frames),
                             wholeSums.begin()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Interleave, CutExports, ::testing::Values(1, 30));

// Repair never makes a file worse: what it does not understand it refuses,
// writing nothing and leaving the input as it was.
TEST(Repair, RefusesWhatItDoesNotUnderstand) {
  TempDir dir;
  const std::string movie = MakeMovie(dir, "m.avi", " --duration 1 --set interleaveFrames=1");
  const Bytes full = ReadFileBytes(movie);
  const auto w = WalkAvi(full);
  const std::size_t moviAt = w.Find("LIST", "movi")->headerOffset;
  int status = 0;
  RunCommand(
      "ffmpeg -v error -f lavfi -i testsrc2=d=1:s=64x48 -c:v rawvideo " + dir.File("ffmpeg.avi"),
      &status);
  ASSERT_EQ(status, 0);
  Bytes ffmpegCut = CutOff(ReadFileBytes(dir.File("ffmpeg.avi")), 20000);
  Bytes garbage = CutOff(full, moviAt + 30000);
  std::memcpy(&garbage[moviAt + 12], "zzzz", 4);
  // Headers the repair copies as they stand, wrong in ways verify names: the
  // last stream list running past 'hdrl', and the main header's stream count.
  const Bytes cut = CutOff(full, moviAt + 30000);
  Bytes overrun = cut, streams = cut;
  const norv::test::WalkedChunk* lastStream = nullptr;
  for (const auto& c : w.chunks)
    if (c.id == "LIST" && c.type == "strl") lastStream = &c;
  ASSERT_NE(lastStream, nullptr);
  Put32(overrun, lastStream->headerOffset + 4, lastStream->size + 64);
  Put32(streams, w.Find("avih")->headerOffset + 8 + 24, 3);

  const std::vector<std::pair<Bytes, std::string>> cases = {
      {full, "finished"},
      {Bytes(full.begin(), full.begin() + 200), "headers are cut off"},
      {ReadFileBytes(std::string(NORV_SOURCE_DIR) + "/README.md"), "not a RIFF 'AVI '"},
      {ffmpegCut, "layout this plug-in does not write"},
      {garbage, "unrecognised chunk 'zzzz'"},
      {overrun, "would still not be sound: LIST 'strl' size"},
      {streams, "would still not be sound: avih streams"},
  };
  const std::string in = dir.File("in.avi"), out = dir.File("out.avi");
  for (const auto& [bytes, why] : cases) {
    WriteFileBytes(in, bytes);
    const std::string err = RunCommand(kNorvavi + " repair " + in + " " + out + " 2>&1", &status);
    EXPECT_EQ(status, 1) << why;
    EXPECT_NE(err.find(why), std::string::npos) << err;
    EXPECT_NE(err.find("nothing changed"), std::string::npos) << err;
    EXPECT_EQ(ReadFileBytes(in), bytes) << why;
    EXPECT_FALSE(std::filesystem::exists(out)) << why;
  }
  RunCommand(kNorvavi + " repair " + in + " " + in + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  RunCommand(kNorvavi + " repair " + in + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

TEST(Repair, InPlaceReplacesTheFileAndLeavesNothingBehind) {
  TempDir dir;
  const std::string movie = MakeMovie(dir, "m.avi", " --duration 1 --set interleaveFrames=30");
  const Bytes full = ReadFileBytes(movie);
  const Bytes cut = CutOff(full, full.size() * 2 / 3);
  WriteFileBytes(movie, cut);
  int status = 0;
  const std::string text = RunCommand(kNorvavi + " repair --in-place " + movie, &status);
  EXPECT_EQ(status, 0) << text;
  EXPECT_EQ(norv::test::VerifyMovie(movie), "");
  const Bytes fixed = ReadFileBytes(movie);
  // The movie data stands where it stood; the headers differ only in sizes and lengths.
  const std::size_t moviData = WalkAvi(full).moviCodeOffset + 4;
  const std::size_t kept = WalkAvi(fixed).Find("idx1")->headerOffset;
  EXPECT_TRUE(std::equal(fixed.begin() + moviData, fixed.begin() + kept, full.begin() + moviData));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Torn ends the writer can leave: an odd chunk whose pad byte never landed,
// and a tail of zeros (space the file system gave but nothing filled). And a
// header from another writer, whose audio sample size is not its block size:
// the repaired length still counts blocks.
TEST(Repair, MissingPadZeroedTailAndAnotherWritersAudioHeader) {
  TempDir dir;
  // 8-bit mono at 29.97 frames a second: audio chunks of odd sizes, outside records.
  const Bytes odd = ReadFileBytes(
      MakeMovie(dir, "odd.avi",
                " --duration 1 --set interleaveFrames=3 --set frameRate=29.97"
                " --set audioFormat.1=8 --set audioFormat.2=22050 --set audioFormat.3=1"));
  const auto w = WalkAvi(odd);
  const int top = w.Find("LIST", "movi")->depth + 1;
  const norv::test::WalkedChunk* oddAudio = nullptr;
  std::size_t audioBefore = 0;  // audio bytes in the chunks before it
  for (const auto& c : w.chunks) {
    if (c.depth != top || c.id != "01wb") continue;
    if (c.size % 2 == 1 && audioBefore > 0) {
      oddAudio = &c;
      break;
    }
    audioBefore += c.size;
  }
  ASSERT_NE(oddAudio, nullptr);
  const std::size_t dataEnd = oddAudio->headerOffset + 8 + oddAudio->size;
  const std::string in = dir.File("in.avi"), out = dir.File("out.avi");
  auto repair = [&](const Bytes& bytes) {
    WriteFileBytes(in, bytes);
    std::filesystem::remove(out);
    const auto result = RepairAvi({in, out, false});
    EXPECT_EQ(result.status, 0) << result.message;
    EXPECT_EQ(norv::test::VerifyMovie(out), "");
    return result;
  };

  // Cut where its pad byte would be: the chunk is whole and gets the pad back.
  auto result = repair(CutOff(odd, dataEnd));
  EXPECT_EQ(result.audioBytes, audioBefore + oddAudio->size);
  Bytes fixed = ReadFileBytes(out);
  ASSERT_GT(fixed.size(), dataEnd + 4);
  EXPECT_EQ(fixed[dataEnd], 0);
  EXPECT_EQ(FourCC(fixed, dataEnd + 1), "idx1");

  // The same cut one byte later, then zeros: they are dropped, not read as chunks.
  Bytes zeroed = CutOff(odd, dataEnd + 1);
  zeroed.resize(zeroed.size() + 4096, 0);
  result = repair(zeroed);
  EXPECT_EQ(result.audioBytes, audioBefore + oddAudio->size);
  EXPECT_EQ(result.bytesDropped, 4096u);
  EXPECT_EQ(ReadFileBytes(out), fixed);

  // 16-bit stereo, its 'strh' claiming a sample size of 1.
  const Bytes stereo = ReadFileBytes(MakeMovie(dir, "stereo.avi", " --duration 1"));
  const auto ws = WalkAvi(stereo);
  const std::size_t audioHeader = AudioHeader(stereo);
  ASSERT_NE(audioHeader, 0u);
  ASSERT_EQ(Le32(stereo, audioHeader + 44), 4u);
  Bytes other = CutOff(stereo, ws.Find("idx1")->headerOffset);  // the index never written
  Put32(other, audioHeader + 44, 1);
  result = repair(other);
  ASSERT_GT(result.audioBytes, 0u);
  EXPECT_EQ(Le32(ReadFileBytes(out), audioHeader + 32), result.audioBytes / 4);
}

// What the repair fuzz target found (fuzz/corpus/avi_repair/finding-*): each
// file is refused and left as it was, or repaired into a file that verify
// calls sound and whose main header announces the frames the repair reports.
TEST(Repair, FuzzFindingsAreRefusedOrRepairedAsReported) {
  TempDir dir;
  const std::string in = dir.File("in.avi"), out = dir.File("out.avi");
  int findings = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(NORV_SOURCE_DIR) +
                                                               "/fuzz/corpus/avi_repair")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("finding-", 0) != 0) continue;
    ++findings;
    SCOPED_TRACE(name);
    const Bytes bytes = ReadFileBytes(entry.path().string());
    WriteFileBytes(in, bytes);
    std::filesystem::remove(out);
    const auto result = RepairAvi({in, out, false});
    EXPECT_EQ(ReadFileBytes(in), bytes);
    if (result.status != 0) {
      EXPECT_EQ(result.status, 1);
      EXPECT_NE(result.message.find("nothing changed"), std::string::npos) << result.message;
      EXPECT_FALSE(std::filesystem::exists(out));
      continue;
    }
    const auto report = VerifyAvi(out);
    EXPECT_TRUE(report.sound()) << norv::cli::FormatReport(report);
    EXPECT_EQ(result.videoFrames, report.totalFrames) << result.message;
    std::uint64_t chunks = 0;
    for (const auto& s : report.streams) chunks += s.chunks;
    EXPECT_EQ(result.chunksKept, chunks) << result.message;
  }
  EXPECT_GE(findings, 3);
}

}  // namespace
