// A 24-bit packed bitmap (40-byte header, then bottom-up rows padded to 4
// bytes) in a movable memory block. The image does not own its block: it
// works through the caller's handle slot, so that slot always names the
// image's current block. Destroying an image frees nothing.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

class DibImage {
 public:
  // Result codes of the operations.
  static constexpr int kOk = 0;
  static constexpr int kNoMemory = -1;  // allocation or locking failed
  static constexpr int kNoBlock = -2;   // the slot names no block
  static constexpr int kNoSlot = -3;    // the image is not attached
  static constexpr int kBadSize = -4;   // a width or height below 1

  DibImage() = default;
  explicit DibImage(HGLOBAL* slot) { (void)Attach(slot); }

  int Attach(HGLOBAL* slot);
  // Reads width, height and row size back from the block's header.
  int Refresh();

  HGLOBAL Handle() const { return slot_ != nullptr ? *slot_ : nullptr; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::uint32_t RowBytes() const { return rowBytes_; }
  void Size(std::int32_t* w, std::int32_t* h) const {
    *w = width_;
    *h = height_;
  }

  // Locks the block and returns its pixels (40 bytes in); stays locked until
  // Unlock or Free.
  std::uint8_t* Bits();
  // Locks the block and returns its header.
  std::uint8_t* Lock();
  void Unlock();
  // Bytes from the first pixel to pixel (x, y), y counted from the bottom row.
  std::uint32_t PixelOffset(std::int32_t x, std::int32_t y) const {
    return rowBytes_ * static_cast<std::uint32_t>(y) + 3u * static_cast<std::uint32_t>(x);
  }

  void Free();
  // Frees the current block and adopts `block` (which may be none).
  int Replace(HGLOBAL block);
  // A blank (black) image of w x h.
  int Create(std::int32_t w, std::int32_t h);
  // Nearest-neighbour resize to w x h; nothing changes when already that size.
  int Resize(std::int32_t w, std::int32_t h);
  // Makes this image a copy of `other`'s block.
  int Assign(DibImage other);

 private:
  HGLOBAL* slot_ = nullptr;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint32_t rowBytes_ = 0;
};

// Copies `source` into `destination` (both locked packed 24-bit bitmaps),
// every destination pixel taken from one source pixel: columns by an integer
// error-term walk that maps first and last columns onto each other, rows by
// a single-precision ratio. A destination one pixel wide stays untouched.
void ScaleNearest(std::uint8_t* destination, const std::uint8_t* source);
