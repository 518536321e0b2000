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

std::unique_ptr<VideoSource> MakePatternSource();
// Null with `error` set when the file cannot be opened or has no video.
std::unique_ptr<VideoSource> OpenVideoFile(const std::string& path, std::string* error);

}  // namespace norv::cli
