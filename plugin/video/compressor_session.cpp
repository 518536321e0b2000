// Opening the chosen compressor with its saved state, negotiating the output
// format, and fitting the quality to a target data rate with test frames.
#include <algorithm>
#include <cstring>

#include "plugin/avi/avi_structs.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_session.h"

namespace {

BITMAPINFOHEADER* Header(std::uint8_t* dib) {
  return reinterpret_cast<BITMAPINFOHEADER*>(dib);
}

// The offset of the compressed data in compressedBuffer.
std::uint32_t OutputDataOffset(const MovieSession& s) {
  return s.bitDepth == 8 ? 1064 : Header(s.compressedBuffer)->biSize;
}

}  // namespace

DWORD MovieSession::CompressInput(bool keyFrame, LONG frameNumber) {
  std::uint8_t* input = bitDepth == 8 ? eightBitDib : sourceDib;
  const std::uint32_t inputHeader = bitDepth == 8 ? 1064 : 40;
  DWORD ckid = 0, flags = 0;
  return ICCompress(compressor, keyFrame ? ICCOMPRESS_KEYFRAME : 0, Header(compressedBuffer),
                    compressedBuffer + OutputDataOffset(*this), Header(input), input + inputHeader,
                    &ckid, &flags, frameNumber, 0, quality,
                    keyFrame ? nullptr : Header(previousFrame),
                    keyFrame ? nullptr : previousFrame + inputHeader);
}

int MovieSession::StartCompressor() {
  compressor = ICOpen(ICTYPE_VIDEO, compressorHandler, ICMODE_COMPRESS);
  if (compressor == nullptr) return -1;

  if (compressorStateSize != 0 && ICQueryConfigure(compressor) &&
      ICGetStateSize(compressor) == static_cast<LRESULT>(compressorStateSize)) {
    (void)ICSetState(compressor, HostBlockAddress(compressorState), compressorStateSize);
  }

  std::uint8_t* input = bitDepth == 8 ? eightBitDib : sourceDib;
  const LRESULT formatSize = ICCompressGetFormatSize(compressor, Header(input));
  if (formatSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) || formatSize > (1 << 20))
    return -1;
  videoFormatSize = static_cast<std::uint32_t>(formatSize);
  videoFormat = AllocLockedBlock(videoFormatSize);
  if (videoFormat == nullptr) return -1;

  if (bitDepth == 8) {
    if (PreparePalette() != 0) return -1;
    std::memcpy(videoFormat, eightBitDib, std::min<std::uint32_t>(videoFormatSize, 1064));
  }
  if (ICCompressGetFormat(compressor, Header(input), Header(videoFormat)) != ICERR_OK) return -1;
  const LRESULT maxSize = ICCompressGetSize(compressor, Header(input), Header(videoFormat));
  if (maxSize <= 0 || maxSize > 0x40000000) return -1;
  maxFrameBytes = static_cast<std::uint32_t>(maxSize);
  if (bitDepth != 8 && Header(videoFormat)->biCompression == kFourccDvsd)
    maxFrameBytes = Header(videoFormat)->biSizeImage;

  // The buffer holds the output format and the largest frame the compressor
  // said it could produce.
  const std::uint32_t headerBytes =
      bitDepth == 8 ? 1064 : std::min(Header(videoFormat)->biSize, videoFormatSize);
  compressedCapacity = std::max<std::uint32_t>(maxFrameBytes, static_cast<std::uint32_t>(maxSize));
  compressedBuffer = AllocLockedBlock(static_cast<std::size_t>(headerBytes) + compressedCapacity);
  if (compressedBuffer == nullptr) return -1;
  std::memcpy(compressedBuffer, videoFormat, std::min(headerBytes, videoFormatSize));
  if (bitDepth != 8) Header(compressedBuffer)->biSizeImage = maxFrameBytes;

  const std::uint32_t inputBytes = bitDepth == 8 ? 1064 + frameBytes8 : 40 + frameBytes24;
  previousFrame = AllocLockedBlock(inputBytes);
  if (previousFrame == nullptr) return -1;
  std::memcpy(previousFrame, input, inputBytes);
  Header(previousFrame)->biWidth = width;
  Header(previousFrame)->biHeight = height;
  Header(previousFrame)->biSizeImage = bitDepth == 8 ? frameBytes8 : frameBytes24;

  if (ICCompressBegin(compressor, Header(bitDepth == 8 ? eightBitDib : previousFrame),
                      Header(compressedBuffer)) != ICERR_OK)
    return -1;
  if (dataRate == -1) return 0;
  FitQualityToDataRate();
  return 0;
}

void MovieSession::FitQualityToDataRate() {
  const std::uint32_t limit = static_cast<std::uint32_t>(dataRate) * 1024u;
  int tries = 0;
  bool fitted = false;
  for (; tries < 10 && !fitted; ++tries) {
    const DWORD result = CompressInput(true, 0);
    const std::uint32_t size = Header(compressedBuffer)->biSizeImage;
    const auto rate = static_cast<std::uint32_t>(static_cast<float>(size) * frameRate);
    const double factor = result == ICERR_OK ? 0.9 : 1.1;
    if (static_cast<double>(rate) * factor <= static_cast<double>(limit)) {
      maxFrameBytes = size;
      fitted = true;
    } else {
      quality = static_cast<std::uint32_t>(static_cast<float>(quality) * 0.9);
    }
  }
  if (!fitted)
    ShowMessage(
        "The compressor can not find the appropriate quality to satisfy the data rate you "
        "select!");
  else if (tries > 1)
    ShowMessage("Image quality adjusted to satisfy the data rate!");
}
