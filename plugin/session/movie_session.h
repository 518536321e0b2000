// The per-export context object: the request's numbers and the parts of a
// movie that it owns: the AVI writer (avi/), the audio feed (audio/) and
// the frame encoder (video/).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/riff/riff_file.h"
#include "platform/sync/sync.h"
#include "platform/vfw/vfw.h"
#include "plugin/audio/audio_feed.h"
#include "plugin/avi/avi_structs.h"
#include "plugin/avi/avi_writer.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/movie_request.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/message.h"
#include "plugin/io/raw_file.h"
#include "plugin/video/frame_encoder.h"

// The limits a session works within: a host gets these defaults; tests and
// benchmarks lower them to reach the edges with small movies.
struct SessionLimits {
  AudioWaitLimits waits;
  std::uint64_t openDmlFormBytes = kOpenDmlRiffBytes;  // where each RIFF form is closed
};

class MovieSession {
 public:
  explicit MovieSession(SessionLimits limits = {});
  ~MovieSession();
  MovieSession(const MovieSession&) = delete;
  MovieSession& operator=(const MovieSession&) = delete;

  // Lifecycle (session/)
  int InitializeSession();
  void FinishMovie();

  // The file's plan; the AVI writer writes it
  int WriteAviHeaders();
  int BuildStreamHeaders(AviStreamPlan* plan);
  bool RecordsInUse() const;  // each frame's chunks in a 'rec ' record

  // Audio: the raw stream takes none; else the feed stores the block.
  int StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone);
  // Closes the temporary audio and the raw output at the end of the capture.
  void CloseCompression();
  // The writer's result as the frame calls report it: 0 written, -1 not,
  // with the message of a file that has just reached its largest size.
  int ReportChunks(AviStatus status);

  // Frames: the encoder makes the chunk, the session writes it
  int CompressAviFrame(const std::uint8_t* frame, std::uint32_t* framesDone);
  int WriteRawFrame(const std::uint8_t* frame, std::uint32_t* framesDone);

  char outputPath[260];
  std::int32_t width;
  std::int32_t height;
  float frameRate;
  std::int32_t dataRate;
  std::uint32_t interleaveFrames;
  std::uint32_t frameCount;
  std::uint32_t streamCount;
  std::uint32_t startTime;
  std::uint32_t endTime;
  CRITICAL_SECTION outputLock;
  float outputFrameRate;
  std::uint32_t rateMismatch;
  std::uint32_t qrvExport;
  std::uint32_t dvReverse;
  std::uint32_t noInterleave;
  HANDLE audioDataEvent;
  RawFile rawOutputFile;
  // The video caller counts, the audio caller only reads: one atomic word.
  std::atomic<std::uint32_t> videoFramesDone;
  std::uint32_t ntsc;

  bool openDmlWanted;   // the host profile asks for OpenDML past the first form
  AviWriter aviWriter;  // the AVI file, once the headers are written
  AudioFeed audio;      // the audio stream: its source, its slices and where they go
  FrameEncoder video;   // the video stream: frames into chunks
};
