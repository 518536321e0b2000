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
#include <regex>

#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/test_support.h"
#include "tools/norvavi/host/request_check.h"
#include "tools/norvavi/host/settings_fields.h"

namespace {

using norv::cli::CheckSettings;
using norv::cli::EstimateAviSize;
using norv::test::Listing;
using norv::test::ReadFileBytes;
using norv::test::RunCommand;
using norv::test::TempDir;
using norv::test::WriteFileBytes;

const std::string kNorvavi = std::string(NORV_BUILD_DIR) + "/norvavi";

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// The refusals of the default settings with `name=value` set.
std::vector<std::string> RefusalsWith(const std::string& name, const std::string& value) {
  AviSettings s{};
  norv::test::Plugin().FileTypeDefaultSettings(1, &s, 0);
  std::string error;
  if (!norv::cli::SetSettingsField(&s, name + "=" + value, &error)) return {"not set: " + error};
  return CheckSettings(s).refusals;
}

// Each field's values as `fields` lists them ("32 to 9999", "16, 24 or 80
// to 84"): every listed value and both ends of a span are taken, one step
// past an end is refused with the field's name and what it takes.
TEST(Refusals, EveryListedValueIsTakenAndOneStepPastAnEndIsRefused) {
  const auto fields = nlohmann::json::parse(RunCommand(kNorvavi + " fields --json"));
  const std::regex number("(-?\\d+)(?: to (-?\\d+))?(?:, | or |$)");
  int checked = 0;
  for (const auto& f : fields) {
    const std::string name = f["name"], allowed = f["allowed"];
    std::vector<std::pair<long long, long long>> spans;
    for (std::sregex_iterator m(allowed.begin(), allowed.end(), number), end; m != end; ++m)
      spans.emplace_back(std::stoll((*m)[1]), std::stoll((*m)[(*m)[2].matched ? 2 : 1]));
    if (spans.empty() || !std::regex_match(allowed, std::regex("(-?\\d+( to -?\\d+)?(, | or )?)+")))
      continue;
    ++checked;
    auto inside = [&](long long v) {
      return std::any_of(spans.begin(), spans.end(),
                         [&](const auto& s) { return s.first <= v && v <= s.second; });
    };
    for (const auto& [low, high] : spans) {
      for (long long v : {low, high}) {
        // Taken as far as the range goes (a palette mode still wants its file).
        EXPECT_EQ(Joined(RefusalsWith(name, std::to_string(v))).find("it takes"), std::string::npos)
            << name << "=" << v;
      }
      for (long long v : {low - 1, high + 1}) {
        if (inside(v)) continue;
        const auto refusals = RefusalsWith(name, std::to_string(v));
        if (!refusals.empty() && refusals[0].rfind("not set", 0) == 0) continue;  // out of type
        EXPECT_EQ(Joined(refusals),
                  name + "=" + std::to_string(v) + " is out of range: it takes " + allowed + "\n");
      }
    }
  }
  EXPECT_GE(checked, 15);
  for (const char* rate : {"0", "-25", "1000000"})
    EXPECT_EQ(RefusalsWith("frameRate", rate).size(), 1u) << rate;
  // Not in the dialog's list, but the export writes any rate.
  EXPECT_EQ(Joined(RefusalsWith("frameRate", "23.976")), "");
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
  const struct {
    std::string out, args, expected;  // expected: the exit status and what is said
  } cases[] = {
      {"m.avi", "--video " + dir.File("none.mp4"), "1 no such file: " + dir.File("none.mp4")},
      {"m.avi", "--video " + dir.path().string(), "1 " + dir.path().string() + " is a folder"},
      {"m.avi", "--video - < " + dir.File("junk.bin"), "1 standard input is not a media file"},
      {"m.avi", "--start -500 --end 100",
       "2 --start and --end are milliseconds from the source's start, 0 or more"},
      {"m.avi", "--duration 0", "2 --duration must be more than 0 seconds"},
      {"m.avi", "--duration -3", "2 --duration must be more than 0 seconds"},
      {"m.mov", "", "2 must end in .avi"},
      {"m.avi.bak", "", "2 must end in .avi"},
      {"m", "", "2 must end in .avi"},
      {"none/m.avi", "", "2 folder " + dir.File("none") + " does not exist"},
      // Root writes anywhere: the read-only folder only speaks to others.
      {"ro/m.avi", "",
       ::geteuid() == 0 ? "" : "2 the folder " + dir.File("ro") + " is not writable"},
  };
  for (const auto& c : cases) {
    if (c.expected.empty()) continue;
    int status = 0;
    const std::string err =
        RunCommand(kNorvavi + " make " + dir.File(c.out) + " " + c.args + " 2>&1", &status);
    const std::string says = c.expected.substr(2);
    EXPECT_EQ(std::to_string(status) + " " + (err.find(says) != std::string::npos ? says : err),
              c.expected);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"junk.bin", "ro"}));
  }
}

// Whatever happens, only the movie is left: no temporary audio file, no OUT.wav.
TEST(UserFiles, NoTemporaryIsLeftOnAnyWayOut) {
  TempDir dir;
  int status = 0;
  for (const char* hardware : {"0", "1"}) {
    RunCommand(
        kNorvavi + " make -q -y " + dir.File("a.AVI") + " --duration 0.5 --hardware " + hardware,
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a.AVI"}) << hardware;
    // The plug-in fails after the wave file was written: not a palette file.
    const std::string err = RunCommand(
        kNorvavi + " make -q " + dir.File("b.avi") + " --duration 0.5 --set colorFormat=84 " +
            "--set paletteFile=" + dir.File("a.AVI") + " --hardware " + hardware + " 2>&1",
        &status);
    EXPECT_EQ(status, 1) << err;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a.AVI"}) << hardware << err;
  }
}

}  // namespace
