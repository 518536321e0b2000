#include "platform/gdi/palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

UINT BruteForceNearest(const std::vector<PALETTEENTRY>& entries, int r, int g, int b) {
  UINT best = 0;
  int bestDistance = 1 << 30;
  for (UINT i = 0; i < entries.size(); ++i) {
    const int dr = entries[i].peRed - r, dg = entries[i].peGreen - g, db = entries[i].peBlue - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries) {
  std::vector<std::uint8_t> storage(4 + 4 * entries.size());
  auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) logical->palPalEntry[i] = entries[i];
  return CreatePalette(logical);
}

// Palettes of the kinds that break a lookup structure: spread, clustered,
// coarse grids full of exact ties, duplicates, one entry.
std::vector<std::vector<PALETTEENTRY>> Palettes(std::mt19937& rng) {
  std::vector<std::vector<PALETTEENTRY>> all;
  auto byte = [&](int lo, int hi) {
    return static_cast<BYTE>(std::uniform_int_distribution<int>(lo, hi)(rng));
  };
  for (int n : {1, 2, 3, 16, 100, 255, 256}) {
    std::vector<PALETTEENTRY> spread, clustered;
    for (int i = 0; i < n; ++i) {
      spread.push_back({byte(0, 255), byte(0, 255), byte(0, 255), 0});
      clustered.push_back({byte(100, 108), byte(40, 44), byte(200, 203), 0});
    }
    all.insert(all.end(), {spread, clustered});
  }
  // Levels two apart: every odd component value sits exactly between two.
  std::vector<PALETTEENTRY> ties;
  for (int r = 0; r < 256; r += 34)
    for (int g = 0; g < 256; g += 34)
      for (int b = 0; b < 256; b += 34) ties.push_back({BYTE(r), BYTE(g), BYTE(b), 0});
  ties.resize(256);
  all.push_back(ties);
  // Entry 0's nearest colour of the first cell is exactly as far as entry
  // 1's farthest: they tie there, and the lower index must keep it.
  all.push_back({{14, 14, 14, 0}, {0, 0, 0, 0}});
  std::vector<PALETTEENTRY> duplicates(256, PALETTEENTRY{0, 0, 0, 0});
  for (int i = 0; i < 256; i += 2) duplicates[i] = duplicates[i + 1] = {byte(0, 255), 9, 9, 0};
  all.push_back(duplicates);
  // Coarse levels, shuffled so that tied entries come in any index order, and every entry twice.
  std::vector<PALETTEENTRY> levels;
  for (int r = 8; r < 256; r += 48)
    for (int g = 0; g < 256; g += 64)
      for (int b = 16; b < 256; b += 32) levels.push_back({BYTE(r), BYTE(g), BYTE(b), 0});
  std::shuffle(levels.begin(), levels.end(), rng);
  levels.insert(levels.end(), levels.begin(), levels.end());
  levels.resize(256);
  all.push_back(levels);
  return all;
}

// Whole frames of padded rows, as movies map them: noise (enough for the bulk
// call to build its grid, and where its walk stops asking its memo), flat
// bands (where it asks the memo again), then colours next to each entry and
// halfway to the first, where ties live. Mapped twice, as the first call may
// still scan and the second has the grid, and one by one. No palette: refused.
TEST(NearestPaletteIndex, MatchesBruteForceOnEveryKindOfPaletteAndFrame) {
  std::mt19937 rng(20240601);
  for (const auto& entries : Palettes(rng)) {
    SCOPED_TRACE(std::to_string(entries.size()) + " entries");
    HPALETTE palette = MakePalette(entries);
    ASSERT_NE(palette, nullptr);
    std::vector<std::uint8_t> bgr;
    for (int i = 0; i < 3 * 203 * 200; ++i) bgr.push_back(static_cast<std::uint8_t>(rng()));
    for (int i = 0; i < 3 * 203 * 40; ++i)
      bgr.push_back(static_cast<std::uint8_t>(i % 609 / 60 * 37));
    auto put = [&](int b, int g, int r) {  // clamped to a byte
      for (int v : {b, g, r}) bgr.push_back(static_cast<std::uint8_t>(std::clamp(v, 0, 255)));
    };
    const PALETTEENTRY& first = entries[0];
    for (const PALETTEENTRY& e : entries) {
      for (int d = -17; d <= 17; ++d) put(e.peBlue + d, e.peGreen - d / 2, e.peRed + d / 3);
      put((e.peBlue + first.peBlue) / 2, (e.peGreen + first.peGreen) / 2,
          (e.peRed + first.peRed) / 2);
    }
    constexpr UINT kWidth = 203, kStride = 612;
    const UINT rows = static_cast<UINT>((bgr.size() / 3 + kWidth - 1) / kWidth);
    std::vector<std::uint8_t> pixels(kStride * rows);
    for (std::size_t i = 0; i < bgr.size() / 3; ++i)
      std::memcpy(&pixels[i / kWidth * kStride + i % kWidth * 3], &bgr[3 * i], 3);
    constexpr UINT kOutStride = 208;  // the rows of indices are padded too, and keep their padding
    std::vector<BYTE> indices(kOutStride * rows, 0x77);
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_TRUE(NorvMapPixelsToPalette(palette, pixels.data(), kStride, indices.data(),
                                         kOutStride, kWidth, rows));
      for (UINT i = 0; i < kOutStride * rows; ++i) {
        const std::uint8_t* p = &pixels[i / kOutStride * kStride + i % kOutStride * 3];
        const UINT expected =
            i % kOutStride < kWidth ? BruteForceNearest(entries, p[2], p[1], p[0]) : 0x77;
        ASSERT_EQ(indices[i], expected)
            << "pass " << pass << ", colour " << int(p[2]) << "," << int(p[1]) << "," << int(p[0]);
        if (pass == 0 && i % kOutStride < kWidth) {
          ASSERT_EQ(GetNearestPaletteIndex(palette, RGB(p[2], p[1], p[0])), expected);
        }
      }
    }
    EXPECT_TRUE(DeleteObject(palette));
  }
  std::uint8_t pixels[3] = {1, 2, 3}, out = 0;
  EXPECT_EQ(GetNearestPaletteIndex(nullptr, 0), CLR_INVALID);
  EXPECT_FALSE(NorvMapPixelsToPalette(nullptr, pixels, 3, &out, 1, 1, 1));
  EXPECT_EQ(out, 0xFF);  // what CLR_INVALID cut to a byte gives
}

}  // namespace
