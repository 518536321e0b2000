// Movies through the session's core with OpenDML on and the form boundary
// lowered, so that a movie of a few megabytes runs through several forms.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "hoststub/norv_host.h"
#include "platform/files/files.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"

namespace norv::test {

class OpenDmlTest : public MovieTest {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    WriteProfileInt("NorvAvi", "OpenDML", 1, 0);
  }
  void TearDown() override { NorvSetDiskBudget(-1); }

  // One export: all its audio pushed (kept in `audio`), then `afterAudio`,
  // then `frames` pictures (PatternFrame(i)); finished, or deleted unfinished
  // as a crash leaves it (the buffer reaches the disk). Each picture's result.
  std::vector<int> Export(
      std::uint32_t frames, bool finish = true, const std::function<void()>& afterAudio = [] {}) {
    std::vector<int> results;
    MovieSession* s = CreateMovieSession(&setup.request, SessionLimits{{}, formBytes});
    EXPECT_NE(s, nullptr);
    if (s == nullptr) return results;
    audio.clear();
    std::uint32_t done = 0;
    if (s->streamCount == 2) {
      EXPECT_EQ(s->audio.BeginAudioCapture(), 0);
      audio.resize(s->audio.audioTotalBytes);
      for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
      for (std::size_t at = 0; at < audio.size(); at += 8192) {
        AudioBlock block{audio.data() + at, static_cast<std::uint32_t>(
                                                std::min<std::size_t>(8192, audio.size() - at))};
        EXPECT_EQ(s->StoreAudioBlock(&block, &done), 0);
      }
    }
    afterAudio();
    for (std::uint32_t i = 0; i < frames; ++i) {
      const auto f = PatternFrame(setup.settings.width, setup.settings.height, i);
      results.push_back(s->CompressAviFrame(f.data(), &done));
    }
    s->CloseCompression();
    if (finish) s->FinishMovie();
    delete s;
    return results;
  }

  std::uint64_t formBytes = 256 * 1024;  // 'AVIX' forms within a few frames
  std::vector<std::uint8_t> audio;       // the last export's
};

}  // namespace norv::test
