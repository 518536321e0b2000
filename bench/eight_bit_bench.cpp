// Eight-bit movies at 640 x 480: frames per second through the frame path
// in each palette mode, and the nearest-colour mapping against a search of
// all 256 entries and against ffmpeg's paletteuse on the same frames.
//
// The frames are 10 seconds of ffmpeg's testsrc2 and the palette is what
// ffmpeg's palettegen makes of them (reserve_transparent=0), so timing
// ffmpeg's "[0][1]paletteuse=dither=none" over the same source and palette
// image, less the same command without the filter, measures exactly what
// BM_MapTestsrcFramesNearest maps.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/palette.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/session/movie_context.h"
#include "plugin/settings/default_settings.h"
#include "plugin/video/palettes.h"

namespace {

constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;
constexpr std::uint32_t kFrames = 250;
constexpr std::size_t kFrameBytes = kWidth * 3 * kHeight;  // rows need no padding
const char* const kSource = "testsrc2=size=640x480:rate=25:duration=10";

std::vector<std::uint8_t> ReadCommand(const std::string& command) {
  std::vector<std::uint8_t> out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.insert(out.end(), buffer, buffer + n);
  return ::pclose(pipe) == 0 ? out : std::vector<std::uint8_t>{};
}

// The host's frames: bottom-up blue, green, red, back to back.
const std::vector<std::uint8_t>& Frames() {
  static const std::vector<std::uint8_t> frames =
      ReadCommand(std::string("ffmpeg -v error -f lavfi -i ") + kSource +
                  " -vf vflip -f rawvideo -pix_fmt bgr24 -");
  return frames;
}
const std::uint8_t* Frame(std::uint32_t i) {
  return Frames().data() + (i % kFrames) * kFrameBytes;
}
bool HaveFrames(benchmark::State& state) {
  if (Frames().size() == kFrames * kFrameBytes) return true;
  state.SkipWithError("ffmpeg could not make the testsrc2 frames");
  return false;
}

// palettegen's 256 colours for the same frames, red, green, blue.
const std::vector<std::uint8_t>& PaletteGenColours() {
  static const std::vector<std::uint8_t> colours =
      ReadCommand(std::string("ffmpeg -v error -f lavfi -i ") + kSource +
                  " -vf palettegen=reserve_transparent=0 -f rawvideo -pix_fmt rgb24 -");
  return colours;
}

HPALETTE PaletteOf(const std::vector<std::uint8_t>& rgb) {
  std::vector<std::uint8_t> storage(4 + rgb.size() / 3 * 4);
  auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(rgb.size() / 3);
  for (std::size_t i = 0; i < rgb.size() / 3; ++i)
    logical->palPalEntry[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
  return CreatePalette(logical);
}

// The palettegen colours as a RIFF "PAL " file.
std::string WritePaletteFile(const std::string& path) {
  const std::vector<std::uint8_t>& rgb = PaletteGenColours();
  const auto n = static_cast<std::uint32_t>(rgb.size() / 3);
  std::vector<std::uint8_t> b;
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put32(4 + 8 + 4 + 4 * n);
  b.insert(b.end(), {'P', 'A', 'L', ' ', 'd', 'a', 't', 'a'});
  put32(4 + 4 * n);
  b.insert(b.end(), {0x00, 0x03, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
  for (std::uint32_t i = 0; i < n; ++i)
    b.insert(b.end(), {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok ? path : std::string{};
}

// The optimum palette's samples: the frame at the asked time, picked down
// to the sample's size.
std::int32_t NORV_STDCALL RenderSample(std::uint32_t, std::uint32_t, void* args) {
  auto* a = static_cast<RenderFrameArgs*>(args);
  BITMAPINFOHEADER h;
  std::memcpy(&h, a->sample, sizeof h);
  const std::uint8_t* frame = Frame(a->timeMs / 40);
  const std::uint32_t row = DibRowBytes(h.biWidth, 24);
  for (std::int32_t y = 0; y < h.biHeight; ++y)
    for (std::int32_t x = 0; x < h.biWidth; ++x)
      std::memcpy(a->sample + 40 + row * y + 3 * x,
                  frame + 3 * (kWidth * (y * kHeight / h.biHeight) + x * kWidth / h.biWidth), 3);
  return 0;
}

// A whole movie per iteration: session set-up (and palette), 250 frames
// mapped and written, the index, the close.
void BM_EightBitMovieFrames(benchmark::State& state) {
  if (!HaveFrames(state)) return;
  const auto colorFormat = static_cast<std::int32_t>(state.range(0));
  const std::string stem = "/tmp/norv-bench-" + std::to_string(::getpid());
  const std::string path = stem + ".avi";
  AviSettings settings;
  FillDefaultSettings(&settings);
  settings.width = kWidth;
  settings.height = kHeight;
  settings.audioEnabled = 0;
  settings.interleaveFrames = 1;
  settings.colorFormat = colorFormat;
  if (colorFormat == kColorPaletteFile) {
    const std::string pal = WritePaletteFile(stem + ".pal");
    std::strncpy(settings.paletteFile, pal.c_str(), sizeof settings.paletteFile - 1);
  }
  MovieRequest request{};
  std::memcpy(request.outputPath, path.c_str(), path.size());
  request.version = 1;
  request.settings = &settings;
  request.endTime = kFrames * 40;  // 25 frames per second
  request.frameCallback = &RenderSample;
  for (auto _ : state) {
    MovieSession* session = CreateMovieSession(&request);
    if (session == nullptr) {
      state.SkipWithError("the session could not be created");
      break;
    }
    std::uint32_t done = 0;
    for (std::uint32_t i = 0; i < kFrames; ++i) session->CompressAviFrame(Frame(i), &done);
    session->FinishMovie();
    delete session;
  }
  std::remove(path.c_str());
  std::remove((stem + ".pal").c_str());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(BM_EightBitMovieFrames)
    ->ArgName("colorFormat")
    ->DenseRange(80, 84)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One frame and the optimum palette reduced from it.
struct OptimumCase {
  std::vector<std::uint8_t> dib24 = std::vector<std::uint8_t>(40 + kFrameBytes);
  std::vector<std::uint8_t> dib8 = std::vector<std::uint8_t>(1064 + kWidth * kHeight);
  std::vector<PALETTEENTRY> entries;
  HPALETTE palette = nullptr;

  OptimumCase() {
    FillBitmapHeader(dib24.data(), kWidth, kHeight, 24);
    FillBitmapHeader(dib8.data(), kWidth, kHeight, 8);
    std::memcpy(dib24.data() + 40, Frame(100), kFrameBytes);
    const std::int32_t image = ImageFromDib(dib24.data());
    if (image < 0) return;
    if (ReduceColors(image, 8, 0, 256) == 0) palette = ImagePalette(image);
    ReleaseImage(image);
    entries.resize(GetPaletteEntries(palette, 0, 0, nullptr));
    GetPaletteEntries(palette, 0, static_cast<UINT>(entries.size()), entries.data());
  }
  ~OptimumCase() { DeleteObject(palette); }
};

// Every pixel against every entry, lowest index on ties.
void MapBruteForce(const std::vector<PALETTEENTRY>& entries, const std::uint8_t* pixels,
                   std::uint8_t* indices) {
  for (std::size_t p = 0; p < static_cast<std::size_t>(kWidth) * kHeight; ++p, pixels += 3) {
    int best = 0, bestDistance = 1 << 30;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const int dr = entries[i].peRed - pixels[2], dg = entries[i].peGreen - pixels[1],
                db = entries[i].peBlue - pixels[0];
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDistance) bestDistance = d, best = static_cast<int>(i);
    }
    indices[p] = static_cast<std::uint8_t>(best);
  }
}

void BM_MapOptimumNearest(benchmark::State& state) {
  if (!HaveFrames(state)) return;
  OptimumCase c;
  MapFrameNearest(c.dib8.data(), c.dib24.data(), c.palette);  // the lookup is built once
  for (auto _ : state) {
    MapFrameNearest(c.dib8.data(), c.dib24.data(), c.palette);
    benchmark::DoNotOptimize(c.dib8.data());
  }
  std::vector<std::uint8_t> brute(kWidth * kHeight);
  MapBruteForce(c.entries, c.dib24.data() + 40, brute.data());
  if (std::memcmp(brute.data(), c.dib8.data() + 1064, brute.size()) != 0)
    state.SkipWithError("the mapping differs from the full search");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapOptimumNearest)->Unit(benchmark::kMillisecond);

void BM_MapOptimumBruteForce(benchmark::State& state) {
  if (!HaveFrames(state)) return;
  OptimumCase c;
  for (auto _ : state) {
    MapBruteForce(c.entries, c.dib24.data() + 40, c.dib8.data() + 1064);
    benchmark::DoNotOptimize(c.dib8.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapOptimumBruteForce)->Unit(benchmark::kMillisecond);

// All 250 frames onto palettegen's palette, the work paletteuse does.
void BM_MapTestsrcFramesNearest(benchmark::State& state) {
  if (!HaveFrames(state)) return;
  HPALETTE palette = PaletteOf(PaletteGenColours());
  if (palette == nullptr) {
    state.SkipWithError("ffmpeg could not make the palette");
    return;
  }
  std::vector<std::uint8_t> dib24(40 + kFrameBytes), dib8(1064 + kWidth * kHeight);
  FillBitmapHeader(dib24.data(), kWidth, kHeight, 24);
  FillBitmapHeader(dib8.data(), kWidth, kHeight, 8);
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < kFrames; ++i) {
      std::memcpy(dib24.data() + 40, Frame(i), kFrameBytes);
      MapFrameNearest(dib8.data(), dib24.data(), palette);
      benchmark::DoNotOptimize(dib8.data());
    }
  }
  DeleteObject(palette);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(BM_MapTestsrcFramesNearest)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
