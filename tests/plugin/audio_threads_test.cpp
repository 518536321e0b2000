// Video and audio on two threads at once, as a host may call them: random
// block sizes and pauses, audio ahead of and behind the video. Whatever the
// timing, the file holds every pushed byte once, in order.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "hoststub/norv_host.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

// The audio chunks' bytes in file order.
std::vector<std::uint8_t> AudioInFile(const std::string& path) {
  const auto b = ReadFileBytes(path);
  std::vector<std::uint8_t> out;
  for (const auto& c : WalkAvi(b).chunks)
    if (c.id == "01wb")
      out.insert(out.end(), b.begin() + c.headerOffset + 8,
                 b.begin() + c.headerOffset + 8 + c.size);
  return out;
}

struct Round {
  int bits, rate, channels;
  std::uint32_t interleave;
  int audioDelayMs;  // the audio caller starts this late (the video waits for it)
  int videoDelayMs;  // the video caller starts this late (the audio runs ahead)
};

class AudioThreads : public ::testing::TestWithParam<Round> {};

TEST_P(AudioThreads, EveryPushedByteLandsOnceInOrder) {
  const Round r = GetParam();
  HostScope host;
  NorvHostSetHardware(1);
  MovieSetup setup(host.dir());
  setup.settings.width = 16;
  setup.settings.height = 8;
  setup.settings.interleaveFrames = r.interleave;
  setup.settings.audioFormat[1] = static_cast<std::uint32_t>(r.bits);
  setup.settings.audioFormat[2] = static_cast<std::uint32_t>(r.rate);
  setup.settings.audioFormat[3] = static_cast<std::uint32_t>(r.channels);
  setup.SetSpan(0, 2000);

  MovieSession* session = CreateMovieSession(&setup.request);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->audio.BeginAudioCapture(), 0);
  const std::uint32_t total = session->audio.audioTotalBytes;
  const std::uint32_t frame = static_cast<std::uint32_t>(r.bits / 8 * r.channels);
  // Below 22050 Hz the host delivers four times the samples and the plug-in
  // keeps the first of every four.
  const std::uint32_t factor = r.rate < 22050 ? 4 : 1;
  std::vector<std::uint8_t> pushed(static_cast<std::size_t>(total) * factor);
  std::mt19937 random(static_cast<std::uint32_t>(r.rate + r.interleave + r.audioDelayMs));
  for (auto& b : pushed) b = static_cast<std::uint8_t>(random());

  std::thread audio([&] {
    std::mt19937 rng(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(r.audioDelayMs));
    for (std::size_t at = 0; at < pushed.size();) {
      const std::size_t frames = 1 + rng() % 3000;
      const std::size_t n = std::min<std::size_t>(frames * frame, pushed.size() - at);
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
  session->CloseCompression();
  session->FinishMovie();
  delete session;

  std::vector<std::uint8_t> expected;
  for (std::size_t at = 0; at + frame <= pushed.size();
       at += static_cast<std::size_t>(frame) * factor)
    expected.insert(expected.end(), pushed.begin() + static_cast<std::ptrdiff_t>(at),
                    pushed.begin() + static_cast<std::ptrdiff_t>(at + frame));
  expected.resize(total);
  EXPECT_EQ(norv::test::VerifyMovie(setup.path), "");
  const auto got = AudioInFile(setup.path);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Timings, AudioThreads,
    ::testing::Values(Round{16, 44100, 2, 1, 0, 0}, Round{16, 44100, 2, 1, 60, 0},
                      Round{16, 44100, 2, 1, 0, 60}, Round{8, 22050, 1, 5, 30, 0},
                      Round{16, 11025, 1, 1, 0, 30}, Round{8, 11025, 2, 3, 40, 0}));

}  // namespace
