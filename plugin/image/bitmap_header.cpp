#include "plugin/image/bitmap_header.h"

#include <cstring>

void FillBitmapHeader(void* block, std::int32_t width, std::int32_t height, std::uint32_t bits) {
  BITMAPINFOHEADER h;
  std::memset(&h, 0, sizeof h);
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage = DibRowBytes(width, bits) * static_cast<std::uint32_t>(height);
  std::memcpy(block, &h, sizeof h);
}
