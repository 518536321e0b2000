#include "plugin/image/dib_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/memory/global_memory.h"

namespace {

// Source columns (blue) along row 0 and source rows (green) down column 0.
struct Picked {
  std::vector<int> columns;
  std::vector<int> rows;
};

// Resizes a sw x sh image whose pixel (x, y) holds blue x, green y, red 7.
Picked ResizeCoordinates(std::int32_t sw, std::int32_t sh, std::int32_t dw, std::int32_t dh) {
  HGLOBAL slot = nullptr;
  {
    DibImage source(&slot);
    EXPECT_EQ(source.Create(sw, sh), 0);
    std::uint8_t* bits = source.Bits();
    for (std::int32_t y = 0; y < sh; ++y) {
      for (std::int32_t x = 0; x < sw; ++x) {
        std::uint8_t* p = bits + source.PixelOffset(x, y);
        p[0] = static_cast<std::uint8_t>(x);
        p[1] = static_cast<std::uint8_t>(y);
        p[2] = 7;
      }
    }
    source.Unlock();
  }
  DibImage image(&slot);  // attached afresh: reads the size back from the block
  EXPECT_EQ(image.Resize(dw, dh), 0);
  // The scaled image is a new one: a 24-bit header at 96 dpi, rows padded to four bytes.
  BITMAPINFOHEADER h;
  std::memcpy(&h, image.Lock(), sizeof h);
  image.Unlock();
  const long row = (dw * 3 + 3) / 4 * 4;
  EXPECT_EQ((std::vector<long>{h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount,
                               h.biCompression, h.biSizeImage, h.biXPelsPerMeter, h.biYPelsPerMeter,
                               h.biClrUsed, long(GlobalSize(slot)), long(image.RowBytes()),
                               image.Width(), image.Height()}),
            (std::vector<long>{40, dw, dh, 1, 24, BI_RGB, row * dh, 3780, 3780, 0, 40 + row * dh,
                               row, dw, dh}));
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
