// One host frame into one video chunk: field-order shift, frame-rate
// conversion, key-frame decision, 8-bit reduction, compression, hand-off to
// the interleave rule.
#include <algorithm>
#include <cstring>
#include <new>

#include "plugin/image/bitmap_header.h"
#include "plugin/video/frame_encoder.h"
#include "plugin/video/palettes.h"

bool FrameEncoder::TakeFrame(const std::uint8_t* frame, std::uint32_t ntsc,
                             std::uint32_t dvReverse) {
  // The shifted copy moves every pixel one line up and two to the right; the
  // bottom line and two pixels above it turn black.
  const std::uint8_t* image = frame;
  if (ntsc == 0 && dvReverse != 0) {
    if (shiftBuffer == nullptr) shiftBuffer.reset(new (std::nothrow) std::uint8_t[frameBytes24]);
    if (shiftBuffer != nullptr) {
      const std::uint32_t shift =
          std::min<std::uint32_t>((static_cast<std::uint32_t>(width) + 2) * 3, frameBytes24);
      std::memset(shiftBuffer.get(), 0, shift);
      std::memcpy(shiftBuffer.get() + shift, frame, frameBytes24 - shift);
      image = shiftBuffer.get();
    }
  }
  takenImage = image;

  bool dropped = false;
  if (rateMismatch != 0) {
    const double product = static_cast<double>(frameRate / outputFrameRate) *
                           static_cast<double>(static_cast<float>(inputFrameCounter));
    const auto outputFrame = static_cast<std::int32_t>(product);
    dropped = outputFrame == lastOutputFrame;
    if (!dropped) lastOutputFrame = outputFrame;
    ++inputFrameCounter;
  }
  return !dropped;
}

int FrameEncoder::EncodeFrame() {
  const std::uint8_t* image = takenImage;
  ++framesCompressed;
  isKeyFrame = keyFrameEvery <= 1 || framesCompressed % keyFrameEvery == 0 ? 1 : 0;

  // A 24-bit frame is written where it lies, and compressed there by a
  // compressor that promised only to read it: the host's buffer (or the
  // shifted copy) outlives this call, and the frame reaches the disk before
  // it returns. Any other compressor, and the 8-bit reduction, read
  // sourceDib, so the host's frame stays the host's.
  const std::uint8_t* pixels = image;
  if (bitDepth == 8 || (compressorHandler != 0 && !compressorReadsOnly)) {
    std::memcpy(sourceDib + kBitmapHeaderBytes, image, frameBytes24);
    pixels = sourceDib + kBitmapHeaderBytes;
  }
  if (bitDepth == 8) {
    if (paletteMode == kPaletteOptimum || paletteMode == kPaletteFromFile)
      MapFrameNearest(eightBitDib, sourceDib, paletteHandle);
    else
      ApplyFixedPalette(eightBitDib, sourceDib, paletteMode);
    pixels = eightBitDib + kEightBitHeaderBytes;
  }
  const std::uint32_t pixelBytes = bitDepth == 8 ? frameBytes8 : frameBytes24;

  if (compressorHandler == 0) {
    videoChunkData = pixels;
    videoChunkSize = pixelBytes;
  } else {
    if (CompressInput(isKeyFrame != 0, static_cast<LONG>(framesCompressed), pixels) != ICERR_OK)
      return -1;
    // A compressor that overran its own bound, or says it did.
    const std::uint32_t size = DibHeader(compressedBuffer)->biSizeImage;
    if (CompressorOverran() || size > compressedCapacity) return -1;
    // Only a delta frame reads the previous one: with every frame a key
    // frame the copy would never be looked at.
    if (keyFrameEvery > 1) {
      std::memcpy(previousFrame, InputImage(), InputHeaderBytes());
      std::memcpy(previousFrame + InputHeaderBytes(), pixels, pixelBytes);
    }
    videoChunkData = CompressedData();
    videoChunkSize = size;
  }
  return 0;
}
