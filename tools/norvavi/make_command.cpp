#include "tools/norvavi/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/length_fixup.h"
#include "tools/norvavi/host/export_run.h"
#include "tools/norvavi/host/host_feed.h"
#include "tools/norvavi/host/host_settings.h"
#include "tools/norvavi/host/job_guard.h"
#include "tools/norvavi/host/output_lock.h"
#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/host/progress.h"
#include "tools/norvavi/host/request_check.h"
#include "tools/norvavi/host/scoped_profile.h"
#include "tools/norvavi/movie_sources.h"
#include "tools/norvavi/movie_span.h"
#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/prefetching_source.h"
#include "tools/norvavi/sources/video_source.h"

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

// A width or height refused that is the source's own: the user never typed
// it, so the refusal says where it came from and how to choose another.
void NameSourceSize(const SourceFacts& facts, const AviSettings& settings, MovieCheck* check) {
  const bool sizeRefused = std::any_of(
      check->refusals.begin(), check->refusals.end(),
      [](const std::string& r) { return r.rfind("width=", 0) == 0 || r.rfind("height=", 0) == 0; });
  AviSettings own = settings;
  ApplySourceDefaults(facts, &own);
  if (sizeRefused && own.width == settings.width && own.height == settings.height)
    check->refusals.push_back("that is the source's size, " + std::to_string(own.width) + "x" +
                              std::to_string(own.height) +
                              ": give the movie one it takes with --size WIDTHxHEIGHT");
}

// Every reason the movie cannot be made, or would destroy a file of the
// user's, said before anything is written. `source`: the video file's facts,
// null for the pattern.
bool CheckBeforeWriting(const MakeOptions& o, const MovieRequest& request,
                        const AviSettings& settings, const SourceFacts* source) {
  const bool withAudio = MovieHasAudio(settings);
  MovieCheck check = o.noCheck ? MovieCheck{} : CheckMovie(request, settings, withAudio, o.openDml);
  if (source != nullptr) NameSourceSize(*source, settings, &check);
  std::vector<std::string> inputs = NamedInputs(o);
  if (settings.colorFormat == kColorPaletteFile)
    inputs.emplace_back(settings.paletteFile,
                        strnlen(settings.paletteFile, sizeof settings.paletteFile));
  CheckUserFiles(o.output, WaveFileWritten(o, withAudio), inputs, o.force, &check);
  return ReportCheck(check);
}

// A write that failed, most often for want of space: what is left and how
// to finish it.
void SayWhyWritingStopped(const std::string& output) {
  const std::uint64_t free = FreeBytesBeside(output);
  if (free < (1u << 20))
    std::fprintf(stderr, "norvavi: the disk holding %s is full (%llu KB free)\n", output.c_str(),
                 static_cast<unsigned long long>(free / 1024));
  std::fprintf(stderr,
               "norvavi: %s is left unfinished: once there is room, norvavi repair %s "
               "--in-place finishes it with the frames written so far\n",
               output.c_str(), output.c_str());
}

// One line when the preset or --set gives the movie another size or rate
// than the source's, which would otherwise pass unnoticed.
void NoteSizeAndRate(const SourceFacts& facts, const AviSettings& settings) {
  AviSettings own = settings;
  ApplySourceDefaults(facts, &own);
  const bool size = own.width != settings.width || own.height != settings.height;
  const bool rate = std::fabs(own.frameRate - settings.frameRate) > 0.0005f;
  if (!size && !rate) return;
  std::fprintf(stderr,
               "norvavi: the movie is %dx%d at %g fps, the source %dx%d at %g fps "
               "(--size source and --rate source keep the source's)\n",
               settings.width, settings.height, static_cast<double>(settings.frameRate), own.width,
               own.height, static_cast<double>(own.frameRate));
}

// The source's decoder threads. A compressor keeps a core busy with the
// pictures the decoder hands on, so the decoder takes the cores it leaves
// (more threads than cores only take turns, and each frame thread holds
// frames of its own); with nothing to compress it takes as many as
// libavcodec finds worth it (0).
int DecoderThreads(const AviSettings& settings) {
  if (settings.compressorHandler == 0) return 0;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 2 ? static_cast<int>(cores) - 1 : 1;
}

// The frames the read-ahead holds: eight, enough to bank the work of the
// movie's first frames while it is begun, as long as they fit in 32 MB
// (four at least, as many as keep both cores busy once it runs).
std::size_t ReadAheadDepth(const FrameSchedule& schedule) {
  constexpr std::size_t kBudget = std::size_t{32} << 20;
  const std::size_t frame =
      static_cast<std::size_t>(schedule.rowBytes) * static_cast<std::size_t>(schedule.height);
  return std::clamp<std::size_t>(frame == 0 ? 8 : kBudget / frame, 4, 8);
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

int MakeMovie(const MakeOptions& o) {
  if (!ApplyHostOptions(o)) return 2;
  const ScopedProfileInt openDml(o.openDml, "NorvAvi", "OpenDML", 1);
  // The compressors hear the movie's rate, so their streams state it too.
  const ScopedProfileInt framesInfo(true, "NorvAvi", "FramesInfo", 1);
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
  if (!BuildSettings(plugin, o.Choices(), &settings, &error, &sources.facts)) return Fail(error);
  if (o.audio == "none") settings.audioEnabled = 0;
  if (!o.quiet && !o.sameAsProject && !sources.videoPath.empty())
    NoteSizeAndRate(sources.facts, settings);

  MovieRequest request;
  if (!PrepareRequest(o.output, &settings, &request)) return Fail("the output path is too long");
  MovieSpan span;
  if (ChooseSpan(o, sources.facts, !sources.videoPath.empty(), &span, &error) ==
      SpanChoice::kRefused) {
    std::fprintf(stderr, "norvavi: %s\nnorvavi: nothing was written\n", error.c_str());
    return 2;
  }
  request.startTime = span.startMs;
  request.endTime = span.endMs;
  request.sameAsProject = o.sameAsProject ? 1 : 0;
  if (!CheckBeforeWriting(o, request, settings,
                          sources.videoPath.empty() ? nullptr : &sources.facts))
    return 2;
  JobGuard guard;

  DecodeErrors decodeErrors;
  std::unique_ptr<VideoSource> video =
      OpenVideo(sources, &error, &decodeErrors, DecoderThreads(settings));
  if (!video) return Fail(error);
  const std::unique_ptr<VideoSource> paletteVideo = OpenVideoWhenAsked(sources);
  OfferPaletteSource(&request, paletteVideo.get());

  const std::uint64_t spanMs = request.endTime - request.startTime;
  const float hostRate =
      o.sameAsProject ? static_cast<float>(ProjectFrameRateX100()) / 100.0f : settings.frameRate;
  const auto hostFrames = static_cast<std::uint32_t>(
      static_cast<double>(spanMs) / 1000.0 * static_cast<double>(hostRate) + 0.5);
  const FrameSchedule schedule{request.startTime, hostRate,        hostFrames,
                               settings.width,    settings.height, DibRowBytes(settings.width, 24)};
  // The plug-in reads each frame where the read-ahead left it (no copy), so
  // reading ahead pays for any source; one slot is lent at a time. It starts
  // now, on the other core, and banks frames while the sound is written and
  // the plug-in begins the movie.
  video = PrefetchFrames(std::move(video), schedule, ReadAheadDepth(schedule), ReadAhead::kAlways);

  const bool withAudio = MovieHasAudio(settings);
  const PcmFormat pcm = AudioFormatOf(settings);
  const PcmFormat pushed = PushedFormat(pcm);
  std::unique_ptr<AudioSource> audio;
  if (withAudio && !guard.LockFolder(std::filesystem::path(o.output).parent_path().string()))
    return Stopped("interrupted while waiting; nothing was written");
  // Under the folder's lock no other job's temporary audio file is there:
  // one that is belongs to the user (or to a job that was killed).
  std::error_code exists;
  if (withAudio && !o.force && std::filesystem::exists(TemporaryAudioPath(o.output), exists)) {
    std::fprintf(stderr,
                 "norvavi: %s exists: the plug-in writes the movie's sound through a file of that "
                 "name and then removes it; move it away, or add --force\nnorvavi: nothing was "
                 "written\n",
                 TemporaryAudioPath(o.output).c_str());
    return 2;
  }
  // After the folder's lock: a job waiting there has not touched its output yet.
  OutputLock outputLock;
  switch (outputLock.Take(o.output, o.force, &error)) {
    case OutputLock::Result::kMade:
      guard.AddTemporary(o.output);  // until the movie is begun
      break;
    case OutputLock::Result::kLocked:
      break;
    case OutputLock::Result::kExists:
      std::fprintf(stderr, "norvavi: %s\nnorvavi: nothing was written\n",
                   OutputExists(o.output).c_str());
      return 2;
    case OutputLock::Result::kInterrupted:
      return Stopped("interrupted while waiting; nothing was written");
    case OutputLock::Result::kFailed:
      std::fprintf(stderr, "norvavi: %s\nnorvavi: nothing was written\n", error.c_str());
      return 2;
  }
  // The plug-in leaves it behind when it does not delete it itself.
  if (withAudio) guard.AddTemporary(TemporaryAudioPath(o.output));
  if (withAudio) {
    if (!pcm.Usable()) return Fail("the settings hold no usable audio format");
    audio = OpenAudio(sources, o.hardware ? pushed : pcm, request.startTime, &error, &decodeErrors);
    if (!audio) return Fail(error);
    if (!o.hardware) {
      // Without hardware the host renders its audio into a wave file named
      // like the movie, where the plug-in looks for it; the guard removes it.
      const std::string wavePath =
          std::filesystem::path(o.output).replace_extension(".wav").string();
      std::error_code ec;
      if (!std::filesystem::equivalent(wavePath, sources.audioPath, ec)) {
        guard.AddTemporary(wavePath);
        if (!WriteWaveFile(wavePath, pcm, *audio, AudioBytes(pcm, spanMs), &error))
          return Fail(error);
      }  // else the user's own file is already in place
    }
  }
  if (JobGuard::Interrupted()) return Stopped("interrupted; nothing was written");

  ExportRun run(plugin, &request);
  const ExportEnd begun = run.Begin();
  if (begun == ExportEnd::kNoSession) return Fail("the plug-in refused the movie");
  if (begun == ExportEnd::kNoStart)
    return Fail("cannot create the temporary audio file next to " + o.output);
  guard.Keep(o.output);

  ExportFeed feed{video.get(), schedule, nullptr, pushed, AudioBytes(pushed, spanMs)};
  if (withAudio && o.hardware) feed.pushed = audio.get();
  Progress progress(hostFrames, !o.quiet && ::isatty(2));
  const ExportOutcome outcome = run.Feed(
      feed, [] { return JobGuard::Interrupted(); },
      [&progress](std::uint32_t frames) { progress.Update(frames); });
  progress.Finish();
  const int result = outcome.end == ExportEnd::kDone ? 0 : Fail(outcome.Message());
  if (outcome.end == ExportEnd::kWriteFailed) SayWhyWritingStopped(o.output);
  if (result == 0 && JobGuard::Interrupted()) return ReportInterrupted(o.output, hostFrames);
  if (result == 0 && !span.shortened.empty())
    std::fprintf(stderr, "norvavi: %s\n", span.shortened.c_str());
  // Damaged input: the movie holds what the decoders made of it.
  const bool damaged = decodeErrors.Count() > 0;
  if (result == 0 && damaged)
    std::fprintf(stderr,
                 "norvavi: the source is damaged: %s (the movie shows what could be "
                 "decoded there)\n",
                 decodeErrors.Describe().c_str());
  if (result == 0 && !o.quiet) {
    std::error_code ec;
    auto bytes = std::filesystem::file_size(o.output, ec);
    std::fprintf(stderr, "norvavi: wrote %s (%llu frames, %llu bytes)\n", o.output.c_str(),
                 static_cast<unsigned long long>(FramesInMovie(o.output, hostFrames)),
                 static_cast<unsigned long long>(ec ? 0 : bytes));
  }
  return result == 0 && (damaged || !span.shortened.empty()) ? kShortened : result;
}

}  // namespace norv::cli
