// What the command-line host renders: a built-in animated test pattern, or
// the frames of any video file libavformat reads, scaled to the movie's size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace norv::cli {

class VideoSource {
 public:
  virtual ~VideoSource() = default;
  // Renders the picture at `timeMs` as bottom-up BGR rows of `rowBytes` bytes
  // (padding bytes zero) at width x height.
  virtual bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
                      std::uint8_t* pixels) = 0;
  // The same picture, for a caller that only reads it: where it lies, valid
  // until the next call to this source. A source holding it ready lends its
  // own buffer (no copy); else it is rendered into `scratch`. Null when it
  // cannot be rendered.
  virtual const std::uint8_t* Frame(std::uint32_t timeMs, int width, int height,
                                    std::uint32_t rowBytes, std::uint8_t* scratch) {
    return Render(timeMs, width, height, rowBytes, scratch) ? scratch : nullptr;
  }
};

// The frames the host will ask for, in order: frame i at TimeOf(i), all of
// one size.
struct FrameSchedule {
  std::uint32_t startMs = 0;
  float rate = 25.0f;  // host frames per second
  std::uint32_t frames = 0;
  int width = 0;
  int height = 0;
  std::uint32_t rowBytes = 0;

  // The host's frame time: the start plus i frame periods, truncated to
  // whole milliseconds.
  std::uint32_t TimeOf(std::uint32_t i) const {
    return static_cast<std::uint32_t>(startMs + static_cast<double>(i) * 1000.0 / rate);
  }
};

std::unique_ptr<VideoSource> MakePatternSource();
class DecodeErrors;
class FilesOpenedAhead;
// Null with `error` set when the file cannot be opened or has no video;
// decode errors are counted in `errors` when given. The file opened ahead
// in `ahead`, when there is one, is taken. The decoder runs `threads`
// threads (0: as many as libavcodec finds worth it).
std::unique_ptr<VideoSource> OpenVideoFile(const std::string& path, std::string* error,
                                           DecodeErrors* errors = nullptr,
                                           FilesOpenedAhead* ahead = nullptr, int threads = 0);

}  // namespace norv::cli
