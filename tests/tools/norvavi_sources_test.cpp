// What `norvavi make` takes from a real clip: its shown size, rate, length
// and sound, its rotation, the project's values, a stream on standard input;
// and the sound stays with the picture whatever the span, rates and audio
// mode. Clips come from ffmpeg's lavfi sources; what we write is read back
// with ffprobe and ffmpeg.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/parseutils.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/tools/norvavi_run.h"
#include "tools/norvavi/sources/files_opened_ahead.h"
#include "tools/norvavi/sources/prefetching_source.h"
#include "tools/norvavi/sources/source_defaults.h"

namespace {

using namespace norv::cli;
using namespace norv::test;

// White for 0.08 s and a 1 kHz beep for 0.1 s, both from 4.000 s on, in 7 s
// of black and silence: 25 fps H.264, 48 kHz AAC.
std::string FlashClip() {
  return Clip("flash-beep.mp4",
              "-f lavfi -i \"color=c=black:s=160x120:r=25:d=7,drawbox=x=0:y=0:w=iw:h=ih:"
              "color=white:t=fill:enable='between(t,4,4.07)'\" -f lavfi -i "
              "\"aevalsrc='if(between(t,4,4.1),0.8*sin(2*PI*1000*t),0)':s=48000:d=7\" "
              "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest");
}

// The flash clip as other muxers write it (MPEG-TS and WebM start the
// picture late), or a VFR MKV of 30, 10 and 30 fps (3 s each) with the
// flash and beep at 4.000 s, in its 10 fps part.
std::string FlashClipAs(const std::string& kind) {
  if (kind == "ts" || kind == "mov")
    return Clip("flash-beep." + kind, "-i " + FlashClip() + " -c copy");
  if (kind == "webm")
    return Clip(
        "flash-beep.webm",
        "-i " + FlashClip() + " -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus");
  if (kind == "vfr")
    return Clip("flash-beep-vfr.mkv",
                "-f lavfi -i \"color=c=black:s=160x120:r=30:d=3[a];color=c=black:s=160x120:r=10:"
                "d=3,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='between(t,1,1.07)'[b];"
                "color=c=black:s=160x120:r=30:d=3[c];[a][b][c]concat=n=3:v=1:a=0\" -f lavfi -i "
                "\"aevalsrc='if(between(t,4,4.1),0.8*sin(2*PI*1000*t),0)':s=48000:d=9\" "
                "-c:v libx264 -pix_fmt yuv420p -fps_mode vfr -c:a aac");
  return FlashClip();
}

// The shown size follows the sample aspect and the rotation; the sound
// takes the nearest format the settings hold.
TEST(SourceGeometry, ShownSizeAndSoundFormatFollowTheSource) {
  struct Case {
    int w, h, sarNum, sarDen, rotation, wantW, wantH;
  } cases[] = {
      {1280, 720, 1, 1, 0, 1280, 720},    {1280, 720, 0, 1, 0, 1280, 720},
      {720, 576, 16, 15, 0, 768, 576},    {720, 480, 32, 27, 0, 854, 480},
      {352, 288, 12, 11, 0, 384, 288},    {320, 180, 1, 1, 90, 180, 320},
      {720, 576, 64, 45, 270, 576, 1024}, {640, 360, 1, 1, 180, 640, 360},
  };
  for (const Case& c : cases) {
    int w = 0, h = 0;
    DisplaySize(c.w, c.h, c.sarNum, c.sarDen, c.rotation, &w, &h);
    EXPECT_EQ(std::pair(w, h), std::pair(c.wantW, c.wantH))
        << c.w << "x" << c.h << " " << c.sarNum << ":" << c.sarDen << " turned " << c.rotation;
  }
  // A matrix made to turn the picture clockwise by a turns it by a, to the
  // nearest quarter.
  for (const auto& [angle, cw] :
       std::map<double, int>{{0, 0}, {90, 90}, {-90, 270}, {180, 180}, {-180, 180}, {89.6, 90}}) {
    std::int32_t m[9];
    av_display_rotation_set(m, angle);
    EXPECT_EQ(RotationOf(m), cw) << angle;
  }
  // The sound takes the nearest format the settings hold.
  struct Sound {
    int rate, channels;
    bool eightBit;
    int wantRate, wantChannels, wantBits;
  } sounds[] = {
      {48000, 2, false, 48000, 2, 16}, {44100, 1, false, 44100, 1, 16},
      {8000, 1, true, 11025, 1, 8},    {16000, 2, false, 22050, 2, 16},
      {22050, 6, false, 22050, 2, 16}, {96000, 2, false, 48000, 2, 16},
      {32000, 1, false, 32000, 1, 16}, {44101, 2, false, 48000, 2, 16},
  };
  for (const Sound& c : sounds) {
    const PcmFormat f = NearestRecordFormat(c.rate, c.channels, c.eightBit);
    EXPECT_EQ(std::tuple(f.sampleRate, f.channels, f.bitsPerSample),
              std::tuple(c.wantRate, c.wantChannels, c.wantBits))
        << c.rate << " Hz, " << c.channels << " channels, 8-bit " << c.eightBit;
  }
}

// What a player finds in a movie: its shown size, rate, frames and coding,
// and its sound's rate, channels and coding; "none" without a movie.
std::string Shape(const std::string& path) {
  if (!std::filesystem::exists(path)) return "none";
  auto v = Probe(path, "v:0"), a = Probe(path, "a:0");
  return v["width"] + "x" + v["height"] + "@" + v["r_frame_rate"] + " " + v["nb_read_packets"] +
         " " + v["codec_name"] + " " +
         (a.empty() ? "silent" : a["sample_rate"] + "/" + a["channels"]);
}

// The movie is what a player shows of the source, every frame of it, with
// its sound, at its real length; --set, --size, --rate, --audio, a preset
// and the project decide where given, and what differs from the source is
// said. A clip cut short, damaged or asked for past its end gives what it
// holds and exit 3 with a word; a start past the end writes nothing; a
// stream on standard input carries no length, yet every frame arrives.
TEST(NorvaviSources, MovieIsTheSourceAsTheOptionsAsk) {
  // Non-square pixels at 29.97 fps with 22.05 kHz mono sound.
  const std::string clip =
      Clip("anamorphic.mkv",
           "-f lavfi -i testsrc2=size=352x288:rate=30000/1001:duration=1.5 -f lavfi -i "
           "sine=frequency=500:sample_rate=22050:duration=1.5 -vf setsar=12/11 -c:v mpeg4 "
           "-q:v 5 -c:a pcm_s16le");
  const std::string silent =
      Clip("silent.mp4", "-f lavfi -i testsrc2=size=320x240:rate=24:duration=1 -c:v libx264");
  const std::string wide =
      Clip("wide.mp4", "-f lavfi -i testsrc2=s=320x180:r=30:d=1 -c:v libx264 -pix_fmt yuv420p");
  const std::string full = Clip("eight.mp4",
                                "-f lavfi -i testsrc2=s=160x120:r=25:d=8 -f lavfi -i sine=d=8 "
                                "-c:v libx264 -pix_fmt yuv420p -c:a aac -movflags +faststart");
  const std::string ts = Clip("four.ts", "-f lavfi -i testsrc2=s=160x120:r=25:d=4 -c:v libx264");
  TempDir dir;
  const std::string preset = dir.File("p.ostavi");
  ASSERT_EQ(std::system((kNorvavi + " defaults " + preset + " -c MJPG").c_str()), 0);
  // The first 60 % of a file, index and all: it lasts to the end of the last
  // frame ffmpeg decodes of it.
  RunCommand("head -c " + std::to_string(std::filesystem::file_size(full) * 6 / 10) + " " + full +
             " > " + dir.File("cut.mp4"));
  const std::string last =
      RunCommand("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " +
                 dir.File("cut.mp4") + " 2>/dev/null | sort -g | tail -1");
  const std::string decodable = std::to_string(std::lround(std::stod("0" + last) * 25) + 1);
  // Garbage over the middle of a transport stream.
  std::filesystem::copy_file(ts, dir.File("damaged.ts"));
  {
    std::fstream f(dir.File("damaged.ts"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(ts) / 2));
    for (std::uint32_t i = 0, x = 1; i < 20000; ++i, x = x * 1664525u + 1013904223u)
      f.put(static_cast<char>(x >> 24));
  }
  const std::string project = "--project 320x180@29.97 --same-as-project --duration 1 ";
  const std::string stdinClip =
      "--video - < <(ffmpeg -v error -f lavfi -i testsrc2=size=128x96:rate=12:duration=2 ";
  const std::string said = "the source 320x180 at 30 fps";
  const struct {
    std::string args, expected;  // the exit status, Shape, then what is said
  } cases[] = {
      {"--video " + clip, "0 384x288@2997/100 45 rawvideo 22050/1 (45 frames,"},
      {"--video " + clip + " --set width=320 --set height=240 --set frameRate=15 --audio tone",
       "0 320x240@15/1 23 rawvideo 44100/2 (23 frames,"},
      {"--video " + clip + " --audio none", "0 384x288@2997/100 45 rawvideo silent (45 frames,"},
      {"--video " + silent, "0 320x240@24/1 24 rawvideo silent (24 frames,"},
      {"--duration 0.4", "0 160x120@25/1 10 rawvideo 44100/2 (10 frames,"},
      {project + "--audio none", "0 320x180@2997/100 30 rawvideo silent (30 frames,"},
      {project + "--audio none --set frameRate=10",
       "0 320x180@10/1 10 rawvideo silent (10 frames,"},
      // One side of the size keeps the source's shape.
      {"--video " + wide + " --set width=160", "0 160x90@30/1 30 rawvideo silent " + said},
      {"--video " + wide + " --set height=90", "0 160x90@30/1 30 rawvideo silent " + said},
      {"--video " + wide + " --size 200x100 --rate 15 -c H264",
       "0 200x100@15/1 15 h264 silent " + said},
      {"--video " + wide + " --audio none --preset " + preset,
       "0 160x120@25/1 25 mjpeg silent " + said},
      {"--video " + wide + " --audio none --preset " + preset + " --size source --rate source",
       "0 320x180@30/1 30 mjpeg silent (30 frames,"},
      {"--video " + FlashClipAs("vfr"), "0 160x120@30/1 270 rawvideo 48000/1 (270 frames,"},
      {"--video " + dir.File("cut.mp4"),
       "3 160x120@25/1 " + decodable + " rawvideo 44100/1 the file is cut short"},
      {"--video " + full + " --duration 20", "3 160x120@25/1 200 rawvideo 44100/1 ends at 8.00 s"},
      {"--video " + full + " --start 6000 --end 9000",
       "3 160x120@25/1 50 rawvideo 44100/1 ends at 8.00 s"},
      {"--video " + full + " --start 60000 --end 63000", "2 none is past the end"},
      {"--video " + dir.File("damaged.ts"), "3 160x120@25/1 100 rawvideo silent decode error"},
      {stdinClip + "-f yuv4mpegpipe -)", "0 128x96@12/1 24 rawvideo silent (24 frames,"},
      // NUT's file end time stops short of the last frame's end.
      {stdinClip + "-f lavfi -i sine=duration=2 -c:v rawvideo -c:a pcm_s16le -f nut -)",
       "0 128x96@12/1 24 rawvideo 44100/1 (24 frames,"},
      {"--video - < /dev/null", "1 none "},
  };
  const std::string out = dir.File("m.avi");
  const char* tmp = std::getenv("TMPDIR");
  const std::string tmpBefore = tmp != nullptr ? tmp : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);  // where the streams' temporaries would stay
  for (const auto& c : cases) {
    std::filesystem::remove(out);
    std::string err;
    const int status = Make(out + " " + c.args, &err);
    const std::string shape = std::to_string(status) + " " + Shape(out) + " ";
    const std::string says = c.expected.substr(std::min(shape.size(), c.expected.size()));
    EXPECT_EQ(shape + (err.find(says) != std::string::npos ? says : err), c.expected) << c.args;
    EXPECT_EQ(status == 0 ? VerifyMovie(out) : "", "") << c.args;
  }
  tmp != nullptr ? ::setenv("TMPDIR", tmpBefore.c_str(), 1) : ::unsetenv("TMPDIR");
  // Nothing left behind: the last case makes no movie.
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"cut.mp4", "damaged.ts", "p.ostavi"}));
  // The sound is the clip's 500 Hz sine, not the tone, over the whole length.
  ASSERT_EQ(Make("-q -y " + out + " --video " + clip), 0);
  const std::string stats = RunCommand("ffmpeg -v info -i " + out +
                                       " -map 0:a -af astats=measure_overall=RMS_level:"
                                       "measure_perchannel=0 -f null - 2>&1 | grep 'RMS level'");
  ASSERT_FALSE(stats.empty());
  EXPECT_NEAR(std::stod(stats.substr(stats.rfind(':') + 1)), -21.1, 1.0) << stats;
}

// Every picture arrives as ffmpeg's own conversion shows it: turned by a
// phone clip's display matrix; its colours by the frames' matrix and range
// (BT.709 or BT.2020 in either range, unmarked taken as BT.601, full-range
// JPEG); packed 24-bit frames of the movie's size, B, G, R or R, G, B, by the
// direct path into rows padded to four bytes, unchanged; a picture scaled to a
// width that is no multiple of eight, exactly as ffmpeg's scaler gives it.
TEST(NorvaviSources, PicturesArriveAsFfmpegShowsThem) {
  TempDir dir;
  struct Case {
    std::string clip, size;
    double psnr;  // at least
    std::string args;
    std::string filter;  // readies the clip for the comparison
  };
  std::vector<Case> cases;
  // An asymmetric picture, so that every wrong turn or mirror shows.
  const std::string upright = Clip("upright.mp4",
                                   "-f lavfi -i testsrc2=size=192x108:rate=10:duration=0.5 "
                                   "-c:v libx264 -pix_fmt yuv444p -qp 0");
  for (const std::string degrees : {"90", "180", "270"})
    cases.push_back({Clip("upright" + degrees + ".mp4",
                          "-i " + upright + " -c copy -metadata:s:v:0 rotate=" + degrees),
                     degrees == "180" ? "192x108" : "108x192", 35});
  const std::string source = "-f lavfi -i testsrc2=size=320x180:rate=10:duration=0.3 ";
  for (const auto& [matrix, tag] : {std::pair{"bt709", "bt709"}, {"bt2020", "bt2020nc"}})
    for (const std::string range : {"tv", "pc"})
      cases.push_back({Clip(matrix + range + ".mp4",
                            source + "-vf scale=out_color_matrix=" + matrix +
                                ":out_range=" + range + ",format=yuv420p -colorspace " + tag +
                                " -color_range " + range + " -c:v libx264 -qp 0"),
                       "320x180", 45});
  cases.push_back(
      {Clip("unmarked.mp4", source + "-vf format=yuv420p -c:v libx264 -qp 0"), "320x180", 45});
  // The optimum palette is made from the clip's own frames (a fixed one gives 22 dB).
  cases.push_back({cases.back().clip, "320x180", 35, " --set colorFormat=83"});
  cases.push_back({Clip("full-range.avi", source + "-c:v mjpeg"), "320x180", 45});
  cases.push_back(  // the BT.709 clip
      {cases[3].clip, "322x184", 1000, " --set width=322 --set height=184", "scale=322:184,"});
  for (const std::string format : {"bgr24", "rgb24"})
    cases.push_back({Clip("packed-" + format + ".nut",
                          "-f lavfi -i testsrc2=size=130x96:rate=12:duration=1 -pix_fmt " + format +
                              " -c:v rawvideo"),
                     "130x96", 1000});
  const std::string out = dir.File("m.avi");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip + c.args);
    std::string err;
    ASSERT_EQ(Make("-y " + out + " --video " + c.clip + " --audio none" + c.args, &err), 0) << err;
    EXPECT_EQ(err.find("deprecated pixel format"), std::string::npos) << err;
    auto v = Probe(out, "v:0");
    EXPECT_EQ(v["width"] + "x" + v["height"] + " " + v["nb_read_packets"],
              c.size + " " + Probe(c.clip, "v:0")["nb_read_packets"]);
    EXPECT_GE(Psnr("-i " + c.clip, "-i " + out, c.filter), c.psnr);
  }
}

// When the movie's sound, mixed to one channel, first passes `level`; NAN if never.
double FirstLoudMs(const std::string& movie, int level) {
  const int rate = std::stoi("0" + Probe(movie, "a:0")["sample_rate"]);
  const auto sound = DecodedSound(movie);
  for (std::size_t i = 0; rate > 0 && i < sound.size(); ++i)
    if (std::abs(sound[i]) > level) return static_cast<double>(i) * 1000.0 / rate;
  return NAN;
}

// When the movie first shows a bright frame; NAN if never.
double FirstFlashMs(const std::string& movie) {
  AVRational rate{0, 1};
  av_parse_ratio(&rate, Probe(movie, "v:0")["r_frame_rate"].c_str(), 1000000, 0, nullptr);
  const std::string gray =
      RunCommand("ffmpeg -v error -i " + movie +
                 " -map 0:v -vf scale=4:4,format=gray -fps_mode passthrough -f rawvideo -");
  for (std::size_t f = 0; f * 16 + 16 <= gray.size(); ++f) {
    int sum = 0;
    for (std::size_t i = 0; i < 16; ++i) sum += static_cast<unsigned char>(gray[f * 16 + i]);
    if (sum > 16 * 128) return static_cast<double>(f) * 1000.0 / av_q2d(rate);
  }
  return NAN;
}

struct SyncCase {
  const char* name;
  std::string args;     // after OUT; the clip is the video unless it says otherwise
  double eventMs;       // where flash and beep belong in the movie
  double frameMs = 40;  // one frame of the movie
  std::string clip = "mp4";
  double beepSlackMs = 1.0;  // WebM's millisecond time stamps put the sound up to 7 ms early
};

class AvSync : public testing::TestWithParam<SyncCase> {};

TEST_P(AvSync, FlashAndBeepStayTogether) {
  const SyncCase& c = GetParam();
  const std::string clip = FlashClipAs(c.clip);
  TempDir dir;
  const std::string out = dir.File("sync.avi");
  std::string args = (c.args.find("--video") == std::string::npos ? "--video CLIP " : "") + c.args;
  for (std::size_t at; (at = args.find("CLIP")) != std::string::npos;) args.replace(at, 4, clip);
  if (args.find("WAV") != std::string::npos)
    args.replace(args.find("WAV"), 3, Clip("flash-beep.wav", "-i " + clip + " -vn"));
  std::string err;
  ASSERT_EQ(Make("-q " + out + " " + args, &err), 0) << err;
  // Either is NAN, failing every check below, when it never comes.
  const double flashMs = FirstFlashMs(out), beepMs = FirstLoudMs(out, 8000);
  // The sound lands where the span puts it, to the sample (the beep starts
  // with a sine's zero crossing, so allow its first loud sample's delay).
  EXPECT_NEAR(beepMs, c.eventMs, c.beepSlackMs);
  // The picture lands on the first frame whose instant falls in the
  // flash: at or after it, never a whole frame late.
  EXPECT_GE(flashMs, c.eventMs - 1.0);
  EXPECT_LT(flashMs, c.eventMs + c.frameMs - 1.0);
  EXPECT_LT(std::abs(beepMs - flashMs), c.frameMs - 1.0 + c.beepSlackMs);
  EXPECT_EQ(VerifyMovie(out), "");
}

INSTANTIATE_TEST_SUITE_P(
    Spans, AvSync,
    testing::Values(
        SyncCase{"WholeClipPushed", "--hardware 1", 4000},
        SyncCase{"WholeClipWaveFile", "--hardware 0", 4000},
        // Far enough in that both sources seek, with the beep's own file.
        SyncCase{"SeekingSpan", "--hardware 1 --start 3100 --end 5000", 900},
        // Other movie rates, the sound resampled (below 22050 Hz pushed at four times).
        SyncCase{
            "RateAndResamplePushed",
            "--hardware 1 --start 2300 --end 6100 --set frameRate=15 --set audioFormat.2=11025",
            1700, 1000.0 / 15},
        SyncCase{"RateAndResampleWaveFile",
                 "--hardware 0 --start 2300 --end 6100 --set frameRate=12 --set "
                 "audioFormat.2=22050 --set audioFormat.1=8 --set interleaveFrames=1",
                 1700, 1000.0 / 12},
        // The host renders at the project's 30 fps, the plug-in keeps 12 of them.
        SyncCase{"ProjectRateConversion",
                 "--hardware 1 --project 160x120@30 --same-as-project --set frameRate=12 "
                 "--start 700 --end 5700",
                 3300, 1000.0 / 12},
        // Sound from another file and a stream on standard input.
        SyncCase{"SeparateWaveFile", "--hardware 0 --start 1000 --end 5000 --audio WAV", 3000},
        SyncCase{"WaveOnStandardInput", "--hardware 1 --start 1000 --end 5000 --audio - < WAV",
                 3000},
        SyncCase{"NutOnStandardInput",
                 "--video - --hardware 1 --start 2000 --end 6000 < <(ffmpeg -v error -i CLIP "
                 "-c:v rawvideo -c:a pcm_s16le -f nut -)",
                 2000},
        // Muxers that start the picture after the file's first time stamp.
        SyncCase{"TsPushed", "--hardware 1", 4000, 40, "ts"},
        SyncCase{"MovSpanWaveFile", "--hardware 0 --start 1500 --end 6000", 2500, 40, "mov"},
        SyncCase{"Y4mPipeWithItsWave",
                 "--video - --hardware 1 --start 1000 --end 5000 --audio WAV < <(ffmpeg -v "
                 "error -i CLIP -f yuv4mpegpipe -)",
                 3000},
        SyncCase{"WebmWaveFile", "--hardware 0", 4000, 40, "webm", 7.0},
        SyncCase{"WebmSpanPushed", "--hardware 1 --start 3100 --end 5000", 900, 40, "webm", 7.0},
        // VFR frames held and repeated at the movie's fixed rate (the source's 30).
        SyncCase{"VfrSpanPushed", "--hardware 1 --start 2500 --end 8500", 1500, 1000.0 / 30,
                 "vfr"}),
    [](const testing::TestParamInfo<SyncCase>& p) { return std::string(p.param.name); });

// The test tone clicks at every whole second of the time line, so a span
// that starts at 1.3 s hears its first click 0.7 s in, in both audio modes.
TEST(NorvaviSources, ToneKeepsTheSpansTimeLine) {
  TempDir dir;
  for (const char* hardware : {"0", "1"}) {
    const std::string out = dir.File(std::string("tone") + hardware + ".avi");
    ASSERT_EQ(Make("-q " + out + " --start 1300 --end 2500 --hardware " + hardware), 0);
    EXPECT_NEAR(FirstLoudMs(out, 25000), 700.0, 0.01) << hardware;  // to the sample
  }
}

// What the wrapped source saw; outlives it.
struct Calls {
  std::mutex mutex;
  std::vector<std::uint32_t> times;
  std::vector<std::thread::id> threads;
  std::atomic<std::uint32_t> rendered{0};
};

// Paints every byte from the time and its position, and records the calls.
class RecordingSource final : public VideoSource {
 public:
  explicit RecordingSource(Calls* calls, std::uint32_t failAtMs = ~0u)
      : calls_(calls), failAtMs_(failAtMs) {}

  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    {
      std::lock_guard lock(calls_->mutex);
      calls_->times.push_back(timeMs);
      calls_->threads.push_back(std::this_thread::get_id());
    }
    Paint(timeMs, width, height, rowBytes, pixels);
    ++calls_->rendered;
    return timeMs != failAtMs_;
  }

  static void Paint(std::uint32_t timeMs, int, int height, std::uint32_t rowBytes,
                    std::uint8_t* pixels) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(rowBytes) * height; ++i)
      pixels[i] = static_cast<std::uint8_t>(i * 7 + timeMs * 13 + i / rowBytes);
  }

 private:
  Calls* calls_;
  std::uint32_t failAtMs_;
};

FrameSchedule Schedule(std::uint32_t frames) {
  // 29.97 frames per second from 1000 ms: steps of 33 and 34 ms.
  return {1000, 29.97f, frames, 13, 5, 40};
}

// A file opened ahead goes to whoever asks for its path, each open once, as
// OpenMediaFile answered (its refusal too); past them the caller opens its own.
TEST(FilesOpenedAhead, EachOpenGoesToItsPathOnce) {
  const std::string flash = FlashClip(), mov = FlashClipAs("mov"),
                    missing = "/nonexistent/none.mp4";
  FilesOpenedAhead ahead;
  for (const std::string& path : {mov, flash, missing, mov}) ahead.Add(path);
  std::vector<std::string> taken;
  for (const std::string& path : {flash, missing, mov, mov, mov}) {
    AVFormatContext* format = nullptr;
    bool opened = false;
    std::string error;
    if (!ahead.Take(path, &format, &opened, &error)) {
      taken.push_back("none");
      continue;
    }
    taken.push_back(opened ? std::string(format->url) + " " + format->iformat->name : error);
    avformat_close_input(&format);
  }
  const std::string mp4 = " mov,mp4,m4a,3gp,3g2,mj2";
  EXPECT_EQ(taken, (std::vector<std::string>{flash + mp4, "no such file: " + missing, mov + mp4,
                                             mov + mp4, "none"}));
}

// The read-ahead source, lending its frames or copying them: the same
// pictures as the source it wraps, in the same order, rendered on another
// thread, never more than its depth ahead; a failure stops the reading at
// that frame, a time off the schedule is rendered as asked on the caller's
// thread, and a caller that leaves early is not kept waiting.
TEST(PrefetchingSource, ReadsAheadWithinItsDepthAndStopsWhereTheCallerDoes) {
  const FrameSchedule s = Schedule(40);
  constexpr std::uint32_t kDepth = 3;
  std::vector<std::uint8_t> got(s.rowBytes * s.height), expected(got.size());
  auto painted = [&](std::uint32_t t) -> const std::vector<std::uint8_t>& {
    RecordingSource::Paint(t, s.width, s.height, s.rowBytes, expected.data());
    return expected;
  };
  for (const std::uint32_t failing : {30u, 33u}) {  // a frame copied, or lent
    SCOPED_TRACE(failing);
    Calls calls, *inner = &calls;
    auto source = PrefetchFrames(std::make_unique<RecordingSource>(inner, s.TimeOf(failing)), s,
                                 kDepth, ReadAhead::kAlways);
    std::uint32_t mostAhead = 0;
    std::vector<std::uint32_t> asked;
    // Lets the worker run as far ahead of frame i as it may, then a little longer.
    auto runAhead = [&](std::uint32_t i) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (inner->rendered < std::min(i + kDepth, failing + 1) &&
             std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    for (std::uint32_t i = 0; i <= failing; ++i) {
      const std::uint32_t t = static_cast<std::uint32_t>(1000 + i * 1000.0 / 29.97f);
      EXPECT_EQ(s.TimeOf(i), t);
      asked.push_back(t);
      if (i % 7 == 3) runAhead(i);
      mostAhead = std::max(mostAhead, inner->rendered.load() - i);
      const auto& want = painted(t);
      // Most frames are lent; the wait above starts from a released slot.
      if (i % 7 == 2 || i % 7 == 3) {
        ASSERT_EQ(source->Render(t, s.width, s.height, s.rowBytes, got.data()), i != failing);
        ASSERT_TRUE(i == failing || got == want) << "frame " << i;
        continue;
      }
      const std::uint8_t* lent = source->Frame(t, s.width, s.height, s.rowBytes, got.data());
      ASSERT_EQ(lent == nullptr, i == failing) << "frame " << i;
      if (lent == nullptr) break;
      EXPECT_NE(lent, got.data()) << "copied, not lent";
      if (i % 7 == 5) runAhead(i);  // it fills every other slot meanwhile, and leaves this one
      ASSERT_TRUE(std::equal(want.begin(), want.end(), lent)) << "frame " << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room to go on, were it to
    source.reset();
    EXPECT_EQ(inner->times, asked) << "nothing rendered past the failure";
    EXPECT_EQ(std::ranges::count(inner->threads, std::this_thread::get_id()), 0);
    EXPECT_EQ(mostAhead, kDepth);
  }
  {
    Calls calls, *inner = &calls;
    auto source =
        PrefetchFrames(std::make_unique<RecordingSource>(inner), s, 2, ReadAhead::kAlways);
    ASSERT_TRUE(source->Render(s.TimeOf(0), s.width, s.height, s.rowBytes, got.data()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(inner->times.size(), 3u);
    // By now the worker waits for a free slot. A time the schedule does not
    // hold stops it (one left waiting would hang here): that time and the
    // reading from there on are rendered on the caller's thread.
    ASSERT_EQ(source->Frame(12345, s.width, s.height, s.rowBytes, got.data()), got.data());
    EXPECT_EQ(got, painted(12345));
    ASSERT_TRUE(source->Render(s.TimeOf(1), s.width, s.height, s.rowBytes, got.data()));
    EXPECT_EQ(inner->threads.back(), std::this_thread::get_id());
    EXPECT_EQ(inner->times.back(), s.TimeOf(1));
  }
  Calls more;
  EXPECT_EQ(PrefetchFrames(nullptr, s), nullptr);
  // No frames to read ahead: the source answers directly.
  auto empty = PrefetchFrames(std::make_unique<RecordingSource>(&more), Schedule(0));
  EXPECT_TRUE(empty->Render(7, s.width, s.height, s.rowBytes, got.data()));
}

}  // namespace
