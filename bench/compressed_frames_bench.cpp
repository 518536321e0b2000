// Compressed 640x480 frames: through the frame export path into a real file,
// and the same frames through the compressor alone, so that what the
// plug-in adds to the encoder's own work can be read off (target: under 5%).
// Both codecs make key frames only, so every frame is a key frame, as the
// settings dialog and norvavi set it for them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/image/bitmap_header.h"
#include "plugin/session/movie_context.h"
#include "plugin/settings/default_settings.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr std::uint32_t kFrames = 250;
constexpr std::uint32_t kKeyFrameEvery = 1;
constexpr std::uint32_t kQuality = 7500;

// Colour bars under a moving gradient and a moving block: camera-like
// content that codecs neither ignore (flat) nor choke on (noise).
const std::vector<std::vector<std::uint8_t>>& Frames() {
  static const std::vector<std::vector<std::uint8_t>> frames = [] {
    std::vector<std::vector<std::uint8_t>> out;
    const std::size_t row = static_cast<std::size_t>(kWidth) * 3;
    for (int f = 0; f < 25; ++f) {
      std::vector<std::uint8_t> p(row * kHeight);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
          std::uint8_t* px =
              &p[static_cast<std::size_t>(y) * row + static_cast<std::size_t>(x) * 3];
          const int bar = x * 7 / kWidth;
          const auto ramp = static_cast<std::uint8_t>((x + y + f * 8) & 0xFF);
          px[0] = (bar & 1) != 0 ? 0xC0 : ramp;
          px[1] = (bar & 2) != 0 ? 0xC0 : static_cast<std::uint8_t>(y / 2);
          px[2] = (bar & 4) != 0 ? 0xC0 : static_cast<std::uint8_t>(255 - ramp);
          if (x >= f * 20 && x < f * 20 + 80 && y >= 200 && y < 280) px[0] = px[1] = px[2] = 0x20;
        }
      out.push_back(std::move(p));
    }
    return out;
  }();
  return frames;
}

void Report(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}

void BM_PluginCompressedFrames(benchmark::State& state, DWORD handler) {
  const std::string path = "/tmp/norv-bench-" + std::to_string(::getpid()) + ".avi";
  AviSettings settings;
  FillDefaultSettings(&settings);
  settings.width = kWidth;
  settings.height = kHeight;
  settings.audioEnabled = 0;
  settings.compressorHandler = handler;
  settings.quality = kQuality;
  settings.keyFrameEvery = kKeyFrameEvery;
  settings.dataRate = -1;
  MovieRequest request{};
  std::memcpy(request.outputPath, path.c_str(), path.size());
  request.version = 1;
  request.settings = &settings;
  request.endTime = kFrames * 40;  // 25 frames per second
  const auto& frames = Frames();
  for (auto _ : state) {
    MovieSession* session = CreateMovieSession(&request);
    if (session == nullptr) {
      state.SkipWithError("the session could not be created");
      return;
    }
    std::uint32_t done = 0;
    for (std::uint32_t i = 0; i < kFrames; ++i)
      if (session->CompressAviFrame(frames[i % frames.size()].data(), &done) != 0) {
        state.SkipWithError("a frame failed");
        break;
      }
    session->FinishMovie();
    delete session;
  }
  std::remove(path.c_str());
  Report(state);
}

// The same frames, flags and quality straight into the compressor: the
// encoder's own cost, with nothing of the plug-in around it. Both read the
// frames where they lie.
void BM_EncoderAlone(benchmark::State& state, DWORD handler) {
  std::vector<std::uint8_t> input(40 + static_cast<std::size_t>(kWidth) * 3 * kHeight);
  FillBitmapHeader(input.data(), kWidth, kHeight, 24);
  auto* in = reinterpret_cast<BITMAPINFOHEADER*>(input.data());
  std::vector<std::uint8_t> previous = input;
  const auto& frames = Frames();
  for (auto _ : state) {
    HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
    const LRESULT formatSize = hic != nullptr ? ICCompressGetFormatSize(hic, in) : 0;
    if (formatSize < 40) {
      state.SkipWithError("the compressor is not there");
      if (hic != nullptr) ICClose(hic);
      return;
    }
    std::vector<std::uint8_t> format(static_cast<std::size_t>(formatSize));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    ICCompressGetFormat(hic, in, out);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(ICCompressGetSize(hic, in, out)));
    ICCompressBegin(hic, in, out);
    for (std::uint32_t i = 1; i <= kFrames; ++i) {
      const std::uint8_t* bits = frames[(i - 1) % frames.size()].data();
      const bool key = i % kKeyFrameEvery == 0;
      DWORD ckid = 0, flags = 0;
      ICCompress(hic, key ? ICCOMPRESS_KEYFRAME : 0, out, data.data(), in,
                 const_cast<std::uint8_t*>(bits), &ckid, &flags, static_cast<LONG>(i), 0, kQuality,
                 key ? nullptr : reinterpret_cast<BITMAPINFOHEADER*>(previous.data()),
                 key ? nullptr : previous.data() + 40);
      benchmark::DoNotOptimize(data.data());
    }
    ICCompressEnd(hic);
    ICClose(hic);
  }
  Report(state);
}

BENCHMARK_CAPTURE(BM_PluginCompressedFrames, MJPG, MakeFourCC("MJPG"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderAlone, MJPG, MakeFourCC("MJPG"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PluginCompressedFrames, FFV1, MakeFourCC("FFV1"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_EncoderAlone, FFV1, MakeFourCC("FFV1"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
