#include "platform/gdi/palette.h"

#include "platform/gdi/memoised_mapping.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Nearest-entry queries go through a grid of 32 x 32 x 32 cells over the
// colour cube (8 levels per component and cell). Each cell lists, in index
// order, every entry that can be the nearest to some colour of the cell: an
// entry whose smallest possible distance to the cell is at most the smallest
// over all entries of their largest distance to the cell. The true nearest
// colour, and every entry tied with it, always passes that test, so scanning
// a cell's list with a strict comparison gives exactly the brute-force
// answer, lowest index on ties.
constexpr int kCellBits = 3;
constexpr int kCellsPerAxis = 256 >> kCellBits;
constexpr int kCellCount = kCellsPerAxis * kCellsPerAxis * kCellsPerAxis;

struct Grid {
  std::vector<std::uint32_t> first;  // kCellCount + 1 offsets into `entries`
  std::vector<std::uint16_t> entries;
};

struct Palette {
  static constexpr std::uint32_t kMagic = 0x50414C54;  // "PALT"
  std::uint32_t magic = kMagic;
  std::vector<PALETTEENTRY> entries;
  // Built once the palette has answered enough colours to pay for it (the
  // grid costs about as much as scanning every entry for 32768 colours):
  // palettes asked for a few colours only are simply scanned.
  std::once_flag gridOnce;
  std::unique_ptr<Grid> grid;
  std::atomic<std::uint64_t> scanned{0};
};

constexpr std::uint64_t kGridAfterColours = 32768;

Palette* FromHandle(HPALETTE h) {
  auto* p = reinterpret_cast<Palette*>(h);
  return p != nullptr && p->magic == Palette::kMagic ? p : nullptr;
}

int CellOf(int r, int g, int b) {
  return ((r >> kCellBits) * kCellsPerAxis + (g >> kCellBits)) * kCellsPerAxis + (b >> kCellBits);
}

std::unique_ptr<Grid> BuildGrid(const std::vector<PALETTEENTRY>& entries) {
  // Per axis: the smallest and largest squared distance of a component value
  // to the values of each cell slab.
  static const auto kSpans = [] {
    struct Spans {
      std::uint32_t near[kCellsPerAxis][256];
      std::uint32_t far[kCellsPerAxis][256];
    };
    auto spans = std::make_unique<Spans>();
    for (int c = 0; c < kCellsPerAxis; ++c) {
      const int lo = c << kCellBits, hi = lo + (1 << kCellBits) - 1;
      for (int v = 0; v < 256; ++v) {
        const int dn = v < lo ? lo - v : v > hi ? v - hi : 0;
        const int df = std::max(v - lo, hi - v);
        spans->near[c][v] = static_cast<std::uint32_t>(dn * dn);
        spans->far[c][v] = static_cast<std::uint32_t>(df * df);
      }
    }
    return spans;
  }();
  const auto& near = kSpans->near;
  const auto& far = kSpans->far;

  auto grid = std::make_unique<Grid>();
  grid->first.resize(kCellCount + 1);
  grid->entries.reserve(static_cast<std::size_t>(kCellCount) * 8);
  const std::size_t n = entries.size();
  std::vector<std::uint32_t> nearR(n), farR(n), nearRG(n), farRG(n);
  int cell = 0;
  for (int cr = 0; cr < kCellsPerAxis; ++cr) {
    for (std::size_t i = 0; i < n; ++i) {
      nearR[i] = near[cr][entries[i].peRed];
      farR[i] = far[cr][entries[i].peRed];
    }
    for (int cg = 0; cg < kCellsPerAxis; ++cg) {
      for (std::size_t i = 0; i < n; ++i) {
        nearRG[i] = nearR[i] + near[cg][entries[i].peGreen];
        farRG[i] = farR[i] + far[cg][entries[i].peGreen];
      }
      for (int cb = 0; cb < kCellsPerAxis; ++cb, ++cell) {
        std::uint32_t bound = ~0u;
        for (std::size_t i = 0; i < n; ++i)
          bound = std::min(bound, farRG[i] + far[cb][entries[i].peBlue]);
        grid->first[cell] = static_cast<std::uint32_t>(grid->entries.size());
        for (std::size_t i = 0; i < n; ++i) {
          if (nearRG[i] + near[cb][entries[i].peBlue] <= bound)
            grid->entries.push_back(static_cast<std::uint16_t>(i));
        }
      }
    }
  }
  grid->first[kCellCount] = static_cast<std::uint32_t>(grid->entries.size());
  grid->entries.shrink_to_fit();
  return grid;
}

const Grid& GridOf(Palette& p) {
  std::call_once(p.gridOnce, [&p] { p.grid = BuildGrid(p.entries); });
  return *p.grid;
}

// Every entry, lowest index on ties: the answer the grid must give too.
UINT NearestByScan(const Palette& p, int r, int g, int b) {
  UINT best = 0;
  int bestDistance = 1 << 30;
  for (UINT i = 0; i < p.entries.size(); ++i) {
    const PALETTEENTRY& e = p.entries[i];
    const int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

// The grid when the palette has earned one (counting `colours` more), else null.
const Grid* GridFor(Palette& p, std::uint64_t colours) {
  if (p.scanned.fetch_add(colours) + colours < kGridAfterColours) return nullptr;
  return &GridOf(p);
}

UINT Nearest(const Palette& p, const Grid& grid, int r, int g, int b) {
  const int cell = CellOf(r, g, b);
  const std::uint16_t* it = grid.entries.data() + grid.first[cell];
  const std::uint16_t* end = grid.entries.data() + grid.first[cell + 1];
  UINT best = *it;
  int bestDistance = 1 << 30;
  for (; it != end; ++it) {
    const PALETTEENTRY& e = p.entries[*it];
    const int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = *it;
    }
  }
  return best;
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
  const Grid* grid = GridFor(*p, 1);
  return grid != nullptr ? Nearest(*p, *grid, r, g, b) : NearestByScan(*p, r, g, b);
}

BOOL NorvMapPixelsToPalette(HPALETTE h, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                            UINT indexStride, UINT width, UINT rows) {
  Palette* p = FromHandle(h);
  if (p == nullptr) {
    norv::gdi::FillInvalidIndices(indices, indexStride, width, rows);
    return FALSE;
  }
  const Grid* grid = GridFor(*p, static_cast<std::uint64_t>(width) * rows);
  norv::gdi::MapPixelsThroughMemo(
      pixels, pixelStride, indices, indexStride, width, rows, [p, grid](BYTE r, BYTE g, BYTE b) {
        return grid != nullptr ? Nearest(*p, *grid, r, g, b) : NearestByScan(*p, r, g, b);
      });
  return TRUE;
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
