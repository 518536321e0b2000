// The frame buffers and the stream format: the compressor's, or for
// uncompressed video the packed bitmap's own header (and colour table).
#include <cstring>

#include "plugin/host/host_api.h"
#include "plugin/io/locked_block.h"
#include "plugin/video/frame_encoder.h"

namespace {

// A frame larger than this cannot be stored in an AVI 1.0 file anyway.
constexpr std::uint64_t kMaxFrameBytes = 0x40000000;

}  // namespace

int FrameEncoder::AllocateFrameBuffers() {
  sourceDib = LockedBlock(frameBytes24 + kBitmapHeaderBytes);
  if (sourceDib == nullptr) return -1;
  FillBitmapHeader(sourceDib, width, height, 24);
  if (bitDepth == 8) {
    eightBitDib = LockedBlock(frameBytes8 + kEightBitHeaderBytes);
    if (eightBitDib == nullptr) return -1;
    FillBitmapHeader(eightBitDib, width, height, 8);
    DibHeader(eightBitDib)->biClrUsed = 256;
  }
  return 0;
}

int FrameEncoder::PrepareStreamFormat() {
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
    videoFormatSize = kEightBitHeaderBytes;
    videoFormat = LockedBlock(videoFormatSize);
    if (videoFormat == nullptr) return -1;
    FillBitmapHeader(videoFormat, width, height, 8);
    DibHeader(videoFormat)->biClrUsed = 256;
    if (PreparePalette() != 0) return -1;
    std::memcpy(videoFormat, eightBitDib, kEightBitHeaderBytes);
  } else {
    maxFrameBytes = frameBytes24;
    videoFormatSize = kBitmapHeaderBytes;
    videoFormat = LockedBlock(videoFormatSize);
    if (videoFormat == nullptr) return -1;
    FillBitmapHeader(videoFormat, width, height, 24);
  }
  return 0;
}
