// The row walk both bulk palette lookups share. Frames repeat colours
// heavily (flat areas, black borders), so a small direct-mapped memo of the
// last answers saves most nearest-colour searches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/win32_types.h"

namespace norv::gdi {

// Maps `rows` rows of `width` BGR pixels to the indices `nearest(r, g, b)`
// answers, asking it once per colour the memo does not hold.
template <typename Nearest>
void MapPixelsThroughMemo(const BYTE* pixels, UINT pixelStride, BYTE* indices, UINT indexStride,
                          UINT width, UINT rows, Nearest nearest) {
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
        memoIndex[slot] = static_cast<BYTE>(nearest(in[2], in[1], in[0]));
      }
      out[x] = memoIndex[slot];
    }
  }
}

// Every index 255: what GetNearestPaletteIndex answers without a palette
// (CLR_INVALID), cut to a byte.
inline void FillInvalidIndices(BYTE* indices, UINT indexStride, UINT width, UINT rows) {
  for (UINT y = 0; y < rows; ++y)
    std::memset(indices + static_cast<std::size_t>(y) * indexStride, 0xFF, width);
}

}  // namespace norv::gdi
