// Audio: the decimation of pushed blocks, the hand-over between the audio
// and the video caller (also on two threads at once), wave-file audio, and
// where the interleave rule puts the audio chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <tuple>

#include "hoststub/norv_host.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

// Waits for pushed audio short enough that a test need not wait twenty seconds.
constexpr AudioWaitLimits kShortWaits{200, 100};

using namespace norv::test;

std::vector<std::uint8_t> Ramp(std::size_t n, std::uint32_t seed = 0) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return v;
}

class AudioMovie : public MovieTest {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    SetFields(setup.settings, "size 32x16; audio 1 1 16/44100/2");
  }

  // Runs a movie: `audio` pushed first (in blocks of 4000 bytes), then the
  // frames; the sizes of its audio chunks, in file order.
  std::vector<std::uint32_t> Make(std::uint32_t frames, const std::vector<std::uint8_t>& audio) {
    MovieSession* session = CreateMovieSession(&setup.request, kShortWaits);
    EXPECT_NE(session, nullptr);
    if (session == nullptr) return {};
    EXPECT_EQ(session->audio.BeginAudioCapture(), 0);
    for (std::size_t at = 0; at < audio.size(); at += 4000) {
      AudioBlock b{audio.data() + at,
                   static_cast<std::uint32_t>(std::min<std::size_t>(4000, audio.size() - at))};
      std::uint32_t done = 0;
      EXPECT_EQ(session->StoreAudioBlock(&b, &done), 0);
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
      auto f = PatternFrame(setup.settings.width, setup.settings.height, i);
      std::uint32_t done = 0;
      EXPECT_EQ(session->CompressAviFrame(f.data(), &done), 0);
      EXPECT_EQ(done, i + 1);
    }
    return Finish(session);
  }

  // Closes the movie, which must pass norvavi verify; the sizes of its audio
  // chunks, in file order.
  std::vector<std::uint32_t> Finish(MovieSession* session) {
    session->CloseCompression();
    session->FinishMovie();
    delete session;
    EXPECT_EQ(VerifyMovie(setup.path), "");
    const auto b = ReadFileBytes(setup.path);
    std::vector<std::uint32_t> sizes;
    audioInFile.clear();
    for (const auto& c : WalkAvi(b).chunks) {
      if (c.id != "01wb") continue;
      sizes.push_back(c.size);
      audioInFile.insert(audioInFile.end(), b.begin() + c.headerOffset + 8,
                         b.begin() + c.headerOffset + 8 + c.size);
    }
    return sizes;
  }

  std::vector<std::uint8_t> audioInFile;  // the last movie's audio chunks, in order
};

TEST_F(AudioMovie, MissingAudioBecomesSilenceAndPartialAudioShortensTheSlice) {
  SetFields(setup.settings, "audio 1 1 8/22050/1; interleave 2; rate 5");
  // Only 1000 bytes arrive: the first slice (8820) is cut to them, the next
  // ones find nothing new and are silence of their full length. What an
  // earlier export left in the temporary file is gone at capture start.
  WriteFileBytes(host.dir().File("Taltemp101wav.tmp"), std::vector<std::uint8_t>(30000, 0x11));
  const auto pushed = Ramp(1001);
  EXPECT_EQ(Make(5, Ramp(1000)), (std::vector<std::uint32_t>{1000, 16640, 4410}));
  std::vector<std::uint8_t> want(pushed.begin(), pushed.begin() + 1000);
  want.resize(22050, 0x80);  // 8-bit silence
  EXPECT_TRUE(audioInFile == want) << audioInFile.size() << " bytes of audio";
  // A part block that arrived is not taken into a slice.
  SetFields(setup.settings, "audio 1 1 16/22050/1");
  EXPECT_EQ(Make(5, pushed).front(), 1000u);
}

// Where the video side waits for pushed audio: long in the middle of the
// movie, briefly within 1000 bytes of its end. Here the brief wait is none
// at all, so audio that comes while the video side waits is taken only under
// the long one. Audio that never comes is silence: zero for 16-bit samples.
// Pushed audio past 2 GiB still reads back: offsets go to the file unsigned.
TEST_F(AudioMovie, PushedAudioIsAwaitedSilenceWhenItNeverComesAndReadPastTwoGigabytes) {
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

  // A sparse stretch at 2.25 GiB: only the slice that is read holds data.
  const std::uint32_t at = 0x90000000u;
  const auto far = Ramp(4000, 3);
  std::FILE* f = std::fopen(s->audio.tempAudioPath, "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fseeko(f, at, SEEK_SET), 0);
  ASSERT_EQ(std::fwrite(far.data(), 1, far.size(), f), far.size());
  std::fclose(f);
  s->audio.audioTotalBytes = 0xA0000000u;
  s->audio.audioChunkEnd = at;
  s->audio.audioProgress =
      static_cast<float>(at + 4000) / static_cast<float>(s->audio.audioTotalBytes);
  EXPECT_EQ(s->audio.ReadPushedAudio(), 1);
  EXPECT_EQ(s->audio.audioChunkStart, at);
  ASSERT_GT(s->audio.audioChunkEnd, at);
  const std::uint32_t got = std::min(s->audio.audioChunkEnd - at, 4000u);
  EXPECT_EQ(0, std::memcmp(s->audio.audioChunkData, far.data(), got));

  // An empty block fails and reports nothing; the raw stream ignores audio.
  AudioBlock empty{nullptr, 0};
  done = 77;
  EXPECT_EQ(s->StoreAudioBlock(&empty, &done), 1);
  EXPECT_EQ(done, 77u);
  s->qrvExport = 1;
  EXPECT_EQ(s->StoreAudioBlock(&empty, &done), 0);
  EXPECT_EQ(done, 0u);
  s->CloseCompression();
  delete s;
}

TEST_F(AudioMovie, WaveFilesAreReadOrShowTheirFailure) {
  NorvHostSetHardware(0);
  const std::string wave = host.dir().File("out.wav");
  const auto format = WaveFormatData(2, 44100, 16);
  auto cut = RiffBytes("WAVE", {{"fmt ", format}});
  cut.resize(24);
  const auto unsliced =
      RiffBytes("WAVE", {{"fmt ", WaveFormatData(2, 44100, 16, 0)}, {"data", {1, 2, 3, 4}}});
  // Files that are read: a data chunk that claims more than the file holds
  // goes as far as the file; a part block at its end counts; another
  // writer's odd 'fmt ' (one extra byte) and odd chunk before the data are
  // each followed by their pad byte.
  const auto wav = RiffBytes("WAVE", {{"fmt ", format}, {"data", {1, 2, 3, 4, 5, 6, 7, 8}}});
  auto claims = wav, part = wav, odd = format;
  claims[40] = 0x40, claims[41] = 0x42, claims[42] = 0x0F;  // 1000000 bytes
  part[40] = 7;
  odd.insert(odd.end(), {1, 0, 0xEE});
  const auto other =
      RiffBytes("WAVE", {{"fmt ", odd}, {"JUNK", {9, 9, 9}}, {"data", {1, 2, 3, 4, 5, 6}}});
  // A failure shows its own message, then the closing one; a format whose
  // block is 0 bytes cannot be sliced and has the closing message only.
  // Columns: the file (none at all if empty), the messages, and for a file
  // that is read, its audio bytes and where they start.
  const std::string closing = "Error reading wave file format!";
  const std::tuple<std::vector<std::uint8_t>, std::vector<std::string>, std::uint32_t, std::size_t>
      cases[] = {
          {{}, {"Fail to open wave file!", closing}, 0, 0},
          {RiffBytes("AVI ", {}), {"Fail to find wave chunk!", closing}, 0, 0},
          {RiffBytes("WAVE", {{"data", {}}}), {"Fail to find wave header chunk!", closing}, 0, 0},
          {cut, {"Fail to read wave header!", closing}, 0, 0},
          {RiffBytes("WAVE", {{"fmt ", format}}), {"Fail to find wave data chunk!", closing}, 0, 0},
          {unsliced, {closing}, 0, 0},
          {claims, {}, 8, 44},
          {part, {}, 7, 44},
          {other, {}, 6, other.size() - 6},
      };
  for (const auto& [bytes, texts, total, offset] : cases) {
    SCOPED_TRACE(texts.empty() ? std::to_string(total) : texts.front());
    if (!bytes.empty()) WriteFileBytes(wave, bytes);
    messages.clear();
    const std::unique_ptr<MovieSession> s(CreateMovieSession(&setup.request, kShortWaits));
    EXPECT_EQ(messages.texts(), texts);
    EXPECT_EQ(s == nullptr, !texts.empty());
    if (s == nullptr) continue;
    EXPECT_EQ(s->audio.audioTotalBytes, total);
    EXPECT_EQ(s->audio.waveDataOffset, offset);
  }
}

// Video and audio on two threads at once, as a host may call them: random
// block sizes and pauses, audio ahead of and behind the video. Whatever the
// timing, the file holds every pushed byte once, in order.
struct Round {
  int bits, rate, channels;
  std::uint32_t interleave;
  int audioDelayMs;  // the audio caller starts this late (the video waits for it)
  int videoDelayMs;  // the video caller starts this late (the audio runs ahead)
};

class AudioThreads : public AudioMovie, public ::testing::WithParamInterface<Round> {};

TEST_P(AudioThreads, EveryPushedByteLandsOnceInOrder) {
  const Round r = GetParam();
  SetFields(setup.settings, "size 16x8; interleave " + std::to_string(r.interleave) +
                                "; audio 1 1 " + std::to_string(r.bits) + "/" +
                                std::to_string(r.rate) + "/" + std::to_string(r.channels));
  setup.SetSpan(0, 2000);

  MovieSession* session = CreateMovieSession(&setup.request);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->audio.BeginAudioCapture(), 0);
  const std::uint32_t total = session->audio.audioTotalBytes;
  const auto frame = static_cast<std::size_t>(r.bits / 8 * r.channels);
  // Below 22050 Hz the host delivers four times the samples and the plug-in
  // keeps the first of every four.
  const std::size_t factor = r.rate < 22050 ? 4 : 1;
  std::vector<std::uint8_t> pushed(total * factor);
  std::mt19937 random(static_cast<std::uint32_t>(r.rate + r.interleave + r.audioDelayMs));
  for (auto& b : pushed) b = static_cast<std::uint8_t>(random());

  std::thread audio([&] {
    std::mt19937 rng(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(r.audioDelayMs));
    for (std::size_t at = 0; at < pushed.size();) {
      const std::size_t n = std::min<std::size_t>((1 + rng() % 3000) * frame, pushed.size() - at);
      AudioBlock block{pushed.data() + at, static_cast<std::uint32_t>(n)};
      std::uint32_t done = 0;
      EXPECT_EQ(session->StoreAudioBlock(&block, &done), 0);
      at += n;
      if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
    }
  });
  std::mt19937 rng(11);
  std::this_thread::sleep_for(std::chrono::milliseconds(r.videoDelayMs));
  for (std::uint32_t i = 0; i < session->frameCount; ++i) {
    const auto f = PatternFrame(16, 8, i);
    std::uint32_t done = 0;
    EXPECT_EQ(session->CompressAviFrame(f.data(), &done), 0);
    if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
  }
  audio.join();
  Finish(session);

  std::vector<std::uint8_t> expected;
  for (std::size_t at = 0; at + frame <= pushed.size(); at += frame * factor)
    expected.insert(expected.end(), pushed.begin() + static_cast<long>(at),
                    pushed.begin() + static_cast<long>(at + frame));
  expected.resize(total);
  EXPECT_TRUE(audioInFile == expected) << audioInFile.size() << " bytes of " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(
    Timings, AudioThreads,
    ::testing::Values(Round{16, 44100, 2, 1, 0, 0}, Round{16, 44100, 2, 1, 60, 0},
                      Round{16, 44100, 2, 1, 0, 60}, Round{8, 22050, 1, 5, 30, 0},
                      Round{16, 11025, 1, 1, 0, 30}, Round{8, 11025, 2, 3, 40, 0}));

}  // namespace
