#include <cstring>

#include "platform/gdi/palette.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/video/palettes.h"

void MapFrameNearest(std::uint8_t* eightBitDib, const std::uint8_t* dib24, HPALETTE palette) {
  BITMAPINFOHEADER h8, h24;
  std::memcpy(&h8, eightBitDib, sizeof h8);
  std::memcpy(&h24, dib24, sizeof h24);
  const std::uint32_t rows = static_cast<std::uint32_t>(h8.biHeight);
  const std::uint32_t cols = static_cast<std::uint32_t>(h8.biWidth);
  const std::uint32_t row8 = h8.biSizeImage / rows;
  const std::uint32_t row24 = h24.biSizeImage / static_cast<std::uint32_t>(h24.biHeight);
  // One bulk query per frame: the palette's lookup structure and the colour
  // memo are set up once, not per pixel.
  (void)NorvMapPixelsToPalette(palette, dib24 + sizeof(BITMAPINFOHEADER), row24,
                               eightBitDib + kEightBitHeaderBytes, row8, cols, rows);
}
