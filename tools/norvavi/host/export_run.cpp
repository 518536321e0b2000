#include "tools/norvavi/host/export_run.h"

#include <memory>

#include "plugin/image/bitmap_header.h"
#include "tools/norvavi/host/audio_push.h"
#include "tools/norvavi/host/host_feed.h"

namespace norv::cli {

std::string ExportOutcome::Message() const {
  const std::string n = std::to_string(frame);
  switch (end) {
    case ExportEnd::kDone:
      return "";
    case ExportEnd::kNoSession:
      return "the plug-in refused the movie";
    case ExportEnd::kNoStart:
      return "the plug-in could not begin the movie";
    case ExportEnd::kRenderFailed:
      return "cannot render frame " + n;
    case ExportEnd::kCompressorFailed:
      return "the compressor failed on frame " + n;
    case ExportEnd::kWriteFailed:
      return "cannot write frame " + n;
    case ExportEnd::kAudioRefused:
      return "the plug-in did not take the audio";
  }
  return "";
}

ExportRun::ExportRun(const PluginExports& plugin, MovieRequest* request)
    : plugin_(plugin), request_(request) {}

ExportRun::~ExportRun() {
  End();
}

ExportEnd ExportRun::Begin() {
  session_ = plugin_.MakeMovieGetContext(request_);
  if (session_ == nullptr) return ExportEnd::kNoSession;
  std::uint32_t limit = 0;
  if (plugin_.MakeMovieInitCompression(session_, 0, 1, &limit) != 0) {
    End();
    return ExportEnd::kNoStart;
  }
  begun_ = true;
  return ExportEnd::kDone;
}

ExportOutcome ExportRun::Feed(const ExportFeed& feed, const std::function<bool()>& stop,
                              const std::function<void(std::uint32_t)>& onFrame) {
  // The host's audio thread pushes the mix in tenths of a second while the
  // video thread renders; the plug-in waits for audio it needs.
  std::atomic<bool> audioFailed{false};
  std::atomic<bool> stopAudio{false};
  std::thread audioThread;
  if (feed.pushed != nullptr) {
    audioThread = std::thread([&] {
      if (!PushAudioUntil(plugin_, session_, *feed.pushed, feed.pushedFormat, feed.pushedBytes,
                          stopAudio))
        audioFailed = true;
    });
  }

  const FrameSchedule& s = feed.frames;
  // Left unfilled: a source writes every byte of a frame, and one read
  // ahead lends its own, so these pages are mostly never touched.
  const auto scratch = std::make_unique_for_overwrite<std::uint8_t[]>(
      static_cast<std::size_t>(s.rowBytes) * static_cast<std::size_t>(s.height));
  ExportOutcome outcome;
  for (std::uint32_t i = 0; i < s.frames && !(stop && stop()); ++i) {
    const std::uint8_t* pixels =
        feed.video->Frame(s.TimeOf(i), s.width, s.height, s.rowBytes, scratch.get());
    if (pixels == nullptr) {
      outcome = {ExportEnd::kRenderFailed, i + 1};
      break;
    }
    std::uint32_t done = 0;
    const std::int32_t r = plugin_.MakeMovieCompressVideoFrame(session_, pixels, &done);
    if (r != 0) {
      outcome = {r == -1 ? ExportEnd::kCompressorFailed : ExportEnd::kWriteFailed, i + 1};
      break;
    }
    if (onFrame) onFrame(i + 1);
  }
  // Only now: a frame may still have been waiting for its audio. A movie
  // that ended early needs none of the audio still to come.
  stopAudio = outcome.end != ExportEnd::kDone || (stop && stop());
  if (audioThread.joinable()) audioThread.join();
  End();
  if (outcome.end == ExportEnd::kDone && audioFailed) outcome.end = ExportEnd::kAudioRefused;
  return outcome;
}

void ExportRun::End() {
  if (session_ == nullptr) return;
  if (begun_) plugin_.MakeMovieCloseCompression(session_, 0);
  plugin_.MakeMovieDeleteContext(&session_);
  session_ = nullptr;
  begun_ = false;
  // The render callback's source goes with the movie.
  OfferPaletteSource(nullptr, nullptr);
}

}  // namespace norv::cli
