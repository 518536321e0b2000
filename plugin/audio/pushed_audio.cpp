// Audio the host pushes while the video is written: appended to a temporary
// file next to the output by the audio caller, read back slice by slice by
// the video caller, which waits when the bytes are not there yet. The lock
// guards single file operations and is never held across a wait.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "plugin/audio/audio_feed.h"
#include "plugin/audio/audio_format.h"
#include "plugin/host/host_api.h"

int AudioFeed::BeginAudioCapture() {
  if (streamCount != 2) return 0;
  if (CaptureOpen()) tempAudioFile.Close();
  return tempAudioFile.Create(tempAudioPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr)
             ? 0
             : 1;
}

bool AudioFeed::CaptureOpen() const {
  return tempAudioFile.handle != INVALID_HANDLE_VALUE && tempAudioFile.handle != nullptr;
}

void AudioFeed::EndAudioCapture() {
  if (CaptureOpen()) tempAudioFile.Close();
  if (streamCount == 2 && HostHasHardware() != 0) DeleteFileA(tempAudioPath);
}

std::uint32_t AudioFeed::ReduceSampleRate(std::uint32_t byteCount, const std::uint8_t* data,
                                          std::unique_ptr<std::uint8_t[]>* out) {
  out->reset();
  const std::size_t frame = channels * static_cast<std::uint32_t>(bitsPerSample) / 8;
  const std::size_t total = static_cast<std::size_t>(byteCount) + carryBytes;
  if (frame == 0 || total < frame || total / (4 * frame) == 0) {
    carryBytes = 0;
    return 0;
  }
  const std::size_t groups = total / (4 * frame);
  std::unique_ptr<std::uint8_t[]> owned(new (std::nothrow) std::uint8_t[total + 40]);
  std::uint8_t* buffer = owned.get();
  if (buffer == nullptr) {
    carryBytes = 0;
    return 0;
  }
  std::memcpy(buffer, carry, carryBytes);
  std::memcpy(buffer + carryBytes, data, byteCount);
  // Keep the whole sample frames of an incomplete group for the next block.
  const std::size_t rest = total % (4 * frame);
  if (rest == 0) {
    carryBytes = 0;
  } else {
    std::memset(carry, 0, sizeof carry);
    const std::size_t keep = rest - rest % frame;
    if (keep < sizeof carry) {
      std::memcpy(carry, buffer + total - keep, keep);
      carryBytes = static_cast<std::uint32_t>(keep);
    } else {
      carryBytes = 0;
    }
  }
  for (std::size_t g = 0; g < groups; ++g)
    std::memmove(buffer + g * frame, buffer + g * 4 * frame, frame);
  *out = std::move(owned);
  return static_cast<std::uint32_t>(groups * frame);
}

int AudioFeed::StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone) {
  std::uint32_t scratch = 0;
  if (framesDone == nullptr) framesDone = &scratch;
  if (block->byteCount == 0 || block->data == nullptr) return 1;
  const std::uint8_t* data = block->data;
  std::uint32_t count = block->byteCount;
  std::unique_ptr<std::uint8_t[]> reduced;
  if (sampleRate < 22050) {
    count = ReduceSampleRate(block->byteCount, block->data, &reduced);
    if (count == 0 || reduced == nullptr) {
      *framesDone = videoFramesDone_;
      return 0;
    }
    data = reduced.get();
  }
  EnterCriticalSection(&outputLock_);
  const BOOL written = tempAudioFile.Write(data, count, nullptr, nullptr);
  LeaveCriticalSection(&outputLock_);
  if (!written) return 1;
  SetEvent(audioDataEvent_);
  *framesDone = videoFramesDone_;
  return 0;
}

int AudioFeed::ReadPushedAudio() {
  if (audioChunkData == nullptr || streamCount != 2) return 0;
  const std::uint32_t align = AudioBlockAlign(audioFormat);
  audioChunkStart = audioChunkEnd;
  const std::uint32_t end =
      std::max(AudioTarget(audioTotalBytes, audioProgress, align), audioChunkStart);
  // A slice never outgrows the buffer it is read into.
  const std::uint32_t room = audioBufferSize - audioBufferSize % align;
  audioChunkEnd = std::min(end, audioChunkStart + room);
  const std::uint32_t want = audioChunkEnd - audioChunkStart;

  const AudioWaitLimits limits = waits;
  for (;;) {
    RawFile reader;
    DWORD got = 0;
    EnterCriticalSection(&outputLock_);
    ResetEvent(audioDataEvent_);
    if (!reader.Create(tempAudioPath, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr)) {
      LeaveCriticalSection(&outputLock_);
      return 0;
    }
    // Offsets are passed unsigned, so a temporary file past 2 GiB still reads.
    if (reader.Seek(static_cast<LONG>(audioChunkStart), 0, FILE_BEGIN) == audioChunkStart) {
      if (reader.Read(audioChunkData, want, &got, nullptr) && got == want) {
        LeaveCriticalSection(&outputLock_);
        return 1;
      }
    }
    LeaveCriticalSection(&outputLock_);
    const bool nearEnd = static_cast<std::int64_t>(audioChunkStart) + want + 1000 >
                         static_cast<std::int64_t>(audioTotalBytes);
    const DWORD result =
        WaitForSingleObject(audioDataEvent_, nearEnd ? limits.nearEndMs : limits.normalMs);
    if (result == WAIT_OBJECT_0) continue;
    if (result != WAIT_TIMEOUT) return 0;
    if (got == 0) {
      std::memset(audioChunkData, bitsPerSample != 16 ? 0x80 : 0, want);
      return 1;
    }
    if (got < want) {
      audioChunkEnd = audioChunkStart + (got - got % align);
      return 1;
    }
    return 0;
  }
}
