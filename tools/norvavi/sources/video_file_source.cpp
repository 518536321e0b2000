// Frames of a video file, decoded with libavcodec and converted to bottom-up
// BGR at the movie's size (4:2:0 frames already of that size with libyuv,
// everything else with libswscale), turned as the file's display matrix
// says. A frame is shown from its time stamp until the next one;
// before the first the first shows, past the end the last holds. Times are
// on the file's own clock, the one its audio is read on too.
extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tools/norvavi/sources/media_decoder.h"
#include "tools/norvavi/sources/source_defaults.h"
#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

namespace {

// Asked for a time this far past the frame in hand, a seek beats decoding
// every frame on the way.
constexpr double kSeekAheadMs = 5000.0;

// The full-range ("J") YUV formats are their plain twins with a range flag,
// which is how libswscale wants them told.
AVPixelFormat PlainYuv(AVPixelFormat format, bool* fullRange) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      *fullRange = true;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      *fullRange = true;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      *fullRange = true;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      *fullRange = true;
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      *fullRange = true;
      return AV_PIX_FMT_YUV411P;
    default:
      return format;
  }
}

// The matrix a frame's YUV was made with; unmarked frames are taken as
// BT.601, as ffmpeg takes them.
int SwsMatrix(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_BT709:
      return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      return SWS_CS_ITU601;
  }
}

// The same choice of matrix in libyuv's terms, with the range; null where
// libyuv cannot match libswscale within rounding. Its SIMD rows hold the
// U-to-blue gain in a signed byte, capped at 2.0: limited-range BT.709 and
// BT.2020 need 2.11 and 2.14 and come out up to 12 levels short in strong
// blues, so they stay with libswscale (limited BT.601 needs 2.02: within 3).
const libyuv::YuvConstants* YuvMatrix(AVColorSpace space, bool fullRange) {
  switch (SwsMatrix(space)) {
    case SWS_CS_ITU709:
      return fullRange ? &libyuv::kYuvF709Constants : nullptr;
    case SWS_CS_BT2020:
      return fullRange ? &libyuv::kYuvV2020Constants : nullptr;
    case SWS_CS_ITU601:
      return fullRange ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
    default:
      return nullptr;
  }
}

class VideoFileSource final : public VideoSource {
 public:
  ~VideoFileSource() override {
    sws_freeContext(scaler_);
    av_frame_free(&current_);
    av_frame_free(&next_);
  }

  bool Open(const std::string& path, std::string* error, DecodeErrors* errors,
            FilesOpenedAhead* ahead, int threads) {
    decoder_.UseThreads(threads);
    if (!decoder_.Open(path, AVMEDIA_TYPE_VIDEO, error, 0, ahead)) return false;
    decoder_.CountErrorsIn(errors);
    const auto* matrix = reinterpret_cast<const std::int32_t*>(
        av_stream_get_side_data(decoder_.stream(), AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    rotation_ = matrix != nullptr ? RotationOf(matrix) : 0;
    current_ = av_frame_alloc();
    next_ = av_frame_alloc();
    return current_ != nullptr && next_ != nullptr;
  }

  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    const double t = static_cast<double>(timeMs);
    if (NeedsSeek(t) && decoder_.Seek(t)) {
      haveCurrent_ = havePending_ = ended_ = false;
    }
    // Move forward while the next decoded frame is due. Host times are whole
    // milliseconds, truncated: a frame due within that millisecond is due
    // (at 29.97 frames per second the second frame falls at 33.37 ms and is
    // asked for at 33).
    while (!ended_) {
      if (!havePending_ && !DecodeNext()) break;
      if (haveCurrent_ && pendingMs_ >= t + 1.0) break;
      std::swap(current_, next_);
      currentMs_ = pendingMs_;
      haveCurrent_ = true;
      havePending_ = false;
    }
    if (!haveCurrent_) {
      std::memset(pixels, 0, static_cast<std::size_t>(rowBytes) * height);
      return true;
    }
    if (!Convert(width, height, rowBytes, pixels)) return false;
    for (int y = 0; y < height; ++y)
      std::memset(pixels + static_cast<std::size_t>(y) * rowBytes + 3 * width, 0,
                  rowBytes - 3 * static_cast<std::uint32_t>(width));
    return true;
  }

 private:
  bool NeedsSeek(double t) const {
    if (!haveCurrent_) return t >= kSeekAheadMs;
    return t + 1.0 < currentMs_ || t > currentMs_ + kSeekAheadMs;
  }

  bool DecodeNext() {
    if (!decoder_.Next(next_)) {
      ended_ = true;
      return false;
    }
    const double ms = decoder_.TimeMs(next_);
    // Without time stamps, frames follow each other at the stream's rate.
    const AVRational rate = decoder_.stream()->avg_frame_rate;
    pendingMs_ = !std::isnan(ms)                ? ms
                 : !haveCurrent_                ? 0.0
                 : rate.num > 0 && rate.den > 0 ? currentMs_ + 1000.0 / av_q2d(rate)
                                                : currentMs_ + 40.0;
    havePending_ = true;
    return true;
  }

  // The current frame scaled to the movie's size; when the file asks for the
  // picture to be turned, scaled to the turned size first, then turned.
  bool Convert(int width, int height, std::uint32_t rowBytes, std::uint8_t* pixels) {
    if (ConvertDirect(width, height, rowBytes, pixels)) return true;
    const bool quarter = rotation_ == 90 || rotation_ == 270;
    const int sw = quarter ? height : width, sh = quarter ? width : height;
    bool fullRange = current_->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainYuv(static_cast<AVPixelFormat>(current_->format), &fullRange);
    SwsContext* scaler =
        sws_getCachedContext(scaler_, current_->width, current_->height, format, sw, sh,
                             AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler == nullptr) return false;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int matrix = SwsMatrix(current_->colorspace);
    if (desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 &&
        (scaler != scaler_ || matrix != matrix_ || fullRange != fullRange_ ||
         current_->width != inWidth_ || current_->height != inHeight_ || format != inFormat_ ||
         sw != outWidth_ || sh != outHeight_)) {
      sws_setColorspaceDetails(scaler, sws_getCoefficients(matrix), fullRange ? 1 : 0,
                               sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
      matrix_ = matrix;
      fullRange_ = fullRange;
    }
    // A context made anew for other sizes may reuse the old one's address.
    inWidth_ = current_->width;
    inHeight_ = current_->height;
    inFormat_ = format;
    outWidth_ = sw;
    outHeight_ = sh;
    scaler_ = scaler;
    // The scaler's packed-RGB writers fill whole groups of eight pixels, up
    // to 21 bytes past a row's end: it writes top-down into rows of its own,
    // where that spills only into the row it writes next, with room behind
    // the last. Written straight into the host's bottom-up rows, it would
    // spill into the row above, and past the end of the picture.
    const std::size_t stride = static_cast<std::size_t>(sw) * 3;
    upright_.resize(stride * static_cast<std::size_t>(sh) + kScalerSpill);
    std::uint8_t* dst[4] = {upright_.data()};
    int dstStride[4] = {static_cast<int>(stride)};
    sws_scale(scaler_, current_->data, current_->linesize, 0, current_->height, dst, dstStride);
    if (rotation_ == 0) {
      libyuv::CopyPlane(upright_.data(), static_cast<int>(stride), pixels,
                        static_cast<int>(rowBytes), width * 3, -height);
      return true;
    }
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = pixels + static_cast<std::size_t>(height - 1 - y) * rowBytes;
      for (int x = 0; x < width; ++x) {
        // Where the shown pixel (x, y), counted from the top left, comes from.
        int sx = x, sy = y;
        if (rotation_ == 90) {
          sx = y;
          sy = sh - 1 - x;
        } else if (rotation_ == 180) {
          sx = sw - 1 - x;
          sy = sh - 1 - y;
        } else {
          sx = sw - 1 - y;
          sy = x;
        }
        std::memcpy(row + 3 * x, upright_.data() + static_cast<std::size_t>(sy) * stride + 3 * sx,
                    3);
      }
    }
    return true;
  }

  // 4:2:0 and packed 24-bit RGB frames of the movie's size, upright,
  // straight into the host's rows (libyuv's RGB24 is B, G, R in memory, its
  // RAW R, G, B; a negative height writes them bottom-up). False, having
  // written nothing, for any other frame.
  bool ConvertDirect(int width, int height, std::uint32_t rowBytes, std::uint8_t* pixels) const {
    if (rotation_ != 0 || current_->width != width || current_->height != height) return false;
    const auto stride = static_cast<int>(rowBytes);
    if (current_->format == AV_PIX_FMT_BGR24) {
      libyuv::CopyPlane(current_->data[0], current_->linesize[0], pixels, stride, width * 3,
                        -height);
      return true;
    }
    if (current_->format == AV_PIX_FMT_RGB24)
      return libyuv::RAWToRGB24(current_->data[0], current_->linesize[0], pixels, stride, width,
                                -height) == 0;
    bool fullRange = current_->color_range == AVCOL_RANGE_JPEG;
    if (PlainYuv(static_cast<AVPixelFormat>(current_->format), &fullRange) != AV_PIX_FMT_YUV420P)
      return false;
    const libyuv::YuvConstants* matrix = YuvMatrix(current_->colorspace, fullRange);
    return matrix != nullptr && libyuv::I420ToRGB24Matrix(
                                    current_->data[0], current_->linesize[0], current_->data[1],
                                    current_->linesize[1], current_->data[2], current_->linesize[2],
                                    pixels, stride, matrix, width, -height) == 0;
  }

  MediaDecoder decoder_;
  AVFrame* current_ = nullptr;
  AVFrame* next_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int rotation_ = 0;
  // What the scaler was last made for and told about the colours.
  int matrix_ = -1;
  bool fullRange_ = false;
  int inWidth_ = 0, inHeight_ = 0, outWidth_ = 0, outHeight_ = 0;
  AVPixelFormat inFormat_ = AV_PIX_FMT_NONE;
  static constexpr std::size_t kScalerSpill = 64;
  std::vector<std::uint8_t> upright_;
  bool haveCurrent_ = false;
  bool havePending_ = false;
  bool ended_ = false;
  double pendingMs_ = 0;
  double currentMs_ = 0;
};

}  // namespace

std::unique_ptr<VideoSource> OpenVideoFile(const std::string& path, std::string* error,
                                           DecodeErrors* errors, FilesOpenedAhead* ahead,
                                           int threads) {
  auto source = std::make_unique<VideoFileSource>();
  if (!source->Open(path, error, errors, ahead, threads)) return nullptr;
  return source;
}

}  // namespace norv::cli
