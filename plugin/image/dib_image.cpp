#include "plugin/image/dib_image.h"

#include <algorithm>
#include <cstring>

#include "platform/memory/global_memory.h"

namespace {

constexpr std::uint32_t kHeaderBytes = sizeof(BITMAPINFOHEADER);

BITMAPINFOHEADER HeaderOf(const std::uint8_t* dib) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, dib, sizeof h);
  return h;
}

std::uint32_t RowBytesOf(const BITMAPINFOHEADER& h) {
  // Height 0 never comes from our own blocks; it must not divide by zero.
  return h.biHeight != 0 ? h.biSizeImage / static_cast<std::uint32_t>(h.biHeight) : 0;
}

}  // namespace

int DibImage::Attach(HGLOBAL* slot) {
  slot_ = slot;
  return Refresh();
}

int DibImage::Refresh() {
  width_ = height_ = 0;
  rowBytes_ = 0;
  if (slot_ == nullptr) return kNoSlot;
  if (*slot_ == nullptr) return kNoBlock;
  auto* p = static_cast<const std::uint8_t*>(GlobalLock(*slot_));
  if (p == nullptr) return kNoMemory;
  const BITMAPINFOHEADER h = HeaderOf(p);
  GlobalUnlock(*slot_);
  width_ = h.biWidth;
  height_ = h.biHeight;
  rowBytes_ = RowBytesOf(h);
  return kOk;
}

std::uint8_t* DibImage::Bits() {
  std::uint8_t* p = Lock();
  return p != nullptr ? p + kHeaderBytes : nullptr;
}

std::uint8_t* DibImage::Lock() {
  HGLOBAL h = Handle();
  return h != nullptr ? static_cast<std::uint8_t*>(GlobalLock(h)) : nullptr;
}

void DibImage::Unlock() {
  if (HGLOBAL h = Handle(); h != nullptr) GlobalUnlock(h);
}

void DibImage::Free() {
  if (slot_ == nullptr || *slot_ == nullptr) return;
  *slot_ = GlobalFree(*slot_);
}

int DibImage::Replace(HGLOBAL block) {
  if (slot_ == nullptr) return kNoSlot;
  Free();
  *slot_ = block;
  return Refresh();
}

int DibImage::Create(std::int32_t w, std::int32_t h) {
  if (slot_ == nullptr) return kNoSlot;
  if (w < 1 || h < 1) return kBadSize;
  Free();
  const std::uint32_t row = (3u * static_cast<std::uint32_t>(w) + 3u) & ~3u;
  const std::uint32_t image = row * static_cast<std::uint32_t>(h);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, SIZE_T{image} + kHeaderBytes);
  if (block == nullptr) return kNoMemory;
  auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
  if (p == nullptr) {
    GlobalFree(block);
    return kNoMemory;
  }
  BITMAPINFOHEADER header{};
  header.biSize = kHeaderBytes;   // header size
  header.biWidth = w;             // pixels per row
  header.biHeight = h;            // rows, bottom-up
  header.biPlanes = 1;            // planes
  header.biBitCount = 24;         // blue, green, red
  header.biCompression = BI_RGB;  // uncompressed
  header.biSizeImage = image;     // padded rows
  header.biXPelsPerMeter = 3780;  // 96 dots per inch
  header.biYPelsPerMeter = 3780;
  std::memcpy(p, &header, sizeof header);
  GlobalUnlock(block);
  return Replace(block);
}

int DibImage::Assign(DibImage other) {
  if (slot_ == nullptr) return kNoSlot;
  HGLOBAL source = other.Handle();
  if (source == nullptr) {
    (void)Replace(nullptr);
    return kOk;
  }
  if (source == Handle()) return kOk;  // already the same block
  auto* from = static_cast<const std::uint8_t*>(GlobalLock(source));
  if (from == nullptr) return kNoMemory;
  const BITMAPINFOHEADER h = HeaderOf(from);
  const SIZE_T n = SIZE_T{h.biSize} + h.biSizeImage;
  // Same size: copy over our own block rather than reallocate. The block
  // size check keeps a header that lies about its image size from writing
  // past the end.
  if (Handle() != nullptr && width_ == h.biWidth && height_ == h.biHeight &&
      GlobalSize(Handle()) >= n) {
    std::uint8_t* to = Lock();
    if (to == nullptr) {
      GlobalUnlock(source);
      return kNoMemory;
    }
    std::memcpy(to, from, n);
    Unlock();
    GlobalUnlock(source);
    return Refresh();
  }
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n);
  auto* to = copy != nullptr ? static_cast<std::uint8_t*>(GlobalLock(copy)) : nullptr;
  if (to == nullptr) {
    if (copy != nullptr) GlobalFree(copy);
    GlobalUnlock(source);
    return kNoMemory;
  }
  std::memcpy(to, from, n);
  GlobalUnlock(copy);
  GlobalUnlock(source);
  (void)Replace(copy);
  return kOk;
}

int DibImage::Resize(std::int32_t w, std::int32_t h) {
  if (slot_ == nullptr) return kNoSlot;
  if (Handle() != nullptr && width_ == w && height_ == h) return kOk;
  HGLOBAL scaledSlot = nullptr;
  DibImage scaled(&scaledSlot);
  if (int rc = scaled.Create(w, h); rc != kOk) return rc;
  if (Handle() != nullptr) {
    const std::uint8_t* from = Lock();
    std::uint8_t* to = scaled.Lock();
    if (from != nullptr && to != nullptr) ScaleNearest(to, from);
    if (to != nullptr) scaled.Unlock();
    if (from != nullptr) Unlock();
    if (from == nullptr || to == nullptr) {
      scaled.Free();
      return kNoMemory;
    }
  }
  (void)Replace(scaledSlot);
  return kOk;
}

void ScaleNearest(std::uint8_t* destination, const std::uint8_t* source) {
  const BITMAPINFOHEADER dh = HeaderOf(destination);
  const BITMAPINFOHEADER sh = HeaderOf(source);
  const std::int32_t dw = dh.biWidth;
  const std::int32_t sw = sh.biWidth;
  // One column has no last column to map onto the source's (and the walk
  // below would not advance); such a destination stays blank.
  if (dw <= 1 || sw < 1 || dh.biHeight < 1 || sh.biHeight < 1) return;
  const std::uint32_t dRow = RowBytesOf(dh);
  const std::uint32_t sRow = RowBytesOf(sh);
  const float rowRatio = static_cast<float>(sh.biHeight) / static_cast<float>(dh.biHeight);
  std::uint8_t* dPixels = destination + kHeaderBytes;
  const std::uint8_t* sPixels = source + kHeaderBytes;
  for (std::int32_t y = 0; y < dh.biHeight; ++y) {
    const auto sy = std::min<std::int32_t>(
        static_cast<std::int32_t>(static_cast<float>(y) * rowRatio), sh.biHeight - 1);
    const std::uint8_t* in =
        sPixels + static_cast<std::size_t>(sRow) * static_cast<std::uint32_t>(sy);
    std::uint8_t* out = dPixels + static_cast<std::size_t>(dRow) * static_cast<std::uint32_t>(y);
    std::int64_t error = 2 * std::int64_t{sw} - dw - 1;
    std::int32_t sx = 0;
    for (std::int32_t x = 0; x < dw; ++x, out += 3) {
      std::memcpy(out, in + 3 * static_cast<std::size_t>(std::min(sx, sw - 1)), 3);
      while (error >= 0) {
        ++sx;
        error -= 2 * std::int64_t{dw} - 2;
      }
      error += 2 * std::int64_t{sw} - 2;
    }
  }
}
