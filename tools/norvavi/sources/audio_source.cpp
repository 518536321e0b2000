extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/media_decoder.h"

namespace norv::cli {

namespace {

class FileAudioSource final : public AudioSource {
 public:
  ~FileAudioSource() override {
    swr_free(&resampler_);
    av_frame_free(&frame_);
  }

  bool Open(const std::string& path, const PcmFormat& out, std::uint32_t startMs,
            std::string* error, DecodeErrors* errors, int track, FilesOpenedAhead* ahead) {
    out_ = out;
    if (!decoder_.Open(path, AVMEDIA_TYPE_AUDIO, error, track, ahead)) return false;
    decoder_.CountErrorsIn(errors);
    const AVCodecContext* codec = decoder_.codec();
    if (codec->sample_rate <= 0 || codec->ch_layout.nb_channels <= 0) {
      *error = path + " gives no sample rate or channel count";
      return false;
    }
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
    if (frame_ == nullptr) return false;
    inRate_ = codec->sample_rate;
    next_ = static_cast<std::int64_t>(startMs) * inRate_ / 1000;
    // Far into a file, a seek beats decoding all that comes before; the
    // time stamps then say where the decoder landed.
    if (startMs > kSeekAfterMs) decoder_.Seek(static_cast<double>(startMs) - kSeekAfterMs);
    return true;
  }

  void Read(std::uint8_t* out, std::size_t bytes) override {
    while (pending_.size() < bytes && !ended_) {
      if (decoder_.Next(frame_)) {
        Place(frame_);
      } else {
        Convert(nullptr, 0, 0);  // what the resampler still holds
        ended_ = true;
      }
    }
    const std::size_t n = std::min(bytes, pending_.size());
    std::memcpy(out, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    std::memset(out + n, out_.bitsPerSample == 8 ? 0x80 : 0, bytes - n);
  }

 private:
  // Seeks land this much before the start, so the key frame is not missed.
  static constexpr std::uint32_t kSeekAfterMs = 1000;

  // Puts the frame where its time stamp says, counted in input samples from
  // the file's start: the first frame exactly (the span's start may fall
  // inside it or after it), later ones only where the stream jumps by more
  // than a fiftieth of a second, so rounded time stamps cause no clicks.
  void Place(const AVFrame* frame) {
    const double ms = decoder_.TimeMs(frame);
    const std::int64_t at =
        std::isnan(ms) ? next_ : static_cast<std::int64_t>(std::llround(ms * inRate_ / 1000.0));
    const std::int64_t gap = at - next_;
    int skip = 0;
    if (!started_ || std::llabs(gap) > inRate_ / 50) {
      if (gap > 0) FeedSilence(gap);
      if (gap < 0) skip = static_cast<int>(std::min<std::int64_t>(-gap, frame->nb_samples));
    }
    if (skip == frame->nb_samples) return;  // wholly before what is wanted
    Convert(frame, skip, frame->nb_samples - skip);
    started_ = true;
  }

  void FeedSilence(std::int64_t samples) {
    const AVCodecContext* codec = decoder_.codec();
    const int channels = codec->ch_layout.nb_channels;
    const int chunk = 4096;
    std::uint8_t** silence = nullptr;
    if (av_samples_alloc_array_and_samples(&silence, nullptr, channels, chunk, codec->sample_fmt,
                                           0) < 0)
      return;
    av_samples_set_silence(silence, 0, chunk, channels, codec->sample_fmt);
    for (std::int64_t left = samples; left > 0; left -= chunk) {
      const int n = static_cast<int>(std::min<std::int64_t>(left, chunk));
      ConvertPlanes(const_cast<const std::uint8_t**>(silence), n);
    }
    next_ += samples;
    av_freep(&silence[0]);
    av_freep(&silence);
  }

  // `count` samples of the frame from sample `skip` on.
  void Convert(const AVFrame* in, int skip, int count) {
    if (in == nullptr) {
      ConvertPlanes(nullptr, 0);
      return;
    }
    const auto format = static_cast<AVSampleFormat>(in->format);
    const int bytes = av_get_bytes_per_sample(format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = in->ch_layout.nb_channels;
    std::vector<const std::uint8_t*> planes(planar ? static_cast<std::size_t>(channels) : 1);
    for (std::size_t p = 0; p < planes.size(); ++p)
      planes[p] = in->extended_data[p] +
                  static_cast<std::ptrdiff_t>(skip) * bytes * (planar ? 1 : channels);
    ConvertPlanes(planes.data(), count);
    next_ += count;
  }

  void ConvertPlanes(const std::uint8_t** in, int count) {
    const int maxOut = swr_get_out_samples(resampler_, count);
    if (maxOut <= 0) return;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(maxOut) * out_.BlockAlign());
    std::uint8_t* planes[1] = {buffer.data()};
    const int got = swr_convert(resampler_, planes, maxOut, in, count);
    if (got > 0)
      pending_.insert(pending_.end(), buffer.begin(),
                      buffer.begin() + static_cast<std::ptrdiff_t>(got) * out_.BlockAlign());
  }

  PcmFormat out_;
  MediaDecoder decoder_;
  SwrContext* resampler_ = nullptr;
  AVFrame* frame_ = nullptr;
  bool ended_ = false;
  bool started_ = false;
  int inRate_ = 0;
  std::int64_t next_ = 0;  // input samples from the file's start to the next one fed
  std::vector<std::uint8_t> pending_;
};

}  // namespace

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, const PcmFormat& format,
                                           std::uint32_t startMs, std::string* error,
                                           DecodeErrors* errors, int track,
                                           FilesOpenedAhead* ahead) {
  auto source = std::make_unique<FileAudioSource>();
  if (!source->Open(path, format, startMs, error, errors, track, ahead)) return nullptr;
  return source;
}

}  // namespace norv::cli
