// The built-in test pattern: colour bars over a moving gradient, a square
// that travels across the picture and a row of blocks counting the frames,
// so that dropped, repeated or shifted frames show.
#include <cstring>

#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

namespace {

class PatternSource final : public VideoSource {
 public:
  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    static constexpr std::uint8_t kBars[7][3] = {{192, 192, 192}, {0, 192, 192}, {192, 192, 0},
                                                 {0, 192, 0},     {192, 0, 192}, {0, 0, 192},
                                                 {192, 0, 0}};
    const int shift = static_cast<int>(timeMs / 10);
    const int box = height / 5 > 8 ? height / 5 : 8;
    const int boxX =
        width > box ? static_cast<int>((timeMs / 4) % static_cast<unsigned>(width - box)) : 0;
    const int boxY = height / 2;
    for (int y = 0; y < height; ++y) {
      // Row y counted from the top of the picture; memory holds it bottom-up.
      std::uint8_t* row = pixels + static_cast<std::size_t>(height - 1 - y) * rowBytes;
      std::memset(row + 3 * width, 0, rowBytes - 3 * static_cast<std::uint32_t>(width));
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = row + 3 * x;
        if (y < height / 3) {
          const auto* bar = kBars[(x * 7) / width];
          p[0] = bar[0];
          p[1] = bar[1];
          p[2] = bar[2];
        } else {
          p[0] = static_cast<std::uint8_t>((x + shift) & 0xFF);
          p[1] = static_cast<std::uint8_t>((y * 255) / (height > 1 ? height - 1 : 1));
          p[2] = static_cast<std::uint8_t>((x * 2 + y + shift) & 0xFF);
        }
        if (x >= boxX && x < boxX + box && y >= boxY && y < boxY + box) p[0] = p[1] = p[2] = 255;
      }
    }
    // Frame counter: 16 blocks along the bottom, white for a 1 bit.
    const std::uint32_t counter = timeMs / 40;
    const int block = width / 16 > 0 ? width / 16 : 1;
    for (int bit = 0; bit < 16 && bit * block < width; ++bit) {
      const std::uint8_t v = (counter >> bit) & 1 ? 255 : 0;
      for (int y = 0; y < block && y < height; ++y)
        for (int x = bit * block; x < (bit + 1) * block && x < width; ++x)
          std::memset(pixels + static_cast<std::size_t>(y) * rowBytes + 3 * x, v, 3);
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<VideoSource> MakePatternSource() {
  return std::make_unique<PatternSource>();
}

}  // namespace norv::cli
