// Opening the chosen compressor with its saved state, negotiating the output
// format, and fitting the quality to a target data rate with test frames.
#include <algorithm>
#include <cstring>

#include "plugin/avi/avi_structs.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/message.h"
#include "plugin/video/frame_encoder.h"

namespace {

// Behind the largest frame the compressor announced: a driver that writes
// past its bound lands here, and the frame is refused instead of the heap
// being overwritten.
constexpr std::uint32_t kOutputGuardBytes = 64;
constexpr std::uint8_t kOutputGuardByte = 0xA5;

}  // namespace

bool FrameEncoder::CompressorOverran() {
  std::uint8_t* guard = CompressedData() + compressedCapacity;
  const bool overran = std::any_of(guard, guard + kOutputGuardBytes,
                                   [](std::uint8_t b) { return b != kOutputGuardByte; });
  if (overran) std::memset(guard, kOutputGuardByte, kOutputGuardBytes);
  return overran;
}

DWORD FrameEncoder::CompressInput(bool keyFrame, LONG frameNumber, const std::uint8_t* pixels) {
  DWORD ckid = 0, flags = 0;
  // Only a compressor that promised not to write into its input is handed
  // the host's frame; every other one gets the session's copy.
  return ICCompress(compressor, keyFrame ? ICCOMPRESS_KEYFRAME : 0, DibHeader(compressedBuffer),
                    CompressedData(), DibHeader(InputImage()), const_cast<std::uint8_t*>(pixels),
                    &ckid, &flags, frameNumber, 0, quality,
                    keyFrame ? nullptr : DibHeader(previousFrame),
                    keyFrame ? nullptr : previousFrame + InputHeaderBytes());
}

int FrameEncoder::StartCompressor() {
  compressor.Reset(ICOpen(ICTYPE_VIDEO, compressorHandler, ICMODE_COMPRESS));
  if (compressor == nullptr) return -1;
  compressorReadsOnly =
      ICSendMessage(compressor, ICM_NORV_INPUT_READ_ONLY, 0, 0) == kInputReadOnlyAnswer;

  if (compressorStateSize != 0 && ICQueryConfigure(compressor) &&
      static_cast<DWORD>(ICGetStateSize(compressor)) == compressorStateSize) {
    (void)ICSetState(compressor, HostBlockAddress(compressorState), compressorStateSize);
  }

  std::uint8_t* input = InputImage();
  // A format block smaller than a header, or a size cut to 32 bits, would be
  // written past its end.
  const LRESULT formatSize = ICCompressGetFormatSize(compressor, DibHeader(input));
  if (formatSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) || formatSize > 0x7FFFFFFF)
    return -1;
  videoFormatSize = static_cast<std::uint32_t>(formatSize);
  videoFormat = LockedBlock(videoFormatSize);
  if (videoFormat == nullptr) return -1;

  if (EightBitInput()) {
    if (PreparePalette() != 0) return -1;
    std::memcpy(videoFormat, eightBitDib,
                std::min<std::uint32_t>(videoFormatSize, kEightBitHeaderBytes));
  }
  // Without a format there is nothing to write the frames behind, and a
  // header that claims more than the block holds would move them past it.
  if (ICCompressGetFormat(compressor, DibHeader(input), DibHeader(videoFormat)) < ICERR_OK)
    return -1;
  const DWORD formatHeader = DibHeader(videoFormat)->biSize;
  if (formatHeader < sizeof(BITMAPINFOHEADER) || formatHeader > videoFormatSize) return -1;
  const LRESULT maxSize = ICCompressGetSize(compressor, DibHeader(input), DibHeader(videoFormat));
  const bool maxSizeFits = maxSize > 0 && maxSize <= 0x40000000;
  // DV states its frame size in the format; any other output needs the
  // compressor's bound, without which the frame buffer would be too small.
  if (!EightBitInput() && DibHeader(videoFormat)->biCompression == kFourccDvsd) {
    maxFrameBytes = DibHeader(videoFormat)->biSizeImage;
    if (maxFrameBytes == 0 || maxFrameBytes > 0x40000000) return -1;
  } else {
    if (!maxSizeFits) return -1;
    maxFrameBytes = static_cast<std::uint32_t>(maxSize);
  }

  // The buffer holds the output format, the largest frame the compressor
  // said it could produce, and the guard behind it.
  compressedDataOffset = EightBitInput() ? kEightBitHeaderBytes : formatHeader;
  compressedCapacity =
      std::max<std::uint32_t>(maxFrameBytes, maxSizeFits ? static_cast<std::uint32_t>(maxSize) : 0);
  compressedBuffer = LockedBlock(static_cast<std::size_t>(compressedDataOffset) +
                                 compressedCapacity + kOutputGuardBytes);
  if (compressedBuffer == nullptr) return -1;
  std::memcpy(compressedBuffer, videoFormat, std::min(compressedDataOffset, videoFormatSize));
  if (!EightBitInput()) DibHeader(compressedBuffer)->biSizeImage = maxFrameBytes;
  std::memset(CompressedData() + compressedCapacity, kOutputGuardByte, kOutputGuardBytes);

  const std::uint32_t inputBytes = InputImageBytes();
  previousFrame = LockedBlock(inputBytes);
  if (previousFrame == nullptr) return -1;
  std::memcpy(previousFrame, input, inputBytes);
  DibHeader(previousFrame)->biWidth = width;
  DibHeader(previousFrame)->biHeight = height;
  DibHeader(previousFrame)->biSizeImage = EightBitInput() ? frameBytes8 : frameBytes24;

  BITMAPINFOHEADER* beginInput = DibHeader(EightBitInput() ? eightBitDib : previousFrame);
  if (tellsRate) {
    // As Video for Windows applications tell it, so that a stream that
    // carries a rate carries the movie's; a compressor that does not know
    // the message goes on without it.
    ICCOMPRESSFRAMES info{};
    info.lpbiOutput = DibHeader(compressedBuffer);
    info.lpbiInput = beginInput;
    info.lQuality = static_cast<LONG>(quality);
    info.lKeyRate = static_cast<LONG>(keyFrameEvery);
    info.dwRate = static_cast<DWORD>(frameRate * 1000.0f + 0.5f);
    info.dwScale = 1000;
    (void)ICSendMessage(compressor, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&info),
                        sizeof info);
  }
  if (ICCompressBegin(compressor, beginInput, DibHeader(compressedBuffer)) != ICERR_OK) return -1;
  if (dataRate == -1) return 0;
  FitQualityToDataRate();
  return 0;
}

void FrameEncoder::FitQualityToDataRate() {
  const std::uint32_t limit = static_cast<std::uint32_t>(dataRate) * 1024u;
  int tries = 0;
  bool fitted = false;
  for (; tries < 10 && !fitted; ++tries) {
    const DWORD result = CompressInput(true, 0, InputImage() + InputHeaderBytes());
    const bool overran = CompressorOverran();
    const std::uint32_t size = DibHeader(compressedBuffer)->biSizeImage;
    const auto rate = static_cast<std::uint32_t>(static_cast<float>(size) * frameRate);
    const double factor = result == ICERR_OK && !overran ? 0.9 : 1.1;
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
