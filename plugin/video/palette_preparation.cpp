// The colour table of an 8-bit movie, prepared once at session start.
#include "plugin/video/frame_encoder.h"
#include "plugin/video/palettes.h"

int FrameEncoder::PreparePalette() {
  switch (paletteMode) {
    case kPalette332:
    case kPalette666:
    case kPalette676:
      ApplyFixedPalette(eightBitDib, sourceDib, paletteMode);
      return 0;
    case kPaletteOptimum: {
      HPALETTE palette = nullptr;
      const int result =
          BuildOptimumPalette(sourceDib, eightBitDib,
                              {startTime, endTime, frameCallback, frameCallbackContext}, &palette);
      paletteHandle.Reset(palette);
      return result;
    }
    case kPaletteFromFile:
      paletteHandle.Reset(LoadPaletteFile(paletteFile, eightBitDib));
      return paletteHandle != nullptr ? 0 : -1;
    default:
      return -1;
  }
}
