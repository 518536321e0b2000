// Raw stream frames: the host's 24-bit frame, moved for the field order,
// compressed as it comes with no colour reduction.
#include <algorithm>
#include <cstring>

#include "platform/memory/global_memory.h"
#include "plugin/video/frame_encoder.h"

int FrameEncoder::EncodeRawFrame(const std::uint8_t* frame, std::uint32_t ntsc,
                                 std::uint32_t dvReverse) {
  auto* header = DibHeader(sourceDib);
  const std::uint32_t imageSize = header->biSizeImage;

  // The picture moves by whole unpadded scanlines: four back in NTSC, one
  // forward for the field-order reversal. Rows that would come from outside
  // the host's frame are black; nothing outside it is read.
  std::int64_t offset = 0;
  if (ntsc != 0)
    offset = (-4 * static_cast<std::int64_t>(bitDepth) * width) / 8;
  else if (dvReverse != 0)
    offset = (static_cast<std::int64_t>(bitDepth) * width) / 8;
  std::uint8_t* pixels = sourceDib + kBitmapHeaderBytes;
  const std::int64_t size = imageSize;
  const std::int64_t from = std::max<std::int64_t>(0, -offset);
  const std::int64_t to = std::min<std::int64_t>(size, size - offset);
  std::memset(pixels, 0, imageSize);
  if (to > from)
    std::memcpy(pixels + from, frame + from + offset, static_cast<std::size_t>(to - from));

  ++framesCompressed;
  isKeyFrame = keyFrameEvery <= 1 || framesCompressed % keyFrameEvery == 0 ? 1 : 0;
  if (compressor == nullptr || compressedBuffer == nullptr) return -1;
  // The raw stream compresses sourceDib, the 24-bit frame, whatever the
  // movie's colours: the compressor was started for it.
  if (CompressInput(isKeyFrame != 0, static_cast<LONG>(framesCompressed), pixels) != ICERR_OK)
    return -1;
  const std::uint32_t compressedSize = DibHeader(compressedBuffer)->biSizeImage;
  if (CompressorOverran() || compressedSize > compressedCapacity) return -1;

  const std::size_t previousBytes = GlobalSize(GlobalHandle(previousFrame));
  std::memcpy(previousFrame, sourceDib,
              std::min<std::size_t>(previousBytes, kBitmapHeaderBytes + size));
  videoChunkData = CompressedData();
  videoChunkSize = compressedSize;
  return 0;
}
