// The norvavi command line. What it takes and refuses before writing
// anything, and what it says: the --set parser, the settings' ranges, the
// compressor's depths and sizes, the request, the 4 GiB limit and the files
// of the user's it must not touch. And a job as a user lives with it:
// interrupted and still playable, two in one folder each with its own sound,
// the manners and lists, info, a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/plugin_fixture.h"
#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"
#include "tools/norvavi/host/job_guard.h"
#include "tools/norvavi/host/progress.h"
#include "tools/norvavi/host/request_check.h"
#include "tools/norvavi/host/settings_fields.h"

namespace {

using namespace norv::cli;
using namespace norv::test;

// The --set parser.
TEST(SetField, RefusesAndLeavesTheRecordUnchanged) {
  AviSettings s{};
  s.width = 77;
  const AviSettings before = s;
  for (const std::string& bad : std::initializer_list<std::string>{
           "width", "width=", "width=12x", "width=99999999999", "nosuch=1", "audioFormat=1",
           "audioFormat.14=1", "width.0=1", "frameRate=abc", "frameRate=inf",
           "compressorHandler=ABC", "compressorState=5", "compressorStateSize=4",
           "audioFormat.-1=2", "reserved60=-1", "paletteFile=" + std::string(260, 'x')}) {
    std::string error;
    EXPECT_FALSE(SetSettingsField(&s, bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(0, std::memcmp(&s, &before, sizeof s)) << bad;
  }
}

// The refusals of the default settings with `set` ("name=value") set, a line each.
std::string RefusalsWith(const std::string& set) {
  AviSettings s{};
  Plugin().FileTypeDefaultSettings(1, &s, 0);
  std::string error, text;
  if (!SetSettingsField(&s, set, &error)) return "not set: " + error + "\n";
  for (const std::string& refusal : CheckSettings(s).refusals) text += refusal + "\n";
  return text;
}

// "16, 24 or 80 to 84" as spans; false when the text is not numbers and
// spans of numbers only.
bool Spans(std::string text, std::vector<std::pair<long long, long long>>* spans) {
  for (const std::string sep : {", ", " or "})
    for (std::size_t at; (at = text.find(sep)) != std::string::npos;)
      text.replace(at, sep.size(), ";");
  std::istringstream parts(text);
  for (std::string part; std::getline(parts, part, ';');) {
    std::istringstream words(part);
    long long low = 0, high = 0;
    std::string to, rest;
    if (!(words >> low)) return false;
    high = low;
    if (words >> to && (to != "to" || !(words >> high))) return false;
    if (words >> rest) return false;
    spans->emplace_back(low, high);
  }
  return !spans->empty();
}

// `fields` lists every name --set takes with the default info shows, and
// its values ("32 to 9999", "16, 24 or 80 to 84"): every listed value and
// both ends of a span are taken, one step past an end is refused with the
// field's name and what it takes.
TEST(Refusals, EveryListedValueIsTakenAndOneStepPastAnEndIsRefused) {
  const auto fields = nlohmann::json::parse(RunCommand(kNorvavi + " fields --json"));
  const auto info = nlohmann::json::parse(RunCommand(kNorvavi + " info --json"));
  EXPECT_EQ(fields.size(), info["settings"].size()) << "every name --set takes, and no other";
  int checked = 0;
  std::string sets;
  for (const auto& f : fields) {
    const std::string name = f["name"], allowed = f["allowed"];
    // Listed with the default info shows.
    const auto& shown = info["settings"].at(name);
    if (shown.is_string())
      EXPECT_EQ(f["default"], shown) << name;
    else
      EXPECT_EQ(std::stod(f["default"].get<std::string>()), shown.get<double>()) << name;
    sets += " --set " + name + "=" + f["default"].get<std::string>();
    std::vector<std::pair<long long, long long>> spans;
    if (!Spans(allowed, &spans)) continue;
    ++checked;
    for (const auto& [low, high] : spans) {
      // Taken as far as the range goes (a palette mode still wants its file).
      for (long long v : {low, high})
        EXPECT_EQ(RefusalsWith(name + "=" + std::to_string(v)).find("it takes"), std::string::npos)
            << name << "=" << v;
      for (long long v : {low - 1, high + 1}) {
        if (std::ranges::any_of(spans,
                                [&](const auto& s) { return s.first <= v && v <= s.second; }))
          continue;
        const std::string set = name + "=" + std::to_string(v), refusals = RefusalsWith(set);
        if (refusals.starts_with("not set")) continue;  // out of type
        EXPECT_EQ(refusals, set + " is out of range: it takes " + allowed + "\n");
      }
    }
  }
  EXPECT_GE(checked, 15);
  // Every name set to its default is taken and changes nothing.
  EXPECT_EQ(nlohmann::json::parse(RunCommand(kNorvavi + " info --json" + sets)), info);
  for (const char* set : {"frameRate=0", "frameRate=-25", "frameRate=1000000", "keyFrameEvery=0"})
    EXPECT_EQ(std::ranges::count(RefusalsWith(set), '\n'), 1) << set;
  // Not in the dialog's list, but the export writes any rate.
  EXPECT_EQ(RefusalsWith("frameRate=23.976"), "");
}

// Each bad request is refused before anything is written, by a reason of
// its own and an exit status (2 for the request, 1 for an input that cannot
// be read); info and defaults refuse the same settings; nothing of the
// user's is overwritten, whatever name it goes by.
TEST(Refusals, EachBadRequestSaysWhyAndWritesNothing) {
  TempDir dir;
  const std::string clip = dir.File("clip.avi"), wave = dir.File("movie.wav");
  ASSERT_TRUE(Runs(kNorvavi + " make -q " + clip + " --duration 0.5"));
  ASSERT_TRUE(Runs("ffmpeg -v error -f lavfi -i sine=f=500:d=1 -ac 2 -c:a pcm_s16le " + wave));
  const std::string tiny = Clip("tiny.nut", "-f lavfi -i testsrc=s=17x40:d=0.2 -c:v ffv1");
  std::filesystem::create_hard_link(clip, dir.File("link.avi"));
  WriteFileBytes(dir.File("mine.avi"), {'t', 'e', 'x', 't'});
  WriteFileBytes(dir.File("junk.bin"), std::vector<std::uint8_t>(4000, 0x5a));
  std::filesystem::create_directory(dir.File("ro"));
  std::filesystem::permissions(
      dir.File("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  // The plug-in's temporary audio file, which the sound of sub/t.avi would go through.
  std::filesystem::create_directory(dir.File("sub"));
  const std::string temporary = dir.File("sub/Taltemp101wav.tmp");
  std::filesystem::copy_file(wave, temporary);
  struct Case {
    std::string args, expected;  // expected: the exit status and what is said
    std::string out = "m.avi";
  };
  std::vector<Case> cases = {
      {"--set width=0", "2 width=0 is out of range: it takes 32 to 9999"},
      {"--set compressorHandler=XVID", "2 compressorHandler=XVID: no such compressor is installed"},
      {"--set compressorHandler=MRLE",
       "2 compressorHandler=MRLE does not take 24-bit frames (colorFormat=24); it takes 8-bit "
       "frames: colorFormat 80 to 84"},
      {"--set compressorHandler=dvsd --set width=320 --set height=240",
       "2 compressorHandler=dvsd does not take 24-bit frames (colorFormat=24) of 320x240; of the "
       "usual sizes it takes 720x480 and 720x576"},
      {"--set audioFormat.2=7",
       "2 audioFormat.2=7 is out of range: it takes 11025, 22050, 32000, 44100 or 48000"},
      {"--set colorFormat=32", "2 colorFormat=32 is out of range: it takes 16, 24 or 80 to 84"},
      {"--set colorFormat=84", "2 colorFormat=84 takes its palette from paletteFile"},
      {"--set colorFormat=84 --set paletteFile=" + dir.File("none.pal"),
       "2 paletteFile=" + dir.File("none.pal") + ": no such file"},
      {"--set qrvExport=1",
       "2 qrvExport=1 writes compressed frames back to back and needs a compressor"},
      {"--start 2000 --end 1000", "2 the span from 2000 ms to 1000 ms is empty or reversed"},
      {"--start 1000 --end 1010",
       "2 the span of 10 ms holds no frame at 25 frames per second: it needs at least 20 ms"},
      // --no-check hands such requests to the plug-in, which answers for itself.
      {"--no-check --set compressorHandler=MRLE", "1 the plug-in refused the movie"},
      {"--no-check --start 1000 --end 1010", "1 the plug-in refused the movie"},
      // 9999x9999 at 24 bits: 299,970,000 bytes a frame; 14 fit below 4 GiB.
      {"--duration 1 --set width=9999 --set height=9999",
       "2 more than the 4 GiB an AVI 1.0 file can hold: 14 of the 25 frames fit (the first "
       "0.56 s); add --opendml"},
      {"--video " + tiny,
       "2 width=17 is out of range; that is the source's size, 17x40: give the movie one it "
       "takes with --size WIDTHxHEIGHT"},
      {"--video " + dir.File("none.mp4"), "1 no such file: " + dir.File("none.mp4")},
      {"--video " + dir.path().string(), "1 " + dir.path().string() + " is a folder"},
      {"--video - < " + dir.File("junk.bin"), "1 standard input is not a media file"},
      {"--start -500 --end 100",
       "2 --start and --end are milliseconds from the source's start, 0 or more"},
      {"--duration 0", "2 --duration must be more than 0 seconds"},
      {"--duration -3", "2 --duration must be more than 0 seconds"},
      {"", "2 folder " + dir.File("none") + " does not exist", "none/m.avi"},
      // Root writes anywhere: the read-only folder only speaks to others.
      {"", ::geteuid() == 0 ? "" : "2 the folder " + dir.File("ro") + " is not writable",
       "ro/m.avi"},
      {"--duration 0.5", "2 " + dir.File("mine.avi") + " exists", "mine.avi"},
      // With --hardware 0 the sound goes through OUT.wav.
      {"--hardware 0 --duration 0.5", "2 " + wave + " exists; --force", "movie.avi"},
      {"--hardware 0 --duration 0.5 --force --video " + wave, "2 the input " + wave + " is " + wave,
       "movie.avi"},
      {"--audio " + temporary, "2 is the plug-in's temporary audio file", "sub/t.avi"},
      // Nor is one there that the sound would go through, --no-check or not.
      {"--duration 0.5", "2 " + temporary + " exists", "sub/t.avi"},
      {"--no-check --duration 0.5", "2 " + temporary + " exists", "sub/t.avi"},
  };
  for (const char* out : {"m.mov", "m.avi.bak", "m"})
    cases.push_back({"", "2 must end in .avi", out});
  for (const std::string out : {"clip.avi", "sub/../clip.avi", "link.avi"})
    for (const char* as : {"--video ", "--audio "})
      cases.push_back({as + clip, "2 is the input " + clip, out});
  const auto before = Listing(dir.path());
  const auto clipBytes = ReadFileBytes(clip), waveBytes = ReadFileBytes(wave);
  for (const auto& c : cases) {
    if (c.expected.empty()) continue;
    std::vector<std::string> commands = {"make " + dir.File(c.out)};
    // A refused --set: info and defaults refuse it too.
    if (c.args.starts_with("--set "))
      commands.insert(commands.end(), {"info", "defaults " + dir.File("p.ostavi")});
    for (const std::string& command : commands) {
      std::string err;
      const int status = Status(kNorvavi + " " + command + " " + c.args + " 2>&1", &err);
      // Each part of what is said, in order.
      std::string said = std::to_string(status) + " ";
      std::size_t at = 0;
      for (std::size_t from = 2, to = 0; from < c.expected.size(); from = to + 2) {
        to = std::min(c.expected.find("; ", from), c.expected.size());
        at = err.find(c.expected.substr(from, to - from), at);
        said += at == std::string::npos ? err : c.expected.substr(from, to - from);
        if (to < c.expected.size()) said += "; ";
      }
      EXPECT_EQ(said, c.expected) << command << " " << c.args;
      EXPECT_EQ(Listing(dir.path()), before) << command << " " << c.args;
    }
  }
  EXPECT_EQ(ReadFileBytes(clip), clipBytes);
  EXPECT_EQ(ReadFileBytes(wave), waveBytes);
  EXPECT_EQ(ReadFileBytes(temporary), waveBytes);
  EXPECT_EQ(ReadFileBytes(dir.File("mine.avi")), (std::vector<std::uint8_t>{'t', 'e', 'x', 't'}));
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
    const std::string out = dir.File("s.avi");
    ASSERT_TRUE(Runs(kNorvavi + " make -q -y " + out + " --duration 2 " + c.sets)) << c.sets;
    const auto actual = static_cast<std::uint64_t>(std::filesystem::file_size(out));
    const auto e = EstimateAviSize(50, c.frameBytes, true, 2 * c.audioBytesPerSecond);
    EXPECT_GE(e.bytes, actual) << c.sets;
    EXPECT_LE(e.bytes, actual + actual / 50 + 16384) << c.sets;
    EXPECT_EQ(e.framesThatFit, 50u);
  }
  // 100,000 frames with 1,000 s of 44.1 kHz 16-bit stereo sound: 1,764 bytes a frame.
  const auto fits = [](std::uint64_t n, std::uint64_t frameBytes) {
    return EstimateAviSize(static_cast<std::uint32_t>(n), frameBytes, true, 1764 * n).bytes <=
           0xFFFFFFFFull;
  };
  for (std::uint64_t frameBytes : {299970000ull, 921600ull, 1ull << 20}) {
    const auto e = EstimateAviSize(100000, frameBytes, true, 1764ull * 100000);
    ASSERT_LT(e.framesThatFit, 100000u);
    // The frames that fit, with their share of the audio, stay within 32 bits; one more does not.
    EXPECT_TRUE(fits(e.framesThatFit, frameBytes)) << frameBytes;
    EXPECT_FALSE(fits(e.framesThatFit + 1, frameBytes)) << frameBytes;
  }
}

// Whatever happens, only the movie is left: no temporary audio file, no
// OUT.wav, in both audio modes, also when the plug-in fails after the wave
// file was written. What the user asks to have replaced is: OUT.wav with
// --force (ours then, and gone with the job), an existing output with -y once
// the job writing it lets go; the user's own OUT.wav given as the sound is
// read in place and kept.
TEST(UserFiles, OnlyTheMovieIsLeftAndOnlyWhatIsAskedIsReplaced) {
  TempDir dir;
  const std::string a = dir.File("a.AVI");
  for (const std::string hardware : {"0", "1"}) {
    // Not a palette file: the plug-in fails once the sound is written.
    for (const auto& [args, status] :
         {std::pair{"-y " + a, 0},
          {dir.File("b.avi") + " --set colorFormat=84 --set paletteFile=" + a, 1}}) {
      std::string err;
      EXPECT_EQ(Make("-q --duration 0.5 --hardware " + hardware + " " + args, &err), status) << err;
      EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a.AVI"}) << hardware << args;
    }
  }

  const std::string out = dir.File("movie.avi"), wave = dir.File("movie.wav");
  const std::string make = kNorvavi + " make -q -y " + out + " --duration 0.5 --hardware 0 ";
  WriteFileBytes(wave, {'m', 'i', 'n', 'e'});
  EXPECT_TRUE(Runs(make + "--force"));
  EXPECT_EQ(VerifyMovie(out), "");
  EXPECT_FALSE(std::filesystem::exists(wave));
  ASSERT_TRUE(Runs("ffmpeg -v error -f lavfi -i sine=f=500:d=1 -ac 2 -c:a pcm_s16le " + wave));
  const auto tone = ReadFileBytes(wave);
  EXPECT_TRUE(Runs(make + "--audio " + wave));
  EXPECT_EQ(ReadFileBytes(wave), tone);

  // Another job holds the output: this one waits, then writes.
  const auto first = ReadFileBytes(out);
  const int fd = ::open(out.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::string waiting = dir.File("err.txt"), says = "another norvavi job is writing " + out;
  Background job(make + "--audio none", waiting);
  ASSERT_TRUE(WaitFor([&] { return ReadText(waiting).find(says) != std::string::npos; }));
  EXPECT_EQ(ReadFileBytes(out), first);
  ::close(fd);
  EXPECT_EQ(job.Wait(), 0);
  EXPECT_EQ(VerifyMovie(out), "");
}

// The frames of a movie when its headers announce as many as ffprobe decodes; else -1.
int Frames(const std::string& path) {
  const std::string counts = RunCommand(
      "ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_frames,"
      "nb_read_frames -of csv=p=0 " +
      path + " 2>&1");
  const std::string n = counts.substr(0, counts.find(','));
  return counts == n + "," + n + "\n" ? std::atoi(n.c_str()) : -1;
}

// The pitch of a pure tone, from its rising zero crossings.
double ToneHz(std::span<const std::int16_t> s) {
  int crossings = 0;
  for (std::size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0 && s[i] >= 0) ++crossings;
  return s.empty() ? 0 : crossings * 44100.0 / static_cast<double>(s.size());
}

// Ctrl-C (or a closed terminal's SIGHUP) in the middle: the movie is
// finished with the frames it has, plays to the last of them, verifies, and
// no temporary is left; in both audio modes. The second interrupt does not
// wait: the temporaries go and the process ends at once with its status.
TEST(Interrupt, TheFirstFinishesAPlayableMovieTheSecondStopsAtOnce) {
  for (const auto& [hardware, sig] : {std::pair{"1", SIGINT}, std::pair{"0", SIGHUP}}) {
    TempDir dir;
    const std::string out = dir.File("long.avi"), err = dir.File("err.txt");
    Background job(kNorvavi + " make " + out + " --duration 600 --hardware " + hardware +
                       " --set width=320 --set height=240 --set compressorHandler=MJPG",
                   err);
    // Under way: well past the headers.
    ASSERT_TRUE(WaitFor([&] {
      std::error_code missing;  // before the job makes it
      return std::filesystem::file_size(out, missing) > 400000 && !missing;
    }));
    job.Signal(sig);
    EXPECT_EQ(job.Wait(), 128 + sig);
    // The headers tell the length the file has, not the one asked for, and so does the job.
    const int frames = Frames(out);
    EXPECT_TRUE(frames > 10 && frames < 15000) << frames;
    const std::string said = ReadText(err);
    EXPECT_NE(
        said.find("is finished and plays, with " + std::to_string(frames) + " of the 15000 frames"),
        std::string::npos)
        << said;
    EXPECT_EQ(VerifyMovie(out), "") << hardware;
    // The sound runs with the picture, up to the last interleave period.
    EXPECT_NEAR(DecodedSound(out, "-ar 44100").size() / 44100.0, frames / 25.0, 1.3) << hardware;
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"err.txt", "long.avi"})) << hardware;
  }

  // Forked where it stands, so that the child's files are the ones checked here.
  GTEST_FLAG_SET(death_test_style, "fast");
  const TempDir dir;
  const std::string temporary = dir.File("Taltemp101wav.tmp"), wave = dir.File("movie.wav");
  EXPECT_EXIT(
      {
        JobGuard guard;
        guard.AddTemporary(temporary);
        guard.AddTemporary(wave);
        std::ofstream(temporary) << "pcm";
        std::ofstream(wave) << "RIFF";
        ::raise(SIGINT);
        // The first only asks: the job goes on, the files stay.
        if (!JobGuard::Interrupted() || !std::filesystem::exists(wave)) ::_exit(3);
        ::raise(SIGTERM);
        ::_exit(4);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "stopped at once");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{});
}

// A job with sound waits while another holds the folder; one without
// sound never touches the shared file and does not wait. Two jobs started
// together in one folder, each with its own track of one clip
// (--audio-track): each movie carries its own tone from start to end; a
// track the clip lacks is named.
TEST(FolderLock, AJobWithSoundWaitsAndTwoTogetherKeepTheirOwnTracks) {
  TempDir dir;
  const std::string make = kNorvavi + " make -q ", err = dir.File("err.txt"),
                    says = "another norvavi job is making a movie with sound";
  const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(Runs(make + dir.File("silent.avi") + " --duration 0.5 --audio none"));
  Background job(make + dir.File("sound.avi") + " --duration 0.5", err);
  ASSERT_TRUE(WaitFor([&] { return ReadText(err).find(says) != std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(std::filesystem::exists(dir.File("sound.avi")));
  ::close(fd);
  EXPECT_EQ(job.Wait(), 0);
  EXPECT_EQ(VerifyMovie(dir.File("sound.avi")), "");

  const std::string clip =
      Clip("two-tracks.mkv",
           "-f lavfi -i testsrc2=d=3:s=320x240 -f lavfi -i sine=f=300:d=3 -f lavfi -i "
           "sine=f=1200:d=3 -map 0 -map 1 -map 2 -c:v libx264 -c:a pcm_s16le");
  const std::string track = " --hardware 1 --video " + clip + " --audio-track ";
  Background low(make + dir.File("low.avi") + track + "1", dir.File("low.txt"));
  Background high(make + dir.File("high.avi") + track + "2", dir.File("high.txt"));
  EXPECT_EQ(low.Wait(), 0) << ReadText(dir.File("low.txt"));
  EXPECT_EQ(high.Wait(), 0) << ReadText(dir.File("high.txt"));
  for (const auto& [name, hz] : {std::pair{"low.avi", 300.0}, std::pair{"high.avi", 1200.0}}) {
    const auto samples = DecodedSound(dir.File(name), "-ar 44100");
    ASSERT_GT(samples.size(), 44100u * 2) << name;
    // Each second on its own, so that sound swapped part of the way shows.
    for (std::size_t s = 0; s + 44100 <= samples.size(); s += 44100)
      EXPECT_NEAR(ToneHz({samples.data() + s, 44100}), hz, hz * 0.03)
          << name << " second " << s / 44100;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("Taltemp101wav.tmp")));
  // Also named as its own sound's file: the clip is read once and refused the same.
  for (const std::string& audio : {std::string(), " --audio " + clip}) {
    const std::string said = RunCommand(make + dir.File("3.avi") + track + "3" + audio + " 2>&1");
    EXPECT_NE(said.find(clip + " has no audio track 3"), std::string::npos) << said;
  }
}

// Without a command, the help; make's leads to the compressors. Piped, the
// progress line stays away and the closing line comes; the libraries' own
// chatter (here about a clip cut off inside a frame) only with -v; and with
// Qt's offscreen platform, where the dialog could never be answered, the
// settings command says so instead of waiting for ever.
TEST(Manners, EachWordOnlyWhereItHelps) {
  TempDir dir;
  std::string help;
  EXPECT_EQ(
      Status("cd " + dir.path().string() + " && " + kNorvavi + " && " + kNorvavi + " make --help",
             &help),
      0);
  for (const char* shown : {"verify", "compressors", "fields", "-c,--compressor", "--audio-track",
                            "norvavi compressors", "3 written but shorter"})
    EXPECT_NE(help.find(shown), std::string::npos) << shown;
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{});
  EXPECT_EQ(RunCommand(kNorvavi + " --version").substr(0, 14), "norvavi 0.1.0 ");

  const std::string err =
      RunCommand(kNorvavi + " make " + dir.File("m.avi") + " --duration 1 2>&1 >/dev/null");
  EXPECT_EQ(err.find('\r'), std::string::npos) << err;
  EXPECT_NE(err.find("wrote " + dir.File("m.avi") + " (25 frames"), std::string::npos) << err;
  EXPECT_EQ(Progress::Line(50, 200, 10.0),
            "[#######                       ]  25% 50/200  0:10 elapsed, 0:30 left");
  EXPECT_EQ(Progress::Line(200, 200, 3725.0).substr(32), " 100% 200/200  1:02:05 elapsed");
  // A narrow terminal: without the bar, then cut, never wrapping.
  EXPECT_EQ(Progress::Line(50, 200, 10.0, 40), "25% 50/200  0:10 elapsed, 0:30 left");
  EXPECT_EQ(Progress::Line(50, 200, 10.0, 12), "25% 50/200 ");

  int status = 0;
  RunCommand(
      "head -c 30000 " +
      Clip("mjpeg160x120.avi", "-f lavfi -i testsrc=d=2:s=160x120 -c:v mjpeg -pix_fmt yuvj420p") +
      " > " + dir.File("cut.avi"));
  const std::string make =
      " make -q -y " + dir.File("m.avi") + " --video " + dir.File("cut.avi") + " --duration 1 2>&1";
  // Only norvavi's own word that the clip ends early.
  EXPECT_EQ(RunCommand(kNorvavi + make, &status).find("corrupt"), std::string::npos);
  EXPECT_EQ(status, 3);
  EXPECT_NE(RunCommand(kNorvavi + " -v" + make, &status).find("corrupt"), std::string::npos);

  EXPECT_EQ(Status("QT_QPA_PLATFORM=offscreen timeout 60 " + kNorvavi + " settings 2>&1", &help), 1)
      << help;
  EXPECT_NE(help.find("\"offscreen\" platform shows no windows"), std::string::npos) << help;
}

// What `compressors` says each one takes is what making a movie of a
// 29.97 fps clip finds: the depths and sizes it lists are made, the others
// refused. Every movie states the clip's rate (compressors whose streams
// state one state the movie's), and a re-encode that follows it keeps every
// frame.
TEST(Lookups, CompressorListMatchesWhatMoviesFind) {
  TempDir dir;
  const std::string source = Clip("bgr160x120-ntsc.avi",
                                  "-f lavfi -i testsrc2=size=160x120:rate=30000/1001 -frames:v 12 "
                                  "-c:v rawvideo -pix_fmt bgr24");
  std::string text;
  ASSERT_EQ(Status(kNorvavi + " compressors --json", &text), 0);
  const auto list = nlohmann::json::parse(text);
  ASSERT_GE(list.size(), 3u);
  bool sawEightBitOnly = false;
  for (const auto& c : list) {
    const std::string handler = c["handler"];
    auto takes = [&](int bits) {
      return std::find(c["inputBits"].begin(), c["inputBits"].end(), bits) != c["inputBits"].end();
    };
    const std::string size =
        c["anySize"].get<bool>() ? "160x120" : c["sizes"][0].get<std::string>();
    const std::string out = dir.File(handler + ".avi"), copy = dir.File(handler + ".mp4");
    const std::string base = "-q -y " + out + " --video " + source +
                             " --audio none --set compressorHandler=" + handler + " --size " + size;
    for (const auto& [bits, colour] : {std::pair{24, "24"}, std::pair{8, "80"}}) {
      SCOPED_TRACE(handler + " " + colour);
      EXPECT_EQ(Make(base + " --set colorFormat=" + colour), takes(bits) ? 0 : 2);
      if (!takes(bits)) continue;
      EXPECT_EQ(Frames(out), 12);
      const std::string rate = Probe(out, "v")["r_frame_rate"];
      EXPECT_TRUE(rate == "30000/1001" || rate == "2997/100") << rate;
      RunCommand("ffmpeg -v error -y -i " + out + " " + copy);
      EXPECT_EQ(Frames(copy), 12);
    }
    sawEightBitOnly = sawEightBitOnly || (takes(8) && !takes(24));
  }
  EXPECT_TRUE(sawEightBitOnly);
}

// info's summary of the defaults, and a note where "16 Bits" would promise
// 16-bit frames. Naming a compressor with --set chooses it as the dialog
// would: one that makes key frames only keys every frame, unless --set or a
// preset that already names it says otherwise; a compressor with delta
// frames keeps the record's interval.
TEST(Lookups, InfoShowsWhatTheOptionsChoose) {
  std::string text;
  EXPECT_EQ(Status(kNorvavi + " info --no-project --hardware 0 --ntsc 0", &text), 0);
  EXPECT_EQ(text,
            "No Compression\nVideo ON\n25 FPS, 160 x 120, 24 Bits\nFrame\n"
            "SubPixel OFF, Cropping OFF\nAudio ON\n16 / 44100 / Stereo\n");
  text = RunCommand(kNorvavi + " info --set colorFormat=16 2>&1");
  EXPECT_NE(text.find("with 16 Bits the plug-in writes 24-bit frames"), std::string::npos) << text;

  TempDir dir;
  const std::string preset = dir.File("mjpg.ost");
  ASSERT_TRUE(Runs(kNorvavi + " defaults " + preset +
                   " --set compressorHandler=MJPG --set keyFrameEvery=5 2>&1"));
  const std::pair<std::string, int> cases[] = {
      {"--set compressorHandler=MJPG", 1},
      {"--set compressorHandler=FFV1", 1},
      {"--set compressorHandler=cvid", 4},
      {"--set compressorHandler=MJPG --set keyFrameEvery=6", 6},
      {"--set keyFrameEvery=6 --set compressorHandler=MJPG", 6},
      {"--preset " + preset, 5},
      {"--preset " + preset + " --set quality=5000", 5},
  };
  for (const auto& [args, every] : cases) {
    ASSERT_EQ(Status(kNorvavi + " info --json " + args, &text), 0) << args;
    EXPECT_EQ(nlohmann::json::parse(text)["settings"]["keyFrameEvery"], every) << args;
  }
}

// A disk that fills up mid-movie (here: a file-size limit, writes failing
// as on a full disk): the job says so and how to finish the file, and
// repair does, in place.
TEST(Norvavi, AFullDiskLeavesAMovieThatRepairFinishes) {
  TempDir dir;
  const std::string out = dir.File("full.avi");
  std::string said;
  EXPECT_EQ(Status("bash -c \"trap '' XFSZ; ulimit -f 600; exec " + kNorvavi + " make -y " + out +
                       " --duration 8 --set width=320 --set height=240\" 2>&1",
                   &said),
            1)
      << said;
  EXPECT_NE(said.find("cannot write frame"), std::string::npos) << said;
  EXPECT_NE(said.find("norvavi repair " + out + " --in-place"), std::string::npos) << said;
  EXPECT_TRUE(Runs(kNorvavi + " repair " + out + " --in-place"));
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"full.avi"}) << "the copy is gone";
  EXPECT_EQ(VerifyMovie(out), "");
  EXPECT_GT(Frames(out), 0);
}

}  // namespace
