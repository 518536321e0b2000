// The codec half of the libavcodec-backed drivers: one encoder context per
// compression run, fed one picture at a time and drained at once, so every
// input frame gives exactly one output frame.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert.h>
#include <libyuv/planar_functions.h>

namespace norv::vfw {
namespace {

struct ContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// HD pictures are converted with BT.709, as players take untagged HD.
bool UsesBt709(const CodecProfile& profile, const BITMAPINFOHEADER& input) {
  return profile.tagsColour && input.biHeight >= 720;
}

ContextPtr OpenContext(const CodecProfile& profile, const BITMAPINFOHEADER& input,
                       const DriverState& state, FrameRate rate, DWORD quality) {
  const AVCodec* codec = avcodec_find_encoder_by_name(profile.encoder);
  if (codec == nullptr) return nullptr;
  ContextPtr context(avcodec_alloc_context3(codec));
  if (context == nullptr) return nullptr;
  context->width = input.biWidth;
  context->height = input.biHeight;
  context->pix_fmt = static_cast<AVPixelFormat>(profile.pixelFormat);
  // The stream's own clock is the movie's (MPEG-4 holds it in 16 bits).
  int num = 1, den = 25;
  av_reduce(&num, &den, rate.scale, rate.rate, 65535);
  context->time_base = {num, den};
  context->framerate = {den, num};
  if (profile.tagsColour) {
    const bool hd = UsesBt709(profile, input);
    context->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    context->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_UNSPECIFIED;
    context->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_UNSPECIFIED;
    context->color_range = AVCOL_RANGE_MPEG;
  }
  // Slice threads only: the threads share one picture, so the frame still
  // comes out of the call that put it in. Frame threads would hold frames
  // back; B-frames would reorder them.
  context->thread_count = EncoderThreads(profile.spareThreads);
  context->thread_type = FF_THREAD_SLICE;
  context->max_b_frames = 0;
  context->gop_size = (profile.flags & VIDCF_TEMPORAL) != 0 ? 600 : 1;
  if (profile.setup != nullptr) profile.setup(context.get(), state, quality);
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return context;
}

// Bottom-up BGR to 4:2:0 with libyuv, for the two formats it writes: BT.601
// full range (JPEG) and BT.601 limited range, the one libswscale gives plain
// YUV420P when told nothing. libyuv runs on the calling thread only, so the
// pixels cannot depend on the thread count. Null for every other format.
using DirectConverter = int (*)(const std::uint8_t*, int, std::uint8_t*, int, std::uint8_t*, int,
                                std::uint8_t*, int, int, int);
DirectConverter DirectFor(AVPixelFormat to) {
  switch (to) {
    case AV_PIX_FMT_YUVJ420P:
      return &libyuv::RGB24ToJ420;
    case AV_PIX_FMT_YUV420P:
      return &libyuv::RGB24ToI420;
    default:
      return nullptr;
  }
}

// BGR to the packed RGB formats, exact byte moves: RGB (HFYU, cvid) swaps
// the outer bytes, the same either way round, so libyuv's RAW-to-RGB24 does
// it; BGR0 (FFV1) is libyuv's ARGB, whose fourth byte the codec ignores.
// Null for every other format.
using PackedConverter = int (*)(const std::uint8_t*, int, std::uint8_t*, int, int, int);
PackedConverter PackedFor(AVPixelFormat to) {
  switch (to) {
    case AV_PIX_FMT_RGB24:
      return &libyuv::RAWToRGB24;
    case AV_PIX_FMT_BGR0:
      return &libyuv::RGB24ToARGB;
    default:
      return nullptr;
  }
}

// Bottom-up BGR to any other format the codec takes, on as many slice
// threads as the encoder: the slices are cut on output lines, so the pixels
// do not depend on their count.
SwsContext* OpenScaler(LONG width, LONG height, AVPixelFormat to, bool bt709) {
  SwsContext* scaler = sws_alloc_context();
  if (scaler == nullptr) return nullptr;
  const bool set = av_opt_set_int(scaler, "srcw", width, 0) >= 0 &&
                   av_opt_set_int(scaler, "srch", height, 0) >= 0 &&
                   av_opt_set_int(scaler, "src_format", AV_PIX_FMT_BGR24, 0) >= 0 &&
                   av_opt_set_int(scaler, "dstw", width, 0) >= 0 &&
                   av_opt_set_int(scaler, "dsth", height, 0) >= 0 &&
                   av_opt_set_int(scaler, "dst_format", to, 0) >= 0 &&
                   av_opt_set_int(scaler, "sws_flags",
                                  SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 0) >= 0 &&
                   av_opt_set_int(scaler, "threads", EncoderThreads(), 0) >= 0;
  if (!set || sws_init_context(scaler, nullptr, nullptr) < 0) {
    sws_freeContext(scaler);
    return nullptr;
  }
  // Full-range RGB into limited-range BT.709 YUV.
  if (bt709 &&
      sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_ITU709), 1,
                               sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16) < 0) {
    sws_freeContext(scaler);
    return nullptr;
  }
  return scaler;
}

class LibavEncoder final : public FrameEncoder {
 public:
  LibavEncoder(const CodecProfile& profile, const BITMAPINFOHEADER& input, const DriverState& state,
               FrameRate rate)
      : profile_(profile), input_(input), state_(state), rate_(rate) {}

  bool Open() {
    context_ = OpenContext(profile_, input_, state_, rate_, profile_.defaultQuality);
    if (context_ == nullptr) return false;
    packet_.reset(av_packet_alloc());
    if (packet_ == nullptr || NewFrame() == nullptr) return false;
    const bool bt709 = UsesBt709(profile_, input_);
    direct_ = input_.biBitCount == 24 && !bt709 ? DirectFor(context_->pix_fmt) : nullptr;
    packed_ = input_.biBitCount == 24 ? PackedFor(context_->pix_fmt) : nullptr;
    if (input_.biBitCount == 24 && direct_ == nullptr && packed_ == nullptr && scaler_ == nullptr) {
      scaler_.reset(OpenScaler(input_.biWidth, input_.biHeight, context_->pix_fmt, bt709));
      if (scaler_ == nullptr) return false;
      picture_.reset(av_frame_alloc());
      if (picture_ == nullptr) return false;
    }
    return input_.biBitCount == 24 || context_->pix_fmt == AV_PIX_FMT_PAL8;
  }

  LRESULT Encode(const Picture& picture, bool forceKey, DWORD quality, std::span<std::uint8_t> out,
                 EncodedFrame* result) override {
    const bool key = forceKey || needKey_;
    // Codecs that cannot be asked for an intra frame start afresh instead:
    // the first frame of a new run is always one.
    if (key && !profile_.honoursForcedKey && started_ && !Restart()) return ICERR_INTERNAL;
    LRESULT r = EncodeOnce(picture, key, quality, out, result);
    if (r == ICERR_OK && key && !result->key) {
      if (!Restart()) return ICERR_INTERNAL;
      r = EncodeOnce(picture, true, quality, out, result);
      if (r == ICERR_OK && !result->key) r = ICERR_INTERNAL;
    }
    // After a lost frame the decoder's reference differs from ours.
    needKey_ = r != ICERR_OK;
    return r;
  }

 private:
  bool Restart() {
    context_.reset();
    frames_.clear();
    packet_.reset();
    started_ = false;
    return Open();
  }

  AVFrame* NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (frame == nullptr) return nullptr;
    frame->width = context_->width;
    frame->height = context_->height;
    frame->format = context_->pix_fmt;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    return frames_.emplace_back(std::move(frame)).get();
  }

  // Some codecs keep a reference to the last picture until the next one
  // comes. Its frame is left alone and another of a few is filled instead:
  // making it writable would copy the whole stale picture first.
  bool Convert(const Picture& picture) {
    const auto free = std::find_if(frames_.begin(), frames_.end(), [](const FramePtr& frame) {
      return av_frame_is_writable(frame.get()) != 0;
    });
    frame_ = free != frames_.end() ? free->get() : nullptr;
    if (frame_ == nullptr && frames_.size() < kMaxFrames) frame_ = NewFrame();
    if (frame_ == nullptr) {
      frame_ = frames_.front().get();
      if (av_frame_make_writable(frame_) < 0) return false;
    }
    const LONG width = input_.biWidth;
    const LONG height = input_.biHeight;
    if (input_.biBitCount == 8) {
      const std::size_t stride = RowBytes(width, 8);
      for (LONG y = 0; y < height; ++y)
        std::memcpy(frame_->data[0] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[0],
                    picture.bits + static_cast<std::size_t>(height - 1 - y) * stride,
                    static_cast<std::size_t>(width));
      auto* palette = reinterpret_cast<std::uint32_t*>(frame_->data[1]);
      for (int i = 0; i < 256; ++i) {
        const RGBQUAD& c = picture.colours[i];
        palette[i] = 0xFF000000u | (std::uint32_t{c.rgbRed} << 16) |
                     (std::uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
      }
      return true;
    }
    const int stride = static_cast<int>(RowBytes(width, 24));
    if (packed_ != nullptr) {
      // Read bottom-up: from the top row with a negative stride.
      const std::uint8_t* top = picture.bits + static_cast<std::ptrdiff_t>(height - 1) * stride;
      return packed_(top, -stride, frame_->data[0], frame_->linesize[0], width, height) == 0;
    }
    if (direct_ != nullptr) {
      // A negative height reads the rows bottom-up.
      return direct_(picture.bits, stride, frame_->data[0], frame_->linesize[0], frame_->data[1],
                     frame_->linesize[1], frame_->data[2], frame_->linesize[2], width,
                     -height) == 0;
    }
    // The caller's rows read in place, bottom-up: the top line first and a
    // negative stride. The buffer only lends them; freeing it frees nothing.
    // A conversion that reads past the last row gets a copy with padding
    // behind it: the caller's buffer ends where its picture ends.
    const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    auto* bits = const_cast<std::uint8_t*>(picture.bits);
    if (profile_.scalerReadsPastInput) {
      padded_.resize(bytes + AV_INPUT_BUFFER_PADDING_SIZE);
      std::memcpy(padded_.data(), picture.bits, bytes);
      bits = padded_.data();
    }
    AVFrame* in = picture_.get();
    in->buf[0] = av_buffer_create(
        bits, bytes, [](void*, std::uint8_t*) {}, nullptr, AV_BUFFER_FLAG_READONLY);
    if (in->buf[0] == nullptr) return false;
    in->data[0] = bits + static_cast<std::size_t>(height - 1) * static_cast<std::size_t>(stride);
    in->linesize[0] = -stride;
    in->width = width;
    in->height = height;
    in->format = AV_PIX_FMT_BGR24;
    const int converted = sws_scale_frame(scaler_.get(), frame_, in);
    av_frame_unref(in);
    return converted >= 0;
  }

  LRESULT EncodeOnce(const Picture& picture, bool key, DWORD quality, std::span<std::uint8_t> out,
                     EncodedFrame* result) {
    if (!Convert(picture)) return ICERR_INTERNAL;
    frame_->pts = pts_++;
    frame_->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame_->quality = 0;
    if (profile_.applyQuality != nullptr) profile_.applyQuality(context_.get(), frame_, quality);
    started_ = true;
    if (avcodec_send_frame(context_.get(), frame_) < 0) return ICERR_INTERNAL;
    // A codec that holds the frame back would break one-in, one-out.
    if (avcodec_receive_packet(context_.get(), packet_.get()) < 0) return ICERR_INTERNAL;
    const std::size_t size = static_cast<std::size_t>(packet_->size);
    const bool isKey = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    if (size > out.size()) {
      av_packet_unref(packet_.get());
      return ICERR_BADSIZE;
    }
    std::memcpy(out.data(), packet_->data, size);
    av_packet_unref(packet_.get());
    std::size_t finished = size;
    if (profile_.finishPacket != nullptr && !profile_.finishPacket(*context_, out, &finished))
      return ICERR_BADSIZE;
    result->size = finished;
    result->key = isKey;
    return ICERR_OK;
  }

  const CodecProfile& profile_;
  BITMAPINFOHEADER input_;
  DriverState state_;
  FrameRate rate_;
  ContextPtr context_;
  static constexpr std::size_t kMaxFrames = 4;
  std::vector<FramePtr> frames_;
  AVFrame* frame_ = nullptr;  // the one being filled and sent, in frames_
  std::unique_ptr<AVPacket, PacketFree> packet_;
  DirectConverter direct_ = nullptr;
  PackedConverter packed_ = nullptr;
  std::unique_ptr<SwsContext, ScalerFree> scaler_;
  FramePtr picture_;                  // the caller's picture, lent per frame
  std::vector<std::uint8_t> padded_;  // its copy, for scalerReadsPastInput
  std::int64_t pts_ = 0;
  bool started_ = false;
  bool needKey_ = false;
};

}  // namespace

int EncoderThreads(int spare) {
  if (const char* text = std::getenv("NORV_ENCODER_THREADS"); text != nullptr) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == 0 && n >= 1 && n <= kMaxEncoderThreads) return static_cast<int>(n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  const int perCore =
      cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxEncoderThreads));
  return std::min(perCore + spare, kMaxEncoderThreads);
}

std::unique_ptr<FrameEncoder> CreateLibavEncoder(const CodecProfile& profile,
                                                 const BITMAPINFOHEADER& input,
                                                 const DriverState& state, FrameRate rate) {
  auto encoder = std::make_unique<LibavEncoder>(profile, input, state, rate);
  if (!encoder->Open()) return nullptr;
  return encoder;
}

bool LibavEncoderExists(const char* name) {
  return name != nullptr && avcodec_find_encoder_by_name(name) != nullptr;
}

bool LibavExtradata(const CodecProfile& profile, const BITMAPINFOHEADER& input,
                    const DriverState& state, FrameRate rate,
                    std::vector<std::uint8_t>* extradata) {
  const ContextPtr context = OpenContext(profile, input, state, rate, profile.defaultQuality);
  if (context == nullptr) return false;
  extradata->assign(context->extradata, context->extradata + context->extradata_size);
  return true;
}

}  // namespace norv::vfw
