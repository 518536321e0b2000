// A norvavi job as a user lives with it: interrupted and still playable, two
// in one folder each with its own sound, the command-line manners and lists,
// info, a full disk, the rate compressed streams state.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"
#include "tools/norvavi/host/job_guard.h"
#include "tools/norvavi/host/progress.h"

namespace {

using namespace norv::test;

// The frames the headers announce and the frames ffprobe reads, "N,N".
std::string FrameCounts(const std::string& path) {
  return RunCommand(
      "ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_frames,"
      "nb_read_frames -of csv=p=0 " +
      path + " 2>&1");
}

// The audio as ffmpeg decodes it, first channel, 16-bit.
std::vector<std::int16_t> DecodeAudio(const std::string& path) {
  const auto raw = FfmpegDecode(path, "-map 0:a -ac 1 -ar 44100 -f s16le -acodec pcm_s16le");
  std::vector<std::int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

// The pitch of a pure tone, from its rising zero crossings.
double ToneHz(const std::vector<std::int16_t>& s) {
  int crossings = 0;
  for (std::size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0 && s[i] >= 0) ++crossings;
  return s.empty() ? 0 : crossings * 44100.0 / static_cast<double>(s.size());
}

// Ctrl-C (or a closed terminal's SIGHUP) in the middle: the movie is
// finished with the frames it has, plays to the last of them, verifies, and
// no temporary is left; in both audio modes.
TEST(Interrupt, FinishesAPlayableMovieAndSaysHowManyFrames) {
  for (const auto& [hardware, sig] : {std::pair{"1", SIGINT}, std::pair{"0", SIGHUP}}) {
    TempDir dir;
    const std::string out = dir.File("long.avi"), err = dir.File("err.txt");
    Background job(kNorvavi + " make " + out + " --duration 600 --hardware " + hardware +
                       " --set width=320 --set height=240 --set compressorHandler=MJPG",
                   err);
    // Under way: well past the headers.
    ASSERT_TRUE(WaitFor([&] {
      std::error_code ec;
      return std::filesystem::file_size(out, ec) > 400000 && !ec;
    }));
    job.Signal(sig);
    EXPECT_EQ(job.Wait(), 128 + sig);
    const std::string said = ReadText(err);
    const auto at = said.find("is finished and plays, with ");
    ASSERT_NE(at, std::string::npos) << said;
    const int frames = std::atoi(said.c_str() + at + std::strlen("is finished and plays, with "));
    EXPECT_NE(said.find(" of the 15000 frames"), std::string::npos) << said;
    EXPECT_TRUE(frames > 10 && frames < 15000) << frames;
    // The headers tell the length the file has, not the one asked for.
    EXPECT_EQ(FrameCounts(out), std::to_string(frames) + "," + std::to_string(frames) + "\n");
    EXPECT_EQ(VerifyMovie(out), "") << hardware;
    // The sound runs with the picture, up to the last interleave period.
    const double seconds = frames / 25.0;
    const double sound = static_cast<double>(DecodeAudio(out).size()) / 44100.0;
    EXPECT_NEAR(sound, seconds, 1.3) << hardware;
    std::filesystem::remove(err);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"long.avi"}) << hardware;
  }
}

// The second interrupt does not wait: the temporaries go and the process
// ends at once with the signal's status.
TEST(Interrupt, SecondSignalStopsAtOnceAndRemovesTheTemporaries) {
  // Forked where it stands, so that the child's files are the ones checked here.
  GTEST_FLAG_SET(death_test_style, "fast");
  TempDir dir;
  const std::string temporary = dir.File("Taltemp101wav.tmp");
  const std::string wave = dir.File("movie.wav");
  EXPECT_EXIT(
      {
        norv::cli::JobGuard guard;
        guard.AddTemporary(temporary);
        guard.AddTemporary(wave);
        std::ofstream(temporary) << "pcm";
        std::ofstream(wave) << "RIFF";
        ::raise(SIGINT);
        // The first only asks: the job goes on, the files stay.
        if (!norv::cli::JobGuard::Interrupted() || !std::filesystem::exists(wave)) ::_exit(3);
        ::raise(SIGTERM);
        ::_exit(4);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "stopped at once");
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_FALSE(std::filesystem::exists(wave));
}

// A job with sound waits while another holds the folder; one without
// sound never touches the shared file and does not wait. Two jobs started
// together in one folder, each with its own track of one clip
// (--audio-track): each movie carries its own tone from start to end; a
// track the clip lacks is named.
TEST(FolderLock, AJobWithSoundWaitsAndTwoTogetherKeepTheirOwnTracks) {
  TempDir dir;
  const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(
      Runs(kNorvavi + " make -q " + dir.File("silent.avi") + " --duration 0.5 --audio none"));
  Background job(kNorvavi + " make -q " + dir.File("sound.avi") + " --duration 0.5",
                 dir.File("err.txt"));
  ASSERT_TRUE(
      WaitFor([&] { return ReadText(dir.File("err.txt")).find("waiting") != std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(std::filesystem::exists(dir.File("sound.avi")));
  ::close(fd);
  EXPECT_EQ(job.Wait(), 0);
  EXPECT_EQ(VerifyMovie(dir.File("sound.avi")), "");
  EXPECT_NE(ReadText(dir.File("err.txt")).find("another norvavi job is making a movie with sound"),
            std::string::npos);

  const std::string clip = dir.File("two.mkv");
  ASSERT_TRUE(
      Runs("ffmpeg -v error -f lavfi -i testsrc2=d=3:s=320x240 -f lavfi -i sine=f=300:d=3 -f "
           "lavfi -i sine=f=1200:d=3 -map 0 -map 1 -map 2 -c:v libx264 -c:a pcm_s16le " +
           clip));
  const std::string make = kNorvavi + " make -q ",
                    track = " --hardware 1 --video " + clip + " --audio-track ";
  Background low(make + dir.File("low.avi") + track + "1", dir.File("low.txt"));
  Background high(make + dir.File("high.avi") + track + "2", dir.File("high.txt"));
  EXPECT_EQ(low.Wait(), 0) << ReadText(dir.File("low.txt"));
  EXPECT_EQ(high.Wait(), 0) << ReadText(dir.File("high.txt"));
  for (const auto& [name, hz] : {std::pair{"low.avi", 300.0}, std::pair{"high.avi", 1200.0}}) {
    const auto samples = DecodeAudio(dir.File(name));
    ASSERT_GT(samples.size(), 44100u * 2) << name;
    // Each second on its own, so that sound swapped part of the way shows.
    for (std::size_t s = 0; s + 44100 <= samples.size(); s += 44100) {
      const std::vector<std::int16_t> second(
          samples.begin() + static_cast<std::ptrdiff_t>(s),
          samples.begin() + static_cast<std::ptrdiff_t>(s) + 44100);
      EXPECT_NEAR(ToneHz(second), hz, hz * 0.03) << name << " second " << s / 44100;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("Taltemp101wav.tmp")));
  const std::string err = RunCommand(make + dir.File("3.avi") + track + "3 2>&1");
  EXPECT_NE(err.find("has no audio track 3"), std::string::npos) << err;
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
  using norv::cli::Progress;
  EXPECT_EQ(Progress::Line(50, 200, 10.0),
            "[#######                       ]  25% 50/200  0:10 elapsed, 0:30 left");
  EXPECT_EQ(Progress::Line(200, 200, 3725.0).substr(32), " 100% 200/200  1:02:05 elapsed");
  // A narrow terminal: without the bar, then cut, never wrapping.
  EXPECT_EQ(Progress::Line(50, 200, 10.0, 40), "25% 50/200  0:10 elapsed, 0:30 left");
  EXPECT_EQ(Progress::Line(50, 200, 10.0, 12), "25% 50/200 ");

  int status = 0;
  ASSERT_TRUE(
      Runs("ffmpeg -v error -f lavfi -i testsrc=d=2:s=160x120 -c:v mjpeg -pix_fmt yuvj420p " +
           dir.File("src.avi")));
  std::vector<std::uint8_t> bytes = ReadFileBytes(dir.File("src.avi"));
  ASSERT_GT(bytes.size(), 30000u);
  bytes.resize(30000);
  WriteFileBytes(dir.File("cut.avi"), bytes);
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
  const std::string source = dir.File("src.avi");
  ASSERT_TRUE(
      Runs("ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=30000/1001 -frames:v 12 "
           "-c:v rawvideo -pix_fmt bgr24 " +
           source));
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
    const std::string w = size.substr(0, size.find('x')), h = size.substr(size.find('x') + 1);
    const std::string out = dir.File(handler + ".avi"), copy = dir.File(handler + ".mp4");
    const std::string base = kNorvavi + " make -q -y " + out + " --video " + source +
                             " --audio none --set compressorHandler=" + handler +
                             " --set width=" + w + " --set height=" + h;
    for (const auto& [bits, colour] : {std::pair{24, "24"}, std::pair{8, "80"}}) {
      SCOPED_TRACE(handler + " " + colour);
      EXPECT_EQ(Status(base + " --set colorFormat=" + colour + " 2>/dev/null"),
                takes(bits) ? 0 : 2);
      if (!takes(bits)) continue;
      EXPECT_EQ(FrameCounts(out), "12,12\n");
      const std::string rate = RunCommand(
          "ffprobe -v error -select_streams v -show_entries stream=r_frame_rate -of csv=p=0 " +
          out);
      EXPECT_TRUE(rate == "30000/1001\n" || rate == "2997/100\n") << rate;
      RunCommand("ffmpeg -v error -y -i " + out + " " + copy);
      EXPECT_EQ(FrameCounts(copy), "12,12\n");
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
  const std::string frames = std::to_string(std::atoi(FrameCounts(out).c_str()));
  EXPECT_GT(std::stoi(frames), 0);
  EXPECT_EQ(FrameCounts(out), frames + "," + frames + "\n");
}

}  // namespace
