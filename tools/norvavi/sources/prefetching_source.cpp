#include "tools/norvavi/sources/prefetching_source.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/memory/zeroed_pages.h"

namespace norv::cli {

namespace {

class PrefetchingSource final : public VideoSource {
 public:
  PrefetchingSource(std::unique_ptr<VideoSource> inner, const FrameSchedule& schedule,
                    std::size_t depth, ReadAhead when)
      : inner_(std::move(inner)),
        schedule_(schedule),
        depth_(depth == 0 ? 1 : depth),
        when_(when) {}

  ~PrefetchingSource() override { StopWorker(); }

  // Allocates the ring and starts the worker; false leaves the source to
  // render directly.
  bool Start() {
    if (schedule_.frames == 0 || schedule_.width <= 0 || schedule_.height <= 0) return false;
    const std::size_t bytes =
        static_cast<std::size_t>(schedule_.rowBytes) * static_cast<std::size_t>(schedule_.height);
    try {
      ring_.resize(depth_);
      for (Slot& slot : ring_) {
        // Fresh pages cost nothing until the worker writes them.
        slot.pixels = platform::MakeZeroedPages(bytes);
        if (slot.pixels == nullptr) throw std::bad_alloc();
      }
      bytes_ = bytes;
      worker_ = std::thread([this] { Work(); });
    } catch (const std::bad_alloc&) {
      ring_.clear();
      return false;
    } catch (const std::system_error&) {
      ring_.clear();
      return false;
    }
    return true;
  }

  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    if (const Slot* slot = Take(timeMs, width, height, rowBytes)) {
      std::memcpy(pixels, slot->pixels.get(), bytes_);
      const bool ok = slot->ok;
      Release();
      return ok;
    }
    return inner_->Render(timeMs, width, height, rowBytes, pixels);
  }

  const std::uint8_t* Frame(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
                            std::uint8_t* scratch) override {
    if (const Slot* slot = Take(timeMs, width, height, rowBytes)) {
      if (slot->ok) {
        lent_ = true;  // released at the next call
        return slot->pixels.get();
      }
      Release();
      return nullptr;
    }
    return inner_->Render(timeMs, width, height, rowBytes, scratch) ? scratch : nullptr;
  }

 private:
  struct Slot {
    platform::ZeroedPages pixels;
    bool ok = false;
  };

  // The slot holding the picture at `timeMs`, which the worker leaves alone
  // until Release(); null when the caller must render it itself: off the
  // schedule, past a frame the source could not render, or where reading
  // ahead stopped paying (the worker is stopped for good then).
  const Slot* Take(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes) {
    if (lent_) {
      lent_ = false;
      Release();
    }
    if (worker_.joinable() && Scheduled(timeMs, width, height, rowBytes)) {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return produced_ > consumed_ || workerDone_; });
      if (produced_ > consumed_) return &ring_[consumed_ % depth_];
    }
    StopWorker();
    return nullptr;
  }

  void Release() {
    {
      std::lock_guard lock(mutex_);
      ++consumed_;
    }
    free_.notify_one();
  }

  bool Scheduled(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes) {
    std::lock_guard lock(mutex_);
    return consumed_ < schedule_.frames && timeMs == schedule_.TimeOf(consumed_) &&
           width == schedule_.width && height == schedule_.height && rowBytes == schedule_.rowBytes;
  }

  // How long one copy of a frame takes here, from slot to slot: the best of
  // three, as a copy that the scheduler interrupts says nothing.
  std::chrono::steady_clock::duration CopyTime() {
    std::chrono::steady_clock::duration best = std::chrono::hours(1);
    for (int k = 0; k < 3 && ring_.size() >= 2; ++k) {
      const auto start = std::chrono::steady_clock::now();
      std::memcpy(ring_[1].pixels.get(), ring_[0].pixels.get(), bytes_);
      best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    return ring_.size() >= 2 ? best : std::chrono::steady_clock::duration{};
  }

  void Work() {
    // The first frames are timed against copies: a source whose typical
    // (median) frame renders faster than a few copies is left to the
    // caller after them.
    constexpr std::size_t kTimedFrames = 8;
    constexpr int kCopiesWorthIt = 6;
    const auto copy =
        when_ == ReadAhead::kWhenWorthIt ? CopyTime() : std::chrono::steady_clock::duration{};
    std::array<std::chrono::steady_clock::duration, kTimedFrames> times{};
    for (std::uint32_t i = 0; i < schedule_.frames; ++i) {
      if (when_ == ReadAhead::kWhenWorthIt && i == kTimedFrames) {
        std::nth_element(times.begin(), times.begin() + kTimedFrames / 2, times.end());
        if (times[kTimedFrames / 2] < kCopiesWorthIt * copy) break;
      }
      {
        std::unique_lock lock(mutex_);
        free_.wait(lock, [&] { return stop_ || i - consumed_ < depth_; });
        if (stop_) break;
      }
      Slot& slot = ring_[i % depth_];
      const auto start = std::chrono::steady_clock::now();
      try {
        slot.ok = inner_->Render(schedule_.TimeOf(i), schedule_.width, schedule_.height,
                                 schedule_.rowBytes, slot.pixels.get());
      } catch (...) {  // nothing may leave this thread
        slot.ok = false;
      }
      if (i < kTimedFrames) times[i] = std::chrono::steady_clock::now() - start;
      {
        std::lock_guard lock(mutex_);
        produced_ = i + 1;
      }
      ready_.notify_one();
      if (!slot.ok) break;  // the caller stops at a failed frame
    }
    {
      std::lock_guard lock(mutex_);
      workerDone_ = true;
    }
    ready_.notify_one();
  }

  void StopWorker() {
    if (!worker_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    free_.notify_one();
    worker_.join();
    ring_.clear();
    ring_.shrink_to_fit();
  }

  std::unique_ptr<VideoSource> inner_;
  const FrameSchedule schedule_;
  const std::size_t depth_;
  const ReadAhead when_;
  std::vector<Slot> ring_;
  std::size_t bytes_ = 0;  // of each slot's picture
  std::mutex mutex_;
  std::condition_variable ready_;  // a frame was produced, or the worker ended
  std::condition_variable free_;   // a slot was released, or the worker must stop
  std::uint32_t produced_ = 0;     // frames the worker has finished
  std::uint32_t consumed_ = 0;     // frames handed to the caller
  bool stop_ = false;
  bool workerDone_ = false;
  bool lent_ = false;  // the caller still reads the slot at consumed_
  std::thread worker_;
};

}  // namespace

std::unique_ptr<VideoSource> PrefetchFrames(std::unique_ptr<VideoSource> source,
                                            const FrameSchedule& schedule, std::size_t depth,
                                            ReadAhead when) {
  if (source == nullptr) return nullptr;
  auto prefetching = std::make_unique<PrefetchingSource>(std::move(source), schedule, depth, when);
  prefetching->Start();  // without a worker it renders directly
  return prefetching;
}

}  // namespace norv::cli
