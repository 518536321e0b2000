// The optimum palette: one 256-colour table for the whole movie, reduced
// from a mosaic of frames sampled evenly across its span.
#include <cstring>

#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"
#include "plugin/video/palettes.h"

namespace {

constexpr std::int32_t kSampleWidth = 160;
constexpr std::int32_t kSampleHeight = 120;
constexpr std::int32_t kMosaicWidth = 4 * kSampleWidth;
constexpr std::int32_t kMosaicHeight = 4 * kSampleHeight;
constexpr std::uint32_t kSamplePixelBytes = kSampleWidth * kSampleHeight * 3;  // rows need no pad
constexpr std::uint32_t kMosaicPixelBytes = kMosaicWidth * kMosaicHeight * 3;
constexpr std::size_t kHeaderBytes = sizeof(BITMAPINFOHEADER);
constexpr std::size_t kTableBytes = 256 * sizeof(RGBQUAD);

// A zero-filled block holding `header` and room for its pixels.
HGLOBAL AllocImage(const BITMAPINFOHEADER& header) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kHeaderBytes + header.biSizeImage);
  if (block == nullptr) return nullptr;
  void* p = GlobalLock(block);
  if (p == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, &header, sizeof header);
  GlobalUnlock(block);
  return block;
}

// Copies the reduced image's colour table into the movie's 8-bit image.
bool CopyColorTable(HGLOBAL reduced, std::uint8_t* eightBitDib) {
  auto* p = reduced != nullptr ? static_cast<std::uint8_t*>(GlobalLock(reduced)) : nullptr;
  if (p == nullptr) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, p, sizeof h);
  h.biClrUsed = 256;
  std::memcpy(p, &h, sizeof h);
  std::memcpy(eightBitDib + kHeaderBytes, p + kHeaderBytes, kTableBytes);
  GlobalUnlock(reduced);
  return true;
}

// Renders the samples and tiles them into the mosaic. -1 when the host
// fails a render.
int SampleFrames(const FrameSampling& sampling, HGLOBAL* sample, HGLOBAL* mosaic) {
  // The span in fifteen steps gives 15 samples, or 16 when it does not
  // divide evenly; only the first 16 have a tile.
  const std::uint32_t step = (sampling.endTime - sampling.startTime) / 15;
  auto* sampleDib = static_cast<std::uint8_t*>(GlobalLock(*sample));
  if (sampleDib == nullptr) return -1;
  int rc = 0;
  int tile = 0;
  // 64 bits, so a span ending near the top of the clock cannot wrap around.
  for (std::uint64_t t = sampling.startTime; t < sampling.endTime; t += step, ++tile) {
    if (sampling.callback != nullptr) {
      RenderFrameArgs args{static_cast<std::uint32_t>(t), sampleDib};
      if (sampling.callback(2, sampling.context, &args) != 0) {
        rc = -1;
        break;
      }
    }
    (void)PlaceMosaicTile(sample, mosaic, tile);
    // A span under 15 ms gives no step; one sample is all it gets.
    if (step == 0) break;
  }
  GlobalUnlock(*sample);
  return rc;
}

}  // namespace

int BuildOptimumPalette(const std::uint8_t* sourceDib, std::uint8_t* eightBitDib,
                        const FrameSampling& sampling, HPALETTE* palette) {
  BITMAPINFOHEADER sampleHeader{};
  sampleHeader.biSize = kHeaderBytes;
  sampleHeader.biWidth = kSampleWidth;
  sampleHeader.biHeight = kSampleHeight;
  sampleHeader.biPlanes = 1;
  sampleHeader.biBitCount = 24;
  sampleHeader.biSizeImage = kSamplePixelBytes;
  BITMAPINFOHEADER mosaicHeader;
  std::memcpy(&mosaicHeader, sourceDib, sizeof mosaicHeader);
  mosaicHeader.biWidth = kMosaicWidth;
  mosaicHeader.biHeight = kMosaicHeight;
  mosaicHeader.biSizeImage = kMosaicPixelBytes;

  HGLOBAL sample = AllocImage(sampleHeader);
  HGLOBAL mosaic = sample != nullptr ? AllocImage(mosaicHeader) : nullptr;
  if (mosaic == nullptr || SampleFrames(sampling, &sample, &mosaic) != 0) {
    if (sample != nullptr) GlobalFree(sample);
    if (mosaic != nullptr) GlobalFree(mosaic);
    return -1;
  }
  GlobalFree(sample);

  const void* mosaicDib = GlobalLock(mosaic);
  const std::int32_t image = mosaicDib != nullptr ? ImageFromDib(mosaicDib) : -1;
  if (mosaicDib != nullptr) GlobalUnlock(mosaic);
  if (image < 0) {
    GlobalFree(mosaic);
    return -1;
  }
  (void)ReduceColors(image, 8, 0, 256);
  *palette = ImagePalette(image);
  std::uint32_t unusedWidth = 0, unusedHeight = 0, unusedColors = 0;
  HGLOBAL reduced = ImageToDib(image, &unusedWidth, &unusedHeight, &unusedColors);
  // Without a palette the movie still goes on (the frames map to no entry);
  // without the reduced image there is no table to copy, so that fails.
  const bool copied = CopyColorTable(reduced, eightBitDib);
  if (reduced != nullptr) GlobalFree(reduced);
  (void)ReleaseImage(image);
  GlobalFree(mosaic);
  return copied ? 0 : -1;
}
