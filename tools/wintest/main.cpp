// norvtest: the smallest Windows host. It loads NorvAvi.dll beside itself
// (the host's libraries come from the same folder), starts from the plug-in's
// default settings, applies --set assignments and renders the built-in test
// pattern into a video-only movie, frame for frame as `norvavi make` does
// with --audio none, so the two movies can be compared. With --settings it
// opens the AVI Settings dialog instead (settings_check.h).
//
//   norvtest OUT.avi [--set FIELD=VALUE]... [--duration SECONDS]
//   norvtest --settings
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/avi/bitmap_header.h"
#include "tools/norvavi/plugin_loader.h"
#include "tools/norvavi/settings_fields.h"
#include "tools/norvavi/video_source.h"
#include "tools/wintest/settings_check.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "norvtest: %s\n", message.c_str());
  return 1;
}

// The render callback for the optimum palette's samples, as norvavi offers it.
norv::cli::VideoSource* g_paletteSource = nullptr;

std::int32_t NORV_STDCALL RenderForPalette(std::uint32_t code, std::uint32_t, void* args) {
  if (code != 2 || args == nullptr || g_paletteSource == nullptr) return 1;
  auto* a = static_cast<RenderFrameArgs*>(args);
  BITMAPINFOHEADER h;
  std::memcpy(&h, a->sample, sizeof h);
  if (h.biWidth < 1 || h.biHeight < 1 || h.biBitCount != 24) return 1;
  return g_paletteSource->Render(a->timeMs, h.biWidth, h.biHeight, DibRowBytes(h.biWidth, 24),
                                 a->sample + sizeof h)
             ? 0
             : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: norvtest OUT.avi [--set FIELD=VALUE]... [--duration SECONDS]\n"
               "       norvtest --settings\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace norv::cli;
  if (argc < 2) return Usage();
  const std::string output = argv[1];
  if (output == "--settings") {
    if (argc != 2) return Usage();
    PluginExports plugin;
    std::string error;
    if (!LoadPlugin(DefaultPluginPath(), &plugin, &error)) return Fail(error);
    return RunSettingsCheck(plugin);
  }
  std::vector<std::string> assignments;
  double duration = 2.0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--set" && i + 1 < argc) {
      assignments.emplace_back(argv[++i]);
    } else if (arg == "--duration" && i + 1 < argc) {
      duration = std::atof(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (!(duration > 0 && duration < 4e6)) return Fail("--duration must be positive");

  PluginExports plugin;
  std::string error;
  if (!LoadPlugin(DefaultPluginPath(), &plugin, &error)) return Fail(error);

  AviSettings settings;
  std::memset(&settings, 0, sizeof settings);
  if (plugin.FileTypeDefaultSettings(1, &settings, 0) == 0)
    return Fail("the plug-in gave no default settings");
  for (const std::string& a : assignments) {
    if (!SetSettingsField(&settings, a, &error)) return Fail(error);
  }
  settings.audioEnabled = 0;

  MovieRequest request;
  std::memset(&request, 0, sizeof request);
  if (output.size() >= sizeof request.outputPath) return Fail("the output path is too long");
  std::memcpy(request.outputPath, output.c_str(), output.size());
  request.version = 1;
  request.settings = &settings;
  request.endTime = static_cast<std::uint32_t>(std::llround(duration * 1000.0));
  auto paletteSource = MakePatternSource();
  g_paletteSource = paletteSource.get();
  request.frameCallback = &RenderForPalette;
  request.frameCallbackContext = 1;

  void* session = plugin.MakeMovieGetContext(&request);
  if (session == nullptr) return Fail("the plug-in refused the movie");
  std::uint32_t limit = 0;
  if (plugin.MakeMovieInitCompression(session, 0, 1, &limit) != 0) {
    plugin.MakeMovieDeleteContext(&session);
    return Fail("the plug-in could not start the movie");
  }

  const float rate = settings.frameRate;
  const auto frames = static_cast<std::uint32_t>(
      static_cast<double>(request.endTime) / 1000.0 * static_cast<double>(rate) + 0.5);
  const int width = settings.width, height = settings.height;
  const std::uint32_t rowBytes = DibRowBytes(width, 24);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(rowBytes) *
                                  static_cast<std::size_t>(height));
  auto pattern = MakePatternSource();
  int result = 0;
  for (std::uint32_t i = 0; i < frames && result == 0; ++i) {
    const auto t = static_cast<std::uint32_t>(static_cast<double>(i) * 1000.0 / rate);
    pattern->Render(t, width, height, rowBytes, frame.data());
    std::uint32_t done = 0;
    const std::int32_t r = plugin.MakeMovieCompressVideoFrame(session, frame.data(), &done);
    if (r != 0) {
      result = Fail((r == -1 ? "the compressor failed on frame " : "cannot write frame ") +
                    std::to_string(i + 1));
    }
  }
  plugin.MakeMovieCloseCompression(session, 0);
  plugin.MakeMovieDeleteContext(&session);
  if (result == 0) std::fprintf(stderr, "norvtest: wrote %s (%u frames)\n", output.c_str(), frames);
  return result;
}
