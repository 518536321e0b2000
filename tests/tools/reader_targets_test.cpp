// norvavi verify on files built byte by byte or written by ffmpeg:
// --target, each reader rule on a file with one fault that the reader was
// seen to fail on (scripts/try-readers.sh plants the same faults in
// ffmpeg-made files and runs the readers) and the corrected file, which no
// rule may flag; --deep, an index and stream format made to lie about the
// data; and the command's exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "tests/support/avi_walk.h"
#include "tests/tools/avi_bytes.h"
#include "tests/tools/norvavi_run.h"
#include "tools/avicheck/reader_rules.h"

namespace {

using namespace norv::test;

const std::string kJunk("JUNK\4\0\0\0\0\0\0\0", 12);

// Motion JPEG video alone, one 'JUNK' before 'movi', as OpenCV's reader
// takes it; `fault` plants one thing a reader mishandles.
Bytes Sample(const std::string& fault) {
  const std::string id = fault == "db" ? "00db" : "00dc";
  Bytes b = BuildAvi({{id, 100}, {fault == "somedb" ? "00db" : id, 101}, {id, 102}});
  if (fault != "handler") std::memcpy(&b[112], "MJPG", 4);  // the video 'strh' handler
  if (fault != "last") {  // the audio stream list made filler, the main header counting one
    std::memcpy(&b[212], "JUNK", 4);
    Put32(b, 56, 1);
  }
  if (fault == "noflag") Put32(b, 44, 0);
  if (fault == "noindex") std::memcpy(&b[At(b, "idx1")], "JUNK", 4);
  Insert(b, At(b, "movi") - 8, fault == "junk2" ? kJunk + kJunk : kJunk);
  if (fault == "absolute") {  // every index offset counted from the file's start
    const auto movi = static_cast<std::uint32_t>(At(b, "movi"));
    for (std::size_t e = At(b, "idx1") + 8; e < b.size(); e += 16)
      Put32(b, e + 8, Le32(b, e + 8) + movi);
  }
  if (fault == "junkafter") Insert(b, At(b, "idx1"), kJunk);
  if (fault == "riff2g") Put32(b, 4, 0x80000000u);  // the form's size alone
  if (fault == "avix") {                            // one more frame in an OpenDML extension form
    const std::string form("RIFF\x1c\0\0\0AVIXLIST\x10\0\0\0movi00dc\4\0\0\0\0\0\0\0", 36);
    b.insert(b.end(), form.begin(), form.end());
  }
  return b;
}

TEST(ReaderTargets, EachRuleFlagsItsSampleAlone) {
  const struct {
    std::string fault, readers, rule;  // rule "": none applies
  } cases[] = {
      {"", "strict", ""},
      {"db", "opencv", "opencv-00dc-only"},
      {"somedb", "opencv", "opencv-00dc-only"},
      {"db", "ffmpeg,gstreamer", ""},
      {"absolute", "opencv", "opencv-idx1-base"},
      {"noindex", "strict", "opencv-needs-idx1 avifile-needs-idx1"},
      {"riff2g", "avifile,vlc", "avifile-riff-past-2gib"},
      {"noflag", "opencv", "opencv-needs-idx1"},
      {"handler", "opencv", "opencv-mjpg-only"},
      {"last", "opencv", "opencv-video-last"},
      {"junk2", "opencv", "opencv-layout"},
      {"junkafter", "opencv", "opencv-layout"},
      {"avix", "strict", "opencv-first-form-only avifile-avix"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault + " for " + c.readers);
    const norv::cli::VerifyReport report = VerifyBytes(Sample(c.fault));
    // Sound but for the fault (no idx1, lengths that miss the extension form's
    // frame, a form past the file's end).
    EXPECT_EQ(report.sound(), c.fault != "noindex" && c.fault != "avix" && c.fault != "riff2g");
    std::vector<std::string> readers;
    std::string error;
    ASSERT_TRUE(norv::cli::ParseReaders({c.readers}, &readers, &error)) << error;
    std::string rules;
    for (const auto& f : norv::cli::CheckReaders(report, readers))
      rules += (rules.empty() ? "" : " ") + f.rule;
    EXPECT_EQ(rules, c.rule);
  }
}

// Sound: 0; problems, or a rule of the target readers: 1, in text or JSON;
// not an AVI file, none, or a reader nobody knows: 2.
TEST(Verify, CommandExitsByWhatItFinds) {
  TempDir dir;
  const std::string movie = dir.File("m.avi");
  Bytes b = BuildAvi(kMovie);
  WriteFileBytes(movie, b);
  std::string text;
  EXPECT_EQ(Status(kNorvavi + " verify " + movie, &text), 0) << text;
  EXPECT_NE(text.find("\nsound\n"), std::string::npos) << text;
  Put32(b, 4, 0);  // as an unfinished export leaves it
  WriteFileBytes(movie, b);
  EXPECT_EQ(Status(kNorvavi + " verify --json " + movie, &text), 1);
  auto j = nlohmann::json::parse(text);
  EXPECT_EQ(nlohmann::json({j["sound"], j["riff"]["unfinished"], j["problems"][0]["field"]}),
            nlohmann::json({false, true, "RIFF size"}));
  WriteFileBytes(movie, Sample(""));
  EXPECT_EQ(Status(kNorvavi + " verify --target strict " + movie), 0);
  EXPECT_EQ(Status(kNorvavi + " verify --target opencv,quicktime " + movie + " 2>/dev/null"), 2);
  WriteFileBytes(movie, Sample("db"));
  EXPECT_EQ(Status(kNorvavi + " verify --json --target vlc --target opencv " + movie, &text), 1);
  j = nlohmann::json::parse(text);
  EXPECT_EQ(j["targets"]["readers"], nlohmann::json({"opencv", "vlc"}));
  EXPECT_EQ(j["targets"]["findings"][0]["rule"], "opencv-00dc-only");
  EXPECT_EQ(j["targets"]["findings"].size(), 1u);
  EXPECT_EQ(Status(kNorvavi + " verify " + NORV_SOURCE_DIR + "/README.md 2>&1", &text), 2);
  EXPECT_NE(text.find("is not an AVI file"), std::string::npos) << text;
  // A RIFF file of another form is no AVI either.
  WriteFileBytes(movie, RiffBytes("WAVE", {{"fmt ", WaveFormatData(1, 8000, 16)}}));
  EXPECT_EQ(Status(kNorvavi + " verify --json " + movie, &text), 2);
  EXPECT_NE(nlohmann::json::parse(text)["error"].get<std::string>().find("not an AVI"),
            std::string::npos);
  EXPECT_EQ(Status(kNorvavi + " verify " + dir.File("none.avi") + " 2>/dev/null"), 2);
  EXPECT_EQ(Status(kNorvavi + " verify 2>/dev/null"), 2);
}

// --deep on a file ffmpeg wrote, sound and then with its index and stream
// format made to lie: each lie is found where it is, and only a delta frame
// flagged as a key frame (or data no decoder reads) makes the file unsound.
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
