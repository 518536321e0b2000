#include "tools/norvavi/sources/media_decoder.h"

#include <cmath>

namespace norv::cli {

MediaDecoder::~MediaDecoder() {
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
}

bool MediaDecoder::Open(const std::string& path, AVMediaType type, std::string* error) {
  const std::string what = type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
  if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(format_, nullptr) < 0) {
    *error = "cannot open " + what + " file " + path;
    return false;
  }
  const AVCodec* decoder = nullptr;
  stream_ = av_find_best_stream(format_, type, -1, -1, &decoder, 0);
  if (stream_ < 0 || decoder == nullptr) {
    *error = path + " has no " + what + " stream that can be decoded";
    return false;
  }
  codec_ = avcodec_alloc_context3(decoder);
  if (codec_ != nullptr && type == AVMEDIA_TYPE_VIDEO) {
    // Decoding is the host's work, ahead of the plug-in: it may use every
    // core, frame threads included (they delay frames, never change them).
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  }
  if (codec_ == nullptr ||
      avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
      avcodec_open2(codec_, decoder, nullptr) < 0) {
    *error = "cannot start the " + what + " decoder for " + path;
    return false;
  }
  if (format_->start_time != AV_NOPTS_VALUE) originUs_ = format_->start_time;
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

bool MediaDecoder::Next(AVFrame* frame) {
  for (;;) {
    const int r = avcodec_receive_frame(codec_, frame);
    if (r == 0) return true;
    if (r != AVERROR(EAGAIN)) return false;  // the end, or a decoder that gave up
    // The decoder wants input: the next packet of our stream, or the drain.
    for (;;) {
      if (av_read_frame(format_, packet_) < 0) {
        avcodec_send_packet(codec_, nullptr);
        break;
      }
      const bool ours = packet_->stream_index == stream_;
      if (ours) avcodec_send_packet(codec_, packet_);
      av_packet_unref(packet_);
      if (ours) break;
    }
  }
}

}  // namespace norv::cli
