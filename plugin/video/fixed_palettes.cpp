// The three fixed palettes: tables by formula, mapping by arithmetic.
#include <cstring>

#include "plugin/image/bitmap_header.h"
#include "plugin/video/palettes.h"

namespace {

RGBQUAD EntryFor(std::uint32_t mode, int i) {
  RGBQUAD q{};
  switch (mode) {
    case kPalette332:  // i = 32B + 4G + R
      q.rgbBlue = static_cast<BYTE>(32 * (i / 32) + 16);
      q.rgbGreen = static_cast<BYTE>(32 * ((i / 4) % 8) + 16);
      q.rgbRed = static_cast<BYTE>(64 * (i % 4) + 32);
      break;
    case kPalette666:  // i = 36B + 6G + R
      q.rgbBlue = static_cast<BYTE>(43 * (i / 36) + 21);
      q.rgbGreen = static_cast<BYTE>(43 * ((i / 6) % 6) + 21);
      q.rgbRed = static_cast<BYTE>(43 * (i % 6) + 21);
      break;
    default:  // kPalette676: i = 42B + 6G + R
      q.rgbBlue = static_cast<BYTE>(43 * (i / 42) + 21);
      q.rgbGreen = static_cast<BYTE>(37 * ((i / 6) % 7) + 18);
      q.rgbRed = static_cast<BYTE>(43 * (i % 6) + 21);
      break;
  }
  return q;
}

BYTE IndexFor(std::uint32_t mode, unsigned b, unsigned g, unsigned r) {
  switch (mode) {
    case kPalette332:
      return static_cast<BYTE>((b & 0xE0) | ((g >> 5) << 2) | (r >> 6));
    case kPalette666:
      return static_cast<BYTE>(36 * (b / 43) + 6 * (g / 43) + r / 43);
    default:
      return static_cast<BYTE>(42 * (b / 43) + 6 * (g / 37) + r / 43);
  }
}

BITMAPINFOHEADER HeaderOf(const std::uint8_t* dib) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, dib, sizeof h);
  return h;
}

}  // namespace

int ApplyFixedPalette(std::uint8_t* eightBitDib, const std::uint8_t* dib24, std::uint32_t mode) {
  const int count = mode == kPalette332 ? 256 : mode == kPalette666 ? 216 : 252;
  auto* table = eightBitDib + sizeof(BITMAPINFOHEADER);
  for (int i = 0; i < count; ++i) {
    RGBQUAD q = EntryFor(mode, i);
    std::memcpy(table + 4 * i, &q, 4);
  }
  if (dib24 == nullptr) return 0;

  // A 256-entry lookup per component turns the divisions into loads.
  BYTE part[3][256];
  for (unsigned v = 0; v < 256; ++v) {
    part[0][v] = IndexFor(mode, v, 0, 0);
    part[1][v] = IndexFor(mode, 0, v, 0);
    part[2][v] = IndexFor(mode, 0, 0, v);
  }
  const BITMAPINFOHEADER h8 = HeaderOf(eightBitDib);
  const BITMAPINFOHEADER h24 = HeaderOf(dib24);
  const std::uint32_t rows = static_cast<std::uint32_t>(h8.biHeight);
  const std::uint32_t cols = static_cast<std::uint32_t>(h8.biWidth);
  const std::uint32_t row8 = h8.biSizeImage / rows;
  const std::uint32_t row24 = h24.biSizeImage / static_cast<std::uint32_t>(h24.biHeight);
  std::uint8_t* out = eightBitDib + kEightBitHeaderBytes;
  const std::uint8_t* in = dib24 + sizeof(BITMAPINFOHEADER);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* p = in + static_cast<std::size_t>(y) * row24;
    std::uint8_t* q = out + static_cast<std::size_t>(y) * row8;
    for (std::uint32_t x = 0; x < cols; ++x, p += 3)
      q[x] = static_cast<std::uint8_t>(part[0][p[0]] + part[1][p[1]] + part[2][p[2]]);
  }
  return 1;
}
