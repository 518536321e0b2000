// The compressor manager: enumeration, opening by handler, self-description,
// handle checks, and drivers installed at run time.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>

#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

std::string Narrow(const WCHAR* text) {
  std::string s;
  for (; *text != 0; ++text) s.push_back(static_cast<char>(*text));
  return s;
}

// Each built-in is enumerated by index, found by its handler in any case,
// and describes itself, opened, as enumerated; a short buffer gets only
// what fits. MPEG-4 offers quality and key frames, lossless HuffYUV neither.
TEST(CompressorManager, EnumeratesTheBuiltInsAndOpensThemByHandlerInAnyCase) {
  const auto all = Enumerate(ICTYPE_VIDEO);
  ASSERT_GE(all.size(), 9u);  // everything but H264 needs only libavcodec itself
  EXPECT_EQ(Enumerate(0).size(), all.size());
  EXPECT_TRUE(Enumerate(MakeFourCC("vidx")).empty());
  std::map<std::string, DWORD> flags;
  for (const ICINFO& info : all) {
    const std::string name = Narrow(info.szName);
    std::string swapped = name;  // every letter's case turned over
    for (char& c : swapped)
      c = static_cast<char>(std::islower(c) ? std::toupper(c) : std::tolower(c));
    ICINFO byHandler{};
    EXPECT_TRUE(ICInfo(ICTYPE_VIDEO, Fcc(swapped), &byHandler));
    EXPECT_EQ(byHandler.fccHandler, info.fccHandler) << swapped;
    HIC hic = ICOpen(MakeFourCC("VIDC"), Fcc(swapped), ICMODE_QUERY);
    ASSERT_NE(hic, nullptr) << swapped;
    ICINFO got{}, part{};
    ASSERT_EQ(ICGetInfo(hic, &got, sizeof got), 568);
    EXPECT_EQ(std::make_tuple(info.fccType, got.dwSize, got.fccType, got.fccHandler,
                              Narrow(got.szName), Narrow(got.szDescription)),
              std::make_tuple(ICTYPE_VIDEO, info.dwSize, ICTYPE_VIDEO, info.fccHandler, name,
                              Narrow(info.szDescription)));
    EXPECT_FALSE(Narrow(info.szDescription).empty() || Narrow(got.szDriver).empty()) << name;
    flags[name] = got.dwFlags & (VIDCF_QUALITY | VIDCF_TEMPORAL);
    part.dwFlags = 0xABCD;
    EXPECT_EQ(ICGetInfo(hic, &part, 12), 12);
    EXPECT_EQ(std::tie(part.fccHandler, part.dwFlags), std::make_tuple(info.fccHandler, 0xABCDu));
    EXPECT_EQ(ICClose(hic), ICERR_OK);
  }
  for (const char* h : {"MJPG", "dvsd", "MSVC", "cvid", "MRLE", "ZMBV", "HFYU", "FFV1", "FMP4"})
    EXPECT_EQ(flags.count(h), 1u) << h;
  EXPECT_EQ(flags["FMP4"], VIDCF_QUALITY | VIDCF_TEMPORAL);
  EXPECT_EQ(flags["HFYU"], 0u);
  ICINFO info{};
  EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, MakeFourCC("none"), &info));
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MakeFourCC("none"), ICMODE_COMPRESS), nullptr);
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MakeFourCC("MJPG"), ICMODE_DECOMPRESS), nullptr);
}

// A driver function of the test's own: counts opens and closes, keeps the
// ICCOMPRESS block it is given, and throws on one message.
struct Seen {
  int opens = 0, closes = 0;
  ICCOMPRESS compress{};
  DWORD openMode = 0;
};
Seen seen;
LRESULT TestProc(DWORD_PTR id, HDRVR, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case DRV_OPEN:
      ++seen.opens;
      seen.openMode = reinterpret_cast<ICOPEN*>(p2)->dwFlags;
      return 42;
    case DRV_CLOSE:
      ++seen.closes;
      return 1;
    case ICM_COMPRESS:
      EXPECT_EQ(id, 42u);
      EXPECT_EQ(static_cast<std::size_t>(p2), sizeof(ICCOMPRESS));
      seen.compress = *reinterpret_cast<ICCOMPRESS*>(p1);
      return ICERR_OK;
    case ICM_ABOUT:
      throw std::runtime_error("driver bug");
    default:
      return ICERR_UNSUPPORTED;
  }
}

// Installed at the end of the list, enumerated to its end even when long
// (any value below 0x10000 is an index), with a description of as many
// characters as ICINFO holds; opened by handler in any case, given the
// messages, closed once, and removed again.
TEST(CompressorManager, InstalledDriverFunctionsGetTheMessages) {
  const auto before = Enumerate(ICTYPE_VIDEO).size();
  std::string longest(127, 'd');
  auto numbered = [](int i) {
    return MakeFourCC("t000") + ((i / 100) << 8) + ((i / 10 % 10) << 16) +
           (static_cast<DWORD>(i % 10) << 24);
  };
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, numbered(i), reinterpret_cast<LPARAM>(&TestProc),
                          longest.data(), ICINSTALL_FUNCTION));
  EXPECT_FALSE(ICInstall(ICTYPE_VIDEO, numbered(0), reinterpret_cast<LPARAM>(&TestProc),
                         longest.data(), ICINSTALL_DRIVER));
  const auto many = Enumerate(ICTYPE_VIDEO);
  ASSERT_EQ(many.size(), before + 300);
  EXPECT_EQ(many.back().fccHandler, numbered(299));
  EXPECT_EQ(Narrow(many.back().szDescription), longest);

  seen = {};
  ICINFO info{};
  HIC hic = ICOpen(ICTYPE_VIDEO, MakeFourCC("T123"), ICMODE_COMPRESS);
  ASSERT_NE(hic, nullptr);
  EXPECT_EQ(std::tie(seen.opens, seen.openMode), std::make_tuple(1, DWORD{ICMODE_COMPRESS}));
  BITMAPINFOHEADER in{}, out{}, prev{};
  std::uint8_t data[4]{}, outData[4]{}, prevData[4]{};
  DWORD ckid = 0, flags = 0;
  EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, &out, outData, &in, data, &ckid, &flags, 17, 99,
                       6000, &prev, prevData),
            0u);
  const ICCOMPRESS& got = seen.compress;
  EXPECT_EQ(std::tie(got.dwFlags, got.lpbiOutput, got.lpOutput, got.lpbiInput, got.lpInput,
                     got.lpckid, got.lpdwFlags, got.lFrameNum, got.dwFrameSize, got.dwQuality,
                     got.lpbiPrev, got.lpPrev),
            std::make_tuple(DWORD{ICCOMPRESS_KEYFRAME}, &out, static_cast<void*>(outData), &in,
                            static_cast<void*>(data), &ckid, &flags, LONG{17}, DWORD{99},
                            DWORD{6000}, &prev, static_cast<void*>(prevData)));
  // What the driver throws stays inside the manager.
  EXPECT_EQ(ICSendMessage(hic, ICM_ABOUT, 0, 0), ICERR_INTERNAL);
  EXPECT_EQ(ICSendMessage(hic, DRV_CLOSE, 0, 0), ICERR_UNSUPPORTED);  // only through ICClose
  EXPECT_EQ(ICClose(hic), ICERR_OK);
  EXPECT_EQ(seen.closes, 1);
  // A closed handle, or one the manager never gave out, is refused.
  HIC foreign = reinterpret_cast<HIC>(static_cast<std::uintptr_t>(0x1234));
  for (HIC bad : {hic, foreign, HIC{}}) {
    EXPECT_EQ(ICClose(bad), ICERR_BADHANDLE);
    EXPECT_EQ(ICSendMessage(bad, ICM_GETSTATE, 0, 0), ICERR_BADHANDLE);
    EXPECT_EQ(ICGetInfo(bad, &info, sizeof info), 0);
    EXPECT_EQ(static_cast<LONG>(ICCompress(bad, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, 0, 0, 0, nullptr, nullptr)),
              ICERR_BADHANDLE);
  }
  EXPECT_EQ(seen.closes, 1);

  for (int i = 0; i < 300; ++i) EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, numbered(i), 0));
  EXPECT_FALSE(ICRemove(ICTYPE_VIDEO, numbered(0), 0));
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, numbered(123), ICMODE_COMPRESS), nullptr);
  EXPECT_EQ(Enumerate(ICTYPE_VIDEO).size(), before);
}

TEST(CompressorManager, ConcurrentOpenAndCloseKeepHandlesApart) {
  auto work = [] {
    for (int i = 0; i < 200; ++i) {
      HIC hic = ICOpen(ICTYPE_VIDEO, MakeFourCC("MJPG"), ICMODE_QUERY);
      ASSERT_NE(hic, nullptr);
      EXPECT_EQ(ICGetStateSize(hic), 16);
      EXPECT_EQ(ICClose(hic), ICERR_OK);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
}

}  // namespace
}  // namespace norv::test
