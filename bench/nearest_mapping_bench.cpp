// Mapping a 640 x 480 frame onto a 256-colour palette, as 8-bit movies with
// the optimum or a file palette do for every frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/gdi/palette.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/video/palettes.h"

namespace {

constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;

// 256 colours over the whole cube, or (`spread` false) packed into a small
// corner of it, as the optimum palette of a dark scene is: there every
// entry is a candidate for most of the cube and the lookup costs most to build.
HPALETTE SpreadPalette(bool spread = true) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> storage(4 + 4 * 256);
  auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = 256;
  for (int i = 0; i < 256; ++i)
    logical->palPalEntry[i] = {static_cast<BYTE>(spread ? rng() : rng() % 24),
                               static_cast<BYTE>(spread ? rng() : rng() % 24),
                               static_cast<BYTE>(spread ? rng() : rng() % 24), 0};
  return CreatePalette(logical);
}

struct Frame {
  std::vector<std::uint8_t> dib24 =
      std::vector<std::uint8_t>(40 + DibRowBytes(kWidth, 24) * kHeight);
  std::vector<std::uint8_t> dib8 =
      std::vector<std::uint8_t>(1064 + DibRowBytes(kWidth, 8) * kHeight);

  // Smooth gradients with camera-like noise: many distinct colours, as in
  // real footage. `noise` 0 gives the flat areas of titles and cartoons,
  // 256 or more full-range noise, where no colour repeats.
  explicit Frame(int noise) {
    FillBitmapHeader(dib24.data(), kWidth, kHeight, 24);
    FillBitmapHeader(dib8.data(), kWidth, kHeight, 8);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    const std::uint32_t row = DibRowBytes(kWidth, 24);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        std::uint8_t* p = dib24.data() + 40 + row * y + 3 * x;
        const int base[3] = {x * 255 / kWidth, y * 255 / kHeight,
                             (x + y) * 255 / (kWidth + kHeight)};
        for (int c = 0; c < 3; ++c)
          p[c] = noise >= 256
                     ? static_cast<std::uint8_t>(rng())
                     : static_cast<std::uint8_t>(std::clamp(base[c] + jitter(rng), 0, 255));
      }
    }
  }
};

void BM_MapFrameNearest(benchmark::State& state) {
  Frame frame(static_cast<int>(state.range(0)));
  HPALETTE palette = SpreadPalette();
  MapFrameNearest(frame.dib8.data(), frame.dib24.data(), palette);  // builds the lookup once
  for (auto _ : state) {
    MapFrameNearest(frame.dib8.data(), frame.dib24.data(), palette);
    benchmark::DoNotOptimize(frame.dib8.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  DeleteObject(palette);
}
BENCHMARK(BM_MapFrameNearest)->Arg(0)->Arg(12)->Arg(256)->Unit(benchmark::kMillisecond);

// The first frame of a movie also pays for the palette's lookup structure.
void BM_MapFirstFrameNearest(benchmark::State& state) {
  Frame frame(12);
  for (auto _ : state) {
    HPALETTE palette = SpreadPalette(state.range(0) == 0);
    MapFrameNearest(frame.dib8.data(), frame.dib24.data(), palette);
    DeleteObject(palette);
  }
}
BENCHMARK(BM_MapFirstFrameNearest)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
