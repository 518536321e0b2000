#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"

namespace {

using Bgr = std::array<std::uint8_t, 3>;

// What a reduced image hands out agrees and outlives it; before the
// reduction nothing is handed out, after the release nothing is done, and
// ids are not reused.
TEST(ImageLibrary, ReducedBitmapAndPaletteAgreeAndBadInputIsRefused) {
  const long blocksBefore = NorvGlobalBlocksInUse();
  // A packed 24-bit bitmap, 6 x 3 (rows padded), in four flat colours.
  const Bgr colours[4] = {{0, 0, 255}, {0, 200, 0}, {180, 20, 20}, {255, 255, 255}};
  std::vector<Bgr> expected;
  std::vector<std::uint8_t> dib(40 + DibRowBytes(6, 24) * 3);
  FillBitmapHeader(dib.data(), 6, 3, 24);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) {
      expected.push_back(colours[(x / 2 + y) % 4]);
      std::memcpy(dib.data() + 40 + DibRowBytes(6, 24) * y + 3 * x, expected.back().data(), 3);
    }
  const std::int32_t id = ImageFromDib(dib.data());
  ASSERT_GE(id, 0);
  EXPECT_EQ(ImagePalette(id), nullptr);
  EXPECT_EQ(ImageToDib(id, nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(ReduceColors(id, 4, 0, 16), 0);
  EXPECT_EQ(ReduceColors(id, 8, 0, 256), 0);
  HPALETTE palette = ImagePalette(id);
  ASSERT_NE(palette, nullptr);
  std::uint32_t w = 0, h = 0, n = 0;
  HGLOBAL block = ImageToDib(id, &w, &h, &n);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ReleaseImage(id), 0);
  EXPECT_NE(ReduceColors(id, 8, 0, 256), 0);
  EXPECT_EQ(ImagePalette(id), nullptr);
  EXPECT_EQ(ImageToDib(id, nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(ReleaseImage(id), 0);

  const auto* p = static_cast<const std::uint8_t*>(GlobalLock(block));
  // Four colours fit, so every pixel keeps its colour through the table. (That
  // the table is the palette's, the rest black, OptimumPalette sees.)
  const UINT count = GetPaletteEntries(palette, 0, 0, nullptr);
  ASSERT_GE(count, 4u);
  ASSERT_LE(count, 256u);
  const BITMAPINFOHEADER header{40, 6, 3, 1, 8, BI_RGB, 8 * 3, 0, 0, count, 0};
  EXPECT_EQ(std::memcmp(p, &header, sizeof header), 0);
  EXPECT_EQ(std::make_tuple(w, h, n, GlobalSize(block)),
            std::make_tuple(6u, 3u, count, SIZE_T{40 + 1024 + 8 * 3}));
  std::vector<Bgr> shown;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) {
      const std::uint8_t* q = p + 40 + 4 * p[1064 + 8 * y + x];
      shown.push_back({q[0], q[1], q[2]});
    }
  EXPECT_EQ(shown, expected);
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_TRUE(DeleteObject(palette));
  EXPECT_EQ(NorvGlobalBlocksInUse(), blocksBefore);
  const std::int32_t next = ImageFromDib(dib.data());
  EXPECT_NE(next, id);
  EXPECT_EQ(ReleaseImage(next), 0);
  FillBitmapHeader(dib.data(), 6, 3, 8);
  EXPECT_LT(ImageFromDib(dib.data()), 0);
}

}  // namespace
