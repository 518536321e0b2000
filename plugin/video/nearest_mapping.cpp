#include <cstring>

#include "platform/gdi/palette.h"
#include "plugin/video/palettes.h"

void MapFrameNearest(std::uint8_t* eightBitDib, const std::uint8_t* dib24, HPALETTE palette) {
  BITMAPINFOHEADER h8, h24;
  std::memcpy(&h8, eightBitDib, sizeof h8);
  std::memcpy(&h24, dib24, sizeof h24);
  const std::uint32_t rows = static_cast<std::uint32_t>(h8.biHeight);
  const std::uint32_t cols = static_cast<std::uint32_t>(h8.biWidth);
  const std::uint32_t row8 = h8.biSizeImage / rows;
  const std::uint32_t row24 = h24.biSizeImage / static_cast<std::uint32_t>(h24.biHeight);
  std::uint8_t* out = eightBitDib + 1064;
  const std::uint8_t* in = dib24 + sizeof(BITMAPINFOHEADER);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint8_t* p = in + static_cast<std::size_t>(y) * row24;
    std::uint8_t* q = out + static_cast<std::size_t>(y) * row8;
    for (std::uint32_t x = 0; x < cols; ++x, p += 3)
      q[x] = static_cast<std::uint8_t>(GetNearestPaletteIndex(palette, RGB(p[2], p[1], p[0])));
  }
}
