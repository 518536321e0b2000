// Uncompressed 640x480 24-bit frames through the frame export path into a
// real file: what one frame costs between the host's call and the disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/session/movie_context.h"
#include "plugin/settings/default_settings.h"

namespace {

void BM_UncompressedFrames(benchmark::State& state) {
  const std::uint32_t frames = static_cast<std::uint32_t>(state.range(0));
  const std::string path = "/tmp/norv-bench-" + std::to_string(::getpid()) + ".avi";
  AviSettings settings;
  FillDefaultSettings(&settings);
  settings.width = 640;
  settings.height = 480;
  settings.audioEnabled = 0;
  settings.interleaveFrames = 1;
  std::vector<std::uint8_t> frame(640 * 480 * 3);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
  MovieRequest request{};
  std::memcpy(request.outputPath, path.c_str(), path.size());
  request.version = 1;
  request.settings = &settings;
  request.endTime = frames * 40;  // 25 frames per second
  for (auto _ : state) {
    MovieSession* session = CreateMovieSession(&request);
    if (session == nullptr) {
      state.SkipWithError("the session could not be created");
      return;
    }
    std::uint32_t done = 0;
    for (std::uint32_t i = 0; i < frames; ++i) session->CompressAviFrame(frame.data(), &done);
    session->FinishMovie();
    delete session;
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * frames);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * frames *
                          static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(BM_UncompressedFrames)->Arg(250)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
