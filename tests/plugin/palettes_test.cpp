#include "plugin/video/palettes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "plugin/avi/bitmap_header.h"
#include "plugin/image/dib_image.h"
#include "plugin/session/movie_session.h"
#include "tests/support/test_support.h"

namespace {

using norv::test::HostScope;
using norv::test::RecordedMessages;
using norv::test::TempDir;

// A 24-bit and an 8-bit packed bitmap of the same size, as a session has them.
struct Images {
  std::int32_t width, height;
  std::vector<std::uint8_t> dib24, dib8;
  Images(std::int32_t w, std::int32_t h)
      : width(w),
        height(h),
        dib24(40 + DibRowBytes(w, 24) * h),
        dib8(1064 + DibRowBytes(w, 8) * h) {
    FillBitmapHeader(dib24.data(), w, h, 24);
    FillBitmapHeader(dib8.data(), w, h, 8);
  }
  void Set(int x, int y, int b, int g, int r) {
    std::uint8_t* p = dib24.data() + 40 + DibRowBytes(width, 24) * y + 3 * x;
    p[0] = static_cast<std::uint8_t>(b), p[1] = static_cast<std::uint8_t>(g);
    p[2] = static_cast<std::uint8_t>(r);
  }
  int Index(int x, int y) const { return dib8[1064 + DibRowBytes(width, 8) * y + x]; }
  std::vector<int> Entry(int i) const {
    const std::uint8_t* q = dib8.data() + 40 + 4 * i;
    return {q[0], q[1], q[2], q[3]};
  }
};

// Maps one colour, placed at the last pixel of the top row of a 5-wide
// image, where a row walk that ignores the padding goes wrong.
int MapFixed(std::uint32_t mode, int b, int g, int r, Images* images = nullptr) {
  Images local(5, 3);
  Images& im = images != nullptr ? *images : local;
  im.Set(4, 2, b, g, r);
  EXPECT_EQ(ApplyFixedPalette(im.dib8.data(), im.dib24.data(), mode), 1);
  return im.Index(4, 2);
}

TEST(FixedPalettes, ColoursFallIntoTheirLevels) {
  Images im(5, 3);
  EXPECT_EQ(MapFixed(1, 0, 0, 255, &im), 3);
  EXPECT_EQ(im.Entry(3), (std::vector<int>{16, 16, 224, 0}));
  EXPECT_EQ(MapFixed(1, 255, 255, 255, &im), 255);
  EXPECT_EQ(im.Entry(255), (std::vector<int>{240, 240, 224, 0}));

  EXPECT_EQ(MapFixed(2, 255, 255, 255, &im), 215);
  EXPECT_EQ(im.Entry(215), (std::vector<int>{236, 236, 236, 0}));
  EXPECT_EQ(MapFixed(2, 42, 43, 128), 8);

  Images fresh(5, 3);  // entries past 251 stay as allocated: black
  EXPECT_EQ(MapFixed(3, 0, 221, 0, &fresh), 30);
  EXPECT_EQ(fresh.Entry(30)[1], 203);
  EXPECT_EQ(MapFixed(3, 0, 222, 0, &fresh), 36);
  EXPECT_EQ(fresh.Entry(36)[1], 240);
  EXPECT_EQ(MapFixed(3, 255, 255, 255, &fresh), 251);
  for (int i = 252; i < 256; ++i) EXPECT_EQ(fresh.Entry(i), (std::vector<int>{0, 0, 0, 0}));
}

TEST(FixedPalettes, RowsKeepTheirPadding) {
  for (std::uint32_t mode : {1u, 2u, 3u}) {
    Images im(5, 3);
    std::memset(im.dib8.data() + 1064, 0xAB, im.dib8.size() - 1064);
    for (int y = 0; y < 3; ++y) im.Set(4, y, 255, 255, 255);
    ASSERT_EQ(ApplyFixedPalette(im.dib8.data(), im.dib24.data(), mode), 1);
    const int white = mode == 1 ? 255 : mode == 2 ? 215 : 251;
    for (int y = 0; y < 3; ++y) {
      EXPECT_EQ(im.Index(0, y), 0);
      EXPECT_EQ(im.Index(4, y), white);
      for (int pad = 5; pad < 8; ++pad) EXPECT_EQ(im.Index(pad, y), 0xAB) << mode;
    }
    // Without a 24-bit image only the table is written.
    EXPECT_EQ(ApplyFixedPalette(im.dib8.data(), nullptr, mode), 0);
  }
}

// A RIFF palette file, built field by field so each test can break one.
struct PaletteFile {
  std::vector<PALETTEENTRY> entries;
  int declaredCount = -1;  // -1: the number of entries
  std::string formType = "PAL ";
  std::string dataId = "data";
  bool chunkBeforeData = false;
  std::size_t cutBytes = 0;  // dropped from the end of the file

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> b;
    auto put32 = [&](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto putId = [&](const std::string& id) { b.insert(b.end(), id.begin(), id.end()); };
    putId("RIFF");
    put32(0);
    putId(formType);
    if (chunkBeforeData) {
      putId("offs");
      put32(3);
      b.insert(b.end(), {1, 2, 3, 0});
    }
    putId(dataId);
    put32(static_cast<std::uint32_t>(4 + 4 * entries.size()));
    const int count = declaredCount >= 0 ? declaredCount : static_cast<int>(entries.size());
    b.insert(b.end(),
             {0x00, 0x03, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)});
    for (const PALETTEENTRY& e : entries) b.insert(b.end(), {e.peRed, e.peGreen, e.peBlue, 0});
    const auto formSize = static_cast<std::uint32_t>(b.size() - 8);
    std::memcpy(b.data() + 4, &formSize, 4);
    b.resize(b.size() - cutBytes);
    return b;
  }
};

std::vector<PALETTEENTRY> SixteenColours() {
  std::vector<PALETTEENTRY> e{{255, 0, 0, 0}};
  for (int i = 1; i < 16; ++i)
    e.push_back({static_cast<BYTE>(16 * i), static_cast<BYTE>(255 - 9 * i),
                 static_cast<BYTE>(40 + 13 * i), 0x04});
  return e;
}

struct Loaded {
  HPALETTE palette;
  Images images{7, 5};
  std::vector<std::string> messages;
};

Loaded Load(const TempDir& dir, const PaletteFile& file) {
  const std::string path = dir.File("test.pal");
  norv::test::WriteFileBytes(path, file.Bytes());
  RecordedMessages recorded;
  Loaded loaded;
  loaded.palette = LoadPaletteFile(path.c_str(), loaded.images.dib8.data());
  loaded.messages = recorded.texts();
  return loaded;
}

TEST(PaletteFile, SixteenEntriesFillTheTableAndBoundTheMapping) {
  TempDir dir;
  PaletteFile file;
  file.entries = SixteenColours();
  file.chunkBeforeData = true;  // skipped on the way to "data"
  Loaded loaded = Load(dir, file);
  ASSERT_NE(loaded.palette, nullptr);
  EXPECT_TRUE(loaded.messages.empty());
  EXPECT_EQ(loaded.images.Entry(0), (std::vector<int>{0, 0, 255, 0}));
  EXPECT_EQ(loaded.images.Entry(5), (std::vector<int>{40 + 65, 255 - 45, 80, 0}));
  for (int i = 16; i < 256; ++i) ASSERT_EQ(loaded.images.Entry(i), (std::vector<int>{0, 0, 0, 0}));

  std::mt19937 rng(3);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      loaded.images.Set(x, y, static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                        static_cast<int>(rng() % 256));
  loaded.images.Set(6, 4, 0, 0, 250);  // near the red entry
  MapFrameNearest(loaded.images.dib8.data(), loaded.images.dib24.data(), loaded.palette);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_LT(loaded.images.Index(x, y), 16);
  EXPECT_EQ(loaded.images.Index(6, 4), 0);
  DeleteObject(loaded.palette);
}

TEST(PaletteFile, OversizeDataIsCutTo256Entries) {
  TempDir dir;
  PaletteFile file;
  for (int i = 0; i < 300; ++i)
    file.entries.push_back({static_cast<BYTE>(i), static_cast<BYTE>(i / 2), 1, 0});
  Loaded loaded = Load(dir, file);
  ASSERT_NE(loaded.palette, nullptr);
  EXPECT_EQ(GetPaletteEntries(loaded.palette, 0, 0, nullptr), 256u);
  EXPECT_EQ(loaded.images.Entry(255), (std::vector<int>{1, 127, 255, 0}));
  DeleteObject(loaded.palette);

  // A count above 256 over few entries: the missing ones are black.
  file.entries.resize(4);
  file.declaredCount = 1000;
  loaded = Load(dir, file);
  ASSERT_NE(loaded.palette, nullptr);
  EXPECT_EQ(GetPaletteEntries(loaded.palette, 0, 0, nullptr), 256u);
  DeleteObject(loaded.palette);
}

TEST(PaletteFile, EachBrokenFileHasItsMessage) {
  TempDir dir;
  struct Case {
    const char* name;
    PaletteFile file;
    const char* message;
  };
  std::vector<Case> cases(4);
  cases[0] = {"other form", {}, "Fail to find pal chunk!"};
  cases[0].file.formType = "ACON";
  cases[1] = {"no data chunk", {}, "Fail to find data chunk!"};
  cases[1].file.dataId = "date";
  cases[2] = {"short data", {}, "Fail to read pal data!"};
  cases[2].file.cutBytes = 6;
  cases[3] = {"short oversize data", {}, "Fail to read pal data!"};
  cases[3].file.entries.resize(400);
  cases[3].file.cutBytes = 100;
  for (Case& c : cases) {
    if (c.file.entries.empty()) c.file.entries = SixteenColours();
    const Loaded loaded = Load(dir, c.file);
    EXPECT_EQ(loaded.palette, nullptr) << c.name;
    EXPECT_EQ(loaded.messages, std::vector<std::string>{c.message}) << c.name;
  }
  RecordedMessages recorded;
  Images images(4, 4);
  EXPECT_EQ(LoadPaletteFile(dir.File("missing.pal").c_str(), images.dib8.data()), nullptr);
  EXPECT_EQ(recorded.texts(), std::vector<std::string>{"Invalid palette file!"});
}

// A session with the frame buffers of an 8-bit movie of w x h.
struct EightBitSession {
  HostScope host;
  MovieSession session;
  EightBitSession(std::int32_t w, std::int32_t h, std::uint32_t mode) {
    session.width = w;
    session.height = h;
    session.bitDepth = 8;
    session.paletteMode = mode;
    session.frameBytes24 = DibRowBytes(w, 24) * static_cast<std::uint32_t>(h);
    session.frameBytes8 = DibRowBytes(w, 8) * static_cast<std::uint32_t>(h);
    EXPECT_EQ(session.AllocateFrameBuffers(), 0);
  }
  std::vector<int> Entry(int i) const {
    const std::uint8_t* q = session.eightBitDib + 40 + 4 * i;
    return {q[0], q[1], q[2], q[3]};
  }
};

TEST(PaletteFile, ReadOnlyFileFailsTheSetUp) {
  EightBitSession s(8, 8, 5);
  PaletteFile file;
  file.entries = SixteenColours();
  const std::string path = s.host.dir().File("locked.pal");
  norv::test::WriteFileBytes(path, file.Bytes());
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  std::strcpy(s.session.paletteFile, path.c_str());
  RecordedMessages recorded;
  EXPECT_EQ(s.session.PreparePalette(), -1);
  EXPECT_EQ(recorded.texts(), std::vector<std::string>{"Invalid palette file!"});
  EXPECT_EQ(s.session.paletteHandle, nullptr);
}

// What the render callback saw, and how it answers.
struct RenderLog {
  std::vector<std::uint32_t> times;
  std::vector<std::uint32_t> contexts;
  int failAt = -1;  // answer non-zero on this call
  bool headerOk = true;
};
RenderLog* g_render = nullptr;

// Paints each sample in one flat colour that depends on its call number.
std::int32_t NORV_STDCALL RenderSample(std::uint32_t code, std::uint32_t context, void* args) {
  auto* a = static_cast<RenderFrameArgs*>(args);
  BITMAPINFOHEADER h;
  std::memcpy(&h, a->sample, sizeof h);
  g_render->headerOk = g_render->headerOk && code == 2 && h.biSize == 40 && h.biWidth == 160 &&
                       h.biHeight == 120 && h.biBitCount == 24 && h.biSizeImage == 57600;
  const int k = static_cast<int>(g_render->times.size());
  g_render->times.push_back(a->timeMs);
  g_render->contexts.push_back(context);
  if (k == g_render->failAt) return 1;
  for (std::uint32_t i = 0; i < 57600; i += 3) {
    a->sample[40 + i] = static_cast<std::uint8_t>(16 * k);
    a->sample[40 + i + 1] = static_cast<std::uint8_t>(255 - 16 * k);
    a->sample[40 + i + 2] = static_cast<std::uint8_t>(k % 2 == 0 ? 30 : 220);
  }
  return 0;
}

struct Rendered {
  int result;
  RenderLog log;
};

Rendered PrepareOptimum(EightBitSession& s, std::uint32_t start, std::uint32_t end,
                        int failAt = -1) {
  Rendered r;
  r.log.failAt = failAt;
  g_render = &r.log;
  s.session.startTime = start;
  s.session.endTime = end;
  s.session.frameCallback = &RenderSample;
  s.session.frameCallbackContext = 0xC0FFEE;
  r.result = s.session.PreparePalette();
  g_render = nullptr;
  return r;
}

TEST(OptimumPalette, SamplesSpreadOverTheSpan) {
  struct Case {
    std::uint32_t start, end;
    std::vector<std::uint32_t> offsets;
  };
  std::vector<Case> cases;
  cases.push_back({5000, 15000, {}});
  for (std::uint32_t t = 0; t < 10000; t += 666) cases.back().offsets.push_back(t);
  cases.push_back({0, 9990, {}});
  for (std::uint32_t t = 0; t < 9990; t += 666) cases.back().offsets.push_back(t);
  cases.push_back({100, 110, {0}});  // no step: a single sample
  cases.push_back({100, 129, {}});   // step 1: samples past tile 15 are rendered too
  for (std::uint32_t t = 0; t < 29; ++t) cases.back().offsets.push_back(t);
  EXPECT_EQ(cases[0].offsets.size(), 16u);
  EXPECT_EQ(cases[0].offsets.back(), 9990u);
  EXPECT_EQ(cases[1].offsets.size(), 15u);

  for (const Case& c : cases) {
    EightBitSession s(8, 8, 4);
    const Rendered r = PrepareOptimum(s, c.start, c.end);
    EXPECT_EQ(r.result, 0);
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t t : r.log.times) offsets.push_back(t - c.start);
    EXPECT_EQ(offsets, c.offsets) << c.start << ".." << c.end;
    EXPECT_TRUE(r.log.headerOk);
    for (std::uint32_t context : r.log.contexts) EXPECT_EQ(context, 0xC0FFEEu);
  }
}

TEST(OptimumPalette, TableAndPaletteHoldTheSampledColoursInOneOrder) {
  const long blocksBefore = NorvGlobalBlocksInUse();
  {
    EightBitSession s(50, 30, 4);
    const Rendered r = PrepareOptimum(s, 0, 10000);
    ASSERT_EQ(r.result, 0);
    ASSERT_NE(s.session.paletteHandle, nullptr);
    const UINT count = GetPaletteEntries(s.session.paletteHandle, 0, 0, nullptr);
    ASSERT_GE(count, 16u);  // 16 flat tiles, 16 colours
    ASSERT_LE(count, 256u);
    std::vector<PALETTEENTRY> entries(count);
    GetPaletteEntries(s.session.paletteHandle, 0, count, entries.data());
    for (UINT i = 0; i < 256; ++i) {
      const std::vector<int> want =
          i < count ? std::vector<int>{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0}
                    : std::vector<int>{0, 0, 0, 0};
      ASSERT_EQ(s.Entry(static_cast<int>(i)), want) << "entry " << i;
    }
    // A tile's colour maps onto a table entry of exactly that colour.
    for (int k = 0; k < 16; ++k) {
      const COLORREF c = RGB(static_cast<BYTE>(k % 2 == 0 ? 30 : 220),
                             static_cast<BYTE>(255 - 16 * k), static_cast<BYTE>(16 * k));
      const UINT index = GetNearestPaletteIndex(s.session.paletteHandle, c);
      EXPECT_EQ(s.Entry(static_cast<int>(index)),
                (std::vector<int>{16 * k, 255 - 16 * k, k % 2 == 0 ? 30 : 220, 0}));
    }
    EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(s.session.eightBitDib)->biClrUsed, 256u);
  }
  EXPECT_EQ(NorvGlobalBlocksInUse(), blocksBefore);  // sample, mosaic, reduced bitmap all freed
}

TEST(OptimumPalette, FailuresReleaseWhatWasAllocated) {
  const long blocksBefore = NorvGlobalBlocksInUse();
  {
    EightBitSession s(8, 8, 4);
    const Rendered r = PrepareOptimum(s, 0, 10000, 3);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.log.times.size(), 4u);  // stops at the failing render
    EXPECT_EQ(s.session.paletteHandle, nullptr);

    NorvFailGlobalAllocAfter(1);  // the mosaic
    EXPECT_EQ(PrepareOptimum(s, 0, 10000).result, -1);
    NorvFailGlobalAllocAfter(-1);
  }
  EXPECT_EQ(NorvGlobalBlocksInUse(), blocksBefore);

  // Without a callback the samples stay black: one colour, still a palette.
  EightBitSession s(8, 8, 4);
  s.session.endTime = 1000;
  EXPECT_EQ(s.session.PreparePalette(), 0);
  EXPECT_NE(s.session.paletteHandle, nullptr);
}

TEST(Mosaic, TilesLandAtTheirCorners) {
  HGLOBAL mosaicSlot = nullptr, sampleSlot = nullptr;
  DibImage mosaic(&mosaicSlot), sample(&sampleSlot);
  ASSERT_EQ(mosaic.Create(640, 480), 0);
  // Half the tile size: the copy is doubled up, the sample itself stays.
  ASSERT_EQ(sample.Create(80, 60), 0);
  std::uint8_t* bits = sample.Bits();
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) bits[sample.PixelOffset(x, y)] = static_cast<std::uint8_t>(1 + x);
  sample.Unlock();

  EXPECT_EQ(PlaceMosaicTile(&sampleSlot, &mosaicSlot, 6), 0);
  EXPECT_EQ(PlaceMosaicTile(&sampleSlot, &mosaicSlot, 16), 0);
  EXPECT_EQ(PlaceMosaicTile(&sampleSlot, &mosaicSlot, -1), 0);
  ASSERT_EQ(sample.Refresh(), 0);
  EXPECT_EQ(sample.Width(), 80);

  const std::uint8_t* m = mosaic.Bits();
  const int left = 2 * 160, bottom = 1 * 120;  // tile 6
  EXPECT_EQ(m[mosaic.PixelOffset(left, bottom)], 1);
  EXPECT_EQ(m[mosaic.PixelOffset(left + 159, bottom + 119)], 80);
  EXPECT_EQ(m[mosaic.PixelOffset(left - 1, bottom)], 0);
  EXPECT_EQ(m[mosaic.PixelOffset(left, bottom - 1)], 0);
  EXPECT_EQ(m[mosaic.PixelOffset(left + 160, bottom + 119)], 0);
  EXPECT_EQ(m[mosaic.PixelOffset(left, bottom + 120)], 0);
  int placed = 0;
  for (std::uint32_t i = 0; i < 921600; i += 3) placed += m[i] != 0;
  EXPECT_EQ(placed, 160 * 120);
  mosaic.Unlock();

  HGLOBAL emptySlot = nullptr;
  EXPECT_EQ(PlaceMosaicTile(&emptySlot, &mosaicSlot, 0), -1);
  mosaic.Free();
  sample.Free();
}

}  // namespace
