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
#include "tools/norvavi/media_decoder.h"

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
  }

  bool Open(const std::string& path, const PcmFormat& out, std::string* error) {
    out_ = out;
    if (!decoder_.Open(path, AVMEDIA_TYPE_AUDIO, error)) return false;
    const AVCodecContext* codec = decoder_.codec();
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, out.channels);
    AVChannelLayout inLayout = codec->ch_layout;
    if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&inLayout, codec->ch_layout.nb_channels);
    if (swr_alloc_set_opts2(
            &resampler_, &outLayout, out.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
            out.sampleRate, &inLayout, codec->sample_fmt, codec->sample_rate, 0, nullptr) < 0 ||
        swr_init(resampler_) < 0) {
      *error = "cannot convert the audio of " + path;
      return false;
    }
    frame_ = av_frame_alloc();
    return frame_ != nullptr;
  }

  void Read(std::uint8_t* out, std::size_t bytes) override {
    while (pending_.size() < bytes && !ended_) {
      if (decoder_.Next(frame_)) {
        Convert(frame_);
      } else {
        Convert(nullptr);  // what the resampler still holds
        ended_ = true;
      }
    }
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

  PcmFormat out_;
  MediaDecoder decoder_;
  SwrContext* resampler_ = nullptr;
  AVFrame* frame_ = nullptr;
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
