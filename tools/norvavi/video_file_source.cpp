// Frames of a video file, decoded in order with libavcodec and converted to
// bottom-up BGR at the movie's size with libswscale. A frame is shown from
// its time stamp until the next one; past the end the last frame holds.
extern "C" {
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

#include "tools/norvavi/media_decoder.h"
#include "tools/norvavi/video_source.h"

namespace norv::cli {

namespace {

class VideoFileSource final : public VideoSource {
 public:
  ~VideoFileSource() override {
    sws_freeContext(scaler_);
    av_frame_free(&current_);
    av_frame_free(&next_);
  }

  bool Open(const std::string& path, std::string* error) {
    if (!decoder_.Open(path, AVMEDIA_TYPE_VIDEO, error)) return false;
    current_ = av_frame_alloc();
    next_ = av_frame_alloc();
    return current_ != nullptr && next_ != nullptr;
  }

  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    // Move forward while the next decoded frame is due. Host times are whole
    // milliseconds, truncated: a frame due within that millisecond is due
    // (at 29.97 frames per second the second frame falls at 33.37 ms and is
    // asked for at 33).
    while (!ended_) {
      if (!havePending_ && !DecodeNext()) break;
      if (haveCurrent_ && pendingMs_ >= static_cast<double>(timeMs) + 1.0) break;
      std::swap(current_, next_);
      haveCurrent_ = true;
      havePending_ = false;
    }
    if (!haveCurrent_) {
      std::memset(pixels, 0, static_cast<std::size_t>(rowBytes) * height);
      return true;
    }
    scaler_ = sws_getCachedContext(scaler_, current_->width, current_->height,
                                   static_cast<AVPixelFormat>(current_->format), width, height,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return false;
    // Writing the last row first with a negative stride gives bottom-up rows.
    std::uint8_t* dst[4] = {pixels + static_cast<std::size_t>(height - 1) * rowBytes};
    int dstStride[4] = {-static_cast<int>(rowBytes)};
    sws_scale(scaler_, current_->data, current_->linesize, 0, current_->height, dst, dstStride);
    for (int y = 0; y < height; ++y)
      std::memset(pixels + static_cast<std::size_t>(y) * rowBytes + 3 * width, 0,
                  rowBytes - 3 * static_cast<std::uint32_t>(width));
    return true;
  }

 private:
  bool DecodeNext() {
    if (!decoder_.Next(next_)) {
      ended_ = true;
      return false;
    }
    const AVStream* stream = decoder_.stream();
    const std::int64_t ts =
        next_->best_effort_timestamp != AV_NOPTS_VALUE ? next_->best_effort_timestamp : 0;
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    pendingMs_ = static_cast<double>(ts - start) * 1000.0 * av_q2d(stream->time_base);
    havePending_ = true;
    return true;
  }

  MediaDecoder decoder_;
  AVFrame* current_ = nullptr;
  AVFrame* next_ = nullptr;
  SwsContext* scaler_ = nullptr;
  bool haveCurrent_ = false;
  bool havePending_ = false;
  bool ended_ = false;
  double pendingMs_ = 0;
};

}  // namespace

std::unique_ptr<VideoSource> OpenVideoFile(const std::string& path, std::string* error) {
  auto source = std::make_unique<VideoFileSource>();
  if (!source->Open(path, error)) return nullptr;
  return source;
}

}  // namespace norv::cli
