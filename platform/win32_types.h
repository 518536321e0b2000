// The handful of Windows types and published structures the plug-in speaks
// in. On Windows the real headers provide them; elsewhere these stand in with
// the same sizes and layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using WCHAR = char16_t;
using COLORREF = std::uint32_t;
using FOURCC = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using SIZE_T = std::size_t;

// The kernel calls' optional blocks, which the plug-in always passes as null.
using LPSECURITY_ATTRIBUTES = void*;
using LPOVERLAPPED = void*;

using HANDLE = void*;
using HGLOBAL = void*;
using HWND = struct HWND__*;
using HPALETTE = struct HPALETTE__*;
using HMENU = struct HMENU__*;
using HINSTANCE = struct HINSTANCE__*;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32);

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};
static_assert(sizeof(PALETTEENTRY) == 4);

struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};
static_assert(offsetof(LOGPALETTE, palPalEntry) == 4);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}
#endif

// A PCM wave format as it stands in a file: WAVEFORMATEX without cbSize.
#pragma pack(push, 2)
struct WAVEFORMATEX_PCM {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX_PCM) == 16);

// A four-character code as it stands in a file: first character lowest.
constexpr std::uint32_t MakeFourCC(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24);
}
