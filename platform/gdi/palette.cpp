#include "platform/gdi/palette.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

struct Palette {
  static constexpr std::uint32_t kMagic = 0x50414C54;  // "PALT"
  std::uint32_t magic = kMagic;
  std::vector<PALETTEENTRY> entries;
};

Palette* FromHandle(HPALETTE h) {
  auto* p = reinterpret_cast<Palette*>(h);
  return p != nullptr && p->magic == Palette::kMagic ? p : nullptr;
}

}  // namespace

HPALETTE CreatePalette(const LOGPALETTE* logical) {
  if (logical == nullptr || logical->palNumEntries == 0 || logical->palVersion != 0x300)
    return nullptr;
  auto* p = new (std::nothrow) Palette;
  if (p == nullptr) return nullptr;
  p->entries.assign(logical->palPalEntry, logical->palPalEntry + logical->palNumEntries);
  return reinterpret_cast<HPALETTE>(p);
}

UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color) {
  Palette* p = FromHandle(h);
  if (p == nullptr) return CLR_INVALID;
  const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
  UINT best = 0;
  int bestDistance = 1 << 30;
  for (UINT i = 0; i < p->entries.size(); ++i) {
    const PALETTEENTRY& e = p->entries[i];
    int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

UINT GetPaletteEntries(HPALETTE h, UINT start, UINT count, PALETTEENTRY* entries) {
  Palette* p = FromHandle(h);
  if (p == nullptr) return 0;
  if (entries == nullptr) return static_cast<UINT>(p->entries.size());
  UINT n = 0;
  for (UINT i = start; i < p->entries.size() && n < count; ++i, ++n) entries[n] = p->entries[i];
  return n;
}

BOOL DeleteObject(HPALETTE h) {
  Palette* p = FromHandle(h);
  if (p == nullptr) return FALSE;
  p->magic = 0;
  delete p;
  return TRUE;
}
