#include "platform/gdi/palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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
    all.push_back(spread);
    all.push_back(clustered);
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
  return all;
}

TEST(NearestPaletteIndex, MatchesBruteForceOnEveryKindOfPalette) {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> component(0, 255);
  for (const auto& entries : Palettes(rng)) {
    HPALETTE palette = MakePalette(entries);
    ASSERT_NE(palette, nullptr);
    // Random colours (enough for the bulk call to build the grid), then
    // colours next to each entry and halfway to the first, where ties live.
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < 40000; ++i)
      for (int c = 0; c < 3; ++c) pixels.push_back(static_cast<std::uint8_t>(component(rng)));
    for (const PALETTEENTRY& e : entries) {
      for (int d = -17; d <= 17; ++d) {
        pixels.push_back(static_cast<std::uint8_t>(std::clamp(e.peBlue + d, 0, 255)));
        pixels.push_back(static_cast<std::uint8_t>(std::clamp(e.peGreen - d / 2, 0, 255)));
        pixels.push_back(static_cast<std::uint8_t>(std::clamp(e.peRed + d / 3, 0, 255)));
      }
      pixels.push_back(static_cast<std::uint8_t>((e.peBlue + entries[0].peBlue) / 2));
      pixels.push_back(static_cast<std::uint8_t>((e.peGreen + entries[0].peGreen) / 2));
      pixels.push_back(static_cast<std::uint8_t>((e.peRed + entries[0].peRed) / 2));
    }
    const UINT count = static_cast<UINT>(pixels.size() / 3);
    std::vector<BYTE> bulk(count);
    ASSERT_TRUE(
        NorvMapPixelsToPalette(palette, pixels.data(), count * 3, bulk.data(), count, count, 1));
    for (UINT i = 0; i < count; ++i) {
      const int b = pixels[3 * i], g = pixels[3 * i + 1], r = pixels[3 * i + 2];
      const UINT expected = BruteForceNearest(entries, r, g, b);
      ASSERT_EQ(GetNearestPaletteIndex(palette, RGB(BYTE(r), BYTE(g), BYTE(b))), expected)
          << entries.size() << " entries, colour " << r << "," << g << "," << b;
      ASSERT_EQ(bulk[i], static_cast<BYTE>(expected));
    }
    EXPECT_TRUE(DeleteObject(palette));
  }
}

TEST(NearestPaletteIndex, BulkHonoursStridesAndBadHandles) {
  HPALETTE palette = MakePalette({{0, 0, 0, 0}, {255, 255, 255, 0}});
  // Two rows of two pixels, padded to 8 bytes in and 4 out.
  const std::uint8_t pixels[16] = {250, 250, 250, 1,   1,   1,   0xEE, 0xEE,
                                   1,   1,   1,   250, 250, 250, 0xEE, 0xEE};
  std::uint8_t out[8];
  std::fill(std::begin(out), std::end(out), 0x77);
  ASSERT_TRUE(NorvMapPixelsToPalette(palette, pixels, 8, out, 4, 2, 2));
  EXPECT_EQ((std::vector<int>(out, out + 8)),
            (std::vector<int>{1, 0, 0x77, 0x77, 0, 1, 0x77, 0x77}));
  DeleteObject(palette);

  EXPECT_EQ(GetNearestPaletteIndex(nullptr, 0), CLR_INVALID);
  EXPECT_FALSE(NorvMapPixelsToPalette(nullptr, pixels, 8, out, 4, 2, 2));
  EXPECT_EQ(out[0], 0xFF);  // what CLR_INVALID cut to a byte gives
}

}  // namespace

namespace {

// Whole frames, as movies map them: noise (where the walk stops asking its
// memo and goes to the grid), then flat bands (where it asks the memo
// again), against brute force on palettes full of ties and on spread ones.
TEST(NearestPaletteIndex, NoisyFramesMatchBruteForce) {
  std::mt19937 rng(77);
  auto byte = [&] { return static_cast<BYTE>(rng()); };
  std::vector<std::vector<PALETTEENTRY>> palettes;
  for (int n : {7, 256}) {
    std::vector<PALETTEENTRY> spread;
    for (int i = 0; i < n; ++i) spread.push_back({byte(), byte(), byte(), 0});
    palettes.push_back(spread);
  }
  // Coarse levels 16 apart, shuffled so that tied entries come in any index
  // order, and every entry twice.
  std::vector<PALETTEENTRY> levels;
  for (int r = 8; r < 256; r += 48)
    for (int g = 0; g < 256; g += 64)
      for (int b = 16; b < 256; b += 32) levels.push_back({BYTE(r), BYTE(g), BYTE(b), 0});
  std::shuffle(levels.begin(), levels.end(), rng);
  levels.insert(levels.end(), levels.begin(), levels.end());
  levels.resize(256);
  palettes.push_back(levels);

  constexpr UINT kWidth = 203, kRows = 96, kStride = 612;  // padded rows
  std::vector<std::uint8_t> pixels(kStride * kRows);
  for (UINT y = 0; y < kRows; ++y)
    for (UINT x = 0; x < kWidth * 3; ++x)
      pixels[y * kStride + x] = y < 40 || y >= 80 ? byte() : static_cast<std::uint8_t>(x / 60 * 37);
  for (const auto& entries : palettes) {
    SCOPED_TRACE(entries.size());
    HPALETTE palette = MakePalette(entries);
    std::vector<BYTE> indices(kWidth * kRows);
    // Twice: the first call may still scan, the second has the grid.
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_TRUE(NorvMapPixelsToPalette(palette, pixels.data(), kStride, indices.data(), kWidth,
                                         kWidth, kRows));
      for (UINT y = 0; y < kRows; ++y)
        for (UINT x = 0; x < kWidth; ++x) {
          const std::uint8_t* p = &pixels[y * kStride + x * 3];
          ASSERT_EQ(indices[y * kWidth + x], BruteForceNearest(entries, p[2], p[1], p[0]))
              << "pass " << pass << " at " << x << "," << y;
        }
    }
    DeleteObject(palette);
  }
}

}  // namespace
