// Uncompressed 640x480 frames with OpenDML on: a movie that stays in the
// first RIFF form against the same movie with the form boundary lowered so
// that nearly all of it lands in 'AVIX' forms. The two rates should be the
// same: closing a form costs its standard indexes and a few patched header
// fields, and the frames go to the disk the same way in every form.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hoststub/norv_host.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "plugin/settings/default_settings.h"

namespace {

void BM_OpenDmlFrames(benchmark::State& state, std::uint64_t formBytes) {
  const std::uint32_t frames = static_cast<std::uint32_t>(state.range(0));
  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir != nullptr && *dir ? dir : "/tmp") +
                           "/norv-bench-odml-" + std::to_string(::getpid()) + ".avi";
  NorvHostSetProfilePath("");  // a profile in memory: the user's stays untouched
  WriteProfileInt("NorvAvi", "OpenDML", 1, 0);
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
  std::uint32_t forms = 0;
  for (auto _ : state) {
    MovieSession* session = CreateMovieSession(&request, SessionLimits{{}, formBytes});
    if (session == nullptr) {
      state.SkipWithError("the session could not be created");
      break;
    }
    std::uint32_t done = 0;
    for (std::uint32_t i = 0; i < frames; ++i) session->CompressAviFrame(frame.data(), &done);
    session->FinishMovie();
    forms = session->aviWriter.openDml() ? session->aviWriter.openDml()->forms() : 0;
    delete session;
  }
  std::remove(path.c_str());
  WriteProfileInt("NorvAvi", "OpenDML", 0, 0);
  state.counters["forms"] = forms;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * frames);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * frames *
                          static_cast<std::int64_t>(frame.size()));
}
// 250 frames are 230 MB: one form, or fourteen of 16 MiB.
BENCHMARK_CAPTURE(BM_OpenDmlFrames, first_form, kOpenDmlRiffBytes)
    ->Arg(250)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenDmlFrames, extension_forms, 16ull << 20)
    ->Arg(250)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
