// One export, as a host runs it: the plug-in's session from
// MakeMovieGetContext to MakeMovieDeleteContext, the audio pushed from a
// second thread while this one feeds the frames, and the frame loop. Plain
// C++ over the exports, shared by norvavi and the Windows test host.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

// What one export is fed.
struct ExportFeed {
  VideoSource* video = nullptr;   // read where it lends each frame (Frame)
  FrameSchedule frames;           // the host's frames: time, count and size
  AudioSource* pushed = nullptr;  // pushed by the host's audio thread; null: none
  PcmFormat pushedFormat;
  std::uint64_t pushedBytes = 0;
};

enum class ExportEnd {
  kDone,              // every frame went in (or the caller stopped it) and the movie is closed
  kNoSession,         // MakeMovieGetContext refused the request
  kNoStart,           // MakeMovieInitCompression failed (its temporary audio file)
  kRenderFailed,      // the source could not give frame `frame`
  kCompressorFailed,  // the plug-in's compressor failed on frame `frame`
  kWriteFailed,       // the plug-in could not write frame `frame`
  kAudioRefused,      // the plug-in refused a block of pushed audio
};

struct ExportOutcome {
  ExportEnd end = ExportEnd::kDone;
  std::uint32_t frame = 0;  // 1-based, for the frame failures
  // What went wrong after the movie began, said as the hosts say it.
  std::string Message() const;
};

class ExportRun {
 public:
  // Nothing is called yet: Begin opens the session.
  ExportRun(const PluginExports& plugin, MovieRequest* request);
  // Ends the session when Feed did not.
  ~ExportRun();
  ExportRun(const ExportRun&) = delete;
  ExportRun& operator=(const ExportRun&) = delete;

  // Opens the session and begins the movie: kDone, kNoSession or kNoStart
  // (the session is then deleted).
  ExportEnd Begin();
  // Starts the audio thread, feeds the frames until they are done, one
  // fails or `stop` says so (checked before each frame), tells `onFrame`
  // the frames that went in, then ends the session: the movie is finished
  // when this returns. Audio still to come is given up after a failure or
  // a stop; a frame may still wait for the audio before it.
  ExportOutcome Feed(const ExportFeed& feed, const std::function<bool()>& stop = {},
                     const std::function<void(std::uint32_t)>& onFrame = {});

 private:
  void End();

  const PluginExports& plugin_;
  MovieRequest* request_;
  void* session_ = nullptr;
  bool begun_ = false;
};

}  // namespace norv::cli
