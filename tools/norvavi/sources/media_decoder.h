// One stream of a media file, decoded in order with libavformat and
// libavcodec: what the video and the audio file sources both stand on.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace norv::cli {

class FilesOpenedAhead;

// Where a file's movie time 0 lies, in AV_TIME_BASE units: its video
// stream's first time stamp, so that the first frame shows at 0 however
// late the muxer started the picture (MPEG-TS, WebM); a file without video
// starts at its own first time stamp. Every stream of the file is read on
// this clock, so the sound keeps its place against the picture.
std::int64_t ClockOriginUs(const AVFormatContext* format);

// The stream of `type` a file is read from: the `track`th of that type
// (from 1), or with 0 the one players pick; -1 when there is none.
int FindStream(AVFormatContext* format, AVMediaType type, int track);

// Opens `path` and reads its streams' parameters; false with `error` saying
// whether it is missing, not readable for the user, or not a media file.
bool OpenMediaFile(const std::string& path, AVFormatContext** format, std::string* error);

// The decode errors met in a file, with when (on the file's clock) they
// happened; shared by the threads that read its picture and its sound.
class DecodeErrors {
 public:
  void Add(double ms);
  std::size_t Count() const;
  // "2 decode errors, at 1.20 s, 3.04 s" (the first `most` times); "" for none.
  std::string Describe(std::size_t most = 8) const;

 private:
  mutable std::mutex mutex_;
  std::vector<double> times_;
};

class MediaDecoder {
 public:
  MediaDecoder() = default;
  ~MediaDecoder();
  MediaDecoder(const MediaDecoder&) = delete;
  MediaDecoder& operator=(const MediaDecoder&) = delete;

  // Opens the stream of `type` FindStream picks, from the file opened ahead
  // when there is one; false with `error` set.
  bool Open(const std::string& path, AVMediaType type, std::string* error, int track = 0,
            FilesOpenedAhead* ahead = nullptr);
  // The next decoded frame into `frame`: false once the stream has ended
  // (or cannot be decoded further).
  bool Next(AVFrame* frame);

  // Moves to the last key frame at or before `ms` (on the file's clock,
  // below); false when the file cannot seek, and the decoder then goes on
  // where it was.
  bool Seek(double ms);
  // When a decoded frame starts, in milliseconds on the file's clock
  // (ClockOriginUs); NaN when the frame has none.
  double TimeMs(const AVFrame* frame) const;

  // The threads a video decoder opened after this runs: 0 (the default) for
  // as many as libavcodec finds worth it.
  void UseThreads(int threads) { threads_ = threads; }
  // Where decode errors are counted from now on; null: nowhere.
  void CountErrorsIn(DecodeErrors* errors) { errors_ = errors; }

  AVCodecContext* codec() const { return codec_; }
  AVStream* stream() const { return format_->streams[stream_]; }

 private:
  double PacketMs() const;  // the packet in hand's time, as TimeMs

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  int stream_ = -1;
  DecodeErrors* errors_ = nullptr;
  std::int64_t originUs_ = 0;  // the file's movie time 0, in microseconds
  int threads_ = 0;
};

}  // namespace norv::cli
