// Movies past the first RIFF form: with the form boundary lowered, a movie
// of a few megabytes runs through several 'AVIX' forms. What a full disk and
// a full super index do to them; the indexes of every form and what ffmpeg
// decodes are checked in the verify tests.
#include <gtest/gtest.h>

#include <numeric>

#include "plugin/avi/open_dml.h"
#include "tests/support/avi_walk.h"
#include "tests/support/open_dml_fixture.h"

namespace {

using namespace norv::test;

// Each form's count of video chunks, as a walk of the file finds them.
std::vector<std::uint32_t> VideoChunksPerForm(const AviWalk& w) {
  std::vector<std::uint32_t> forms;
  int moviDepth = -1;  // while inside a 'movi' list, its depth
  for (const WalkedChunk& c : w.chunks) {
    if (c.depth == 0) forms.push_back(0);
    if (c.depth <= moviDepth) moviDepth = -1;
    if (c.type == "movi") moviDepth = c.depth;
    if (moviDepth < 0 || c.depth <= moviDepth || c.id == "LIST" || c.id.starts_with("ix")) continue;
    forms.back() += c.id != "01wb";
  }
  return forms;
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

using OpenDmlMovie = OpenDmlTest;

// A full disk stops the export; the forms closed before it stay indexed
// and play.
TEST_F(OpenDmlMovie, FullDiskKeepsTheClosedForms) {
  SetFields(setup.settings, "size 160x120; interleave 1; audio 1 1 16/44100/2");
  setup.SetSpan(0, 2400);
  constexpr long long kDisk = 900 * 1024;
  // The pushed audio's temporary file is written before the limit.
  const auto results = Export(60, true, [&] {
    NorvSetDiskBudget(kDisk - static_cast<long long>(ReadFileBytes(setup.path).size()));
  });
  ASSERT_EQ(results.size(), 60u);
  EXPECT_EQ(results.front(), 0);
  EXPECT_NE(results.back(), 0) << "the frames past the full disk are refused";
  const auto b = ReadFileBytes(setup.path);
  EXPECT_LE(b.size(), kDisk);
  const std::vector<std::uint8_t> closed(b.begin(), b.begin() + static_cast<long>(ClosedEnd(b)));
  const AviWalk w = WalkAvi(closed);
  ASSERT_TRUE(w.sizesConsistent);
  const auto forms = VideoChunksPerForm(w);
  ASSERT_GE(forms.size(), 2u);
  EXPECT_EQ(VerifyMovieBytes(closed), "");
  EXPECT_GE(FfprobeFrames(setup.path), std::accumulate(forms.begin(), forms.end(), 0));
}

// The super index has room for so many forms; past them the movie stops
// whole, once with the message of the AVI 1.0 limit.
TEST_F(OpenDmlMovie, StopsWholeWhenTheSuperIndexIsFull) {
  SetFields(setup.settings, "size 8x8; interleave 1; audio 1 0 16/44100/2");
  formBytes = 300;          // one frame per form
  setup.SetSpan(0, 12000);  // 300 frames
  const auto results = Export(300);
  std::vector<int> expected(300, 1);
  std::fill(expected.begin(), expected.begin() + kSuperIndexEntries, 0);
  EXPECT_EQ(results, expected);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"The movie has reached the largest size "
                                                       "of an AVI file; the rest is not written."});
  const auto b = ReadFileBytes(setup.path);
  EXPECT_EQ(VideoChunksPerForm(WalkAvi(b)).size(), kSuperIndexEntries);
  EXPECT_EQ(VerifyMovie(setup.path), "");
  EXPECT_EQ(FfprobeFrames(setup.path), static_cast<int>(kSuperIndexEntries));
}

}  // namespace
