// What norvavi refuses before writing anything, and what it says: the
// settings' ranges, the compressor's depths and sizes, the request, the
// 4 GiB limit and the files of the user's it must not touch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/test_support.h"
#include "tools/norvavi/host/request_check.h"

namespace {

using norv::cli::CheckSettings;
using norv::cli::EstimateAviSize;
using norv::test::Listing;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::TempDir;
using norv::test::WriteFileBytes;

const std::string kNorvavi = std::string(NORV_BUILD_DIR) + "/norvavi";

// The refusals of the default settings with one change.
template <typename Change>
std::vector<std::string> RefusalsWith(Change change) {
  AviSettings s{};
  norv::test::Plugin().FileTypeDefaultSettings(1, &s, 0);
  change(s);
  return CheckSettings(s).refusals;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// The dialogs' ranges: each end is taken, one step past it is refused with
// the field's name. The expected ranges are the dialogs', written out here.
TEST(Refusals, EveryRangeEndIsTakenAndOneStepPastItIsRefused) {
  struct Range {
    std::int32_t AviSettings::*field;
    const char* name;
    int low, high;
  };
  const Range ranges[] = {
      {&AviSettings::width, "width", 32, 9999},
      {&AviSettings::height, "height", 32, 9999},
      {&AviSettings::aspectX, "aspectX", 1, 99},
      {&AviSettings::aspectY, "aspectY", 1, 99},
      {&AviSettings::lockAspect, "lockAspect", 0, 1},
      {&AviSettings::subPixel, "subPixel", 0, 1},
      {&AviSettings::fieldHandling, "fieldHandling", 0, 4},
      {&AviSettings::quality, "quality", 0, 10000},
      {&AviSettings::keyFrameEvery, "keyFrameEvery", 1, 999},
      {&AviSettings::dataRateChoice, "dataRateChoice", 0, 8},
      {&AviSettings::interleaveFrames, "interleaveFrames", 1, 999},
      {&AviSettings::audioEnabled, "audioEnabled", 0, 1},
  };
  for (const Range& r : ranges) {
    for (int v : {r.low, r.high})
      EXPECT_EQ(Joined(RefusalsWith([&](AviSettings& s) { s.*r.field = v; })), "")
          << r.name << "=" << v;
    for (int v : {r.low - 1, r.high + 1}) {
      const auto refusals = RefusalsWith([&](AviSettings& s) { s.*r.field = v; });
      ASSERT_EQ(refusals.size(), 1u) << r.name << "=" << v;
      EXPECT_EQ(refusals[0].rfind(std::string(r.name) + "=" + std::to_string(v) + " ", 0), 0u)
          << refusals[0];
      const std::string allowed =
          std::to_string(r.low) + (r.high == r.low + 1 ? " or " : " to ") + std::to_string(r.high);
      EXPECT_NE(refusals[0].find("it takes " + allowed), std::string::npos) << refusals[0];
    }
  }
  // Fields whose values are a list: each listed value is taken, its neighbours are not.
  struct Listed {
    void (*set)(AviSettings*, long long);
    std::vector<long long> taken, refused;
  };
  const Listed listed[] = {
      {[](AviSettings* s, long long v) { s->colorFormat = static_cast<std::int32_t>(v); },
       {16, 24, 80, 81, 82, 83},
       {0, 15, 17, 23, 25, 32, 79, 85}},
      {[](AviSettings* s, long long v) { s->dataRate = static_cast<std::int32_t>(v); },
       {-1, 1, 8000},
       {-2, 0, 8001}},
      {[](AviSettings* s, long long v) { s->audioFormat[1] = static_cast<std::uint32_t>(v); },
       {8, 16},
       {0, 7, 9, 12, 15, 17, 24}},
      {[](AviSettings* s, long long v) { s->audioFormat[2] = static_cast<std::uint32_t>(v); },
       {11025, 22050, 32000, 44100, 48000},
       {7, 8000, 11024, 11026, 44101, 96000}},
      {[](AviSettings* s, long long v) { s->audioFormat[3] = static_cast<std::uint32_t>(v); },
       {1, 2},
       {0, 3, 6}},
  };
  for (const Listed& l : listed) {
    for (long long v : l.taken)
      EXPECT_EQ(Joined(RefusalsWith([&](AviSettings& s) { l.set(&s, v); })), "") << v;
    for (long long v : l.refused)
      EXPECT_EQ(RefusalsWith([&](AviSettings& s) { l.set(&s, v); }).size(), 1u) << v;
  }
  for (float rate : {0.0f, -25.0f, 1e6f})
    EXPECT_EQ(RefusalsWith([&](AviSettings& s) { s.frameRate = rate; }).size(), 1u) << rate;
  // Not in the dialog's list, but the export writes any rate.
  EXPECT_EQ(Joined(RefusalsWith([](AviSettings& s) { s.frameRate = 23.976f; })), "");
}

// Each bad request gets its own reason on standard error, exit 2, and the
// folder stays empty; info and defaults refuse the same settings.
TEST(Refusals, EachBadRequestSaysWhyAndWritesNothing) {
  TempDir dir;
  struct Case {
    std::string args, says;
    bool settingsOnly;  // info and defaults refuse it too
  };
  const Case cases[] = {
      {"--set width=0", "width=0 is out of range: it takes 32 to 9999", true},
      {"--set width=99999", "width=99999 is out of range", true},
      {"--set compressorHandler=XVID", "compressorHandler=XVID: no such compressor is installed",
       true},
      {"--set compressorHandler=MRLE",
       "compressorHandler=MRLE does not take 24-bit frames (colorFormat=24); it takes 8-bit "
       "frames: colorFormat 80 to 84",
       true},
      {"--set compressorHandler=dvsd --set width=320 --set height=240",
       "compressorHandler=dvsd does not take 24-bit frames (colorFormat=24) of 320x240; of the "
       "usual sizes it takes 720x480 and 720x576",
       true},
      {"--set audioFormat.2=7",
       "audioFormat.2=7 is out of range: it takes 11025, 22050, 32000, "
       "44100 or 48000",
       true},
      {"--set colorFormat=32", "colorFormat=32 is out of range: it takes 16, 24 or 80 to 84", true},
      {"--set colorFormat=84", "colorFormat=84 takes its palette from paletteFile", true},
      {"--set colorFormat=84 --set paletteFile=" + dir.File("none.pal"),
       "paletteFile=" + dir.File("none.pal") + ": no such file", true},
      {"--set qrvExport=1",
       "qrvExport=1 writes compressed frames back to back and needs a "
       "compressor",
       true},
      {"--start 2000 --end 1000", "the span from 2000 ms to 1000 ms is empty or reversed", false},
      {"--start 1000 --end 1010",
       "the span of 10 ms holds no frame at 25 frames per second: it needs at least 20 ms", false},
  };
  int status = 0;
  for (const Case& c : cases) {
    const std::string err =
        RunCommand(kNorvavi + " make " + dir.File("m.avi") + " " + c.args + " 2>&1", &status);
    EXPECT_EQ(status, 2) << c.args;
    EXPECT_NE(err.find("norvavi: " + c.says), std::string::npos) << c.args << "\n" << err;
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{}) << c.args;
    if (!c.settingsOnly) continue;
    const std::string info = RunCommand(kNorvavi + " info " + c.args + " 2>&1", &status);
    EXPECT_EQ(status, 2) << c.args;
    EXPECT_NE(info.find(c.says), std::string::npos) << info;
    RunCommand(kNorvavi + " defaults " + dir.File("p.ostavi") + " " + c.args + " 2>/dev/null",
               &status);
    EXPECT_EQ(status, 2) << c.args;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{}) << c.args;
  }
  // --no-check hands such requests to the plug-in, which answers for itself.
  for (const char* args : {"--set compressorHandler=MRLE", "--start 1000 --end 1010"}) {
    const std::string err = RunCommand(
        kNorvavi + " make --no-check " + dir.File("m.avi") + " " + args + " 2>&1", &status);
    EXPECT_EQ(status, 1) << args;
    EXPECT_NE(err.find("norvavi: the plug-in refused the movie"), std::string::npos) << err;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{}) << args;
  }
  for (const char* name : {"m.mov", "m.avi.bak", "m"}) {
    const std::string err = RunCommand(kNorvavi + " make " + dir.File(name) + " 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("must end in .avi"), std::string::npos) << err;
  }
  const std::string noDir =
      RunCommand(kNorvavi + " make " + dir.File("none/m.avi") + " 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(noDir.find("folder " + dir.File("none") + " does not exist"), std::string::npos);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{});

  // What the compressors do take goes through, and plays.
  for (const auto& [name, good] :
       {std::pair{"m.avi", "--set compressorHandler=MRLE --set colorFormat=80"},
        std::pair{"m.avi", "--set compressorHandler=dvsd --set width=720 --set height=576"},
        std::pair{"m.AVI", ""}}) {
    const std::string out = dir.File(name);
    RunCommand(kNorvavi + " make -q " + out + " --duration 0.2 " + good + " 2>&1", &status);
    EXPECT_EQ(status, 0) << good;
    EXPECT_EQ(norv::test::VerifyMovie(out), "") << good;
    RunCommand("ffmpeg -v error -i " + out + " -f null -", &status);
    EXPECT_EQ(status, 0) << good;
    std::filesystem::remove(out);
  }
}

// The estimate is an upper bound of what the plug-in writes, close to it,
// and the frames it says fit are exactly those that keep it within 32 bits.
TEST(Refusals, SizeEstimateBoundsTheFileAndCountsTheFramesThatFit) {
  TempDir dir;
  struct Case {
    std::string sets;
    std::uint64_t frameBytes;  // one frame, as stored
    std::uint64_t audioBytesPerSecond;
  };
  const Case cases[] = {
      {"--set width=320 --set height=240", 320 * 240 * 3, 44100 * 4},
      {"--set width=322 --set height=241 --set interleaveFrames=1", 968 * 241, 44100 * 4},
      {"--set width=160 --set height=120 --set colorFormat=80 --set audioFormat.2=11025 "
       "--set audioFormat.1=8 --set audioFormat.3=1",
       160 * 120, 11025},
      {"--set width=640 --set height=480 --audio none", 640 * 480 * 3, 0},
  };
  for (const Case& c : cases) {
    int status = 0;
    const std::string out = dir.File("s.avi");
    RunCommand(kNorvavi + " make -q -y " + out + " --duration 2 " + c.sets, &status);
    ASSERT_EQ(status, 0) << c.sets;
    const auto actual = static_cast<std::uint64_t>(std::filesystem::file_size(out));
    const auto e = EstimateAviSize(50, c.frameBytes, true, 2 * c.audioBytesPerSecond);
    EXPECT_GE(e.bytes, actual) << c.sets;
    EXPECT_LE(e.bytes, actual + actual / 50 + 16384) << c.sets;
    EXPECT_EQ(e.framesThatFit, 50u);
  }
  for (std::uint64_t frameBytes : {299970000ull, 921600ull, 1ull << 20}) {
    const std::uint64_t audio = 176400ull * 1000;
    const std::uint32_t frames = 100000;
    const auto e = EstimateAviSize(frames, frameBytes, true, audio);
    ASSERT_LT(e.framesThatFit, frames);
    // The frames that fit, with their share of the audio, stay within 32 bits; one more does not.
    const std::uint64_t perFrameAudio = audio / frames;
    const auto fits = [&](std::uint64_t n) {
      return EstimateAviSize(static_cast<std::uint32_t>(n), frameBytes, true, perFrameAudio * n)
                 .bytes <= 0xFFFFFFFFull;
    };
    EXPECT_TRUE(fits(e.framesThatFit)) << frameBytes;
    EXPECT_FALSE(fits(e.framesThatFit + 1)) << frameBytes;
  }
}

TEST(Refusals, AMovieTooLargeForAviSaysHowManyFramesFit) {
  TempDir dir;
  int status = 0;
  // 9999x9999 at 24 bits: rows of 30000 bytes, 299,970,000 bytes a frame;
  // 14 of them (4.2 GB) fit below 4 GiB, 15 do not.
  const std::string err = RunCommand(kNorvavi + " make " + dir.File("big.avi") +
                                         " --duration 1 --set width=9999 --set height=9999 2>&1",
                                     &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("more than the 4 GiB an AVI 1.0 file can hold: 14 of the 25 frames fit "
                     "(the first 0.56 s)"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("add --opendml"), std::string::npos) << err;
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{});
}

// The output may not be one of the inputs, by whatever name; an OUT.wav of
// the user's is neither overwritten nor removed without --force.
TEST(UserFiles, NothingOfTheUsersIsOverwritten) {
  TempDir dir;
  int status = 0;
  const std::string clip = dir.File("clip.avi");
  RunCommand(kNorvavi + " make -q " + clip + " --duration 0.5", &status);
  ASSERT_EQ(status, 0);
  const auto before = ReadFileBytes(clip);
  std::filesystem::create_directory(dir.File("sub"));
  std::filesystem::create_hard_link(clip, dir.File("link.avi"));
  for (const std::string& out : {clip, dir.File("sub/../clip.avi"), dir.File("link.avi")}) {
    for (const char* as : {" --video ", " --audio "}) {
      const std::string err = RunCommand(kNorvavi + " make " + out + as + clip + " 2>&1", &status);
      EXPECT_EQ(status, 2) << out << as;
      EXPECT_NE(err.find("is the input " + clip), std::string::npos) << err;
    }
  }
  EXPECT_EQ(ReadFileBytes(clip), before);

  // --hardware 0: the sound goes through OUT.wav.
  const std::string wave = dir.File("movie.wav");
  const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
  WriteFileBytes(wave, mine);
  const std::string make = kNorvavi + " make " + dir.File("movie.avi") + " --hardware 0 ";
  std::string err = RunCommand(make + "--duration 0.5 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find(wave + " exists"), std::string::npos) << err;
  EXPECT_NE(err.find("--force"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(wave), mine);
  EXPECT_FALSE(std::filesystem::exists(dir.File("movie.avi")));
  err = RunCommand(make + "--duration 0.5 --video " + wave + " --force 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("the input " + wave + " is " + wave), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(wave), mine);
  RunCommand(make + "-q --duration 0.5 --force", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(norv::test::VerifyMovie(dir.File("movie.avi")), "");
  EXPECT_FALSE(std::filesystem::exists(wave));  // ours now, and gone with the job

  // The user's own OUT.wav as the sound is read in place and kept.
  RunCommand("ffmpeg -v error -f lavfi -i sine=f=500:d=1 -ac 2 -ar 44100 -c:a pcm_s16le " + wave,
             &status);
  ASSERT_EQ(status, 0);
  const auto tone = ReadFileBytes(wave);
  RunCommand(make + "-q -y --duration 0.5 --audio " + wave, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFileBytes(wave), tone);

  // An input in the plug-in's temporary audio file would be overwritten.
  const std::string temporary = dir.File("Taltemp101wav.tmp");
  std::filesystem::copy_file(wave, temporary);
  err = RunCommand(kNorvavi + " make " + dir.File("t.avi") + " --audio " + temporary + " 2>&1",
                   &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("temporary audio file"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(temporary), tone);
}

// An existing output, even not a movie, is the user's: refused untouched
// unless -y; a job holding it makes the next one wait; nothing said of
// an input hides what is wrong with it.
TEST(UserFiles, AnExistingOutputIsReplacedOnlyWhenAskedAndOneJobAtATime) {
  TempDir dir;
  const std::string out = dir.File("mine.avi");
  const std::vector<std::uint8_t> mine = {'t', 'e', 'x', 't'};
  WriteFileBytes(out, mine);
  int status = 0;
  std::string err = RunCommand(kNorvavi + " make " + out + " --duration 0.5 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find(out + " exists"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(out), mine);
  // Another job holds it: this one waits, then writes.
  const int fd = ::open(out.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::string waiting = dir.File("err.txt");
  const int child = ::fork();
  if (child == 0) {
    const std::string line =
        "exec " + kNorvavi + " make -q -y " + out + " --duration 0.5 2>" + waiting;
    ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 100 && norv::test::ReadText(waiting).find("writing") == std::string::npos;
       ++i)
    ::usleep(50000);
  EXPECT_EQ(ReadFileBytes(out), mine);
  ::close(fd);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(norv::test::ReadText(waiting).find("another norvavi job is writing " + out),
            std::string::npos);
  EXPECT_EQ(norv::test::VerifyMovie(out), "");
}

// Each mistake is named with what to do about it; nothing is written.
TEST(Refusals, MessagesNameTheCauseAndTheRemedy) {
  TempDir dir;
  WriteFileBytes(dir.File("junk.bin"), std::vector<std::uint8_t>(4000, 0x5a));
  std::filesystem::create_directory(dir.File("ro"));
  std::filesystem::permissions(
      dir.File("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::pair<std::string, std::string> cases[] = {
      {"--video " + dir.File("none.mp4"), "1 no such file: " + dir.File("none.mp4")},
      {"--video " + dir.path().string(), "1 " + dir.path().string() + " is a folder"},
      {"--video - < " + dir.File("junk.bin"), "1 standard input is not a media file"},
      {"--start -500 --end 100",
       "2 --start and --end are milliseconds from the source's start, 0 or more"},
      {"--duration 0", "2 --duration must be more than 0 seconds"},
      {"--duration -3", "2 --duration must be more than 0 seconds"},
      // Root writes anywhere: the read-only folder only speaks to others.
      {"--out-in-ro",
       ::geteuid() == 0 ? "" : "2 the folder " + dir.File("ro") + " is not writable"},
  };
  for (const auto& [args, expected] : cases) {
    if (expected.empty()) continue;
    const bool ro = args == "--out-in-ro";
    int status = 0;
    const std::string err = RunCommand(kNorvavi + " make " + dir.File(ro ? "ro/m.avi" : "m.avi") +
                                           (ro ? "" : " " + args) + " 2>&1",
                                       &status);
    const std::string says = expected.substr(2);
    EXPECT_EQ(std::to_string(status) + " " + (err.find(says) != std::string::npos ? says : err),
              expected);
    EXPECT_FALSE(std::filesystem::exists(dir.File("m.avi")));
  }
}

// Whatever happens, only the movie is left: no temporary audio file, no OUT.wav.
TEST(UserFiles, NoTemporaryIsLeftOnAnyWayOut) {
  TempDir dir;
  int status = 0;
  for (const char* hardware : {"0", "1"}) {
    RunCommand(
        kNorvavi + " make -q -y " + dir.File("a.avi") + " --duration 0.5 --hardware " + hardware,
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a.avi"}) << hardware;
    // The plug-in fails after the wave file was written: not a palette file.
    const std::string err = RunCommand(
        kNorvavi + " make -q " + dir.File("b.avi") + " --duration 0.5 --set colorFormat=84 " +
            "--set paletteFile=" + dir.File("a.avi") + " --hardware " + hardware + " 2>&1",
        &status);
    EXPECT_EQ(status, 1) << err;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a.avi"}) << hardware << err;
  }
}

TEST(Lookups, VerifyTellsANonAviFromAnUnsoundOne) {
  TempDir dir;
  int status = 0;
  const std::string readme = std::string(NORV_SOURCE_DIR) + "/README.md";
  std::string err = RunCommand(kNorvavi + " verify " + readme + " 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("is not an AVI file"), std::string::npos) << err;
  const std::string out = RunCommand(kNorvavi + " verify --json " + readme, &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(nlohmann::json::parse(out)["error"].get<std::string>().find("not an AVI"),
            std::string::npos);
  RunCommand(kNorvavi + " verify " + dir.File("missing.avi") + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  // A movie cut short is an AVI with problems: 1.
  RunCommand(kNorvavi + " make -q " + dir.File("m.avi") + " --duration 1", &status);
  ASSERT_EQ(status, 0);
  auto bytes = ReadFileBytes(dir.File("m.avi"));
  bytes.resize(bytes.size() - 1000);
  WriteFileBytes(dir.File("m.avi"), bytes);
  RunCommand(kNorvavi + " verify " + dir.File("m.avi") + " >/dev/null", &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
