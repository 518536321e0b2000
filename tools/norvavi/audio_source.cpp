extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/norvavi/audio_source.h"

namespace norv::cli {

namespace {

// 440 Hz on the left, 660 Hz on the right, with a short click every second
// so that audio drift against the picture can be heard and measured.
class ToneSource final : public AudioSource {
 public:
  explicit ToneSource(const PcmFormat& f) : format_(f) {}
  void Read(std::uint8_t* out, std::size_t bytes) override {
    const std::size_t frames = bytes / static_cast<std::size_t>(format_.BlockAlign());
    for (std::size_t i = 0; i < frames; ++i, ++sample_) {
      const double t = static_cast<double>(sample_) / format_.sampleRate;
      const bool click = (sample_ % static_cast<std::uint64_t>(format_.sampleRate)) < 64;
      for (int c = 0; c < format_.channels; ++c) {
        const double hz = c == 0 ? 440.0 : 660.0;
        double v = click ? 0.9 : 0.3 * std::sin(2.0 * M_PI * hz * t);
        if (format_.bitsPerSample == 8) {
          *out++ = static_cast<std::uint8_t>(128 + std::lround(v * 127));
        } else {
          auto s = static_cast<std::int16_t>(std::lround(v * 32767));
          *out++ = static_cast<std::uint8_t>(s & 0xFF);
          *out++ = static_cast<std::uint8_t>((s >> 8) & 0xFF);
        }
      }
    }
  }

 private:
  PcmFormat format_;
  std::uint64_t sample_ = 0;
};

class FileAudioSource final : public AudioSource {
 public:
  ~FileAudioSource() override {
    swr_free(&resampler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
  }

  bool Open(const std::string& path, const PcmFormat& out, std::string* error) {
    out_ = out;
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0) {
      *error = "cannot open audio file " + path;
      return false;
    }
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream_ < 0 || decoder == nullptr) {
      *error = path + " has no audio stream that can be decoded";
      return false;
    }
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr ||
        avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
        avcodec_open2(codec_, decoder, nullptr) < 0) {
      *error = "cannot start the audio decoder for " + path;
      return false;
    }
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, out.channels);
    AVChannelLayout inLayout = codec_->ch_layout;
    if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&inLayout, codec_->ch_layout.nb_channels);
    if (swr_alloc_set_opts2(
            &resampler_, &outLayout, out.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
            out.sampleRate, &inLayout, codec_->sample_fmt, codec_->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler_) < 0) {
      *error = "cannot convert the audio of " + path;
      return false;
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    return frame_ != nullptr && packet_ != nullptr;
  }

  void Read(std::uint8_t* out, std::size_t bytes) override {
    while (pending_.size() < bytes && !ended_) Decode();
    const std::size_t n = std::min(bytes, pending_.size());
    std::memcpy(out, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    std::memset(out + n, out_.bitsPerSample == 8 ? 0x80 : 0, bytes - n);
  }

 private:
  void Convert(const AVFrame* in) {
    const int maxOut = swr_get_out_samples(resampler_, in != nullptr ? in->nb_samples : 0);
    if (maxOut <= 0) return;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(maxOut) * out_.BlockAlign());
    std::uint8_t* planes[1] = {buffer.data()};
    const int got =
        swr_convert(resampler_, planes, maxOut,
                    in != nullptr ? const_cast<const std::uint8_t**>(in->extended_data) : nullptr,
                    in != nullptr ? in->nb_samples : 0);
    if (got > 0)
      pending_.insert(pending_.end(), buffer.begin(),
                      buffer.begin() + static_cast<std::ptrdiff_t>(got) * out_.BlockAlign());
  }

  void Decode() {
    int r = avcodec_receive_frame(codec_, frame_);
    if (r == 0) {
      Convert(frame_);
      return;
    }
    if (r != AVERROR(EAGAIN)) {
      Convert(nullptr);  // what the resampler still holds
      ended_ = true;
      return;
    }
    for (;;) {
      if (av_read_frame(format_, packet_) < 0) {
        avcodec_send_packet(codec_, nullptr);
        return;
      }
      const bool ours = packet_->stream_index == stream_;
      if (ours) avcodec_send_packet(codec_, packet_);
      av_packet_unref(packet_);
      if (ours) return;
    }
  }

  PcmFormat out_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int stream_ = -1;
  bool ended_ = false;
  std::vector<std::uint8_t> pending_;
};

void PutLe(std::FILE* f, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

}  // namespace

std::unique_ptr<AudioSource> MakeToneSource(const PcmFormat& format) {
  return std::make_unique<ToneSource>(format);
}

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, const PcmFormat& format,
                                           std::string* error) {
  auto source = std::make_unique<FileAudioSource>();
  if (!source->Open(path, format, error)) return nullptr;
  return source;
}

bool ProbeAudioFile(const std::string& path, PcmFormat* format, std::string* error) {
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(ctx, nullptr) < 0) {
    avformat_close_input(&ctx);
    *error = "cannot open audio file " + path;
    return false;
  }
  int s = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (s < 0) {
    avformat_close_input(&ctx);
    *error = path + " has no audio stream";
    return false;
  }
  const AVCodecParameters* p = ctx->streams[s]->codecpar;
  format->sampleRate = p->sample_rate;
  format->channels = p->ch_layout.nb_channels >= 2 ? 2 : 1;
  format->bitsPerSample = p->format == AV_SAMPLE_FMT_U8 ? 8 : 16;
  avformat_close_input(&ctx);
  return true;
}

bool WriteWaveFile(const std::string& path, const PcmFormat& format, AudioSource& source,
                   std::uint64_t bytes, std::string* error) {
  if (bytes > 0xFFFFFFFFull - 36) {
    *error = "the audio is too long for a wave file";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path;
    return false;
  }
  std::fwrite("RIFF", 1, 4, f);
  PutLe(f, static_cast<std::uint32_t>(36 + bytes), 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  PutLe(f, 16, 4);
  PutLe(f, 1, 2);
  PutLe(f, static_cast<std::uint32_t>(format.channels), 2);
  PutLe(f, static_cast<std::uint32_t>(format.sampleRate), 4);
  PutLe(f, static_cast<std::uint32_t>(format.sampleRate * format.BlockAlign()), 4);
  PutLe(f, static_cast<std::uint32_t>(format.BlockAlign()), 2);
  PutLe(f, static_cast<std::uint32_t>(format.bitsPerSample), 2);
  std::fwrite("data", 1, 4, f);
  PutLe(f, static_cast<std::uint32_t>(bytes), 4);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(format.BlockAlign()) * 4096);
  std::uint64_t left = bytes;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    source.Read(block.data(), n);
    std::fwrite(block.data(), 1, n, f);
    left -= n;
  }
  if (bytes & 1) std::fputc(0, f);
  const bool ok = std::fclose(f) == 0;
  if (!ok) *error = "cannot write " + path;
  return ok;
}

}  // namespace norv::cli
