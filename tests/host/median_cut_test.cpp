// The Windows image library's colour reduction, run here on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "hoststub/quantise.h"

namespace {

using norv::host::MedianCut;
using norv::host::Quantised;
using norv::host::Rgba;

int Distance(const Rgba& a, const Rgba& b) {
  return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
}

// The palette's entries as 0xAARRGGBB.
std::vector<std::uint32_t> Entries(const Quantised& q) {
  std::vector<std::uint32_t> c;
  for (const Rgba& e : q.palette)
    c.push_back(std::uint32_t{e.a} << 24 | e.r << 16 | e.g << 8 | e.b);
  return c;
}

// Few colours are kept exactly, even as many as asked for; many fill the
// palette with distinct opaque entries. Either way each pixel gets its
// nearest, and the order of the pixels changes nothing. No pixels, no
// colours or more than 256 are refused. A big dark-red area, a tenth of it
// lighter, and a few stray blues in two entries: the cut falls at the
// pixel-weighted median, between the reds and the blues, and each entry is
// its box's pixel-weighted mean, rounded.
TEST(MedianCut, PalettesHoldTheColoursAndIndicesNameTheNearest) {
  const std::vector<Rgba> few = {
      {255, 0, 0, 255}, {0, 200, 0, 255}, {255, 0, 0, 255}, {20, 20, 180, 255}, {0, 200, 0, 255}};
  std::mt19937 random(7);
  std::vector<Rgba> noise(4000);
  for (Rgba& p : noise)
    p = Rgba{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
             static_cast<std::uint8_t>(random()), 255};
  std::vector<Rgba> reds;
  for (int i = 0; i < 1010; ++i)
    reds.push_back(i < 1000 ? Rgba{static_cast<std::uint8_t>(i % 10 == 0 ? 128 : 120), 10, 10, 255}
                            : Rgba{0, 0, static_cast<std::uint8_t>(i - 760), 255});
  const std::vector<Rgba> none, one = {{1, 2, 3, 255}};
  const std::tuple<const std::vector<Rgba>*, int, std::size_t> cases[] = {
      {&few, 256, 3}, {&few, 3, 3},    {&noise, 2, 2}, {&noise, 16, 16}, {&noise, 256, 256},
      {&reds, 2, 2},  {&none, 256, 0}, {&one, 0, 0},   {&one, 257, 0}};
  for (const auto& [pixels, colors, entries] : cases) {
    SCOPED_TRACE(std::to_string(pixels->size()) + " pixels, " + std::to_string(colors));
    Quantised q;
    ASSERT_EQ(MedianCut(*pixels, colors, &q), entries > 0);
    if (entries == 0) continue;
    EXPECT_EQ(q.palette.size(), entries);
    const std::vector<std::uint32_t> shown = Entries(q);
    EXPECT_GT(std::set<std::uint32_t>(shown.begin(), shown.end()).size(), entries / 2);
    for (std::uint32_t c : shown) EXPECT_EQ(c >> 24, 255u);
    std::vector<Rgba> shuffled = *pixels;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    Quantised again;
    ASSERT_TRUE(MedianCut(shuffled, colors, &again));
    EXPECT_EQ(Entries(again), shown);
    // Every pixel's index names an entry no farther than any other entry, and
    // the lowest such index; the few colours are the very entries.
    ASSERT_EQ(q.indices.size(), pixels->size());
    for (std::size_t i = 0; i < pixels->size(); ++i) {
      ASSERT_LT(q.indices[i], q.palette.size());
      const int chosen = Distance((*pixels)[i], q.palette[q.indices[i]]);
      EXPECT_EQ(pixels == &few ? chosen : 0, 0) << "pixel " << i;
      for (std::size_t e = 0; e < q.palette.size(); ++e) {
        const int d = Distance((*pixels)[i], q.palette[e]);
        ASSERT_TRUE(d > chosen || (d == chosen && e >= q.indices[i])) << "pixel " << i;
      }
    }
    if (pixels == &reds) {
      EXPECT_EQ(shown, (std::vector<std::uint32_t>{0xFF790A0A, 0xFF0000F5}));
    }
  }
}

}  // namespace
