#include "tools/norvavi/sources/media_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/norvavi/sources/files_opened_ahead.h"

namespace norv::cli {

void DecodeErrors::Add(double ms) {
  const std::lock_guard lock(mutex_);
  times_.push_back(ms);
}

std::size_t DecodeErrors::Count() const {
  const std::lock_guard lock(mutex_);
  return times_.size();
}

std::string DecodeErrors::Describe(std::size_t most) const {
  const std::lock_guard lock(mutex_);
  if (times_.empty()) return "";
  // The picture's and the sound's threads add theirs in turns.
  std::vector<double> times = times_;
  std::sort(times.begin(), times.end());
  std::string text = std::to_string(times.size()) +
                     (times.size() == 1 ? " decode error, at" : " decode errors, at");
  for (std::size_t i = 0; i < times.size() && i < most; ++i) {
    char at[32];
    std::snprintf(at, sizeof at, "%s %.2f s", i == 0 ? "" : ",", times[i] / 1000.0);
    text += at;
  }
  if (times.size() > most) text += ", ...";
  return text;
}

int FindStream(AVFormatContext* format, AVMediaType type, int track) {
  if (track <= 0) return av_find_best_stream(format, type, -1, -1, nullptr, 0);
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (format->streams[i]->codecpar->codec_type == type && --track == 0)
      return static_cast<int>(i);
  return -1;
}

bool OpenMediaFile(const std::string& path, AVFormatContext** format, std::string* error) {
  const int r = avformat_open_input(format, path.c_str(), nullptr, nullptr);
  if (r == AVERROR(ENOENT)) {
    *error = "no such file: " + path;
  } else if (r == AVERROR(EACCES) || r == AVERROR(EPERM)) {
    *error = "cannot read " + path + ": permission denied (check its permissions)";
  } else if (r == AVERROR(EISDIR)) {
    *error = path + " is a folder, not a media file";
  } else if (r < 0 || avformat_find_stream_info(*format, nullptr) < 0) {
    *error = path + " is not a media file norvavi can read (or is damaged at its start)";
  } else {
    return true;
  }
  return false;
}

std::int64_t ClockOriginUs(const AVFormatContext* format) {
  const int video = av_find_best_stream(const_cast<AVFormatContext*>(format), AVMEDIA_TYPE_VIDEO,
                                        -1, -1, nullptr, 0);
  if (video >= 0) {
    const AVStream* s = format->streams[video];
    if (s->start_time != AV_NOPTS_VALUE)
      return av_rescale_q(s->start_time, s->time_base, AVRational{1, AV_TIME_BASE});
  }
  return format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
}

MediaDecoder::~MediaDecoder() {
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
}

bool MediaDecoder::Open(const std::string& path, AVMediaType type, std::string* error, int track,
                        FilesOpenedAhead* ahead) {
  const std::string what = type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
  bool opened = false;
  if (ahead == nullptr || !ahead->Take(path, &format_, &opened, error))
    opened = OpenMediaFile(path, &format_, error);
  if (!opened) return false;
  stream_ = FindStream(format_, type, track);
  const AVCodec* decoder =
      stream_ >= 0 ? avcodec_find_decoder(format_->streams[stream_]->codecpar->codec_id) : nullptr;
  if (stream_ < 0 || decoder == nullptr) {
    *error = path + " has no " + what + " stream that can be decoded";
    return false;
  }
  codec_ = avcodec_alloc_context3(decoder);
  if (codec_ != nullptr && type == AVMEDIA_TYPE_VIDEO) {
    // Decoding is the host's work, ahead of the plug-in: it may use the
    // cores it is given, frame threads included (they delay frames, never
    // change them).
    codec_->thread_count = threads_;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  }
  if (codec_ == nullptr ||
      avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
      avcodec_open2(codec_, decoder, nullptr) < 0) {
    *error = "cannot start the " + what + " decoder for " + path;
    return false;
  }
  originUs_ = ClockOriginUs(format_);
  packet_ = av_packet_alloc();
  if (packet_ == nullptr) {
    *error = "out of memory";
    return false;
  }
  return true;
}

bool MediaDecoder::Seek(double ms) {
  const auto target = originUs_ + static_cast<std::int64_t>(ms * 1000.0);
  if (avformat_seek_file(format_, -1, INT64_MIN, target, target, 0) < 0) return false;
  avcodec_flush_buffers(codec_);
  return true;
}

double MediaDecoder::TimeMs(const AVFrame* frame) const {
  const std::int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) return NAN;
  const AVRational base = format_->streams[stream_]->time_base;
  return static_cast<double>(ts) * 1000.0 * av_q2d(base) - static_cast<double>(originUs_) / 1000.0;
}

double MediaDecoder::PacketMs() const {
  const std::int64_t ts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
  if (ts == AV_NOPTS_VALUE) return NAN;
  return static_cast<double>(ts) * 1000.0 * av_q2d(format_->streams[stream_]->time_base) -
         static_cast<double>(originUs_) / 1000.0;
}

bool MediaDecoder::Next(AVFrame* frame) {
  for (;;) {
    const int r = avcodec_receive_frame(codec_, frame);
    if (r == 0) {
      if (errors_ != nullptr &&
          (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0))
        errors_->Add(TimeMs(frame));
      return true;
    }
    if (r != AVERROR(EAGAIN)) return false;  // the end, or a decoder that gave up
    // The decoder wants input: the next packet of our stream, or the drain.
    for (;;) {
      if (av_read_frame(format_, packet_) < 0) {
        avcodec_send_packet(codec_, nullptr);
        break;
      }
      const bool ours = packet_->stream_index == stream_;
      // The demuxer found it damaged (lost or cut data): a decode error too.
      if (ours && (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0 && errors_ != nullptr)
        errors_->Add(PacketMs());
      if (ours && avcodec_send_packet(codec_, packet_) < 0 && errors_ != nullptr)
        errors_->Add(PacketMs());
      av_packet_unref(packet_);
      if (ours) break;
    }
  }
}

}  // namespace norv::cli
