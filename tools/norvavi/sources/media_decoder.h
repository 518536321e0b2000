// One stream of a media file, decoded in order with libavformat and
// libavcodec: what the video and the audio file sources both stand on.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace norv::cli {

class MediaDecoder {
 public:
  MediaDecoder() = default;
  ~MediaDecoder();
  MediaDecoder(const MediaDecoder&) = delete;
  MediaDecoder& operator=(const MediaDecoder&) = delete;

  // Opens the best stream of `type` in the file; false with `error` set.
  bool Open(const std::string& path, AVMediaType type, std::string* error);
  // The next decoded frame into `frame`: false once the stream has ended
  // (or cannot be decoded further).
  bool Next(AVFrame* frame);

  // Moves to the last key frame at or before `ms` (on the file's clock,
  // below); false when the file cannot seek, and the decoder then goes on
  // where it was.
  bool Seek(double ms);
  // When a decoded frame starts, in milliseconds from the file's first time
  // stamp (the clock all its streams share); NaN when the frame has none.
  double TimeMs(const AVFrame* frame) const;

  AVCodecContext* codec() const { return codec_; }
  AVStream* stream() const { return format_->streams[stream_]; }

 private:
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  int stream_ = -1;
  std::int64_t originUs_ = 0;  // the file's start, in microseconds
};

}  // namespace norv::cli
