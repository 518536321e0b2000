// Colour reduction for the image library: pixels in, at most `colors`
// palette entries and one index per pixel out, without dithering.
#pragma once

#include <cstdint>
#include <vector>

namespace norv::host {

struct Rgba {
  std::uint8_t r, g, b, a;
};

struct Quantised {
  std::vector<Rgba> palette;          // at most the colours asked for
  std::vector<std::uint8_t> indices;  // one per pixel, in the input's order
};

// The library's reduction: libimagequant where it exists, else MedianCut.
bool QuantiseImage(const std::vector<Rgba>& pixels, int width, int height, int colors,
                   Quantised* out);

// A plain median cut: boxes over the distinct colours, weighted by pixel
// count, split at the median of their widest channel until there are
// `colors` of them; each box's mean is an entry and every pixel takes its
// nearest entry (lowest index on ties). An image with at most `colors`
// distinct colours keeps them exactly.
bool MedianCut(const std::vector<Rgba>& pixels, int colors, Quantised* out);

}  // namespace norv::host
