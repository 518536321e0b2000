// Audio: the decimation of pushed blocks, the hand-over between the audio
// and the video caller, wave-file audio, and where the interleave rule puts
// the audio chunks.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

// Waits for pushed audio short enough that a test need not wait twenty seconds.
constexpr AudioWaitLimits kShortWaits{200, 100};

using norv::test::AviWalk;
using norv::test::CheckIndexAgainstChunks;
using norv::test::HostScope;
using norv::test::MovieSetup;
using norv::test::PatternFrame;
using norv::test::ReadFileBytes;
using norv::test::RecordedMessages;
using norv::test::RunCommand;
using norv::test::WalkAvi;
using norv::test::WriteFileBytes;

std::vector<std::uint8_t> Ramp(std::size_t n, std::uint32_t seed = 0) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return v;
}

TEST(ReduceSampleRate, KeepsTheFirstOfFourSampleFramesAndCarriesTheRest) {
  CRITICAL_SECTION lock{};
  const HANDLE event = nullptr;
  const std::atomic<std::uint32_t> framesDone{0};
  AudioFeed s(lock, event, framesDone, {});
  s.channels = 1;
  s.bitsPerSample = 8;
  const auto first = Ramp(10);
  std::uint8_t* out = nullptr;
  ASSERT_EQ(s.ReduceSampleRate(10, first.data(), &out), 2u);
  EXPECT_EQ(out[0], first[0]);
  EXPECT_EQ(out[1], first[4]);
  delete[] out;
  EXPECT_EQ(s.carryBytes, 2u);
  const auto second = Ramp(6, 100);
  ASSERT_EQ(s.ReduceSampleRate(6, second.data(), &out), 2u);
  EXPECT_EQ(out[0], first[8]) << "the carried bytes come first";
  EXPECT_EQ(out[1], second[2]);
  delete[] out;
  EXPECT_EQ(s.carryBytes, 0u);

  s.channels = 2;
  s.bitsPerSample = 16;
  const auto small = Ramp(12);
  EXPECT_EQ(s.ReduceSampleRate(12, small.data(), &out), 0u);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(s.carryBytes, 0u);
  const auto big = Ramp(16 * 3 + 9);  // three groups and two whole frames over
  ASSERT_EQ(s.ReduceSampleRate(static_cast<std::uint32_t>(big.size()), big.data(), &out), 12u);
  EXPECT_EQ(0, std::memcmp(out + 4, big.data() + 16, 4));
  EXPECT_EQ(0, std::memcmp(out + 8, big.data() + 32, 4));
  delete[] out;
  EXPECT_EQ(s.carryBytes, 8u);
  EXPECT_EQ(0, std::memcmp(s.carry, big.data() + 49, 8));
}

class AudioMovie : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    setup.settings.width = 32;
    setup.settings.height = 16;
  }

  void SetAudio(int bits, int rate, int channels) {
    setup.settings.audioFormat[1] = static_cast<std::uint32_t>(bits);
    setup.settings.audioFormat[2] = static_cast<std::uint32_t>(rate);
    setup.settings.audioFormat[3] = static_cast<std::uint32_t>(channels);
  }

  // Runs a movie: `audio` pushed first (in blocks of 4000 bytes), then the frames.
  std::vector<std::uint8_t> Make(std::uint32_t frames, const std::vector<std::uint8_t>& audio,
                                 bool concurrent = false) {
    session = CreateMovieSession(&setup.request, kShortWaits);
    EXPECT_NE(session, nullptr);
    if (session == nullptr) return {};
    EXPECT_EQ(session->audio.BeginAudioCapture(), 0);
    auto push = [&] {
      for (std::size_t at = 0; at < audio.size(); at += 4000) {
        AudioBlock b{audio.data() + at,
                     static_cast<std::uint32_t>(std::min<std::size_t>(4000, audio.size() - at))};
        std::uint32_t done = 0;
        EXPECT_EQ(session->StoreAudioBlock(&b, &done), 0);
        if (concurrent) std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    };
    std::thread pusher;
    if (concurrent)
      pusher = std::thread(push);
    else
      push();
    for (std::uint32_t i = 0; i < frames; ++i) {
      auto f = PatternFrame(setup.settings.width, setup.settings.height, i);
      std::uint32_t done = 0;
      EXPECT_EQ(session->CompressAviFrame(f.data(), &done), 0);
      EXPECT_EQ(done, i + 1);
    }
    if (pusher.joinable()) pusher.join();
    session->CloseCompression();
    session->FinishMovie();
    delete session;
    session = nullptr;
    EXPECT_EQ(norv::test::VerifyMovie(setup.path), "");
    return ReadFileBytes(setup.path);
  }

  // Bytes of each audio chunk, and after which video frame it stands (0: before any).
  struct AudioChunk {
    std::uint32_t size;
    int afterFrame;
    bool operator==(const AudioChunk&) const = default;
    friend void PrintTo(const AudioChunk& c, std::ostream* os) {
      *os << c.size << " bytes after frame " << c.afterFrame;
    }
  };
  static std::vector<AudioChunk> AudioChunks(const std::vector<std::uint8_t>& b) {
    std::vector<AudioChunk> out;
    int frames = 0;
    for (const auto& c : WalkAvi(b).chunks) {
      if (c.id == "00db" || c.id == "00dc") ++frames;
      if (c.id == "01wb") out.push_back({c.size, frames});
    }
    return out;
  }

  // ffmpeg hands back exactly the bytes that were pushed.
  void ExpectFfmpegAudio(const std::vector<std::uint8_t>& audio) {
    const std::string pcm = host.dir().File("pcm.raw");
    WriteFileBytes(pcm, audio);
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + setup.path + " -map 0:a -f s16le - | md5sum"),
              RunCommand("md5sum < " + pcm));
  }

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
  MovieSession* session = nullptr;
};

TEST_F(AudioMovie, LeadAndInterleaveAtTwentyFiveFramesPerSecond) {
  SetAudio(16, 44100, 2);
  setup.settings.interleaveFrames = 1;
  setup.SetSpan(0, 4000);
  const auto audio = Ramp(705600);
  const auto b = Make(100, audio);
  const auto chunks = AudioChunks(b);
  ASSERT_EQ(chunks.size(), 18u + 81u);
  EXPECT_EQ(chunks[0].size, 7052u);
  for (int i = 0; i < 18; ++i) {
    EXPECT_EQ(chunks[i].afterFrame, 0);
    EXPECT_TRUE(chunks[i].size == 7052 || chunks[i].size == 7056 || chunks[i].size == 7060);
  }
  EXPECT_EQ(chunks[18], (AudioChunk{14112, 1}));
  EXPECT_EQ(chunks.back().afterFrame, 81);
  std::uint32_t total = 0;
  for (const auto& c : chunks) total += c.size;
  EXPECT_EQ(total, 705600u);
  AviWalk w = WalkAvi(b);
  EXPECT_EQ(w.index.size(), 317u);
  EXPECT_EQ(CheckIndexAgainstChunks(b), "");
  // The main header: interleaved, lead 18 in both 'initial frames' fields.
  EXPECT_EQ(norv::test::Le32(b, 32 + 12), 0x110u);
  EXPECT_EQ(norv::test::Le32(b, 32 + 20), 18u);
  ExpectFfmpegAudio(audio);
  // ffprobe takes the lengths from the stream headers: 4 s of video, 176400 samples.
  for (const auto& [stream, field, value] :
       {std::tuple{"v", "duration", "4.000000\n"}, std::tuple{"a", "nb_frames", "176400\n"}})
    EXPECT_EQ(RunCommand(std::string("ffprobe -v error -select_streams ") + stream +
                         " -show_entries stream=" + field + " -of csv=p=0 " + setup.path),
              value);
}

TEST_F(AudioMovie, EveryFewFramesAndAtTheEnd) {
  SetAudio(8, 22050, 1);
  setup.settings.frameRate = 5.0f;
  setup.settings.interleaveFrames = 2;
  setup.SetSpan(0, 1000);  // five frames, 22050 bytes
  const auto chunks = AudioChunks(Make(5, Ramp(22050)));
  // 2/5 and 4/5 of the audio, then the rest, odd-sized and padded.
  EXPECT_EQ(chunks, (std::vector<AudioChunk>{{8820, 1}, {8820, 3}, {4410, 4}}));
  EXPECT_EQ(CheckIndexAgainstChunks(ReadFileBytes(setup.path)), "");
}

TEST_F(AudioMovie, ShortLeadAndMoviesShorterThanTheLead) {
  SetAudio(8, 22050, 1);
  setup.settings.interleaveFrames = 1;
  setup.settings.frameRate = 3.0f;  // lead 2
  setup.SetSpan(0, 1667);           // five frames
  auto chunks = AudioChunks(Make(5, Ramp(36774)));
  std::vector<int> after;
  for (const auto& c : chunks) after.push_back(c.afterFrame);
  EXPECT_EQ(after, (std::vector<int>{0, 0, 1, 2}));

  setup.settings.frameRate = 29.97f;  // lead 22, more than the ten frames
  setup.SetSpan(0, 334);
  chunks = AudioChunks(Make(10, Ramp(7365)));
  ASSERT_EQ(chunks.size(), 10u);
  for (const auto& c : chunks) EXPECT_EQ(c.afterFrame, 0);
  const auto b = ReadFileBytes(setup.path);
  EXPECT_EQ(norv::test::Le32(b, 32 + 20), 10u) << "the header's lead is clamped to the frames";
  EXPECT_EQ(CheckIndexAgainstChunks(b), "");
}

TEST_F(AudioMovie, AudioFromAnotherThreadArrivesWhole) {
  SetAudio(16, 44100, 2);
  setup.settings.interleaveFrames = 1;
  setup.SetSpan(0, 2000);
  const auto audio = Ramp(352800, 7);
  Make(50, audio, true);
  ExpectFfmpegAudio(audio);
  EXPECT_FALSE(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")))
      << "the temporary file goes when the host streams the audio";
}

TEST_F(AudioMovie, MissingAudioBecomesSilenceAndPartialAudioShortensTheSlice) {
  SetAudio(8, 22050, 1);
  setup.settings.interleaveFrames = 2;
  setup.settings.frameRate = 5.0f;
  setup.SetSpan(0, 1000);
  // Only 1000 bytes arrive: the first slice (8820) is cut to them, the next
  // ones find nothing new and are silence of their full length. What an
  // earlier export left in the temporary file is gone at capture start.
  WriteFileBytes(host.dir().File("Taltemp101wav.tmp"), std::vector<std::uint8_t>(30000, 0x11));
  auto b = Make(5, Ramp(1000));
  const auto chunks = AudioChunks(b);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].size, 1000u);
  EXPECT_EQ(chunks[1].size, 16640u);  // from 1000 to 4/5 of the audio
  AviWalk w = WalkAvi(b);
  for (const auto& c : w.chunks) {
    if (c.id != "01wb" || c.size != 16640u) continue;
    EXPECT_EQ(b[c.headerOffset + 8], 0x80) << "8-bit silence";
    EXPECT_EQ(b[c.headerOffset + 8 + c.size - 1], 0x80);
  }
  // Sixteen-bit silence is zero, and a part block that arrived is left for later.
  SetAudio(16, 22050, 1);
  b = Make(5, Ramp(1001));
  EXPECT_EQ(AudioChunks(b)[0].size, 1000u);
  for (const auto& c : WalkAvi(b).chunks) {
    if (c.id != "01wb" || c.size <= 1000) continue;
    EXPECT_EQ(b[c.headerOffset + 8], 0) << "16-bit silence";
  }
}

// Pushed audio past 2 GiB still reads back: offsets go to the file unsigned.
TEST_F(AudioMovie, TemporaryAudioPastTwoGigabytesReadsBack) {
  SetAudio(16, 44100, 2);
  MovieSession* s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  const std::uint32_t at = 0x90000000u;  // 2.25 GiB
  {
    // A sparse file: only the slice that is read holds data.
    std::FILE* f = std::fopen(s->audio.tempAudioPath, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, at, SEEK_SET), 0);
    const auto slice = Ramp(4000, 3);
    ASSERT_EQ(std::fwrite(slice.data(), 1, slice.size(), f), slice.size());
    std::fclose(f);
  }
  s->audio.audioTotalBytes = 0xA0000000u;
  s->audio.audioChunkEnd = at;
  s->audio.audioProgress =
      static_cast<float>(at + 4000) / static_cast<float>(s->audio.audioTotalBytes);
  EXPECT_EQ(s->audio.ReadPushedAudio(), 1);
  EXPECT_EQ(s->audio.audioChunkStart, at);
  ASSERT_GT(s->audio.audioChunkEnd, at);
  const std::uint32_t got = s->audio.audioChunkEnd - at;
  EXPECT_EQ(0, std::memcmp(s->audio.audioChunkData, Ramp(4000, 3).data(), std::min(got, 4000u)));
  delete s;
  std::remove(setup.path.c_str());
  std::filesystem::remove(host.dir().File("Taltemp101wav.tmp"));
}

// Where the video side waits for pushed audio: long in the middle of the
// movie, briefly within 1000 bytes of its end. Here the brief wait is none
// at all, so audio that comes while the video side waits is taken only under
// the long one. Audio that never comes is silence: zero for 16-bit samples.
TEST_F(AudioMovie, PushedAudioIsAwaitedMidMovieAndSilenceWhenItNeverComes) {
  SetAudio(16, 44100, 2);
  MovieSession* s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->audio.BeginAudioCapture(), 0);
  const auto early = Ramp(300000, 1), late = Ramp(50000, 2);
  AudioBlock block{early.data(), 300000};
  std::uint32_t done = 0;
  ASSERT_EQ(s->StoreAudioBlock(&block, &done), 0);
  // The slice from 300000 to 350000 of 400000 ends 50000 bytes before the end.
  s->audio.audioTotalBytes = 400000;
  s->audio.audioChunkEnd = 300000;
  s->audio.audioProgress = 0.875f;
  s->audio.waits = {60000, 0};
  // The rest comes once the video side has looked and found nothing there:
  // it resets the event just before it reads.
  SetEvent(s->audioDataEvent);
  std::thread pusher([&] {
    while (WaitForSingleObject(s->audioDataEvent, 0) == WAIT_OBJECT_0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    AudioBlock rest{late.data(), 50000};
    std::uint32_t pushed = 0;
    EXPECT_EQ(s->StoreAudioBlock(&rest, &pushed), 0);
  });
  EXPECT_EQ(s->audio.ReadPushedAudio(), 1);
  pusher.join();
  EXPECT_EQ(s->audio.audioChunkStart, 300000u);
  EXPECT_EQ(s->audio.audioChunkEnd, 350000u);
  EXPECT_EQ(0, std::memcmp(s->audio.audioChunkData, late.data(), late.size()))
      << "the audio that came, not silence";

  // Nothing more comes: the next slice, to 375000, is silence.
  s->audio.waits = {0, 0};
  s->audio.audioProgress = 0.9375f;
  EXPECT_EQ(s->audio.ReadPushedAudio(), 1);
  ASSERT_EQ(s->audio.audioChunkEnd, 375000u);
  EXPECT_EQ(std::vector<std::uint8_t>(s->audio.audioChunkData, s->audio.audioChunkData + 25000),
            std::vector<std::uint8_t>(25000, 0));
  s->CloseCompression();
  delete s;
  std::remove(setup.path.c_str());
}

TEST_F(AudioMovie, RawStreamIgnoresAudioAndEmptyBlocksFail) {
  SetAudio(16, 44100, 2);
  MovieSession* s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->audio.BeginAudioCapture(), 0);
  AudioBlock empty{nullptr, 0};
  std::uint32_t done = 77;
  EXPECT_EQ(s->StoreAudioBlock(&empty, &done), 1);
  EXPECT_EQ(done, 77u) << "nothing is reported for an empty block";
  s->qrvExport = 1;
  EXPECT_EQ(s->StoreAudioBlock(&empty, &done), 0);
  EXPECT_EQ(done, 0u);
  s->CloseCompression();
  delete s;
}

TEST_F(AudioMovie, WaveFileBesideTheMovieIsMappedAndSliced) {
  NorvHostSetHardware(0);
  SetAudio(16, 44100, 2);
  setup.settings.interleaveFrames = 1;
  setup.SetSpan(0, 1000);
  const std::string wave = host.dir().File("out.wav");
  int status = 0;
  RunCommand(
      "ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 "
      "-ac 2 -c:a pcm_s16le " +
          wave,
      &status);
  ASSERT_EQ(status, 0);
  const auto b = Make(25, {});
  EXPECT_EQ(CheckIndexAgainstChunks(b), "");
  EXPECT_EQ(RunCommand("ffmpeg -v error -i " + setup.path + " -map 0:a -f s16le - | md5sum"),
            RunCommand("ffmpeg -v error -i " + wave + " -f s16le - | md5sum"));
  EXPECT_TRUE(std::filesystem::exists(wave));
  EXPECT_TRUE(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")))
      << "the temporary file stays when the host did not stream the audio";
}

TEST_F(AudioMovie, WaveFileFailuresShowTheirMessages) {
  NorvHostSetHardware(0);
  auto expect = [&](const std::string& first) {
    messages.clear();
    EXPECT_EQ(CreateMovieSession(&setup.request, kShortWaits), nullptr);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{first, "Error reading wave file format!"}));
  };
  const std::string wave = host.dir().File("out.wav");
  expect("Fail to open wave file!");
  WriteFileBytes(wave, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
  expect("Fail to find wave chunk!");
  WriteFileBytes(
      wave, {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a', 0, 0, 0, 0});
  expect("Fail to find wave header chunk!");
  std::vector<std::uint8_t> header = {'R', 'I', 'F', 'F', 24, 0, 0, 0, 'W', 'A', 'V', 'E',
                                      'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   2,   0};
  WriteFileBytes(wave, header);
  expect("Fail to read wave header!");
  header = {'R', 'I', 'F', 'F', 28, 0, 0,    0,    'W', 'A', 'V',  'E',  'f', 'm', 't', ' ', 16, 0,
            0,   0,   1,   0,   2,  0, 0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,   0,   16, 0};
  WriteFileBytes(wave, header);
  expect("Fail to find wave data chunk!");

  // A format whose block is 0 bytes cannot be sliced: refused with the closing message only.
  std::vector<std::uint8_t> wav = {'R', 'I', 'F',  'F',  44, 0, 0, 0, 'W', 'A', 'V', 'E',  'f',
                                   'm', 't', ' ',  16,   0,  0, 0, 1, 0,   2,   0,   0x44, 0xAC,
                                   0,   0,   0x10, 0xB1, 2,  0, 0, 0, 16,  0,   'd', 'a',  't',
                                   'a', 8,   0,    0,    0,  1, 2, 3, 4,   5,   6,   7,    8};
  WriteFileBytes(wave, wav);
  messages.clear();
  EXPECT_EQ(CreateMovieSession(&setup.request, kShortWaits), nullptr);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Error reading wave file format!"});

  // A data chunk that claims more than the file holds is read as far as it goes.
  wav[32] = 4;                                     // block alignment 4 again
  wav[40] = 0x40, wav[41] = 0x42, wav[42] = 0x0F;  // claims 1000000 bytes
  WriteFileBytes(wave, wav);
  messages.clear();
  MovieSession* s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->audio.audioTotalBytes, 8u);
  EXPECT_TRUE(messages.texts().empty());
  delete s;

  // The whole data chunk counts, a part block at its end included.
  wav[40] = 7, wav[41] = 0, wav[42] = 0;
  WriteFileBytes(wave, wav);
  s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->audio.audioTotalBytes, 7u);
  delete s;  // the headers reach the disk
  {
    const auto avi = ReadFileBytes(setup.path);
    // The movie is unfinished: find the second 'strh' by its bytes.
    const std::string text(avi.begin(), avi.end());
    const std::size_t audioHeader = text.find("strh", text.find("strh") + 4);
    ASSERT_NE(audioHeader, std::string::npos);
    EXPECT_EQ(norv::test::Le32(avi, audioHeader + 8 + 32), 1u);  // its length in blocks
  }

  // Another writer's file: an odd 'fmt ' (one extra byte) and an odd chunk
  // before the data, each followed by its pad byte.
  const std::vector<std::uint8_t> other = {
      'R', 'I', 'F', 'F', 58,   0, 0,   0,    'W',  'A', 'V', 'E',  'f',  'm', 't', ' ', 19,
      0,   0,   0,   1,   0,    2, 0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,   0,
      16,  0,   1,   0,   0xEE, 0, 'J', 'U',  'N',  'K', 3,   0,    0,    0,   9,   9,   9,
      0,   'd', 'a', 't', 'a',  6, 0,   0,    0,    1,   2,   3,    4,    5,   6};
  WriteFileBytes(wave, other);
  s = CreateMovieSession(&setup.request, kShortWaits);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->audio.waveDataOffset, other.size() - 6);
  EXPECT_EQ(s->audio.audioTotalBytes, 6u);
  delete s;
}

}  // namespace
