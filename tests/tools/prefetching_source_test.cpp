// The read-ahead source: the same pictures as the source it wraps, in the
// same order, rendered on another thread, never more than its depth ahead,
// and a clean way out when the caller leaves the schedule or stops early.
#include "tools/norvavi/sources/prefetching_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace norv::cli {
namespace {

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

TEST(PrefetchingSource, SamePicturesInOrderFromAnotherThreadWithinItsDepth) {
  const FrameSchedule s = Schedule(40);
  Calls calls, *inner = &calls;
  auto recording = std::make_unique<RecordingSource>(inner);
  constexpr std::size_t kDepth = 3;
  auto source = PrefetchFrames(std::move(recording), s, kDepth, ReadAhead::kAlways);
  std::vector<std::uint8_t> got(s.rowBytes * s.height), expected(got.size());
  std::uint32_t mostAhead = 0;
  // Lets the worker run as far ahead of frame i as it may, then a little longer.
  auto runAhead = [&](std::uint32_t i) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (inner->rendered < std::min<std::uint32_t>(i + kDepth, s.frames) &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  for (std::uint32_t i = 0; i < s.frames; ++i) {
    const std::uint32_t t = static_cast<std::uint32_t>(1000 + i * 1000.0 / 29.97f);
    EXPECT_EQ(s.TimeOf(i), t);
    if (i % 7 == 3) runAhead(i);
    mostAhead = std::max(mostAhead, inner->rendered.load() - i);
    RecordingSource::Paint(t, s.width, s.height, s.rowBytes, expected.data());
    // Most frames are lent; the wait above starts from a released slot.
    if (i % 7 == 2 || i % 7 == 3) {
      ASSERT_TRUE(source->Render(t, s.width, s.height, s.rowBytes, got.data()));
      ASSERT_EQ(got, expected) << "frame " << i;
      continue;
    }
    const std::uint8_t* lent = source->Frame(t, s.width, s.height, s.rowBytes, got.data());
    ASSERT_NE(lent, nullptr);
    EXPECT_NE(lent, got.data()) << "copied, not lent";
    if (i % 7 == 5) runAhead(i);  // it fills every other slot meanwhile, and leaves this one
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), lent)) << "frame " << i;
  }
  source.reset();
  ASSERT_EQ(inner->times.size(), s.frames);
  for (std::uint32_t i = 0; i < s.frames; ++i) {
    EXPECT_EQ(inner->times[i], s.TimeOf(i));
    EXPECT_NE(inner->threads[i], std::this_thread::get_id());
  }
  EXPECT_EQ(mostAhead, kDepth);
}

TEST(PrefetchingSource, FailureStopsAtThatFrameAndOffScheduleCallsGoStraightThrough) {
  const FrameSchedule s = Schedule(30);
  std::vector<std::uint8_t> pixels(s.rowBytes * s.height);
  for (const bool lend : {false, true}) {
    Calls calls, *inner = &calls;
    auto failing = std::make_unique<RecordingSource>(inner, s.TimeOf(5));
    auto source = PrefetchFrames(std::move(failing), s, 3, ReadAhead::kAlways);
    auto take = [&](std::uint32_t i) {
      return lend ? source->Frame(s.TimeOf(i), s.width, s.height, s.rowBytes, pixels.data()) !=
                        nullptr
                  : source->Render(s.TimeOf(i), s.width, s.height, s.rowBytes, pixels.data());
    };
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(take(i)) << lend;
    EXPECT_FALSE(take(5)) << lend;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room to go on, were it to
    source.reset();
    EXPECT_EQ(inner->times.size(), 6u) << lend;  // nothing rendered past the failure
  }
  {
    Calls calls, *inner = &calls;
    auto recording = std::make_unique<RecordingSource>(inner);
    auto source = PrefetchFrames(std::move(recording), s, 3, ReadAhead::kAlways);
    ASSERT_NE(source->Frame(s.TimeOf(0), s.width, s.height, s.rowBytes, pixels.data()), nullptr);
    // A time the schedule does not hold: rendered as asked, on this thread,
    // into the caller's buffer.
    ASSERT_EQ(source->Frame(12345, s.width, s.height, s.rowBytes, pixels.data()), pixels.data());
    std::vector<std::uint8_t> expected(pixels.size());
    RecordingSource::Paint(12345, s.width, s.height, s.rowBytes, expected.data());
    EXPECT_EQ(pixels, expected);
    ASSERT_TRUE(source->Render(s.TimeOf(1), s.width, s.height, s.rowBytes, pixels.data()));
    EXPECT_EQ(inner->threads.back(), std::this_thread::get_id());
    EXPECT_EQ(inner->times.back(), s.TimeOf(1));
  }
}

TEST(PrefetchingSource, LeavingEarlyOrNeverAskingEndsTheThread) {
  const FrameSchedule s = Schedule(1000);
  std::vector<std::uint8_t> pixels(s.rowBytes * s.height);
  Calls calls, *inner = &calls;
  auto recording = std::make_unique<RecordingSource>(inner);
  auto source = PrefetchFrames(std::move(recording), s, 2, ReadAhead::kAlways);
  ASSERT_TRUE(source->Render(s.TimeOf(0), s.width, s.height, s.rowBytes, pixels.data()));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  source.reset();  // joins; a worker left waiting would hang here
  EXPECT_LE(inner->times.size(), 3u);

  Calls more;
  EXPECT_NE(PrefetchFrames(std::make_unique<RecordingSource>(&more), s), nullptr);
  EXPECT_EQ(PrefetchFrames(nullptr, s), nullptr);
  // No frames to read ahead: the source answers directly.
  auto empty = PrefetchFrames(std::make_unique<RecordingSource>(&more), Schedule(0));
  EXPECT_TRUE(empty->Render(7, s.width, s.height, s.rowBytes, pixels.data()));
}

}  // namespace
}  // namespace norv::cli
