// Microsoft RLE, 8-bit (BI_RLE8). libavcodec has no encoder for it, so this
// driver codes its own key frames: runs of three or more equal pixels as
// (count, index) pairs, everything else in absolute blocks, an end-of-line
// escape between rows and an end-of-bitmap escape at the end.
#include <algorithm>
#include <cstring>

#include "platform/vfw/drivers/driver.h"

namespace norv::vfw {

namespace {

// Two bytes per pixel at worst (lone pixels between runs), two per line end,
// two for the end of the bitmap.
DWORD MaxBytes(const BITMAPINFOHEADER& in) {
  return static_cast<DWORD>(
      static_cast<std::size_t>(in.biHeight) * (2 * static_cast<std::size_t>(in.biWidth) + 2) + 2);
}

class Rle8Writer {
 public:
  explicit Rle8Writer(std::span<std::uint8_t> out) : out_(out) {}
  bool Put(std::uint8_t a, std::uint8_t b) { return Put(a) && Put(b); }
  bool Put(std::uint8_t v) {
    if (at_ >= out_.size()) return false;
    out_[at_++] = v;
    return true;
  }
  // Pixels that form no run; blocks of three or more go out in absolute mode.
  bool Literals(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      if (n < 3) {
        for (std::size_t i = 0; i < n; ++i)
          if (!Put(1, p[i])) return false;
        return true;
      }
      std::size_t block = std::min<std::size_t>(n, 255);
      if (n - block == 1 || n - block == 2) block -= 3;  // never leave a tail below three
      if (!Put(0, static_cast<std::uint8_t>(block))) return false;
      for (std::size_t i = 0; i < block; ++i)
        if (!Put(p[i])) return false;
      if ((block & 1) != 0 && !Put(0)) return false;  // blocks end on a word boundary
      p += block;
      n -= block;
    }
    return true;
  }
  std::size_t size() const { return at_; }

 private:
  std::span<std::uint8_t> out_;
  std::size_t at_ = 0;
};

std::size_t EncodeRle8(const std::uint8_t* bits, LONG width, LONG height,
                       std::span<std::uint8_t> out) {
  Rle8Writer w(out);
  const std::size_t stride = RowBytes(width, 8);
  for (LONG y = 0; y < height; ++y) {
    const std::uint8_t* row = bits + static_cast<std::size_t>(y) * stride;
    const auto n = static_cast<std::size_t>(width);
    std::size_t literalStart = 0;
    std::size_t x = 0;
    while (x < n) {
      std::size_t run = 1;
      while (x + run < n && run < 255 && row[x + run] == row[x]) ++run;
      if (run >= 3) {
        if (!w.Literals(row + literalStart, x - literalStart)) return 0;
        if (!w.Put(static_cast<std::uint8_t>(run), row[x])) return 0;
        x += run;
        literalStart = x;
      } else {
        x += run;
      }
    }
    if (!w.Literals(row + literalStart, n - literalStart)) return 0;
    if (y + 1 < height ? !w.Put(0, 0) : !w.Put(0, 1)) return 0;
  }
  return w.size();
}

class Rle8Encoder final : public FrameEncoder {
 public:
  LRESULT Encode(const Picture& picture, bool, DWORD, std::span<std::uint8_t> out,
                 EncodedFrame* result) override {
    const std::size_t size =
        EncodeRle8(picture.bits, picture.format->biWidth, picture.format->biHeight, out);
    if (size == 0) return ICERR_BADSIZE;
    result->size = size;
    result->key = true;  // every frame stands alone
    return ICERR_OK;
  }
};

std::unique_ptr<FrameEncoder> CreateRle8(const CodecProfile&, const BITMAPINFOHEADER&,
                                         const DriverState&, FrameRate) {
  return std::make_unique<Rle8Encoder>();
}

}  // namespace

const CodecProfile& MrleProfile() {
  static const CodecProfile profile{
      .handler = MakeFourCC("MRLE"),
      .name = u"MRLE",
      .description = u"Microsoft RLE 8-bit",
      .outCompression = BI_RLE8,
      .outBitCount = 8,
      .accepts24 = false,
      .accepts8 = true,
      .maxFrameBytes = &MaxBytes,
      .createEncoder = &CreateRle8,
  };
  return profile;
}

}  // namespace norv::vfw
