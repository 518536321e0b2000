// Everything in front of the movie data: the RIFF 'AVI ' form, LIST 'hdrl'
// with the main header and the stream lists, and the opening of LIST 'movi'.
// Every value rests on what is known before the first frame; only chunk
// sizes are fixed later.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "plugin/avi/audio_format.h"
#include "plugin/avi/open_dml.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/session/movie_session.h"

using norv::riff::ChunkInfo;
using norv::riff::kCreateList;
using norv::riff::kCreateRiff;

namespace {

// A frame larger than this cannot be stored in an AVI 1.0 file anyway.
constexpr std::uint64_t kMaxFrameBytes = 0x40000000;

}  // namespace

int MovieSession::AllocateFrameBuffers() {
  sourceDib = AllocLockedBlock(frameBytes24 + 40);
  if (sourceDib == nullptr) return -1;
  FillBitmapHeader(sourceDib, width, height, 24);
  if (bitDepth == 8) {
    eightBitDib = AllocLockedBlock(frameBytes8 + 1064);
    if (eightBitDib == nullptr) return -1;
    FillBitmapHeader(eightBitDib, width, height, 8);
    DibHeader(eightBitDib)->biClrUsed = 256;
  }
  return 0;
}

std::uint32_t MovieSession::AudioLead() const {
  if (interleaveFrames != 1 || noInterleave != 0) return 0;
  return static_cast<std::uint32_t>(static_cast<double>(outputFrameRate) * 0.75);
}

int MovieSession::BuildStreamHeaders() {
  if (streamCount == 2) {
    if (HostHasHardware() != 0) {
      if (InitializeAudio() == 0) {
        ShowMessage("Error InitializeAudio!");
        return -1;
      }
    } else if (OpenWaveFile() != 0) {
      ShowMessage("Error reading wave file format!");
      return -1;
    }
  }
  const std::uint32_t lead = streamCount == 2 ? std::min(AudioLead(), frameCount) : 0;
  const float peakChunk = static_cast<float>(maxFrameBytes) + audioBytesPerInterleave;

  std::memset(&mainHeader, 0, sizeof mainHeader);
  mainHeader.microSecPerFrame = static_cast<std::uint32_t>(1000000.0 / frameRate);
  if (dataRate != -1) {
    mainHeader.maxBytesPerSec = static_cast<std::uint32_t>(dataRate) * 1024u;
  } else {
    mainHeader.maxBytesPerSec = static_cast<std::uint32_t>(peakChunk * frameRate);
    dataRate = static_cast<std::int32_t>(peakChunk / 1024.0);
  }
  mainHeader.paddingGranularity = 0;
  mainHeader.flags = streamCount == 2 && interleaveFrames == 1 && noInterleave == 0
                         ? kAvifHasIndex | kAvifIsInterleaved
                         : kAvifHasIndex;
  mainHeader.totalFrames = frameCount;
  mainHeader.initialFrames = lead;
  mainHeader.streams = streamCount;
  mainHeader.suggestedBufferSize =
      streamCount == 2 ? static_cast<std::uint32_t>(peakChunk) : maxFrameBytes;
  mainHeader.width = static_cast<std::uint32_t>(width);
  mainHeader.height = static_cast<std::uint32_t>(height);

  std::memset(&videoStreamHeader, 0, sizeof videoStreamHeader);
  videoStreamHeader.type = kFourccVids;
  videoStreamHeader.handler = compressorHandler;
  videoStreamHeader.scale = 1000;
  videoStreamHeader.rate = static_cast<std::uint32_t>(frameRate * 1000.0 + 0.5);
  videoStreamHeader.length = frameCount;
  videoStreamHeader.suggestedBufferSize = maxFrameBytes;
  videoStreamHeader.quality = quality;
  videoStreamHeader.frame[2] = width;
  videoStreamHeader.frame[3] = height;

  std::memset(&audioStreamHeader, 0, sizeof audioStreamHeader);
  if (streamCount == 2) {
    audioStreamHeader.type = kFourccAuds;
    audioStreamHeader.initialFrames = lead;
    audioStreamHeader.scale = 1;
    audioStreamHeader.rate = static_cast<std::uint32_t>(sampleRate);
    audioStreamHeader.length = audioTotalBytes / AudioBlockAlign(audioFormat);
    audioStreamHeader.suggestedBufferSize =
        static_cast<std::uint32_t>(audioBytesPerInterleave + 0.5);
    audioStreamHeader.sampleSize = (channels * static_cast<std::uint32_t>(bitsPerSample)) / 8;
  }
  return 0;
}

int MovieSession::WriteAviHeaders() {
  if (width < 1 || height < 1) return -1;
  const std::uint64_t bytes24 =
      static_cast<std::uint64_t>(DibRowBytes(width, 24)) * static_cast<std::uint64_t>(height);
  if (bytes24 > kMaxFrameBytes) return -1;
  frameBytes24 = static_cast<std::uint32_t>(bytes24);
  frameBytes8 = DibRowBytes(width, 8) * static_cast<std::uint32_t>(height);
  if (AllocateFrameBuffers() != 0) return -1;

  if (compressorHandler != 0) {
    if (StartCompressor() != 0) return -1;
  } else if (bitDepth == 8) {
    maxFrameBytes = frameBytes8;
    videoFormatSize = 1064;
    videoFormat = AllocLockedBlock(videoFormatSize);
    if (videoFormat == nullptr) return -1;
    FillBitmapHeader(videoFormat, width, height, 8);
    DibHeader(videoFormat)->biClrUsed = 256;
    if (PreparePalette() != 0) return -1;
    std::memcpy(videoFormat, eightBitDib, 1064);
  } else {
    maxFrameBytes = frameBytes24;
    videoFormatSize = 40;
    videoFormat = AllocLockedBlock(videoFormatSize);
    if (videoFormat == nullptr) return -1;
    FillBitmapHeader(videoFormat, width, height, 24);
  }

  if (qrvExport != 0) {
    if (!rawOutputFile.Create(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr)) {
      ShowMessage("Fail to create new DV file!");
      return -1;
    }
    return 0;
  }

  if (BuildStreamHeaders() != 0) return -1;
  if (openDmlWanted) {
    // Readers take a stream's number from the id; its key frames' name serves.
    std::vector<OpenDmlLayout::StreamInfo> streams{{kFourccKeyVideo, 0}};
    if (streamCount == 2) streams.push_back({kFourccAudio, AudioBlockAlign(audioFormat)});
    openDml = std::make_unique<OpenDmlLayout>(streams);
  }
  std::vector<std::uint64_t> lengthFields;

  aviFile = norv::riff::RiffFile::Open(outputPath, norv::riff::OpenMode::kCreate);
  if (!aviFile) {
    ShowMessage("Fail to create new avi file!");
    return -1;
  }
  if (aviFile->Seek(0) != 0) return -1;

  riffChunk = ChunkInfo{};
  riffChunk.type = kFourccAvi;
  if (aviFile->CreateChunk(riffChunk, kCreateRiff) != 0) return -1;
  listChunk = ChunkInfo{};
  listChunk.type = kFourccHdrl;
  if (aviFile->CreateChunk(listChunk, kCreateList) != 0) return -1;

  // One chunk of fixed contents: create, write, close; each step's message.
  auto writeChunk = [this](std::uint32_t id, const void* data, std::uint32_t size,
                           const char* createMessage, const char* writeMessage) {
    chunk = ChunkInfo{};
    chunk.id = id;
    chunk.size = size;
    if (aviFile->CreateChunk(chunk, 0) != 0) {
      ShowMessage(createMessage);
      return false;
    }
    if (aviFile->Write(data, size) != static_cast<long long>(size)) {
      ShowMessage(writeMessage);
      return false;
    }
    (void)aviFile->Ascend(chunk);
    return true;
  };
  auto openStreamList = [this](const char* message) {
    subListChunk = ChunkInfo{};
    subListChunk.type = kFourccStrl;
    if (aviFile->CreateChunk(subListChunk, kCreateList) != 0) {
      ShowMessage(message);
      return false;
    }
    return true;
  };

  if (!writeChunk(kFourccAvih, &mainHeader, sizeof mainHeader, "Fail to create main header chunk",
                  "Fail to write main header!"))
    return -1;
  const std::uint64_t mainFramesField = chunk.dataOffset + offsetof(AviMainHeader, totalFrames);

  if (!openStreamList("Fail to create first stream list chunk")) return -1;
  if (!writeChunk(kFourccStrh, &videoStreamHeader, sizeof videoStreamHeader,
                  "Fail to create first stream header chunk", "Fail to write first stream header!"))
    return -1;
  lengthFields.push_back(chunk.dataOffset + offsetof(AviStreamHeader, length));
  if (!writeChunk(kFourccStrf, videoFormat, videoFormatSize,
                  "Fail to create first stream format chunk", "Fail to write first stream format!"))
    return -1;
  if (openDml && openDml->ReserveSuperIndex(*aviFile, 0) != 0) return -1;
  (void)aviFile->Ascend(subListChunk);

  if (streamCount == 2) {
    if (!openStreamList("Fail to create second stream list chunk")) return -1;
    if (!writeChunk(kFourccStrh, &audioStreamHeader, sizeof audioStreamHeader,
                    "Fail to create second stream header chunk",
                    "Fail to write second stream header!"))
      return -1;
    lengthFields.push_back(chunk.dataOffset + offsetof(AviStreamHeader, length));
    if (!writeChunk(kFourccStrf, audioFormat, audioFormatSize,
                    "Fail to create second stream format chunk",
                    "Fail to write second stream format!"))
      return -1;
    if (openDml && openDml->ReserveSuperIndex(*aviFile, 1) != 0) return -1;
    (void)aviFile->Ascend(subListChunk);
  }
  if (openDml) {
    if (openDml->WriteExtendedHeader(*aviFile) != 0) return -1;
    openDml->SetHeaderFields(mainFramesField, lengthFields);
  }
  (void)aviFile->Ascend(listChunk);

  listChunk = ChunkInfo{};
  listChunk.type = kFourccMovi;
  if (aviFile->CreateChunk(listChunk, kCreateList) != 0) {
    ShowMessage("Fail to create movie list chunk");
    return -1;
  }
  moviDataOffset = listChunk.dataOffset;
  if (openDml) openDml->SetFirstForm(riffChunk.dataOffset - 8, moviDataOffset);
  return 0;
}
