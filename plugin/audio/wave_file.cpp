// Wave-file audio: the host has rendered its audio into a RIFF 'WAVE' file;
// the format goes into the audio stream as it stands and each audio chunk is
// a slice of the mapped data.
#include <algorithm>
#include <cstring>

#include "plugin/audio/audio_feed.h"
#include "plugin/audio/audio_format.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/message.h"

using norv::riff::ChunkInfo;

int AudioFeed::OpenWaveFile() {
  // The wave file while it is parsed; its open-information block lives inside.
  std::unique_ptr<norv::riff::RiffFile> waveMmio =
      norv::riff::RiffFile::Open(waveFilePath, norv::riff::OpenMode::kReadWrite);
  if (!waveMmio) {
    ShowMessage("Fail to open wave file!");
    return -1;
  }
  auto fail = [&waveMmio](const char* message) {
    if (message != nullptr) ShowMessage(message);
    waveMmio.reset();
    return -1;
  };
  ChunkInfo riffChunk;
  riffChunk.type = MakeFourCC("WAVE");
  if (waveMmio->Descend(riffChunk, nullptr, norv::riff::kFindRiff) != 0)
    return fail("Fail to find wave chunk!");
  audioFormat = LockedBlock(16);
  if (audioFormat == nullptr) return fail(nullptr);
  ChunkInfo chunk;
  chunk.id = MakeFourCC("fmt ");
  if (waveMmio->Descend(chunk, &riffChunk, norv::riff::kFindChunk) != 0)
    return fail("Fail to find wave header chunk!");
  if (waveMmio->Read(audioFormat, 16) != 16) return fail("Fail to read wave header!");
  audioFormatSize = 16;
  (void)waveMmio->Ascend(chunk);
  chunk = ChunkInfo{};
  chunk.id = MakeFourCC("data");
  if (waveMmio->Descend(chunk, &riffChunk, norv::riff::kFindChunk) != 0)
    return fail("Fail to find wave data chunk!");
  waveDataOffset = chunk.dataOffset;
  audioTotalBytes = chunk.size;
  (void)waveMmio->Ascend(chunk);
  (void)waveMmio->Ascend(riffChunk);
  waveMmio.reset();

  HANDLE file =
      CreateFileA(waveFilePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  waveFileHandle.Reset(file);
  waveFileMapping.Reset(CreateFileMappingA(waveFileHandle, nullptr, PAGE_READWRITE, 0, 0, nullptr));
  if (waveFileMapping == nullptr) return -1;
  waveFileView.Reset(
      static_cast<std::uint8_t*>(MapViewOfFile(waveFileMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)));
  if (waveFileView == nullptr) return -1;

  // A data chunk may claim more than the file holds (a cut-off file) and a
  // format may claim a block of 0 bytes: read only what is there, and refuse
  // a format that has no block size (the slices end on block boundaries).
  DWORD high = 0;
  const std::uint64_t fileSize =
      (static_cast<std::uint64_t>(0) + GetFileSize(waveFileHandle, &high)) |
      (static_cast<std::uint64_t>(high) << 32);
  const std::uint32_t align = AudioBlockAlign(audioFormat);
  if (align == 0 || waveDataOffset > fileSize || interleaveFrames < 1) return -1;
  audioTotalBytes = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(audioTotalBytes, fileSize - waveDataOffset));

  waveDataStart = waveFileView + waveDataOffset;
  audioChunkData = waveDataStart;
  audioChunkStart = audioChunkEnd = 0;
  audioProgress = 0;
  audioBytesPerInterleave = InterleaveBytes(audioTotalBytes, frameCount, interleaveFrames);
  return 0;
}
