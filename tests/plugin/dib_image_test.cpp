#include "plugin/image/dib_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/memory/global_memory.h"

namespace {

// A w x h image whose pixel (x, y) holds blue x, green y, red 7.
HGLOBAL MakeCoordinateImage(std::int32_t w, std::int32_t h) {
  HGLOBAL slot = nullptr;
  DibImage image(&slot);
  EXPECT_EQ(image.Create(w, h), 0);
  std::uint8_t* bits = image.Bits();
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t* p = bits + image.PixelOffset(x, y);
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = 7;
    }
  }
  image.Unlock();
  return slot;
}

// Source columns (blue) along row 0 and source rows (green) down column 0.
struct Picked {
  std::vector<int> columns;
  std::vector<int> rows;
};

Picked ResizeCoordinates(std::int32_t sw, std::int32_t sh, std::int32_t dw, std::int32_t dh) {
  HGLOBAL slot = MakeCoordinateImage(sw, sh);
  DibImage image(&slot);
  EXPECT_EQ(image.Resize(dw, dh), 0);
  // The scaled image is a new one: a 24-bit header at 96 dpi, rows padded to four bytes.
  BITMAPINFOHEADER h;
  std::memcpy(&h, image.Lock(), sizeof h);
  image.Unlock();
  const long row = (dw * 3 + 3) / 4 * 4;
  EXPECT_EQ(
      (std::vector<long>{h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount, h.biCompression,
                         h.biSizeImage, h.biXPelsPerMeter, h.biYPelsPerMeter, h.biClrUsed}),
      (std::vector<long>{40, dw, dh, 1, 24, BI_RGB, row * dh, 3780, 3780, 0}));
  EXPECT_EQ(GlobalSize(slot), static_cast<SIZE_T>(40 + row * dh));
  EXPECT_EQ(image.RowBytes(), static_cast<std::uint32_t>(row));
  EXPECT_EQ(image.Width(), dw);
  EXPECT_EQ(image.Height(), dh);
  Picked picked;
  const std::uint8_t* bits = image.Bits();
  for (std::int32_t x = 0; x < dw; ++x) picked.columns.push_back(bits[image.PixelOffset(x, 0)]);
  for (std::int32_t y = 0; y < dh; ++y) picked.rows.push_back(bits[image.PixelOffset(0, y) + 1]);
  image.Unlock();
  image.Free();
  EXPECT_EQ(slot, nullptr);
  return picked;
}

// Columns by the closed form of the error term (first and last columns
// meet, ties round up); rows by the ratio of the heights.
TEST(DibImage, ScaleColumnsWalkTheErrorTermAndRowsByFloatRatio) {
  for (int sw : {2, 3, 4, 5, 8, 160, 200, 640}) {
    for (int dw : {2, 3, 5, 7, 160, 161}) {
      const Picked p = ResizeCoordinates(sw, 1, dw, 1);
      for (int x = 0; x < dw; ++x) {
        const int expected = (2 * x * (sw - 1) + (dw - 1)) / (2 * (dw - 1));
        ASSERT_EQ(p.columns[x], expected % 256) << sw << "->" << dw << " x=" << x;
      }
    }
  }
  const Picked half = ResizeCoordinates(2, 120, 2, 60);
  const Picked twice = ResizeCoordinates(2, 120, 2, 240);
  for (int y = 0; y < 60; ++y) ASSERT_EQ(half.rows[y], 2 * y);
  for (int y = 0; y < 240; ++y) ASSERT_EQ(twice.rows[y], y / 2);
  // A destination one pixel wide stays blank.
  EXPECT_EQ(ResizeCoordinates(5, 3, 1, 3).rows, (std::vector<int>{0, 0, 0}));
}

}  // namespace
