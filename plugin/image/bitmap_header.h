#pragma once

#include <cstdint>

#include "platform/win32_types.h"

// A packed bitmap's header, and an 8-bit one's header with its 256-entry
// colour table in front of the pixels.
constexpr std::uint32_t kBitmapHeaderBytes = 40;
constexpr std::uint32_t kEightBitHeaderBytes = kBitmapHeaderBytes + 256 * 4;
static_assert(sizeof(BITMAPINFOHEADER) == kBitmapHeaderBytes);
static_assert(kEightBitHeaderBytes == 1064);

// Bytes of one bottom-up row, padded to a multiple of 4.
constexpr std::uint32_t DibRowBytes(std::int32_t width, std::uint32_t bits) {
  return ((static_cast<std::uint32_t>(width) * bits + 31) / 8) & ~3u;
}

// The header at the start of a packed bitmap.
inline BITMAPINFOHEADER* DibHeader(std::uint8_t* dib) {
  return reinterpret_cast<BITMAPINFOHEADER*>(dib);
}

// Fills a packed bitmap's header: size 40, positive height (bottom-up), one
// plane, BI_RGB, image size from the padded rows, everything else 0.
void FillBitmapHeader(void* block, std::int32_t width, std::int32_t height, std::uint32_t bits);
