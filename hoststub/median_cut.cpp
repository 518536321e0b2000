#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "hoststub/quantise.h"

namespace norv::host {

namespace {

struct Colour {
  std::uint32_t rgb;  // red in bits 16..23, green 8..15, blue 0..7
  std::uint32_t count;
};

int Channel(std::uint32_t rgb, int channel) {
  return static_cast<int>((rgb >> (16 - 8 * channel)) & 0xFF);
}

struct Box {
  std::size_t begin, end;  // into the distinct colours
  int widest = 0;          // channel with the largest range
  int range = 0;           // that range
};

void Measure(const std::vector<Colour>& colours, Box* box) {
  box->range = -1;
  for (int channel = 0; channel < 3; ++channel) {
    int lo = 255, hi = 0;
    for (std::size_t i = box->begin; i < box->end; ++i) {
      lo = std::min(lo, Channel(colours[i].rgb, channel));
      hi = std::max(hi, Channel(colours[i].rgb, channel));
    }
    if (hi - lo > box->range) {
      box->range = hi - lo;
      box->widest = channel;
    }
  }
}

// Splits at the pixel-weighted median of the widest channel; both halves keep
// at least one colour. The widest channel has two values at least, so there
// is always a place between two of them.
Box Split(std::vector<Colour>& colours, Box* box) {
  const int channel = box->widest;
  std::stable_sort(colours.begin() + static_cast<std::ptrdiff_t>(box->begin),
                   colours.begin() + static_cast<std::ptrdiff_t>(box->end),
                   [channel](const Colour& a, const Colour& b) {
                     return Channel(a.rgb, channel) < Channel(b.rgb, channel);
                   });
  std::uint64_t total = 0;
  for (std::size_t i = box->begin; i < box->end; ++i) total += colours[i].count;
  std::uint64_t seen = 0;
  std::size_t at = box->begin + 1;
  for (std::size_t i = box->begin; i + 1 < box->end; ++i) {
    seen += colours[i].count;
    at = i + 1;
    if (2 * seen >= total) break;
  }
  // Colours equal in the channel go to the same side: a cut inside a run of
  // them would separate nothing along that channel.
  auto value = [&](std::size_t i) { return Channel(colours[i].rgb, channel); };
  std::size_t up = at;
  while (up < box->end && value(up) == value(up - 1)) ++up;
  if (up == box->end) {
    while (at > box->begin + 1 && value(at) == value(at - 1)) --at;
  } else {
    at = up;
  }
  Box upper{at, box->end};
  box->end = at;
  Measure(colours, box);
  Measure(colours, &upper);
  return upper;
}

Rgba Mean(const std::vector<Colour>& colours, const Box& box) {
  std::uint64_t sum[3] = {0, 0, 0}, total = 0;
  for (std::size_t i = box.begin; i < box.end; ++i) {
    for (int channel = 0; channel < 3; ++channel)
      sum[channel] += std::uint64_t{colours[i].count} * Channel(colours[i].rgb, channel);
    total += colours[i].count;
  }
  auto mean = [&](int channel) {
    return static_cast<std::uint8_t>((sum[channel] + total / 2) / total);
  };
  return Rgba{mean(0), mean(1), mean(2), 255};
}

std::uint8_t Nearest(const std::vector<Rgba>& palette, std::uint32_t rgb) {
  std::size_t best = 0;
  int bestDistance = 1 << 30;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const int dr = palette[i].r - Channel(rgb, 0);
    const int dg = palette[i].g - Channel(rgb, 1);
    const int db = palette[i].b - Channel(rgb, 2);
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

}  // namespace

bool MedianCut(const std::vector<Rgba>& pixels, int colors, Quantised* out) {
  if (pixels.empty() || colors < 1 || colors > 256) return false;
  std::unordered_map<std::uint32_t, std::uint32_t> counts;
  for (const Rgba& p : pixels) ++counts[(std::uint32_t{p.r} << 16) | (p.g << 8) | p.b];
  std::vector<Colour> colours;
  colours.reserve(counts.size());
  for (const auto& [rgb, count] : counts) colours.push_back(Colour{rgb, count});
  // The map's order is not the same everywhere; the result must be.
  std::sort(colours.begin(), colours.end(),
            [](const Colour& a, const Colour& b) { return a.rgb < b.rgb; });

  out->palette.clear();
  if (colours.size() <= static_cast<std::size_t>(colors)) {
    for (const Colour& c : colours)
      out->palette.push_back(Rgba{static_cast<std::uint8_t>(Channel(c.rgb, 0)),
                                  static_cast<std::uint8_t>(Channel(c.rgb, 1)),
                                  static_cast<std::uint8_t>(Channel(c.rgb, 2)), 255});
  } else {
    std::vector<Box> boxes{Box{0, colours.size()}};
    Measure(colours, &boxes[0]);
    while (boxes.size() < static_cast<std::size_t>(colors)) {
      // The box with the widest spread that can still be split; the first on ties.
      Box* widest = nullptr;
      for (Box& b : boxes) {
        if (b.end - b.begin > 1 && (widest == nullptr || b.range > widest->range)) widest = &b;
      }
      if (widest == nullptr) break;
      Box upper = Split(colours, widest);
      boxes.push_back(upper);
    }
    for (const Box& b : boxes) out->palette.push_back(Mean(colours, b));
  }

  std::unordered_map<std::uint32_t, std::uint8_t> index;
  index.reserve(colours.size());
  for (const Colour& c : colours) index.emplace(c.rgb, Nearest(out->palette, c.rgb));
  out->indices.resize(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const Rgba& p = pixels[i];
    out->indices[i] = index[(std::uint32_t{p.r} << 16) | (p.g << 8) | p.b];
  }
  return true;
}

}  // namespace norv::host
