// The audio of a movie: where it comes from (a wave file the host rendered
// beside the movie, or blocks the host pushes while the video is written,
// held in a temporary file), how it is cut into slices, and where each slice
// goes among the video chunks. The session owns one and lends it its lock,
// its event and its count of frames done.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/files/files.h"
#include "platform/kernel_object.h"
#include "platform/riff/riff_file.h"
#include "platform/sync/sync.h"
#include "plugin/avi/avi_writer.h"
#include "plugin/host/movie_request.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/owned_handle.h"
#include "plugin/io/raw_file.h"

// How long the video side waits for pushed audio.
struct AudioWaitLimits {
  std::uint32_t normalMs = 20000;
  std::uint32_t nearEndMs = 1000;
};

// The numbers of the movie that the audio follows.
struct AudioShape {
  std::uint32_t streamCount = 1;
  std::uint32_t frameCount = 0;
  std::uint32_t interleaveFrames = 0;
  std::uint32_t noInterleave = 0;
  float outputFrameRate = 0;
  std::int32_t bitsPerSample = 0;
  std::int32_t sampleRate = 0;
  std::uint32_t channels = 0;
  std::uint32_t startTime = 0;
  std::uint32_t endTime = 0;
};

// The feed is shaped by the movie: it reads these numbers as its own.
class AudioFeed : public AudioShape {
 public:
  AudioFeed(CRITICAL_SECTION& outputLock, const HANDLE& audioDataEvent,
            const std::atomic<std::uint32_t>& videoFramesDone, AudioWaitLimits waits);
  ~AudioFeed();
  AudioFeed(const AudioFeed&) = delete;
  AudioFeed& operator=(const AudioFeed&) = delete;

  // The stream's format and size for pushed audio; 1 on success.
  int InitializeAudio();
  // The same from the wave file beside the movie; 0 on success.
  int OpenWaveFile();
  // Moves the slice on to the target audioProgress sets.
  void AdvanceAudioChunk();
  std::uint32_t AudioLead() const;  // Lf, before clamping to the frame count
  std::uint32_t ComputeIndexCapacity() const;

  // How the writer's results are reported: 0 written, -1 not.
  using Report = std::function<int(AviStatus)>;
  // The audio-only chunks ahead of the first frame, once.
  int WriteInitialAudio(AviWriter& writer, const Report& report);
  // A frame's video chunk (`framesCompressed` counts it already) and the
  // audio the interleave rule puts after it.
  int WriteFrameChunks(AviWriter& writer, std::uint32_t framesCompressed, bool key,
                       AviWriter::Chunk video, const Report& report);

  // Pushed audio: the temporary file, appended by the audio caller and read
  // back slice by slice by the video caller.
  int BeginAudioCapture();
  void EndAudioCapture();
  int StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone);
  // Every fourth sample frame of the carry and the block, into `out`; the
  // bytes kept there, 0 when none.
  std::uint32_t ReduceSampleRate(std::uint32_t byteCount, const std::uint8_t* data,
                                 std::unique_ptr<std::uint8_t[]>* out);
  int ReadPushedAudio();

  AudioWaitLimits waits;
  char waveFilePath[260] = {};
  char tempAudioPath[260] = {};
  LockedBlock audioFormat;  // 16-byte PCM format
  std::uint32_t audioFormatSize = 0;
  std::uint32_t audioTotalBytes = 0;
  float audioBytesPerInterleave = 0;
  // The slice in progress: [audioChunkStart, audioChunkEnd) at audioChunkData.
  std::uint32_t audioChunkStart = 0;
  std::uint32_t audioChunkEnd = 0;
  std::uint8_t* audioChunkData = nullptr;
  float audioProgress = 0;  // the fraction of the whole the audio must reach
  std::uint32_t initialAudioPending = 1;
  std::uint32_t initialAudioChunks = 0;
  // The wave file, mapped; declared in the order they open, so they close
  // view first, file last.
  OwnedHandle<HANDLE, CloseHandle> waveFileHandle;
  OwnedHandle<HANDLE, CloseHandle> waveFileMapping;
  OwnedHandle<std::uint8_t*, UnmapViewOfFile> waveFileView;
  std::uint32_t waveDataOffset = 0;
  std::uint8_t* waveDataStart = nullptr;
  // Pushed audio.
  RawFile tempAudioFile;
  std::unique_ptr<std::uint8_t[]> audioBuffer;
  std::uint32_t audioBufferSize = 0;  // bytes at audioBuffer; reads never pass it
  std::uint32_t carryBytes = 0;       // sample frames kept for the next reduction
  std::uint8_t carry[40] = {};

 private:
  bool CaptureOpen() const;

  CRITICAL_SECTION& outputLock_;
  const HANDLE& audioDataEvent_;
  const std::atomic<std::uint32_t>& videoFramesDone_;
};
