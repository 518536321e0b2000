// GDI logical palettes: created from a LOGPALETTE, asked for the nearest
// entry to a colour (squared RGB distance, lowest index on ties), deleted.
#pragma once

#include "platform/win32_types.h"

#if !defined(_WIN32)
constexpr UINT CLR_INVALID = 0xFFFFFFFF;

HPALETTE CreatePalette(const LOGPALETTE* logical);
UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color);
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
BOOL DeleteObject(HPALETTE palette);

constexpr BYTE GetRValue(COLORREF c) {
  return static_cast<BYTE>(c);
}
constexpr BYTE GetGValue(COLORREF c) {
  return static_cast<BYTE>(c >> 8);
}
constexpr BYTE GetBValue(COLORREF c) {
  return static_cast<BYTE>(c >> 16);
}
#endif

// Whole-image form of GetNearestPaletteIndex: `rows` rows of `width` 24-bit
// pixels (blue, green, red) become indices, each exactly what
// GetNearestPaletteIndex answers for that colour, cut to 8 bits. Each side
// is walked at its own row stride. FALSE (and every index 255) for a handle
// that names no palette.
BOOL NorvMapPixelsToPalette(HPALETTE palette, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                            UINT indexStride, UINT width, UINT rows);
