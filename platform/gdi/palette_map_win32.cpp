// The bulk palette lookup over GDI: every distinct colour is asked of
// GetNearestPaletteIndex once per memo slot, so the answers are GDI's own.
#include "platform/gdi/memoised_mapping.h"
#include "platform/gdi/palette.h"

BOOL NorvMapPixelsToPalette(HPALETTE palette, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                            UINT indexStride, UINT width, UINT rows) {
  if (palette == nullptr || GetPaletteEntries(palette, 0, 0, nullptr) == 0) {
    norv::gdi::FillInvalidIndices(indices, indexStride, width, rows);
    return FALSE;
  }
  norv::gdi::MapPixelsThroughMemo(
      pixels, pixelStride, indices, indexStride, width, rows,
      [palette](BYTE r, BYTE g, BYTE b) { return GetNearestPaletteIndex(palette, RGB(r, g, b)); });
  return TRUE;
}
