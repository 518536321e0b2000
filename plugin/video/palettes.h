// Eight-bit colour tables and the mapping of 24-bit frames onto them.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

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

// Places the 160 x 120 sample into tile `tile` (0..15) of the 640 x 480 mosaic.
int PlaceMosaicTile(HGLOBAL* sample, HGLOBAL* mosaic, int tile);
