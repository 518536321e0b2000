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
