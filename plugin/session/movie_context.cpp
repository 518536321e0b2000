#include "plugin/session/movie_context.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/files/path.h"
#include "plugin/host/host_api.h"

namespace {

bool EndsInAvi(const char* path) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return false;
  const char* want = ".avi";
  for (int i = 0; i < 5; ++i) {
    char c = dot[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != want[i]) return false;
  }
  return true;
}

struct ColorChoice {
  std::uint32_t bitDepth;
  std::uint32_t paletteMode;
};

bool ChooseColor(std::int32_t colorFormat, ColorChoice* out) {
  switch (colorFormat) {
    case kColor16:
    case kColor24:
      *out = {24, 0};
      return true;
    case kColor332:
    case kColor666:
    case kColor676:
    case kColorOptimum:
    case kColorPaletteFile:
      *out = {8, static_cast<std::uint32_t>(colorFormat - kColor332 + 1)};
      return true;
    default:
      return false;
  }
}

int Hundredths(float rate) {
  return static_cast<int>(rate * 100.0f + 0.5f);
}

void CopyPath(char (&to)[260], const char* from) {
  std::size_t n = strnlen(from, 259);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

std::uint32_t MovieFrameCount(std::uint32_t startTime, std::uint32_t endTime, float rate) {
  const double frames =
      static_cast<double>(endTime - startTime) / 1000.0 * static_cast<double>(rate) + 0.5;
  // A rate that is not a positive number gives no frames rather than a wild count.
  if (!(frames >= 0.0 && frames < 4294967296.0)) return 0;
  return static_cast<std::uint32_t>(frames);
}

MovieSession* CreateMovieSession(const MovieRequest* request, SessionLimits limits) {
  if (request == nullptr) return nullptr;
  const AviSettings* settings = request->settings;
  if (settings == nullptr || request->version != 1) return nullptr;
  if (request->startTime >= request->endTime) return nullptr;
  // The path field may lack its terminator; never read past it.
  char path[260];
  CopyPath(path, request->outputPath);
  if (!EndsInAvi(path)) return nullptr;
  if (ConfirmMovieRequest(request, 1) == 0) return nullptr;

  const float projectRate = static_cast<float>(ProjectFrameRateX100()) / 100.0f;
  const float outputFrameRate = request->sameAsProject != 0 ? projectRate : settings->frameRate;
  const std::uint32_t rateMismatch =
      request->sameAsProject != 0 && Hundredths(projectRate) != Hundredths(settings->frameRate);
  const std::uint32_t frameCount =
      MovieFrameCount(request->startTime, request->endTime, settings->frameRate);
  if (frameCount == 0) return nullptr;
  ColorChoice color{};
  if (!ChooseColor(settings->colorFormat, &color)) return nullptr;
  const std::uint32_t streamCount =
      settings->audioAvailable != 0 && settings->audioEnabled != 0 && settings->qrvExport == 0 ? 2
                                                                                               : 1;

  std::unique_ptr<MovieSession> session(new (std::nothrow) MovieSession(limits));
  if (session == nullptr || session->audioDataEvent == nullptr) return nullptr;
  CopyPath(session->outputPath, path);
  session->qrvExport = static_cast<std::uint32_t>(settings->qrvExport);
  session->width = settings->width;
  session->height = settings->height;
  session->frameRate = settings->frameRate;
  if (settings->colorFormat == kColorPaletteFile)
    CopyPath(session->video.paletteFile, settings->paletteFile);
  session->video.paletteMode = color.paletteMode;
  session->video.bitDepth = color.bitDepth;
  session->video.compressorHandler = settings->compressorHandler;
  session->video.quality = static_cast<std::uint32_t>(settings->quality);
  session->dataRate = settings->dataRate;
  session->video.keyFrameEvery = static_cast<std::uint32_t>(settings->keyFrameEvery);
  session->interleaveFrames = static_cast<std::uint32_t>(settings->interleaveFrames);
  session->audio.bitsPerSample = static_cast<std::int32_t>(settings->audioFormat[1]);
  session->audio.sampleRate = static_cast<std::int32_t>(settings->audioFormat[2]);
  session->audio.channels = settings->audioFormat[3];
  session->frameCount = frameCount;
  session->streamCount = streamCount;
  session->startTime = request->startTime;
  session->endTime = request->endTime;
  session->video.frameCallback = request->frameCallback;
  session->video.frameCallbackContext = request->frameCallbackContext;
  session->video.tellsRate = ReadProfileInt("NorvAvi", "FramesInfo", 0, 0) != 0;

  if (session->outputPath[0] != '\0' && session->audio.tempAudioPath[0] == '\0') {
    char drive[3], dir[256], name[256];
    norv::platform::SplitPath(session->outputPath, drive, dir, name, nullptr);
    norv::platform::MakePath(session->audio.tempAudioPath, sizeof session->audio.tempAudioPath,
                             drive, dir, "Taltemp101wav", "tmp");
    // Without hardware the host renders its audio into a wave file named
    // like the movie: clip.avi takes its audio from clip.wav beside it.
    norv::platform::MakePath(session->audio.waveFilePath, sizeof session->audio.waveFilePath, drive,
                             dir, name, "wav");
  }
  session->rateMismatch = rateMismatch;
  session->outputFrameRate = outputFrameRate;

  session->video.compressorStateSize = settings->compressorStateSize;
  if (session->video.compressorStateSize != 0) {
    session->video.compressorState.Reset(HostAlloc(session->video.compressorStateSize, 1));
    const void* from = HostBlockAddress(settings->compressorState);
    void* to = HostBlockAddress(session->video.compressorState);
    if (to == nullptr) return nullptr;  // no memory for the state: no session
    if (from != nullptr)
      std::memcpy(to, from, session->video.compressorStateSize);
    else
      session->video.compressorStateSize = 0;  // a size without a block: the compressor's defaults
  }

  if (session->InitializeSession() != 0) return nullptr;
  return session.release();
}
