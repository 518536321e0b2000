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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Nearest-entry queries go through a grid of 32 x 32 x 32 cells over the
// colour cube (8 levels per component and cell). Each cell lists, in index
// order, the entries that can be the nearest to some colour of the cell,
// colour and index packed together so that a query reads one short run of
// memory. An entry is left out when another entry beats it on every colour
// of the cell: nearer, or as near with a lower index. That relation is
// transitive and the true answer for a colour is beaten by nothing there,
// so it always stays; scanning the list with a strict comparison gives
// exactly the brute-force answer, lowest index on ties.
constexpr int kCellBits = 3;
constexpr int kCellSize = 1 << kCellBits;
constexpr int kCellsPerAxis = 256 >> kCellBits;
constexpr int kCellCount = kCellsPerAxis * kCellsPerAxis * kCellsPerAxis;

// Red, green, blue and the entry's index, one byte each.
using Candidate = std::uint32_t;
constexpr Candidate Pack(const PALETTEENTRY& e, std::size_t index) {
  return e.peRed | (e.peGreen << 8) | (std::uint32_t{e.peBlue} << 16) |
         (static_cast<std::uint32_t>(index) << 24);
}

// Most cells keep at most four candidates (fewer than two on average for a
// spread palette): those sit in a fixed slot, padded with copies of one of
// them, laid out for four 16-bit multiply-adds at once and compared without
// a branch. Longer lists live in the overflow lists.
constexpr std::size_t kSlotSize = 4;
struct alignas(16) Slot {
  std::int16_t redGreen[2 * kSlotSize];   // red, green of each candidate
  std::int16_t blueIndex[2 * kSlotSize];  // blue, index of each candidate
};

struct Grid {
  std::vector<Slot> slots;             // kCellCount
  std::vector<std::uint8_t> overflow;  // kCellCount: 1 when the list is longer than a slot
  std::vector<std::uint32_t> first;    // kCellCount + 1 offsets into `candidates`
  std::vector<Candidate> candidates;
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

// Whether entry `j` beats entry `i` on every colour of the cell whose lowest
// corner is `lo`: d_j - d_i is linear in the colour, so its largest value
// over the cell sits at a corner chosen axis by axis.
bool Beats(const PALETTEENTRY& j, std::size_t jIndex, const PALETTEENTRY& i, std::size_t iIndex,
           const int lo[3]) {
  const int ej[3] = {j.peRed, j.peGreen, j.peBlue};
  const int ei[3] = {i.peRed, i.peGreen, i.peBlue};
  int worst = 0;  // max over the cell of d_j - d_i
  for (int k = 0; k < 3; ++k) {
    const int x = ej[k] > ei[k] ? lo[k] : lo[k] + kCellSize - 1;
    worst += (ej[k] - x) * (ej[k] - x) - (ei[k] - x) * (ei[k] - x);
  }
  return jIndex < iIndex ? worst <= 0 : worst < 0;
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
      const int lo = c << kCellBits, hi = lo + kCellSize - 1;
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
  grid->candidates.reserve(static_cast<std::size_t>(kCellCount) * 4);
  const std::size_t n = entries.size();
  std::vector<std::uint32_t> nearR(n), farR(n), nearRG(n), farRG(n);
  std::vector<std::uint16_t> rough;  // entries that pass the distance bound
  std::vector<std::uint16_t> kept;   // and that no entry tried so far beats
  rough.reserve(n);
  kept.reserve(n);
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
        // First a cheap cut: an entry whose nearest colour of the cell is
        // farther than some entry's farthest cannot win anywhere in it.
        std::uint32_t bound = ~0u;
        std::size_t bounding = 0;
        for (std::size_t i = 0; i < n; ++i) {
          const std::uint32_t d = farRG[i] + far[cb][entries[i].peBlue];
          if (d < bound) bound = d, bounding = i;
        }
        rough.clear();
        for (std::size_t i = 0; i < n; ++i)
          if (nearRG[i] + near[cb][entries[i].peBlue] <= bound)
            rough.push_back(static_cast<std::uint16_t>(i));
        // Then the exact cut. Any entry may cut another, even one cut
        // itself: "beats" is transitive, and what beats an entry on the
        // whole cell leads, through whatever beats it in turn, to an entry
        // nothing beats. So a first pass tries the entry that set the bound
        // (it beats most) and the entries kept so far, and a second pass
        // tries the kept ones against each other: together as good as
        // trying every pair, at a fraction of the cost on clustered
        // palettes, where every entry passes the bound.
        const int lo[3] = {cr << kCellBits, cg << kCellBits, cb << kCellBits};
        kept.clear();
        for (const std::uint16_t i : rough) {
          bool beaten = i != bounding && Beats(entries[bounding], bounding, entries[i], i, lo);
          for (std::size_t k = 0; !beaten && k < kept.size(); ++k)
            beaten = Beats(entries[kept[k]], kept[k], entries[i], i, lo);
          if (!beaten) kept.push_back(i);
        }
        grid->first[cell] = static_cast<std::uint32_t>(grid->candidates.size());
        for (const std::uint16_t i : kept) {
          bool beaten = false;
          for (std::size_t k = 0; !beaten && k < kept.size(); ++k)
            beaten = kept[k] != i && Beats(entries[kept[k]], kept[k], entries[i], i, lo);
          if (!beaten) grid->candidates.push_back(Pack(entries[i], i));
        }
      }
    }
  }
  grid->first[kCellCount] = static_cast<std::uint32_t>(grid->candidates.size());
  grid->candidates.shrink_to_fit();
  grid->slots.resize(kCellCount);
  grid->overflow.resize(kCellCount);
  for (int c = 0; c < kCellCount; ++c) {
    const std::uint32_t count = grid->first[c + 1] - grid->first[c];
    grid->overflow[c] = count > kSlotSize ? 1 : 0;
    for (std::size_t k = 0; k < kSlotSize; ++k) {
      const Candidate candidate = grid->candidates[grid->first[c] + (k < count ? k : 0)];
      Slot& slot = grid->slots[static_cast<std::size_t>(c)];
      slot.redGreen[2 * k] = static_cast<std::int16_t>(candidate & 0xFF);
      slot.redGreen[2 * k + 1] = static_cast<std::int16_t>((candidate >> 8) & 0xFF);
      slot.blueIndex[2 * k] = static_cast<std::int16_t>((candidate >> 16) & 0xFF);
      slot.blueIndex[2 * k + 1] = static_cast<std::int16_t>(candidate >> 24);
    }
  }
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
  // Candidates carry their index in one byte; larger palettes are scanned.
  if (p.entries.size() > 256) return nullptr;
  if (p.scanned.fetch_add(colours) + colours < kGridAfterColours) return nullptr;
  return &GridOf(p);
}

// Distance then index, in one number: the smallest key is the answer.
inline std::uint32_t Key(Candidate c, int r, int g, int b) {
  const int dr = static_cast<int>(c & 0xFF) - r;
  const int dg = static_cast<int>((c >> 8) & 0xFF) - g;
  const int db = static_cast<int>((c >> 16) & 0xFF) - b;
  return (static_cast<std::uint32_t>(dr * dr + dg * dg + db * db) << 8) | (c >> 24);
}

UINT Nearest(const Grid& grid, int r, int g, int b) {
  const int cell = CellOf(r, g, b);
  if (grid.overflow[static_cast<std::size_t>(cell)] != 0) {
    std::uint32_t best = ~0u;
    for (std::uint32_t k = grid.first[cell]; k < grid.first[cell + 1]; ++k)
      best = std::min(best, Key(grid.candidates[k], r, g, b));
    return best & 0xFF;
  }
  const Slot& slot = grid.slots[static_cast<std::size_t>(cell)];
#if defined(__SSE2__)
  // Per candidate lane: red and green differences squared and summed by one
  // multiply-add, blue by another (its index half multiplied by zero), then
  // the key and the smallest of the four keys. Keys stay below 2^26, so the
  // signed comparison orders them.
  const __m128i rg = _mm_load_si128(reinterpret_cast<const __m128i*>(slot.redGreen));
  const __m128i bi = _mm_load_si128(reinterpret_cast<const __m128i*>(slot.blueIndex));
  const __m128i dRG = _mm_sub_epi16(rg, _mm_set1_epi32(r | (g << 16)));
  const __m128i dBI = _mm_sub_epi16(bi, _mm_set1_epi32(b));
  const __m128i dB = _mm_and_si128(dBI, _mm_set1_epi32(0xFFFF));
  const __m128i d = _mm_add_epi32(_mm_madd_epi16(dRG, dRG), _mm_madd_epi16(dBI, dB));
  __m128i key = _mm_or_si128(_mm_slli_epi32(d, 8), _mm_srli_epi32(dBI, 16));
  auto least = [](__m128i x, __m128i y) {
    const __m128i less = _mm_cmplt_epi32(x, y);
    return _mm_or_si128(_mm_and_si128(less, x), _mm_andnot_si128(less, y));
  };
  key = least(key, _mm_shuffle_epi32(key, _MM_SHUFFLE(1, 0, 3, 2)));
  key = least(key, _mm_shuffle_epi32(key, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<UINT>(_mm_cvtsi128_si32(key)) & 0xFF;
#else
  std::uint32_t best = ~0u;
  for (std::size_t k = 0; k < kSlotSize; ++k) {
    const int dr = slot.redGreen[2 * k] - r, dg = slot.redGreen[2 * k + 1] - g;
    const int db = slot.blueIndex[2 * k] - b;
    best = std::min(best, (static_cast<std::uint32_t>(dr * dr + dg * dg + db * db) << 8) |
                              static_cast<std::uint32_t>(slot.blueIndex[2 * k + 1]));
  }
  return best & 0xFF;
#endif
}

// The bulk walk over the grid. Flat areas repeat colours, so the memo of
// the shared walk answers most pixels there, and a hit is so much cheaper
// than a search that the memo pays even where it misses on most pixels (a
// gradient's rows); on noise it misses nearly every time and only costs, so
// a row that missed on nine pixels in ten sends the rows after it straight
// to the grid, and every 16th row tries the memo again.
void MapThroughGrid(const Grid& grid, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                    UINT indexStride, UINT width, UINT rows) {
  auto nearest = [&grid](BYTE r, BYTE g, BYTE b) { return Nearest(grid, r, g, b); };
  norv::gdi::ColourMemo memo;
  bool memoPays = true;
  for (UINT y = 0; y < rows; ++y) {
    const BYTE* in = pixels + static_cast<std::size_t>(y) * pixelStride;
    BYTE* out = indices + static_cast<std::size_t>(y) * indexStride;
    if (memoPays || y % 16 == 0) {
      memoPays = memo.MapRow(in, out, width, nearest) <= width * 9 / 10;
    } else {
      for (UINT x = 0; x < width; ++x, in += 3)
        out[x] = static_cast<BYTE>(Nearest(grid, in[2], in[1], in[0]));
    }
  }
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
  return grid != nullptr ? Nearest(*grid, r, g, b) : NearestByScan(*p, r, g, b);
}

BOOL NorvMapPixelsToPalette(HPALETTE h, const BYTE* pixels, UINT pixelStride, BYTE* indices,
                            UINT indexStride, UINT width, UINT rows) {
  Palette* p = FromHandle(h);
  if (p == nullptr) {
    norv::gdi::FillInvalidIndices(indices, indexStride, width, rows);
    return FALSE;
  }
  const Grid* grid = GridFor(*p, static_cast<std::uint64_t>(width) * rows);
  if (grid != nullptr) {
    MapThroughGrid(*grid, pixels, pixelStride, indices, indexStride, width, rows);
    return TRUE;
  }
  norv::gdi::MapPixelsThroughMemo(
      pixels, pixelStride, indices, indexStride, width, rows,
      [p](BYTE r, BYTE g, BYTE b) { return NearestByScan(*p, r, g, b); });
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
