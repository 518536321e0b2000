extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/norvavi/audio_source.h"
#include "tools/norvavi/media_decoder.h"

namespace norv::cli {

namespace {

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

}  // namespace

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, const PcmFormat& format,
                                           std::string* error) {
  auto source = std::make_unique<FileAudioSource>();
  if (!source->Open(path, format, error)) return nullptr;
  return source;
}

}  // namespace norv::cli
