// The video of a movie: the host's frames turned into the stream's chunks.
// It keeps the image buffers, the compressor and its output buffer, the
// 8-bit colour table, the previous frame a delta frame is made against, and
// the counters of the frame-rate conversion. The session owns one.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/gdi/palette.h"
#include "platform/vfw/vfw.h"
#include "plugin/host/host_api.h"
#include "plugin/host/host_block.h"
#include "plugin/host/movie_request.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/owned_handle.h"

// The numbers of the movie that the video follows.
struct VideoShape {
  std::int32_t width = 0;
  std::int32_t height = 0;
  float frameRate = 0;
  float outputFrameRate = 0;
  std::uint32_t rateMismatch = 0;  // frames arrive at another rate than the file's
  std::uint32_t bitDepth = 0;      // 24, or 8 with a palette
  std::uint32_t paletteMode = 0;
  char paletteFile[260] = {};
  std::uint32_t compressorHandler = 0;
  std::uint32_t quality = 0;
  std::int32_t dataRate = 0;  // KB per second; -1 = none
  std::uint32_t keyFrameEvery = 0;
  std::uint32_t qrvExport = 0;
  std::uint32_t compressorStateSize = 0;
  OwnedHandle<HostBlockRef, ReleaseHostBlock> compressorState;  // the movie's own copy
  std::uint32_t startTime = 0;
  std::uint32_t endTime = 0;
  FrameCallback frameCallback = nullptr;
  std::uint32_t frameCallbackContext = 0;
  // The host profile asks that the compressor be told the movie's rate
  // (ICM_COMPRESS_FRAMES_INFO) before it begins.
  bool tellsRate = false;
};

// The shape is the encoder's own view of the movie: it reads these numbers
// (and fits quality) as its own.
class FrameEncoder : public VideoShape {
 public:
  FrameEncoder() = default;
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // The buffers for one frame, and the stream format: from the compressor,
  // or the packed bitmap's own. 0, or -1 on failure.
  int AllocateFrameBuffers();
  int PrepareStreamFormat();
  int StartCompressor();
  void FitQualityToDataRate();
  int PreparePalette();

  // A host frame: its field-order shift and whether the frame-rate
  // conversion keeps it. The kept frame is then encoded into
  // videoChunkData/videoChunkSize: 0, or -1 when the compressor failed.
  bool TakeFrame(const std::uint8_t* frame, std::uint32_t ntsc, std::uint32_t dvReverse);
  int EncodeFrame();
  // The raw stream: the host's 24-bit frame, moved for the field order,
  // compressed as it comes. 0, or -1 when the compressor failed.
  int EncodeRawFrame(const std::uint8_t* frame, std::uint32_t ntsc, std::uint32_t dvReverse);

  // Compresses `pixels` (laid out as InputImage()'s header says) into
  // compressedBuffer; ICCompress's result.
  DWORD CompressInput(bool keyFrame, LONG frameNumber, const std::uint8_t* pixels);
  // What the compressor is fed: eightBitDib (header, colour table, pixels)
  // for 8-bit AVI movies, else sourceDib (header, pixels). The raw stream
  // compresses the host's 24-bit frame as it comes, whatever the colours.
  bool EightBitInput() const { return bitDepth == 8 && qrvExport == 0; }
  std::uint8_t* InputImage() const { return EightBitInput() ? eightBitDib : sourceDib; }
  std::uint32_t InputHeaderBytes() const {
    return EightBitInput() ? kEightBitHeaderBytes : kBitmapHeaderBytes;
  }
  std::uint32_t InputImageBytes() const {
    return InputHeaderBytes() + (EightBitInput() ? frameBytes8 : frameBytes24);
  }
  // Where the compressor writes its data: behind the output format, at the
  // offset fixed when the format was taken, whatever the compressor writes
  // into the header later.
  std::uint8_t* CompressedData() const { return compressedBuffer + compressedDataOffset; }
  // Whether the last compression wrote past compressedCapacity into the
  // guard behind it; the guard is made whole again either way.
  bool CompressorOverran();

  std::uint32_t frameBytes24 = 0;
  std::uint32_t frameBytes8 = 0;
  std::uint32_t maxFrameBytes = 0;
  LockedBlock sourceDib;
  LockedBlock eightBitDib;
  LockedBlock videoFormat;  // the stream format
  std::uint32_t videoFormatSize = 0;
  OwnedHandle<HIC, ICClose> compressor;
  bool compressorReadsOnly = false;  // the host's frame may be compressed where it lies
  LockedBlock compressedBuffer;
  std::uint32_t compressedCapacity = 0;    // bytes of compressed data compressedBuffer holds
  std::uint32_t compressedDataOffset = 0;  // where that data starts in compressedBuffer
  LockedBlock previousFrame;
  OwnedHandle<HPALETTE, DeleteObject> paletteHandle;
  std::unique_ptr<std::uint8_t[]> shiftBuffer;  // reused for the field-order shift
  // The frame-rate conversion.
  std::int32_t lastOutputFrame = -1;
  std::uint32_t inputFrameCounter = 0;
  // The frame in progress.
  std::uint32_t framesCompressed = 0;
  std::uint32_t isKeyFrame = 0;
  const std::uint8_t* takenImage = nullptr;  // the host's frame, or its shifted copy
  const std::uint8_t* videoChunkData = nullptr;
  std::uint32_t videoChunkSize = 0;
};
