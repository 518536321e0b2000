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

// The last answers, by colour, in a small direct-mapped table.
class ColourMemo {
 public:
  ColourMemo() { colour_.fill(kEmpty); }

  // Maps one row of `width` BGR pixels to the indices `nearest(r, g, b)`
  // answers; returns how many colours it had to ask for.
  template <typename Nearest>
  UINT MapRow(const BYTE* in, BYTE* out, UINT width, Nearest& nearest) {
    UINT asked = 0;
    for (UINT x = 0; x < width; ++x, in += 3) {
      const std::uint32_t bgr = in[0] | (in[1] << 8) | (static_cast<std::uint32_t>(in[2]) << 16);
      const std::uint32_t slot = (bgr * 0x9E3779B1u) >> (32 - kBits);
      if (colour_[slot] != bgr) {
        colour_[slot] = bgr;
        index_[slot] = static_cast<BYTE>(nearest(in[2], in[1], in[0]));
        ++asked;
      }
      out[x] = index_[slot];
    }
    return asked;
  }

 private:
  static constexpr std::uint32_t kBits = 12;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
  std::array<std::uint32_t, 1u << kBits> colour_;
  std::array<BYTE, 1u << kBits> index_;
};

// Maps `rows` rows of `width` BGR pixels to the indices `nearest(r, g, b)`
// answers, asking it once per colour the memo does not hold.
template <typename Nearest>
void MapPixelsThroughMemo(const BYTE* pixels, UINT pixelStride, BYTE* indices, UINT indexStride,
                          UINT width, UINT rows, Nearest nearest) {
  ColourMemo memo;
  for (UINT y = 0; y < rows; ++y)
    memo.MapRow(pixels + static_cast<std::size_t>(y) * pixelStride,
                indices + static_cast<std::size_t>(y) * indexStride, width, nearest);
}

// Every index 255: what GetNearestPaletteIndex answers without a palette
// (CLR_INVALID), cut to a byte.
inline void FillInvalidIndices(BYTE* indices, UINT indexStride, UINT width, UINT rows) {
  for (UINT y = 0; y < rows; ++y)
    std::memset(indices + static_cast<std::size_t>(y) * indexStride, 0xFF, width);
}

}  // namespace norv::gdi
