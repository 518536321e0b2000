// Eight-bit colour tables and the mapping of 24-bit frames onto them.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"
#include "plugin/host/movie_request.h"

// The colour table of an 8-bit movie: a fixed one (3-3-2, 6-6-6 or 6-7-6),
// the optimum one for the movie's own frames, or one from a palette file.
enum PaletteMode : std::uint32_t {
  kPaletteNone = 0,  // 24-bit video
  kPalette332 = 1,
  kPalette666 = 2,
  kPalette676 = 3,
  kPaletteOptimum = 4,
  kPaletteFromFile = 5,
};

// Writes the fixed table of mode 1 (3-3-2), 2 (6-6-6) or 3 (6-7-6) into the
// 8-bit packed bitmap; with a 24-bit bitmap also maps every pixel onto it.
// 1 after mapping, 0 when no 24-bit image was given.
int ApplyFixedPalette(std::uint8_t* eightBitDib, const std::uint8_t* dib24, std::uint32_t mode);

// Maps every pixel of the 24-bit bitmap to the index of the nearest palette
// entry (squared RGB distance, lowest index on ties), each on its own.
void MapFrameNearest(std::uint8_t* eightBitDib, const std::uint8_t* dib24, HPALETTE palette);

// Reads a RIFF "PAL " file into the colour table of the 8-bit bitmap and
// returns a palette of its entries; null (after its message) on failure.
HPALETTE LoadPaletteFile(const char* path, std::uint8_t* eightBitDib);

// Places the sample, brought to a quarter of the mosaic's width and height,
// into tile `tile` (0..15; others are ignored) of the mosaic, tiles counted
// left to right from the bottom. 0, or -1 when an image cannot be accessed.
int PlaceMosaicTile(HGLOBAL* sample, HGLOBAL* mosaic, int tile);

// Where the optimum palette takes its frames from: the movie's span and the
// host's render callback (which may be null: the samples stay black).
struct FrameSampling {
  std::uint32_t startTime;
  std::uint32_t endTime;
  FrameCallback callback;
  std::uint32_t context;
};

// Renders frames spread over the span, tiles them into a 640 x 480 mosaic
// (with the header of `sourceDib`), reduces it to 256 colours through the
// image library, copies the colour table into `eightBitDib` and hands the
// matching palette to `*palette` (the caller owns it). 0, or -1 on failure.
int BuildOptimumPalette(const std::uint8_t* sourceDib, std::uint8_t* eightBitDib,
                        const FrameSampling& sampling, HPALETTE* palette);
