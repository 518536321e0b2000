#include "plugin/session/movie_session.h"

#include <algorithm>
#include <cstring>

#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "platform/ui/message_box.h"
#include "plugin/host/host_api.h"

MovieSession::MovieSession(SessionLimits limits)
    : outputPath{},
      width(0),
      height(0),
      frameRate(0),
      dataRate(0),
      interleaveFrames(0),
      frameCount(0),
      streamCount(1),
      startTime(0),
      endTime(0),
      outputLock{},
      outputFrameRate(0),
      rateMismatch(0),
      qrvExport(0),
      dvReverse(0),
      noInterleave(0),
      audioDataEvent(nullptr),
      videoFramesDone(0),
      ntsc(0),
      openDmlWanted(false),
      aviWriter(AviWriter::kLargestFile, limits.openDmlFormBytes),
      audio(outputLock, audioDataEvent, videoFramesDone, limits.waits) {
  noInterleave = static_cast<std::uint32_t>(ReadProfileInt("KOBRA", "KOBRA_INTERLEAVE", 0, 0));
  openDmlWanted = ReadProfileInt("NorvAvi", "OpenDML", 0, 0) != 0;
  dvReverse = static_cast<std::uint32_t>(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0));
  audioDataEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&outputLock);
}

MovieSession::~MovieSession() {
  if (audioDataEvent != nullptr) CloseHandle(audioDataEvent);
  DeleteCriticalSection(&outputLock);
  // The raw output and the audio feed close their files in their own destructors.
}

int MovieSession::InitializeSession() {
  // The numbers the parts share; each holds its own besides.
  video.width = width;
  video.height = height;
  video.frameRate = frameRate;
  video.outputFrameRate = outputFrameRate;
  video.rateMismatch = rateMismatch;
  video.dataRate = dataRate;
  video.qrvExport = qrvExport;
  video.startTime = audio.startTime = startTime;
  video.endTime = audio.endTime = endTime;
  audio.streamCount = streamCount;
  audio.frameCount = frameCount;
  audio.interleaveFrames = interleaveFrames;
  audio.noInterleave = noInterleave;
  audio.outputFrameRate = outputFrameRate;
  audio.initialAudioChunks = 0;
  if (streamCount == 2) audio.initialAudioChunks = std::min(frameCount, audio.AudioLead());
  if (WriteAviHeaders() != 0) return -1;
  ntsc = static_cast<std::uint32_t>(HostIsNtsc());
  return 0;
}

void MovieSession::FinishMovie() {
  if (video.compressorHandler != 0 && video.compressor != nullptr) ICCompressEnd(video.compressor);
  if (aviWriter.isOpen()) (void)aviWriter.Finish();
}

int MovieSession::StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone) {
  std::uint32_t scratch = 0;
  if (framesDone == nullptr) framesDone = &scratch;
  if (qrvExport != 0) {
    *framesDone = videoFramesDone;
    return 0;
  }
  return audio.StoreAudioBlock(block, framesDone);
}

void MovieSession::CloseCompression() {
  audio.EndAudioCapture();
  if (rawOutputFile.handle != INVALID_HANDLE_VALUE && rawOutputFile.handle != nullptr)
    rawOutputFile.Close();
}
