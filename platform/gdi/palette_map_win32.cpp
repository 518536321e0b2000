// The bulk palette lookup over GDI: every distinct colour is asked of
// GetNearestPaletteIndex once per memo slot, so the answers are GDI's own.
#include <array>
#include <cstddef>
#include <cstring>

#include "platform/gdi/palette.h"

BOOL NorvMapPixelsToPalette(HPALETTE palette, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                            UINT indexStride, UINT width, UINT rows) {
  if (palette == nullptr || GetPaletteEntries(palette, 0, 0, nullptr) == 0) {
    for (UINT y = 0; y < rows; ++y)
      std::memset(indices + static_cast<std::size_t>(y) * indexStride, 0xFF, width);
    return FALSE;
  }
  // Frames repeat colours heavily; a direct-mapped memo of the last answers
  // saves most calls into GDI.
  constexpr std::uint32_t kMemoBits = 12;
  constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
  std::array<std::uint32_t, 1u << kMemoBits> memoColor;
  std::array<BYTE, 1u << kMemoBits> memoIndex;
  memoColor.fill(kEmpty);
  for (UINT y = 0; y < rows; ++y) {
    const BYTE* in = pixels + static_cast<std::size_t>(y) * pixelStride;
    BYTE* out = indices + static_cast<std::size_t>(y) * indexStride;
    for (UINT x = 0; x < width; ++x, in += 3) {
      const std::uint32_t bgr = in[0] | (in[1] << 8) | (static_cast<std::uint32_t>(in[2]) << 16);
      const std::uint32_t slot = (bgr * 0x9E3779B1u) >> (32 - kMemoBits);
      if (memoColor[slot] != bgr) {
        memoColor[slot] = bgr;
        memoIndex[slot] =
            static_cast<BYTE>(GetNearestPaletteIndex(palette, RGB(in[2], in[1], in[0])));
      }
      out[x] = memoIndex[slot];
    }
  }
  return TRUE;
}
