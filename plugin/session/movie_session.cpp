#include "plugin/session/movie_session.h"

#include <algorithm>
#include <cstring>

#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "platform/ui/message_box.h"
#include "plugin/host/host_api.h"

void ShowMessage(const char* text) {
  FrameworkMessageBox(text, MB_OK);
}

std::uint8_t* AllocLockedBlock(std::size_t bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (h == nullptr) return nullptr;
  auto* p = static_cast<std::uint8_t*>(GlobalLock(h));
  if (p == nullptr) GlobalFree(h);
  return p;
}

void FreeLockedBlock(std::uint8_t*& block) {
  if (block == nullptr) return;
  HGLOBAL h = GlobalHandle(block);
  GlobalUnlock(h);
  GlobalFree(h);
  block = nullptr;
}

AudioWaitLimits& PushedAudioWaitLimits() {
  static AudioWaitLimits limits;
  return limits;
}

MovieSession::MovieSession()
    : outputPath{},
      paletteFile{},
      waveFilePath{},
      width(0),
      height(0),
      frameRate(0),
      bitDepth(0),
      paletteMode(0),
      compressorHandler(0),
      quality(0),
      dataRate(0),
      keyFrameEvery(0),
      interleaveFrames(0),
      bitsPerSample(0),
      sampleRate(0),
      channels(0),
      frameCount(0),
      streamCount(1),
      startTime(0),
      endTime(0),
      frameCallback(nullptr),
      frameCallbackContext(0),
      outputLock{},
      outputFrameRate(0),
      rateMismatch(0),
      lastOutputFrame(-1),
      inputFrameCounter(0),
      compressorStateSize(0),
      compressorState(0),
      qrvExport(0),
      dvReverse(0),
      framesCompressed(0),
      noInterleave(0),
      paletteHandle(nullptr),
      sourceDib(nullptr),
      compressedBuffer(nullptr),
      previousFrame(nullptr),
      eightBitDib(nullptr),
      audioChunkStart(0),
      audioChunkEnd(0),
      audioProgress(0),
      waveFileHandle(nullptr),
      waveFileMapping(nullptr),
      waveFileView(nullptr),
      compressor(nullptr),
      videoFormat(nullptr),
      audioFormat(nullptr),
      audioChunkData(nullptr),
      audioBytesPerInterleave(0),
      videoFormatSize(0),
      audioFormatSize(0),
      frameBytes24(0),
      frameBytes8(0),
      maxFrameBytes(0),
      audioTotalBytes(0),
      isKeyFrame(0),
      videoChunkData(nullptr),
      videoChunkSize(0),
      waveDataOffset(0),
      waveDataStart(nullptr),
      audioDataEvent(nullptr),
      videoFramesDone(0),
      tempAudioPath{},
      audioBuffer(nullptr),
      initialAudioPending(1),
      initialAudioChunks(0),
      carryBytes(0),
      carry{},
      ntsc(0),
      audioBufferSize(0),
      shiftBuffer(nullptr),
      compressedCapacity(0),
      compressedDataOffset(0),
      compressorReadsOnly(false),
      openDmlWanted(false),
      aviWriter(AviWriter::kLargestFile, OpenDmlRiffLimit()) {
  noInterleave = static_cast<std::uint32_t>(ReadProfileInt("KOBRA", "KOBRA_INTERLEAVE", 0, 0));
  openDmlWanted = ReadProfileInt("NorvAvi", "OpenDML", 0, 0) != 0;
  dvReverse = static_cast<std::uint32_t>(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0));
  audioDataEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&outputLock);
}

MovieSession::~MovieSession() {
  // A host that deletes the session without closing the capture still gets
  // its temporary audio file closed and, when it streamed the audio, removed.
  if (tempAudioFile.handle != INVALID_HANDLE_VALUE && tempAudioFile.handle != nullptr)
    EndAudioCapture();
  HostFree(&compressorState);
  FreeLockedBlock(sourceDib);
  FreeLockedBlock(eightBitDib);
  FreeLockedBlock(compressedBuffer);
  FreeLockedBlock(previousFrame);
  FreeLockedBlock(videoFormat);
  FreeLockedBlock(audioFormat);
  if (compressor != nullptr) {
    ICClose(compressor);
    compressor = nullptr;
  }
  waveMmio.reset();
  if (waveFileView != nullptr) UnmapViewOfFile(waveFileView);
  if (waveFileMapping != nullptr) CloseHandle(waveFileMapping);
  if (waveFileHandle != nullptr && waveFileHandle != INVALID_HANDLE_VALUE)
    CloseHandle(waveFileHandle);
  if (audioDataEvent != nullptr) CloseHandle(audioDataEvent);
  delete[] audioBuffer;
  DeleteCriticalSection(&outputLock);
  if (paletteHandle != nullptr) DeleteObject(paletteHandle);
  delete[] shiftBuffer;
  // The two RawFile members close their files in their own destructors.
}

int MovieSession::InitializeSession() {
  initialAudioChunks = 0;
  if (streamCount == 2) initialAudioChunks = std::min(frameCount, AudioLead());
  if (WriteAviHeaders() != 0) return -1;
  ntsc = static_cast<std::uint32_t>(HostIsNtsc());
  return 0;
}

void MovieSession::FinishMovie() {
  if (compressorHandler != 0 && compressor != nullptr) ICCompressEnd(compressor);
  if (aviWriter.isOpen()) (void)aviWriter.Finish();
}
