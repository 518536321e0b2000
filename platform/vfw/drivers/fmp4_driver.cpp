// MPEG-4 Visual (no B-frames): quality is the quantiser,
// effort the macroblock decision and trellis quantisation.
#include <cstring>
#include <span>
#include <vector>

#include "platform/vfw/drivers/driver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace norv::vfw {
namespace {

int Quantiser(DWORD quality) {
  return QualityToScale(quality, 2, 31);
}

void Setup(AVCodecContext* context, const DriverState& state, DWORD quality) {
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->global_quality = FF_QP2LAMBDA * Quantiser(quality);
  av_opt_set(context->priv_data, "mbd", state.effort >= 5 ? "rd" : "simple", 0);
  context->trellis = state.effort >= 8 ? 1 : 0;
}

void ApplyQuality(AVCodecContext*, AVFrame* frame, DWORD quality) {
  frame->quality = FF_QP2LAMBDA * Quantiser(quality);
}

class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Read(int bits, unsigned* value) {
    *value = 0;
    for (int i = 0; i < bits; ++i, ++at_) {
      if (at_ / 8 >= bytes_.size()) return false;
      *value = (*value << 1) | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
    }
    return true;
  }
  std::size_t position() const { return at_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

class BitWriter {
 public:
  void Write(int bits, unsigned value) {
    for (int i = bits - 1; i >= 0; --i, ++at_) {
      if (at_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (7 - at_ % 8));
    }
  }
  // MPEG-4's stuffing up to the next start code: a zero, then ones.
  void Stuff() {
    Write(1, 0);
    while (at_ % 8 != 0) Write(1, 1);
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// libavcodec's encoder leaves the visual object's video_signal_type unset,
// so a decoder guesses the matrix from the picture size. Each key frame's
// visual object header is given the colours the driver converted with.
bool TagSignalType(const AVCodecContext& context, std::span<std::uint8_t> out, std::size_t* size) {
  constexpr std::uint8_t kVisualObject = 0xB5, kVop = 0xB6;
  constexpr unsigned kVideoObjectType = 1, kUnspecifiedFormat = 5;
  std::size_t body = 0;
  for (std::size_t i = 0; i + 4 <= *size && body == 0; ++i) {
    if (out[i] != 0 || out[i + 1] != 0 || out[i + 2] != 1) continue;
    if (out[i + 3] == kVop) return true;  // a delta frame: no headers
    if (out[i + 3] == kVisualObject) body = i + 4;
  }
  if (body == 0) return true;
  BitReader in(std::span<const std::uint8_t>(out.data() + body, *size - body));
  BitWriter tagged;
  unsigned identified = 0, value = 0;
  if (!in.Read(1, &identified)) return true;
  tagged.Write(1, identified);
  if (identified != 0) {
    if (!in.Read(7, &value)) return true;  // version and priority
    tagged.Write(7, value);
  }
  unsigned type = 0, signalType = 0;
  if (!in.Read(4, &type) || type != kVideoObjectType || !in.Read(1, &signalType) || signalType != 0)
    return true;
  tagged.Write(4, type);
  tagged.Write(1, 1);
  tagged.Write(3, kUnspecifiedFormat);
  tagged.Write(1, context.color_range == AVCOL_RANGE_JPEG ? 1 : 0);
  tagged.Write(1, 1);  // colour description follows
  tagged.Write(8, static_cast<unsigned>(context.color_primaries));
  tagged.Write(8, static_cast<unsigned>(context.color_trc));
  tagged.Write(8, static_cast<unsigned>(context.colorspace));
  tagged.Stuff();
  // The header read so far plus its own stuffing, byte-aligned.
  const std::size_t oldBytes = (in.position() + 1 + 7) / 8;
  const std::vector<std::uint8_t>& replacement = tagged.bytes();
  const std::size_t grown = *size - oldBytes + replacement.size();
  if (grown > out.size()) return false;
  std::memmove(out.data() + body + replacement.size(), out.data() + body + oldBytes,
               *size - body - oldBytes);
  std::memcpy(out.data() + body, replacement.data(), replacement.size());
  *size = grown;
  return true;
}

}  // namespace

const CodecProfile& Fmp4Profile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("FMP4"),
      .name = u"FMP4",
      .description = u"MPEG-4 Visual (libavcodec)",
      .encoder = "mpeg4",
      .flags = VIDCF_QUALITY | VIDCF_TEMPORAL,
      .outCompression = MakeFourCC("FMP4"),
      .pixelFormat = AV_PIX_FMT_YUV420P,
      .defaultQuality = 7500,
      .defaultKeyFrameRate = 250,
      .hasOptions = true,
      .widthMultiple = 2,
      .heightMultiple = 2,
      .setup = &Setup,
      .applyQuality = &ApplyQuality,
      .tagsColour = true,
      .finishPacket = &TagSignalType,
  };
  return profile;
}

}  // namespace norv::vfw
