// Eight-bit movies end to end, read back by ffmpeg: every decoded pixel is
// the table colour that the movie's mapping rule picks for its source pixel,
// in each palette mode (the 8-bit compressors: compressed_movies_test).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "plugin/image/bitmap_header.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

using Rgb = std::array<int, 3>;  // red, green, blue

// Rows of 4n + 1 pixels, so both the 24-bit and the 8-bit rows carry
// padding, and longer than the 255 pixels one run-length code can hold.
constexpr int kWidth = 301;
constexpr int kHeight = 75;
constexpr std::uint32_t kFrames = 4;

std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  return x ^ (x >> 16);
}

// Picture (top-down) colour of frame `f`: gradients over most of it, noise
// in the bottom quarter, a flat band, and the bucket edges of the fixed
// palettes along the left edge.
Rgb SourceColour(int x, int y, int w, int h, std::uint32_t f) {
  const std::uint32_t n = Hash(static_cast<std::uint32_t>(y * w + x) * 977u + f * 131u);
  if (y >= 3 * h / 4) return {int(n & 255), int((n >> 8) & 255), int((n >> 16) & 255)};
  if (y >= h / 2 && y < h / 2 + 3) return {200, 30, static_cast<int>(60 * f)};
  if (x < 4) {
    static constexpr int kEdges[] = {0, 31, 32, 36, 37, 42, 43, 63, 64, 221, 222, 223, 224, 255};
    const int e = kEdges[(y + x * 5) % std::size(kEdges)];
    return {e, kEdges[(y + 3) % std::size(kEdges)], 255 - e};
  }
  const int jitter = static_cast<int>(n % 17) - 8;
  auto clamp = [](int v) { return std::max(0, std::min(255, v)); };
  return {clamp(x * 255 / w + jitter), clamp(y * 255 / h - jitter),
          clamp(static_cast<int>((x + y + 20 * f) % 256))};
}

// The frame as the host hands it over: bottom-up blue, green, red rows.
std::vector<std::uint8_t> SourceFrame(int w, int h, std::uint32_t f) {
  const std::uint32_t row = DibRowBytes(w, 24);
  std::vector<std::uint8_t> bits(row * static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb c = SourceColour(x, y, w, h, f);
      std::uint8_t* p = bits.data() + row * static_cast<std::size_t>(h - 1 - y) + 3 * x;
      for (int k = 0; k < 3; ++k) p[k] = static_cast<std::uint8_t>(c[2 - k]);
    }
  }
  return bits;
}

// The host renders the optimum palette's samples from the same pictures.
std::int32_t NORV_STDCALL RenderSample(std::uint32_t, std::uint32_t, void* args) {
  auto* a = static_cast<RenderFrameArgs*>(args);
  BITMAPINFOHEADER h;
  std::memcpy(&h, a->sample, sizeof h);
  const auto bits = SourceFrame(h.biWidth, h.biHeight, a->timeMs / 40);
  std::memcpy(a->sample + 40, bits.data(), bits.size());
  return 0;
}

// A RIFF "PAL " file of the given colours.
std::string WritePalette(const std::string& path, const std::vector<Rgb>& colours) {
  std::vector<std::uint8_t> data = {0x00, 0x03};
  PutLe(data, static_cast<std::uint32_t>(colours.size()), 2);
  for (const Rgb& c : colours)
    data.insert(data.end(), {static_cast<std::uint8_t>(c[0]), static_cast<std::uint8_t>(c[1]),
                             static_cast<std::uint8_t>(c[2]), 0});
  WriteFileBytes(path, RiffBytes("PAL ", {{"data", data}}));
  return path;
}

std::vector<Rgb> SpreadColours(int count) {
  std::vector<Rgb> colours;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t n = Hash(static_cast<std::uint32_t>(i) + 99u);
    colours.push_back({int(n & 255), int((n >> 8) & 255), int((n >> 16) & 255)});
  }
  if (count > 40) colours[40] = colours[7];  // a tie: the lower index is the one kept
  return colours;
}

// The colour table of the movie's 'strf', as red, green, blue.
std::vector<Rgb> StrfTable(const std::vector<std::uint8_t>& file) {
  const auto walk = WalkAvi(file);
  const auto* strf = walk.Find("strf");
  EXPECT_NE(strf, nullptr);
  if (strf == nullptr) return {};
  const std::size_t at = strf->headerOffset + 8;  // the header's fields: layout_model_test
  std::vector<Rgb> table;
  for (std::size_t i = 0; i < 256; ++i) {
    const std::size_t q = at + 40 + 4 * i;
    EXPECT_EQ(file.at(q + 3), 0) << "entry " << i;
    table.push_back({file.at(q + 2), file.at(q + 1), file.at(q)});
  }
  return table;
}

std::size_t BruteNearest(const std::vector<Rgb>& table, const Rgb& c) {
  std::size_t best = 0;
  int bestDistance = 1 << 30;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const int dr = table[i][0] - c[0], dg = table[i][1] - c[1], db = table[i][2] - c[2];
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

// The fixed palettes, from their levels: a component falls into the level
// whose bucket holds it.
struct FixedLayout {
  std::vector<int> red, green, blue;  // levels
  Rgb bucket;                         // the width of each level's bucket
  Rgb stride;                         // index weights
};

const FixedLayout& Layout(int mode) {
  static const std::vector<int> six = {21, 64, 107, 150, 193, 236};
  static const std::vector<int> eight = {16, 48, 80, 112, 144, 176, 208, 240};
  static const FixedLayout k332{{32, 96, 160, 224}, eight, eight, {64, 32, 32}, {1, 4, 32}};
  static const FixedLayout k666{six, six, six, {43, 43, 43}, {1, 6, 36}};
  static const FixedLayout k676{
      six, {18, 55, 92, 129, 166, 203, 240}, six, {43, 37, 43}, {1, 6, 42}};
  return mode == 1 ? k332 : mode == 2 ? k666 : k676;
}

std::vector<Rgb> FixedTable(int mode) {
  const FixedLayout& l = Layout(mode);
  std::vector<Rgb> table(256, Rgb{0, 0, 0});
  for (std::size_t b = 0; b < l.blue.size(); ++b)
    for (std::size_t g = 0; g < l.green.size(); ++g)
      for (std::size_t r = 0; r < l.red.size(); ++r)
        table[b * l.stride[2] + g * l.stride[1] + r] = {l.red[r], l.green[g], l.blue[b]};
  return table;
}

Rgb FixedColour(int mode, const Rgb& c) {
  const FixedLayout& l = Layout(mode);
  return {l.red[c[0] / l.bucket[0]], l.green[c[1] / l.bucket[1]], l.blue[c[2] / l.bucket[2]]};
}

using EightBitMovie = MovieTest;

TEST_F(EightBitMovie, EveryPixelIsTheColourItsPaletteModePicks) {
  const std::string pal = WritePalette(host.dir().File("spread.pal"), SpreadColours(256));
  for (int mode = 1; mode <= 5; ++mode) {  // 3-3-2, 6x6x6, 6x7x6, optimum, file
    SCOPED_TRACE(mode);
    const std::string colour = std::to_string(79 + mode);
    MovieSetup s(host.dir(), "m" + colour + ".avi");
    SetFields(s.settings, "audio 1 0 16/44100/2; colour " + colour + "; size " +
                              std::to_string(kWidth) + "x" + std::to_string(kHeight));
    s.SetSpan(0, kFrames * 40);
    s.request.frameCallback = &RenderSample;
    if (mode == 5) std::strcpy(s.settings.paletteFile, pal.c_str());
    std::vector<int> results;
    ASSERT_TRUE(RunMovie(s, kFrames, &results,
                         [](std::uint32_t f) { return SourceFrame(kWidth, kHeight, f); }));
    EXPECT_EQ(results, std::vector<int>(kFrames, 0));
    EXPECT_EQ(RunCommand("ffprobe -v warning " + s.path + " 2>&1"), "");

    const std::vector<Rgb> table = StrfTable(ReadFileBytes(s.path));
    ASSERT_EQ(table.size(), 256u);
    // The fixed tables; the file's colours in its order (entry 40 repeats
    // entry 7); the optimum table, reduced from the movie's own pictures,
    // has many colours.
    if (mode == 4) {
      EXPECT_GT(std::set<Rgb>(table.begin(), table.end()).size(), 200u);
    } else {
      EXPECT_EQ(table, mode <= 3 ? FixedTable(mode) : SpreadColours(256));
    }

    const auto decoded = FfmpegDecode(s.path, "-f rawvideo -pix_fmt rgb24");
    ASSERT_EQ(decoded.size(), std::size_t{kFrames} * kWidth * kHeight * 3);
    std::size_t at = 0;
    for (std::uint32_t f = 0; f < kFrames; ++f) {
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x, at += 3) {
          const Rgb source = SourceColour(x, y, kWidth, kHeight, f);
          const Rgb want =
              mode <= 3 ? FixedColour(mode, source) : table[BruteNearest(table, source)];
          ASSERT_EQ((Rgb{decoded[at], decoded[at + 1], decoded[at + 2]}), want)
              << "frame " << f << " at " << x << "," << y << " from " << source[0] << ","
              << source[1] << "," << source[2];
        }
      }
    }
  }
  EXPECT_TRUE(messages.texts().empty());
}

}  // namespace
