// The colour table of an 8-bit movie, prepared once at session start.
#include "plugin/video/frame_encoder.h"
#include "plugin/video/palettes.h"

int FrameEncoder::PreparePalette() {
  switch (paletteMode) {
    case 1:
    case 2:
    case 3:
      ApplyFixedPalette(eightBitDib, sourceDib, paletteMode);
      return 0;
    case 4:
      return BuildOptimumPalette(sourceDib, eightBitDib,
                                 {startTime, endTime, frameCallback, frameCallbackContext},
                                 &paletteHandle);
    case 5:
      paletteHandle = LoadPaletteFile(paletteFile, eightBitDib);
      return paletteHandle != nullptr ? 0 : -1;
    default:
      return -1;
  }
}
