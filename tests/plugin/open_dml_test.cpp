// Movies past the first RIFF form: with the form boundary lowered, a movie
// of a few megabytes runs through several 'AVIX' forms. What a full disk, a
// full super index and the profile key do to them; the indexes of every form
// and what ffmpeg decodes are checked in the verify tests.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

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
struct Form {
  std::uint32_t videoChunks = 0;
};
struct Layout {
  std::vector<Form> forms;
  std::vector<std::string> firstData;  // the first form's '##xx' chunks: id and bytes
  std::map<std::string, std::vector<std::size_t>> at;  // 'indx', 'strh', 'dmlh': data offsets
  bool whole = false;                                  // no chunk runs past its parent
};

Layout Walk(const std::vector<std::uint8_t>& b) {
  Layout l;
  const AviWalk w = WalkAvi(b);
  l.whole = w.sizesConsistent;
  int moviDepth = -1;  // while inside a 'movi' list, its depth
  for (const WalkedChunk& c : w.chunks) {
    if (c.depth == 0) {
      l.forms.emplace_back();
      continue;
    }
    Form& form = l.forms.back();
    if (c.depth <= moviDepth) moviDepth = -1;
    if (c.id == "LIST") {
      if (c.type == "movi") moviDepth = c.depth;
    } else if (moviDepth >= 0 && c.id.substr(0, 2) != "ix") {
      form.videoChunks += c.id != "01wb";
      if (l.forms.size() == 1) {
        const auto data = b.begin() + static_cast<long>(c.headerOffset + 8);
        l.firstData.push_back(c.id + std::string(data, data + c.size));
      }
    } else {
      l.at[c.id].push_back(c.headerOffset + 8);
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

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
  std::uint64_t formBytes = 256 * 1024;  // 'AVIX' forms within a few frames
  std::vector<std::uint8_t> audio;
};

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
  const std::vector<std::uint8_t> closed(b.begin(), b.begin() + static_cast<long>(ClosedEnd(b)));
  const Layout l = Walk(closed);
  ASSERT_TRUE(l.whole);
  ASSERT_GE(l.forms.size(), 2u);
  EXPECT_EQ(VerifyMovieBytes(closed), "");
  std::uint32_t frames = 0;
  for (const Form& f : l.forms) frames += f.videoChunks;
  EXPECT_GE(FfprobeFrames(setup.path), static_cast<int>(frames));
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
  EXPECT_EQ(Walk(ReadFileBytes(setup.path)).forms.size(), kSuperIndexEntries);
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
  const Layout plain = Walk(off);
  EXPECT_EQ(plain.at.count("indx") + plain.at.count("JUNK") + plain.at.count("dmlh"), 0u);
  const Layout l = Walk(on);
  ASSERT_EQ(l.forms.size(), 1u);
  EXPECT_EQ(VerifyMovieBytes(on), "");
  EXPECT_EQ(Le32(on, 32 + 16), 10u);
  // The movie data is the same: the same chunks, in the same order.
  EXPECT_EQ(l.firstData, plain.firstData);
}

}  // namespace
