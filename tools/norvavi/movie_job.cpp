#include "tools/norvavi/movie_job.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "tools/norvavi/audio_push.h"
#include "tools/norvavi/audio_source.h"
#include "tools/norvavi/avi_verify.h"
#include "tools/norvavi/host_feed.h"
#include "tools/norvavi/host_settings.h"
#include "tools/norvavi/job_guard.h"
#include "tools/norvavi/length_fixup.h"
#include "tools/norvavi/movie_sources.h"
#include "tools/norvavi/plugin_loader.h"
#include "tools/norvavi/prefetching_source.h"
#include "tools/norvavi/progress.h"
#include "tools/norvavi/request_check.h"
#include "tools/norvavi/scoped_profile.h"
#include "tools/norvavi/video_source.h"

namespace norv::cli {

namespace {

// The frames a finished movie holds (with a frame-rate conversion, fewer
// than the host rendered); `rendered` for a raw stream, which has no index.
std::uint64_t FramesInMovie(const std::string& path, std::uint64_t rendered) {
  for (const VerifiedStream& s : VerifyAvi(path).streams)
    if (s.type == "vids") return s.chunks;
  return rendered;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "norvavi: %s\n", message.c_str());
  return 1;
}

// An interrupt before the movie was begun: the shell's status for the signal.
int Stopped(const std::string& message) {
  std::fprintf(stderr, "norvavi: %s\n", message.c_str());
  return 128 + JobGuard::Signal();
}

// The OUT.wav that the movie's sound goes through with --hardware 0, unless
// it is the user's own audio file, read in place; "" when there is none.
std::string WaveFileWritten(const MakeOptions& o, bool withAudio) {
  if (!withAudio || o.hardware) return "";
  const std::string wave = std::filesystem::path(o.output).replace_extension(".wav").string();
  std::error_code ec;
  return std::filesystem::equivalent(wave, o.audio, ec) ? "" : wave;
}

// The files named on the command line.
std::vector<std::string> NamedInputs(const MakeOptions& o) {
  std::vector<std::string> inputs = {o.preset, o.profile};
  if (o.video != "pattern") inputs.push_back(o.video);
  if (o.audio != "tone" && o.audio != "none") inputs.push_back(o.audio);
  return inputs;
}

// The inputs named on the command line, checked before any is opened: an
// input that the movie would overwrite is refused by name, not reported
// later as a file that cannot be read. Whether OUT.wav may be overwritten
// waits for the settings, which tell whether the movie has sound.
bool CheckInputsFirst(const MakeOptions& o) {
  MovieCheck check;
  CheckUserFiles(o.output, WaveFileWritten(o, true), NamedInputs(o), /*force=*/true, &check);
  return ReportCheck(check);
}

// Every reason the movie cannot be made, or would destroy a file of the
// user's, said before anything is written.
bool CheckBeforeWriting(const MakeOptions& o, const MovieRequest& request,
                        const AviSettings& settings) {
  const bool withAudio = MovieHasAudio(settings);
  MovieCheck check = CheckMovie(request, settings, withAudio, o.openDml);
  std::vector<std::string> inputs = NamedInputs(o);
  if (settings.colorFormat == kColorPaletteFile)
    inputs.emplace_back(settings.paletteFile,
                        strnlen(settings.paletteFile, sizeof settings.paletteFile));
  CheckUserFiles(o.output, WaveFileWritten(o, withAudio), inputs, o.force, &check);
  return ReportCheck(check);
}

// The movie was finished early: its headers made to tell its true length,
// and how much of it the file holds.
int ReportInterrupted(const std::string& output, std::uint32_t asked) {
  std::string error;
  if (!SetLengthsToContents(output, &error))
    std::fprintf(stderr, "norvavi: the headers still announce %u frames: %s\n", asked,
                 error.c_str());
  const VerifyReport report = VerifyAvi(output);
  std::uint64_t frames = 0;
  for (const VerifiedStream& stream : report.streams)
    if (stream.type == "vids") frames = stream.chunks;
  std::fprintf(stderr,
               "norvavi: interrupted: %s is finished and plays, with %llu of the %u frames "
               "(%llu bytes)\n",
               output.c_str(), static_cast<unsigned long long>(frames), asked,
               static_cast<unsigned long long>(report.fileSize));
  return 128 + JobGuard::Signal();
}

}  // namespace

bool ApplyHostOptions(const MakeOptions& o) {
  NorvHostSetNtsc(o.ntsc);
  NorvHostSetHardware(o.hardware);
  if (!o.project.empty()) {
    int w, h, r;
    if (!NorvHostParseProject(o.project.c_str(), &w, &h, &r)) {
      std::fprintf(stderr, "norvavi: --project expects WIDTHxHEIGHT@RATE, got \"%s\"\n",
                   o.project.c_str());
      return false;
    }
    NorvHostSetProject(w, h, r);
  } else if (o.ntsc) {
    NorvHostSetProject(720, 480, 2997);
  }
  if (!o.profile.empty()) NorvHostSetProfilePath(o.profile.c_str());
  return true;
}

int MakeMovie(const MakeOptions& o) {
  if (!ApplyHostOptions(o)) return 2;
  const ScopedProfileInt openDml(o.openDml, "NorvAvi", "OpenDML", 1);
  PluginExports plugin;
  std::string error;
  if (!LoadPlugin(o.plugin.empty() ? DefaultPluginPath() : o.plugin, &plugin, &error))
    return Fail(error);
  if (!CheckInputsFirst(o)) return 2;
  StdinSpool spool;
  MovieSources sources;
  if (!ResolveSources(o, &spool, &sources, &error)) return Fail(error);

  HostSettings held;
  AviSettings& settings = held.record;
  if (!BuildSettings(plugin, o, &settings, &error, &sources.facts)) return Fail(error);
  if (o.audio == "none") settings.audioEnabled = 0;

  MovieRequest request;
  std::memset(&request, 0, sizeof request);
  if (o.output.size() >= sizeof request.outputPath) return Fail("the output path is too long");
  std::memcpy(request.outputPath, o.output.c_str(), o.output.size());
  request.version = 1;
  request.settings = &settings;
  if (o.startMs >= 0 || o.endMs >= 0) {
    if (o.startMs < 0 || o.endMs < 0 || o.endMs > 0xFFFFFFFFll)
      return Fail("--start and --end go together, in milliseconds");
    request.startTime = static_cast<std::uint32_t>(o.startMs);
    request.endTime = static_cast<std::uint32_t>(o.endMs);
  } else if (o.WholeVideoFile() && sources.facts.hasVideo) {
    // The whole video file.
    request.endTime = SourceSpanMs(sources.facts);
    if (request.endTime == 0)
      return Fail("cannot tell how long " + o.video + " is: give --duration");
  } else {
    const double seconds = o.duration == 0 ? 5.0 : o.duration;
    if (!(seconds > 0 && seconds < 4e6)) return Fail("--duration must be positive");
    request.endTime = static_cast<std::uint32_t>(std::llround(seconds * 1000.0));
  }
  request.sameAsProject = o.sameAsProject ? 1 : 0;
  if (!CheckBeforeWriting(o, request, settings)) return 2;

  std::unique_ptr<VideoSource> video = OpenVideo(sources, &error);
  if (!video) return Fail(error);
  std::unique_ptr<VideoSource> paletteVideo = OpenVideo(sources, &error);
  OfferPaletteSource(&request, paletteVideo.get());

  const bool withAudio = MovieHasAudio(settings);
  const PcmFormat pcm = AudioFormatOf(settings);
  const PcmFormat pushed = PushedFormat(pcm);
  const std::uint64_t spanMs = request.endTime - request.startTime;
  std::unique_ptr<AudioSource> audio;
  std::string wavePath;
  JobGuard guard;
  if (withAudio && !guard.LockFolder(std::filesystem::path(o.output).parent_path().string()))
    return Stopped("interrupted while waiting; nothing was written");
  // The plug-in leaves it behind when it does not delete it itself.
  if (withAudio) guard.AddTemporary(TemporaryAudioPath(o.output));
  if (withAudio) {
    if (!pcm.Usable()) return Fail("the settings hold no usable audio format");
    audio = OpenAudio(sources, o.hardware ? pushed : pcm, request.startTime, &error);
    if (!audio) return Fail(error);
    if (!o.hardware) {
      // Without hardware the host renders its audio into a wave file named
      // like the movie, where the plug-in looks for it.
      wavePath = std::filesystem::path(o.output).replace_extension(".wav").string();
      std::error_code ec;
      if (std::filesystem::equivalent(wavePath, sources.audioPath, ec))
        wavePath.clear();  // the user's own file is already in place
      else {
        guard.AddTemporary(wavePath);
        if (!WriteWaveFile(wavePath, pcm, *audio, AudioBytes(pcm, spanMs), &error))
          return Fail(error);
      }
    }
  }
  if (JobGuard::Interrupted()) return Stopped("interrupted; nothing was written");

  void* session = plugin.MakeMovieGetContext(&request);
  if (session == nullptr) {
    if (!wavePath.empty()) std::filesystem::remove(wavePath);
    return Fail("the plug-in refused the movie");
  }
  std::uint32_t limit = 0;
  if (plugin.MakeMovieInitCompression(session, 0, 1, &limit) != 0) {
    plugin.MakeMovieDeleteContext(&session);
    if (!wavePath.empty()) std::filesystem::remove(wavePath);
    return Fail("cannot create the temporary audio file next to " + o.output);
  }

  // The host's audio thread pushes the mix in tenths of a second while the
  // video thread renders; the plug-in waits for audio it needs.
  std::atomic<bool> audioFailed{false};
  std::atomic<bool> stopAudio{false};
  std::thread audioThread;
  if (withAudio && o.hardware) {
    audioThread = std::thread([&] {
      if (!PushAudioUntil(plugin, session, *audio, pushed, AudioBytes(pushed, spanMs), stopAudio))
        audioFailed = true;
    });
  }

  const float hostRate =
      o.sameAsProject ? static_cast<float>(ProjectFrameRateX100()) / 100.0f : settings.frameRate;
  const auto hostFrames = static_cast<std::uint32_t>(
      static_cast<double>(spanMs) / 1000.0 * static_cast<double>(hostRate) + 0.5);
  const int width = settings.width, height = settings.height;
  const std::uint32_t rowBytes = DibRowBytes(width, 24);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(rowBytes) *
                                  static_cast<std::size_t>(height));
  // The plug-in reads each frame where the read-ahead left it (no copy), so
  // reading ahead pays for any source; one slot is lent at a time.
  video = PrefetchFrames(std::move(video),
                         {request.startTime, hostRate, hostFrames, width, height, rowBytes}, 4,
                         ReadAhead::kAlways);
  Progress progress(hostFrames, !o.quiet && ::isatty(2));
  int result = 0;
  for (std::uint32_t i = 0; i < hostFrames && !JobGuard::Interrupted(); ++i) {
    const auto t =
        static_cast<std::uint32_t>(request.startTime + static_cast<double>(i) * 1000.0 / hostRate);
    const std::uint8_t* pixels = video->Frame(t, width, height, rowBytes, frame.data());
    if (pixels == nullptr) {
      result = Fail("cannot render frame " + std::to_string(i + 1));
      break;
    }
    std::uint32_t done = 0;
    const std::int32_t r = plugin.MakeMovieCompressVideoFrame(session, pixels, &done);
    if (r != 0) {
      result = Fail(r == -1 ? "the compressor failed on frame " + std::to_string(i + 1)
                            : "cannot write frame " + std::to_string(i + 1));
      break;
    }
    progress.Update(i + 1);
  }
  progress.Finish();
  // Only now: a frame may still have been waiting for its audio. A movie
  // that ended early needs none of the audio still to come.
  stopAudio = result != 0 || JobGuard::Interrupted();
  if (audioThread.joinable()) audioThread.join();
  plugin.MakeMovieCloseCompression(session, 0);
  plugin.MakeMovieDeleteContext(&session);
  OfferPaletteSource(nullptr, nullptr);
  if (!wavePath.empty()) std::filesystem::remove(wavePath);
  if (result == 0 && audioFailed) result = Fail("the plug-in did not take the audio");
  if (result == 0 && JobGuard::Interrupted()) return ReportInterrupted(o.output, hostFrames);
  if (result == 0 && !o.quiet) {
    std::error_code ec;
    auto bytes = std::filesystem::file_size(o.output, ec);
    std::fprintf(stderr, "norvavi: wrote %s (%llu frames, %llu bytes)\n", o.output.c_str(),
                 static_cast<unsigned long long>(FramesInMovie(o.output, hostFrames)),
                 static_cast<unsigned long long>(ec ? 0 : bytes));
  }
  return result;
}

}  // namespace norv::cli
