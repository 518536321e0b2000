// norvtest: the smallest Windows host. It loads NorvAvi.dll beside itself
// (the host's libraries come from the same folder), starts from the plug-in's
// default settings, applies --set assignments and renders the built-in test
// pattern, with the built-in tone when asked, frame for frame as `norvavi
// make` does with the same options, so the two movies can be compared. With
// --settings it opens the AVI Settings dialog instead (settings_check.h).
// --info prints the plug-in's summary of the settings, without a project,
// as `norvavi info --no-project` does; its words come from the DLL's string
// table. --narrow prints, in hex, the code page's bytes for "\u20ACx" as the
// plug-in converts a compressor's description.
//
//   norvtest OUT.avi [--set FIELD=VALUE]... [--duration SECONDS]
//                    [--audio none|tone] [--hardware 0|1]
//   norvtest --info [--set FIELD=VALUE]...
//   norvtest --settings | --narrow
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/image/bitmap_header.h"
#include "plugin/resources/narrow_text.h"
#include "tools/norvavi/host/export_run.h"
#include "tools/norvavi/host/host_feed.h"
#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/host/settings_fields.h"
#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/video_source.h"
#include "tools/wintest/settings_check.h"

namespace {

using namespace norv::cli;

int Fail(const std::string& message) {
  std::fprintf(stderr, "norvtest: %s\n", message.c_str());
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: norvtest OUT.avi [--set FIELD=VALUE]... [--duration SECONDS]\n"
               "                        [--audio none|tone] [--hardware 0|1]\n"
               "       norvtest --info [--set FIELD=VALUE]...\n"
               "       norvtest --settings | --narrow\n");
  return 2;
}

// The wave file the host renders its audio into without hardware, removed
// when the movie is done.
struct ScopedWaveFile {
  std::string path;
  ~ScopedWaveFile() {
    if (!path.empty()) DeleteFileA(path.c_str());
  }
};

struct Options {
  std::string output;
  std::vector<std::string> assignments;
  double duration = 2.0;
  bool tone = false;
  bool hardware = false;
};

// The stand-in host's own control, exported by name from norvhost.dll.
bool SetHostHardware(bool hardware) {
  HMODULE host = GetModuleHandleA("norvhost.dll");
  auto set = host != nullptr ? reinterpret_cast<void (*)(int)>(reinterpret_cast<void*>(
                                   GetProcAddress(host, "NorvHostSetHardware")))
                             : nullptr;
  if (set == nullptr) return false;
  set(hardware ? 1 : 0);
  return true;
}

// The summary without a project, "\r\n" printed as "\n".
int PrintInfo(const PluginExports& plugin, const Options& o) {
  AviSettings settings;
  std::memset(&settings, 0, sizeof settings);
  if (plugin.FileTypeDefaultSettings(1, &settings, 0) == 0)
    return Fail("the plug-in gave no default settings");
  std::string error;
  for (const std::string& a : o.assignments) {
    if (!SetSettingsField(&settings, a, &error)) return Fail(error);
  }
  char text[4096] = {};
  if (plugin.FileTypeGetSettingsInfo(1, text, 0, &settings, nullptr) == 0)
    return Fail("the plug-in wrote no summary");
  std::string lines;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p != '\r') lines += *p;
  std::printf("%s\n", lines.c_str());
  return 0;
}

int PrintNarrow() {
  const WCHAR text[] = {0x20AC, L'x', 0};
  for (const char c : NarrowFromWide(text, 2)) std::printf("%02X ", static_cast<unsigned char>(c));
  std::printf("(code page %u)\n", GetACP());
  return 0;
}

int MakeMovie(const PluginExports& plugin, const Options& o) {
  std::string error;
  if (!SetHostHardware(o.hardware)) return Fail("norvhost.dll has no NorvHostSetHardware");
  AviSettings settings;
  std::memset(&settings, 0, sizeof settings);
  if (plugin.FileTypeDefaultSettings(1, &settings, 0) == 0)
    return Fail("the plug-in gave no default settings");
  for (const std::string& a : o.assignments) {
    if (!SetSettingsField(&settings, a, &error)) return Fail(error);
  }
  if (!o.tone) settings.audioEnabled = 0;

  MovieRequest request;
  if (!PrepareRequest(o.output, &settings, &request)) return Fail("the output path is too long");
  request.endTime = static_cast<std::uint32_t>(std::llround(o.duration * 1000.0));
  auto paletteSource = MakePatternSource();
  OfferPaletteSource(&request, paletteSource.get());

  // The audio as norvavi gives it: a wave file beside the movie, or pushed
  // from a second thread when the host has hardware.
  const bool withAudio = MovieHasAudio(settings);
  const PcmFormat pcm = AudioFormatOf(settings);
  const PcmFormat pushed = PushedFormat(pcm);
  const std::uint64_t spanMs = request.endTime;
  ScopedWaveFile wave;
  std::unique_ptr<AudioSource> tone;
  if (withAudio) {
    if (!pcm.Usable()) return Fail("the settings hold no usable audio format");
    tone = MakeToneSource(o.hardware ? pushed : pcm);
    if (!o.hardware) {
      wave.path = o.output.substr(0, o.output.find_last_of('.')) + ".wav";
      if (!WriteWaveFile(wave.path, pcm, *tone, AudioBytes(pcm, spanMs), &error))
        return Fail(error);
    }
  }

  ExportRun run(plugin, &request);
  if (run.Begin() != ExportEnd::kDone) return Fail("the plug-in could not start the movie");
  const float rate = settings.frameRate;
  const auto frames = static_cast<std::uint32_t>(
      static_cast<double>(spanMs) / 1000.0 * static_cast<double>(rate) + 0.5);
  auto pattern = MakePatternSource();
  ExportFeed feed{
      pattern.get(),
      {0, rate, frames, settings.width, settings.height, DibRowBytes(settings.width, 24)},
      withAudio && o.hardware ? tone.get() : nullptr,
      pushed,
      AudioBytes(pushed, spanMs)};
  const ExportOutcome outcome = run.Feed(feed);
  if (outcome.end != ExportEnd::kDone) return Fail(outcome.Message());
  std::fprintf(stderr, "norvtest: wrote %s (%u frames%s)\n", o.output.c_str(), frames,
               withAudio ? (o.hardware ? ", pushed audio" : ", audio from a wave file") : "");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  Options o;
  o.output = argv[1];
  const bool settingsCheck = o.output == "--settings";
  if (o.output == "--narrow") return argc == 2 ? PrintNarrow() : Usage();
  for (int i = 2; i < argc && !settingsCheck; ++i) {
    const std::string arg = argv[i];
    const std::string value = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--set" && i + 1 < argc) {
      o.assignments.push_back(value);
    } else if (arg == "--duration" && i + 1 < argc) {
      o.duration = std::atof(value.c_str());
    } else if (arg == "--audio" && (value == "none" || value == "tone")) {
      o.tone = value == "tone";
    } else if (arg == "--hardware" && (value == "0" || value == "1")) {
      o.hardware = value == "1";
    } else {
      return Usage();
    }
    ++i;
  }
  if (settingsCheck && argc != 2) return Usage();
  if (!(o.duration > 0 && o.duration < 4e6)) return Fail("--duration must be positive");

  PluginExports plugin;
  std::string error;
  if (!LoadPlugin(DefaultPluginPath(), &plugin, &error)) return Fail(error);
  if (o.output == "--info") return PrintInfo(plugin, o);
  return settingsCheck ? RunSettingsCheck(plugin) : MakeMovie(plugin, o);
}
