#include "plugin/video/palettes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "hoststub/norv_host.h"
#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/video/frame_encoder.h"
#include "tests/support/test_support.h"

namespace {

using namespace norv::test;
using Entry = std::vector<int>;  // blue, green, red, reserved

Entry TableEntry(const std::uint8_t* dib8, int i) {
  const std::uint8_t* q = dib8 + 40 + 4 * i;
  return {q[0], q[1], q[2], q[3]};
}

// A RIFF palette file of `count` entries, entry 0 pure red.
struct PalFile {
  int count = 16;
  int declared = -1;  // -1: `count`
  const char* form = "PAL ";
  const char* dataId = "data";
  std::size_t cut = 0;  // bytes dropped from the end
  std::uint16_t version = 0x300;

  std::string Write(const std::string& path) const {
    std::vector<std::uint8_t> data;
    PutLe(data, version, 2);
    PutLe(data, static_cast<std::uint32_t>(declared >= 0 ? declared : count), 2);
    for (int i = 0; i < count; ++i)
      data.insert(data.end(),
                  {static_cast<std::uint8_t>(i == 0 ? 255 : i), static_cast<std::uint8_t>(3 * i),
                   static_cast<std::uint8_t>(7 * i), 0x04});
    // 'offs' is skipped on the way to the data, with its pad byte.
    auto b = RiffBytes(form, {{"offs", {1, 2, 3}}, {dataId, data}});
    b.resize(b.size() - cut);
    WriteFileBytes(path, b);
    return path;
  }
};

TEST(PaletteFile, EntriesFillTheTableAndBoundTheMapping) {
  norv::test::TempDir dir;
  std::vector<std::uint8_t> dib24(40 + 12 * 4), dib8(1064 + 4 * 4);
  FillBitmapHeader(dib24.data(), 4, 4, 24);
  FillBitmapHeader(dib8.data(), 4, 4, 8);
  HPALETTE palette = LoadPaletteFile(PalFile{}.Write(dir.File("a.pal")).c_str(), dib8.data());
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(TableEntry(dib8.data(), 0), (Entry{0, 0, 255, 0}));
  EXPECT_EQ(TableEntry(dib8.data(), 15), (Entry{105, 45, 15, 0}));
  for (int i = 16; i < 256; ++i) ASSERT_EQ(TableEntry(dib8.data(), i), Entry(4, 0));
  for (std::size_t i = 40; i < dib24.size(); ++i) dib24[i] = static_cast<std::uint8_t>(i * 37);
  MapFrameNearest(dib8.data(), dib24.data(), palette);
  for (std::size_t i = 1064; i < dib8.size(); ++i) EXPECT_LT(dib8[i], 16);
  DeleteObject(palette);

  // Past 256 entries (in the data or the count) the palette is cut to 256.
  for (PalFile big : {PalFile{300, -1}, PalFile{4, 1000}}) {
    palette = LoadPaletteFile(big.Write(dir.File("big.pal")).c_str(), dib8.data());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 256u);
    DeleteObject(palette);
  }
  EXPECT_EQ(TableEntry(dib8.data(), 255), Entry(4, 0));
}

// An encoder holding the frame buffers of an 8-bit movie of w x h.
struct EightBitSession {
  HostScope host;
  FrameEncoder session;
  EightBitSession(std::int32_t w, std::int32_t h, std::uint32_t mode) {
    session.width = w;
    session.height = h;
    session.bitDepth = 8;
    session.paletteMode = mode;
    session.frameBytes24 = DibRowBytes(w, 24) * static_cast<std::uint32_t>(h);
    session.frameBytes8 = DibRowBytes(w, 8) * static_cast<std::uint32_t>(h);
    EXPECT_EQ(session.AllocateFrameBuffers(), 0);
  }
};

TEST(PaletteFile, EachBrokenFileHasItsMessage) {
  norv::test::TempDir dir;
  const std::pair<PalFile, std::vector<std::string>> cases[] = {
      {PalFile{16, -1, "ACON"}, {"Fail to find pal chunk!"}},
      {PalFile{16, -1, "PAL ", "date"}, {"Fail to find data chunk!"}},
      {PalFile{16, -1, "PAL ", "data", 6}, {"Fail to read pal data!"}},
      {PalFile{400, -1, "PAL ", "data", 100}, {"Fail to read pal data!"}},  // short past 256
      // A logical palette of another version is no palette, and says nothing.
      {PalFile{16, -1, "PAL ", "data", 0, 0x200}, {}},
  };
  std::vector<std::uint8_t> dib8(1064 + 16);
  for (const auto& [file, texts] : cases) {
    RecordedMessages recorded;
    EXPECT_EQ(LoadPaletteFile(file.Write(dir.File("bad.pal")).c_str(), dib8.data()), nullptr);
    EXPECT_EQ(recorded.texts(), texts);
  }

  // A read-only file fails the set-up: palette files are opened read-write.
  EightBitSession s(8, 8, 5);
  const std::string path = PalFile{}.Write(dir.File("locked.pal"));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  std::strcpy(s.session.paletteFile, path.c_str());
  RecordedMessages recorded;
  EXPECT_EQ(s.session.PreparePalette(), -1);
  EXPECT_EQ(recorded.texts(), std::vector<std::string>{"Invalid palette file!"});
}

// What the render callback saw; it paints sample k in flat colour k.
struct RenderLog {
  std::vector<std::uint32_t> times;
  int failAt = -1;
  bool argsOk = true;
  int result = -1;  // what PreparePalette gave
};
RenderLog* g_render = nullptr;

Entry SampleColour(int k) {
  return {16 * k, 255 - 16 * k, k % 2 == 0 ? 30 : 220, 0};
}

std::int32_t NORV_STDCALL RenderSample(std::uint32_t code, std::uint32_t context, void* args) {
  auto* a = static_cast<RenderFrameArgs*>(args);
  const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(a->sample);
  g_render->argsOk = g_render->argsOk && code == 2 && context == 0xC0FFEE && h->biWidth == 160 &&
                     h->biHeight == 120 && h->biSizeImage == 57600;
  const int k = static_cast<int>(g_render->times.size());
  g_render->times.push_back(a->timeMs);
  const Entry c = SampleColour(k);
  for (std::uint32_t i = 0; i < 57600; ++i) a->sample[40 + i] = static_cast<std::uint8_t>(c[i % 3]);
  return k == g_render->failAt ? 1 : 0;
}

RenderLog PrepareOptimum(EightBitSession& s, std::uint32_t start, std::uint32_t end,
                         int failAt = -1) {
  RenderLog log{.failAt = failAt};
  g_render = &log;
  s.session.startTime = start;
  s.session.endTime = end;
  s.session.frameCallback = &RenderSample;
  s.session.frameCallbackContext = 0xC0FFEE;
  log.result = s.session.PreparePalette();
  g_render = nullptr;
  return log;
}

TEST(OptimumPalette, SamplesSpreadOverTheSpan) {
  auto every = [](std::uint32_t from, std::uint32_t step, std::uint32_t end) {
    std::vector<std::uint32_t> t;
    for (std::uint32_t v = from; v < end; v += step) t.push_back(v);
    return t;
  };
  const std::tuple<std::uint32_t, std::uint32_t, std::vector<std::uint32_t>> cases[] = {
      {5000, 15000, every(5000, 666, 15000)},  // 16 samples, the last at +9990
      {0, 9990, every(0, 666, 9990)},          // 15 samples
      {100, 110, {100}},                       // no step: one sample
      {100, 129, every(100, 1, 129)},          // past tile 15 still rendered
  };
  for (const auto& [start, end, times] : cases) {
    EightBitSession s(8, 8, 4);
    const RenderLog log = PrepareOptimum(s, start, end);
    EXPECT_EQ(log.result, 0);
    EXPECT_EQ(log.times, times);
    EXPECT_TRUE(log.argsOk);
  }
}

TEST(OptimumPalette, TableAndPaletteHoldTheSampledColoursInOneOrder) {
  const long blocksBefore = NorvGlobalBlocksInUse();
  {
    EightBitSession s(50, 30, 4);
    ASSERT_EQ(PrepareOptimum(s, 0, 10000).result, 0);
    const UINT count = GetPaletteEntries(s.session.paletteHandle, 0, 0, nullptr);
    ASSERT_GE(count, 16u);
    std::vector<PALETTEENTRY> entries(count);
    GetPaletteEntries(s.session.paletteHandle, 0, count, entries.data());
    for (UINT i = 0; i < 256; ++i) {
      const Entry want = i < count
                             ? Entry{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0}
                             : Entry(4, 0);
      ASSERT_EQ(TableEntry(s.session.eightBitDib, static_cast<int>(i)), want) << i;
    }
    // Sixteen flat tiles: each colour survives exactly.
    for (int k = 0; k < 16; ++k) {
      const Entry c = SampleColour(k);
      const UINT index =
          GetNearestPaletteIndex(s.session.paletteHandle, RGB(BYTE(c[2]), BYTE(c[1]), BYTE(c[0])));
      EXPECT_EQ(TableEntry(s.session.eightBitDib, static_cast<int>(index)), c);
    }

    // A library that gives no palette still gives the table: the movie goes on.
    EightBitSession unpaletted(50, 30, 4);
    NorvHostImagesWithoutPalette(1);
    EXPECT_EQ(PrepareOptimum(unpaletted, 0, 10000).result, 0);
    NorvHostImagesWithoutPalette(0);
    EXPECT_EQ(unpaletted.session.paletteHandle, nullptr);
    EXPECT_TRUE(std::equal(s.session.eightBitDib + 40, s.session.eightBitDib + 1064,
                           unpaletted.session.eightBitDib + 40));

    // A failed render stops the sampling and fails the set-up.
    EightBitSession failing(8, 8, 4);
    const RenderLog failed = PrepareOptimum(failing, 0, 10000, 3);
    EXPECT_EQ(failed.times.size(), 4u);
    EXPECT_EQ(failed.result, -1);
    NorvFailGlobalAllocAfter(1);  // the mosaic
    EXPECT_EQ(PrepareOptimum(failing, 0, 10000).result, -1);
    NorvFailGlobalAllocAfter(-1);
  }
  EXPECT_EQ(NorvGlobalBlocksInUse(), blocksBefore);
}

}  // namespace
