// Movies past the first RIFF form: with the form boundary lowered, a movie
// of a few megabytes runs through several 'AVIX' forms. verify compares
// every index with the chunks actually in the file, and ffmpeg must hand
// back every frame and every audio byte.
#include <gtest/gtest.h>

#include <cstring>

#include "hoststub/norv_host.h"
#include "platform/files/files.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

// What a walk of the file finds, form by form.
struct DataChunk {
  std::string id;
  std::size_t dataOffset;
  std::uint32_t size;
};
struct Form {
  std::string type;
  std::uint32_t size = 0;
  std::vector<DataChunk> chunks;  // '##xx' chunks of 'movi', in file order
  std::size_t idx1 = 0;           // its 'idx1' header, if any
  std::size_t records = 0;
};
struct Layout {
  std::vector<Form> forms;
  std::vector<std::size_t> superIndexes;   // 'indx' headers, in stream order
  std::vector<std::size_t> streamHeaders;  // 'strh' data
  std::size_t dmlh = 0;
  std::string problem;
};

Layout Walk(const std::vector<std::uint8_t>& b) {
  Layout l;
  const AviWalk w = WalkAvi(b);
  if (!w.sizesConsistent) l.problem = "a chunk runs past its parent";
  int moviDepth = -1;  // while inside a 'movi' list, its depth
  for (const WalkedChunk& c : w.chunks) {
    if (c.depth == 0) {
      if (c.id != "RIFF") l.problem = "no RIFF form at " + std::to_string(c.headerOffset);
      l.forms.push_back({c.type, c.size, {}, 0, 0});
      continue;
    }
    Form& form = l.forms.back();
    if (c.depth <= moviDepth) moviDepth = -1;
    if (c.id == "LIST") {
      if (c.type == "movi") moviDepth = c.depth;
      form.records += c.type == "rec ";
    } else if (moviDepth >= 0 && c.id.substr(0, 2) != "ix") {
      form.chunks.push_back({c.id, c.headerOffset + 8, c.size});
    } else if (c.id == "indx" || c.id == "JUNK") {
      l.superIndexes.push_back(c.headerOffset);
    } else if (c.id == "strh") {
      l.streamHeaders.push_back(c.headerOffset + 8);
    } else if (c.id == "dmlh") {
      l.dmlh = c.headerOffset + 8;
    } else if (c.id == "idx1") {
      form.idx1 = c.headerOffset;
    }
  }
  return l;
}

// Where the last form whose size is set ends: a cut export or a full disk
// leaves the form in progress with its sizes at 0.
std::size_t ClosedEnd(const std::vector<std::uint8_t>& b) {
  std::size_t end = 0;
  for (std::size_t at = 0;
       at + 12 <= b.size() && Le32(b, at + 4) != 0 && at + 8 + Le32(b, at + 4) <= b.size();
       at += 8 + Le32(b, at + 4))
    end = at + 8 + Le32(b, at + 4);
  return end;
}

std::uint32_t VideoChunks(const std::vector<Form>& forms) {
  std::uint32_t frames = 0;
  for (const auto& f : forms)
    for (const auto& c : f.chunks) frames += c.id != "01wb";
  return frames;
}

class OpenDmlMovie : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    WriteProfileInt("NorvAvi", "OpenDML", 1, 0);
    setup.settings.width = 160;
    setup.settings.height = 120;
    setup.settings.interleaveFrames = 1;
    setup.settings.audioFormat[1] = 16;
    setup.settings.audioFormat[2] = 44100;
    setup.settings.audioFormat[3] = 2;
  }
  void TearDown() override { NorvSetDiskBudget(-1); }

  // A session of the core with all its audio pushed; Frames() adds the
  // pictures (PatternFrame(i)), Finish() closes it.
  MovieSession* Start() {
    MovieSession* s = CreateMovieSession(&setup.request, SessionLimits{{}, formBytes});
    EXPECT_NE(s, nullptr);
    if (s == nullptr || s->streamCount != 2) return s;
    EXPECT_EQ(s->audio.BeginAudioCapture(), 0);
    audio.resize(s->audio.audioTotalBytes);
    for (std::size_t i = 0; i < audio.size(); ++i)
      audio[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    for (std::size_t at = 0; at < audio.size(); at += 8192) {
      AudioBlock block{audio.data() + at,
                       static_cast<std::uint32_t>(std::min<std::size_t>(8192, audio.size() - at))};
      std::uint32_t done = 0;
      EXPECT_EQ(s->StoreAudioBlock(&block, &done), 0);
    }
    return s;
  }
  std::vector<int> Frames(MovieSession* s, std::uint32_t n) {
    std::vector<int> results;
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto f = PatternFrame(setup.settings.width, setup.settings.height, i);
      std::uint32_t done = 0;
      results.push_back(s->CompressAviFrame(f.data(), &done));
    }
    return results;
  }
  void Finish(MovieSession* s) {
    s->CloseCompression();
    s->FinishMovie();
    delete s;
  }

  // ffmpeg's decoding of the whole movie against what went in: frames
  // [0, frames) (flipped back to bottom-up) and all the pushed audio.
  void ExpectFfmpegReadsEverything(std::uint32_t frames) {
    std::vector<std::uint8_t> video;
    for (std::uint32_t i = 0; i < frames; ++i) {
      const auto f = PatternFrame(setup.settings.width, setup.settings.height, i);
      video.insert(video.end(), f.begin(), f.end());
    }
    EXPECT_TRUE(FfmpegDecode(setup.path, "-map 0:v -f rawvideo -pix_fmt bgr24 -vf vflip") == video)
        << "the frames ffmpeg decodes";
    EXPECT_TRUE(FfmpegDecode(setup.path, "-map 0:a -f s16le") == audio)
        << "the audio ffmpeg decodes";
  }

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
  std::uint64_t formBytes = 256 * 1024;  // 'AVIX' forms within a few frames
  std::vector<std::uint8_t> audio;
};

// The whole layout of a movie of many forms against a walk of its chunks.
TEST_F(OpenDmlMovie, FormsAndIndexesAgreeWithTheChunks) {
  setup.SetSpan(0, 2400);  // 60 frames of 57600 bytes, 2.4 s of audio
  MovieSession* s = Start();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Frames(s, 60), std::vector<int>(60, 0));
  Finish(s);
  EXPECT_TRUE(messages.texts().empty());

  const auto b = ReadFileBytes(setup.path);
  const Layout l = Walk(b);
  ASSERT_EQ(l.problem, "");
  ASSERT_GE(l.forms.size(), 10u);
  std::uint32_t videoChunks = 0, audioBytes = 0, records = 0;
  for (std::size_t i = 0; i < l.forms.size(); ++i) {
    const Form& f = l.forms[i];
    EXPECT_EQ(f.type, i == 0 ? "AVI " : "AVIX");
    EXPECT_LE(f.size + 8u, formBytes) << "form " << i;
    EXPECT_EQ(f.idx1 != 0, i == 0) << "'idx1' follows the first form's 'movi' only";
    EXPECT_GT(f.records, 0u);
    records += static_cast<std::uint32_t>(f.records);
    for (const auto& c : f.chunks) {
      if (c.id == "00db" || c.id == "00dc") ++videoChunks;
      if (c.id == "01wb") audioBytes += c.size;
    }
  }
  EXPECT_EQ(videoChunks, 60u);
  EXPECT_EQ(audioBytes, audio.size());
  EXPECT_EQ(records, 60u + 18u) << "a record per frame and per lead chunk, across forms";
  // verify checks every index against the chunks; the audio durations
  // count blocks of 4 bytes here, not chunks as some writers do.
  std::uint64_t ticks = 0;
  for (std::uint32_t e = 0; e < Le32(b, l.superIndexes[1] + 12); ++e)
    ticks += Le32(b, l.superIndexes[1] + 32 + 16 * e + 12);
  EXPECT_EQ(ticks, audio.size() / 4);

  // Counts: the main header the first form's frames, 'dmlh' and the
  // stream lengths the whole movie.
  EXPECT_EQ(Le32(b, 32 + 16), VideoChunks({l.forms[0]}));
  EXPECT_EQ(Le32(b, l.dmlh), 60u);
  ASSERT_EQ(l.streamHeaders.size(), 2u);
  EXPECT_EQ(Le32(b, l.streamHeaders[0] + 32), 60u);
  EXPECT_EQ(Le32(b, l.streamHeaders[1] + 32), audio.size() / 4);

  EXPECT_EQ(VerifyMovie(setup.path), "");
  ExpectFfmpegReadsEverything(60);
}

// A full disk stops the export; the forms closed before it stay indexed
// and play.
TEST_F(OpenDmlMovie, FullDiskKeepsTheClosedForms) {
  setup.SetSpan(0, 2400);
  MovieSession* s = Start();  // the pushed audio's temporary file is written before the limit
  ASSERT_NE(s, nullptr);
  constexpr long long kDisk = 900 * 1024;
  NorvSetDiskBudget(kDisk - static_cast<long long>(ReadFileBytes(setup.path).size()));
  const auto results = Frames(s, 60);
  Finish(s);
  EXPECT_EQ(results.front(), 0);
  EXPECT_NE(results.back(), 0) << "the frames past the full disk are refused";
  const auto b = ReadFileBytes(setup.path);
  EXPECT_LE(b.size(), kDisk);
  const Layout closed = Walk({b.begin(), b.begin() + static_cast<long>(ClosedEnd(b))});
  ASSERT_EQ(closed.problem, "");
  ASSERT_GE(closed.forms.size(), 2u);
  EXPECT_EQ(VerifyMovieBytes({b.begin(), b.begin() + static_cast<long>(ClosedEnd(b))}), "");
  EXPECT_GE(FfprobeFrames(setup.path), static_cast<int>(VideoChunks(closed.forms)));
}

// The super index has room for so many forms; past them the movie stops
// whole, once with the message of the AVI 1.0 limit.
TEST_F(OpenDmlMovie, StopsWholeWhenTheSuperIndexIsFull) {
  setup.settings.audioEnabled = 0;
  setup.settings.width = 8;
  setup.settings.height = 8;
  formBytes = 300;          // one frame per form
  setup.SetSpan(0, 12000);  // 300 frames
  MovieSession* s = Start();
  ASSERT_NE(s, nullptr);
  const auto results = Frames(s, 300);
  Finish(s);
  std::vector<int> expected(300, 1);
  std::fill(expected.begin(), expected.begin() + kSuperIndexEntries, 0);
  EXPECT_EQ(results, expected);
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.texts()[0],
            "The movie has reached the largest size of an AVI file; the rest is not written.");
  const auto b = ReadFileBytes(setup.path);
  const Layout l = Walk(b);
  EXPECT_EQ(l.forms.size(), kSuperIndexEntries);
  EXPECT_EQ(VerifyMovie(setup.path), "");
  EXPECT_EQ(FfprobeFrames(setup.path), static_cast<int>(kSuperIndexEntries));
}

// The key is read at each export: 0 or absent gives the AVI 1.0 file, byte
// for byte; a movie that stays within one form still carries the indexes.
TEST_F(OpenDmlMovie, TheProfileKeyDecidesAtEachExport) {
  formBytes = kOpenDmlRiffBytes;
  setup.SetSpan(0, 400);
  auto make = [&] {
    MovieSession* s = Start();
    Frames(s, 10);
    Finish(s);
    return ReadFileBytes(setup.path);
  };
  const auto on = make();
  WriteProfileInt("NorvAvi", "OpenDML", 0, 0);
  const auto off = make();
  norv::test::HostScope fresh;  // a profile without the key
  NorvHostSetHardware(1);
  const auto absent = make();
  EXPECT_EQ(off, absent);
  EXPECT_EQ(Walk(off).superIndexes.size(), 0u);
  EXPECT_EQ(Walk(off).dmlh, 0u);
  const Layout l = Walk(on);
  ASSERT_EQ(l.forms.size(), 1u);
  EXPECT_EQ(VerifyMovieBytes(on), "");
  EXPECT_EQ(Le32(on, 32 + 16), 10u);
  // The movie data is the same: the same chunks, in the same order.
  auto data = [](const std::vector<std::uint8_t>& b) {
    std::vector<std::string> out;
    const Layout walked = Walk(b);
    for (const auto& c : walked.forms[0].chunks)
      out.push_back(c.id + std::string(b.begin() + static_cast<long>(c.dataOffset),
                                       b.begin() + static_cast<long>(c.dataOffset + c.size)));
    return out;
  };
  EXPECT_EQ(data(on), data(off));
}

}  // namespace
