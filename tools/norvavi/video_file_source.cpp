// Frames of a video file, decoded in order with libavcodec and converted to
// bottom-up BGR at the movie's size with libswscale. A frame is shown from
// its time stamp until the next one; past the end the last frame holds.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

#include "tools/norvavi/video_source.h"

namespace norv::cli {

namespace {

class VideoFileSource final : public VideoSource {
 public:
  ~VideoFileSource() override {
    sws_freeContext(scaler_);
    av_frame_free(&current_);
    av_frame_free(&next_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
  }

  bool Open(const std::string& path, std::string* error) {
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) {
      *error = "cannot open video file " + path;
      return false;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) {
      *error = "cannot read the streams of " + path;
      return false;
    }
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || decoder == nullptr) {
      *error = path + " has no video stream that can be decoded";
      return false;
    }
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr ||
        avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
        avcodec_open2(codec_, decoder, nullptr) < 0) {
      *error = "cannot start the decoder for " + path;
      return false;
    }
    current_ = av_frame_alloc();
    next_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    return current_ != nullptr && next_ != nullptr && packet_ != nullptr;
  }

  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    // Move forward while the next decoded frame is due.
    while (!ended_) {
      if (!havePending_ && !DecodeNext()) break;
      if (haveCurrent_ && pendingMs_ > static_cast<double>(timeMs)) break;
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
    for (;;) {
      int r = avcodec_receive_frame(codec_, next_);
      if (r == 0) {
        const AVRational base = format_->streams[stream_]->time_base;
        const std::int64_t ts =
            next_->best_effort_timestamp != AV_NOPTS_VALUE ? next_->best_effort_timestamp : 0;
        const std::int64_t start = format_->streams[stream_]->start_time != AV_NOPTS_VALUE
                                       ? format_->streams[stream_]->start_time
                                       : 0;
        pendingMs_ = static_cast<double>(ts - start) * 1000.0 * av_q2d(base);
        havePending_ = true;
        return true;
      }
      if (r == AVERROR_EOF) {
        ended_ = true;
        return false;
      }
      if (r != AVERROR(EAGAIN)) {
        ended_ = true;
        return false;
      }
      // The decoder wants input.
      for (;;) {
        r = av_read_frame(format_, packet_);
        if (r < 0) {
          avcodec_send_packet(codec_, nullptr);  // drain
          break;
        }
        const bool ours = packet_->stream_index == stream_;
        if (ours) avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        if (ours) break;
      }
    }
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVFrame* current_ = nullptr;
  AVFrame* next_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
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
