// How the built-in drivers answer the format, size, state, configuration and
// compression messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>

#include "platform/vfw/configure_hook.h"
#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

constexpr DWORD kMjpg = MakeFourCC("MJPG");

struct Open {
  explicit Open(DWORD handler, UINT mode = ICMODE_COMPRESS)
      : hic(ICOpen(ICTYPE_VIDEO, handler, mode)) {}
  ~Open() {
    if (hic != nullptr) ICClose(hic);
  }
  HIC hic;
};

// What a driver offers for one input: "refused" (by the query and the
// format alike), or the output format's compression, size and bits, the
// colours it declares and carries (the input's, or "foreign"), where its
// image size is not the most a frame may take, the frame bytes when they
// are fixed (DV), and whether the driver takes its own format back and
// refuses another.
std::string Offer(const char* handler, LONG w, LONG h, int bits) {
  Open c(Fcc(handler));
  if (c.hic == nullptr) return "absent";
  InputFormat in = MakeInput(w, h, bits);
  const LRESULT size = ICCompressGetFormatSize(c.hic, in.header());
  std::vector<std::uint8_t> format(static_cast<std::size_t>(std::max<LRESULT>(size, 40)));
  auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
  const LRESULT got = ICCompressGetFormat(c.hic, in.header(), out);
  if (ICCompressQuery(c.hic, in.header(), nullptr) != ICERR_OK)
    return got == ICERR_BADFORMAT && size < 0 ? "refused" : "refused but formatted";
  if (got != ICERR_OK) return "no format";
  const char* fcc = reinterpret_cast<const char*>(&out->biCompression);
  std::string s =
      out->biCompression < 256 ? std::to_string(out->biCompression) : std::string(fcc, 4);
  s += " " + std::to_string(out->biWidth) + "x" + std::to_string(out->biHeight) + "x" +
       std::to_string(out->biBitCount);
  if (size > 40)
    s += " colours " + std::to_string(out->biClrUsed) + "/" + std::to_string((size - 40) / 4) +
         (std::memcmp(format.data() + 40, in.colours(), std::size_t(size) - 40) ? " foreign" : "");
  const LRESULT max = ICCompressGetSize(c.hic, in.header(), out);
  if (out->biSizeImage != DWORD(max))
    s += " image " + std::to_string(out->biSizeImage) + " of " + std::to_string(max);
  if (std::string(handler) == "dvsd") s += " frame " + std::to_string(max);
  if (ICCompressQuery(c.hic, in.header(), out) != ICERR_OK) s += " own format refused";
  out->biWidth += 16;  // an output the driver would not produce
  if (ICCompressQuery(c.hic, in.header(), out) != ICERR_BADFORMAT ||
      ICCompressBegin(c.hic, in.header(), out) != ICERR_BADFORMAT)
    s += " takes a wider output";
  return s;
}

// Bottom-up 24 bits, up to 8192 pixels either way; 8 bits: the header, then
// the input's 256 colours; Cinepak and Video 1 work in 4 x 4 blocks, H.264
// and MPEG-4 in 2 x 2; DV takes only its two frame sizes, each frame of
// fixed bytes.
TEST(DriverFormats, EachCodecTakesTheSizesAndDepthsItCanEncode) {
  const char* const taken[] = {"MJPG 320x240x24", "MJPG 8192x16x24", "MJPG 16x8192x24",
                               "cvid 32x32x24",   "FMP4 32x32x24",   "H264 32x32x24"};
  const char* const refused[] = {
      "MJPG 320x240x8",  "MJPG 320x240x16", "MJPG 320x-240x24", "MJPG 8208x16x24",
      "MJPG 16x8208x24", "MRLE 320x240x24", "ZMBV 320x240x24",  "MSVC 34x32x24",
      "MSVC 32x34x24",   "cvid 34x32x24",   "cvid 32x34x24",    "FMP4 33x32x24",
      "FMP4 32x33x24",   "H264 33x32x24",   "H264 32x33x24",    "dvsd 640x480x24",
      "dvsd 720x960x24", "dvsd 720x240x24", "dvsd 704x576x24"};
  std::map<std::string, std::string> expected = {
      {"MRLE 320x240x8", "1 320x240x8 colours 256/256"},
      {"ZMBV 320x240x8", "ZMBV 320x240x8 colours 256/256"},
      {"MSVC 32x32x24", "MSVC 32x32x16"},
      {"dvsd 720x480x24", "dvsd 720x480x24 frame 120000"},
      {"dvsd 720x576x24", "dvsd 720x576x24 frame 144000"}};
  for (const char* input : taken) expected[input] = input;
  for (const char* input : refused) expected[input] = "refused";
  for (const auto& [input, offer] : expected) {
    char handler[5] = {};
    int w = 0, h = 0, bits = 0;
    ASSERT_EQ(std::sscanf(input.c_str(), "%4s %dx%dx%d", handler, &w, &h, &bits), 4);
    const std::string got = Offer(handler, w, h, bits);
    if (got != "absent" || std::string(handler) == "MSVC") {  // Video 1 is always there
      EXPECT_EQ(got, offer) << input;
    }
  }
}

// MJPG is intra-only with a quality; MPEG-4 asks for key frames now and
// then; RLE is lossless and has nothing to configure. What a driver does not
// answer leaves the caller's value alone. MJPG's configuration (through the
// hook) changes its state; another instance given that state reports the
// same blob back; a blob of the wrong size, a damaged version or another
// driver's state is refused and changes nothing.
TEST(DriverState, DefaultsFollowTheCodecAndTheConfiguredStateRoundTrips) {
  Open a(kMjpg), b(kMjpg), fmp4(MakeFourCC("FMP4")), mrle(MakeFourCC("MRLE"));
  ASSERT_NE(mrle.hic, nullptr);
  auto ask = [](HIC hic, UINT message) {
    DWORD value = 77;
    const LRESULT r =
        ICSendMessage(hic, message, reinterpret_cast<DWORD_PTR>(&value), sizeof value);
    return r == ICERR_OK                           ? static_cast<long>(value)
           : r == ICERR_UNSUPPORTED && value == 77 ? -1
                                                   : -2;
  };
  const long quality = ask(a.hic, ICM_GETDEFAULTQUALITY);
  EXPECT_TRUE(quality > 0 && quality <= 10000) << quality;
  if (fmp4.hic != nullptr) {
    EXPECT_GT(ask(fmp4.hic, ICM_GETDEFAULTKEYFRAMERATE), 1);
  }
  EXPECT_EQ(
      std::make_tuple(ask(a.hic, ICM_GETDEFAULTKEYFRAMERATE), ask(mrle.hic, ICM_GETDEFAULTQUALITY),
                      ICQueryConfigure(a.hic), ICQueryConfigure(mrle.hic)),
      std::make_tuple(-1L, -1L, true, false));

  const LRESULT size = ICGetStateSize(a.hic);
  ASSERT_GT(size, 0);
  norv::vfw::SetConfigureHook(
      [](void*, HWND, DWORD handler, LONG* effort) {
        EXPECT_EQ(handler, kMjpg);
        *effort = 8;
        return true;
      },
      nullptr);
  std::vector<std::uint8_t> before(static_cast<std::size_t>(size)), after(before), copy(before);
  auto get = [&](HIC hic, std::vector<std::uint8_t>& blob) {
    return ICGetState(hic, blob.data(), static_cast<DWORD>(blob.size()));
  };
  auto set = [&](HIC hic, std::vector<std::uint8_t> blob) {
    return ICSetState(hic, blob.data(), static_cast<DWORD>(blob.size()));
  };
  EXPECT_EQ(get(a.hic, before), size);
  EXPECT_EQ(ICConfigure(a.hic, nullptr), ICERR_OK);
  norv::vfw::SetConfigureHook(nullptr, nullptr);
  EXPECT_EQ(get(a.hic, after), size);
  EXPECT_NE(before, after);
  EXPECT_EQ(set(b.hic, after), size);
  std::vector<std::uint8_t> longer(after), bad(before);
  longer.push_back(0);
  bad[4] ^= 0x7F;
  EXPECT_LT(set(b.hic, longer), 0);
  EXPECT_LT(set(b.hic, bad), 0);
  if (fmp4.hic != nullptr) {
    EXPECT_LT(set(fmp4.hic, after), 0);
  }
  EXPECT_EQ(get(b.hic, copy), size);
  EXPECT_EQ(copy, after);
  copy.pop_back();
  EXPECT_LT(get(b.hic, copy), 0);
}

// Besides where asked (see DriverDecodes), the first frame, a frame after a
// probe (a data-rate test, numbered 0) and a frame that does not follow the
// last one are key frames. A host numbers from 1.
TEST(DriverCompress, KeyFramesComeWhereTheCodecMustStartAfresh) {
  const std::tuple<const char*, std::vector<bool>, std::vector<LONG>, std::vector<bool>> cases[] = {
      {"FMP4", {false, false}, {1, 2}, {true, false}},
      {"H264", {true, false, false}, {0, 1, 2}, {true, true, false}},
      {"FMP4", std::vector<bool>(4, false), {1, 2, 4, 5}, {true, false, true, false}}};
  for (const auto& [handler, ask, numbers, keys] : cases) {
    ICINFO info{};
    if (!ICInfo(ICTYPE_VIDEO, Fcc(handler), &info)) continue;  // not in this libavcodec
    InputFormat in = MakeInput(160, 120, 24);
    std::vector<std::vector<std::uint8_t>> dibs;
    for (std::size_t i = 0; i < ask.size(); ++i)
      dibs.push_back(ToDib(Gradient(160, 120, static_cast<int>(i)), 160, 120, 24));
    const Encoded e = EncodeAll(Fcc(handler), in, dibs, ask, numbers);
    EXPECT_EQ(e.keys, keys) << handler << " from " << numbers[0];
    for (const auto& frame : e.frames) EXPECT_FALSE(frame.empty()) << handler;
  }
}

// Frames are refused before Begin and in another format than begun with.
// RLE's worst picture, alternating lone pixels and short runs (the most
// bytes per pixel), stays within the bound the driver gave.
TEST(DriverCompress, RefusesStrayFramesAndRleStaysWithinItsBound) {
  InputFormat in = MakeInput(37, 9, 8), other = MakeInput(38, 10, 8);
  Open c(MakeFourCC("MRLE"));
  ASSERT_NE(c.hic, nullptr);
  std::vector<std::uint8_t> format(1064);
  auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
  ASSERT_EQ(ICCompressGetFormat(c.hic, in.header(), out), ICERR_OK);
  const auto max = static_cast<std::size_t>(ICCompressGetSize(c.hic, in.header(), out));
  std::vector<std::uint8_t> buffer(max + 16, 0xEE), top(37 * 9);
  for (std::size_t i = 0; i < top.size(); ++i)
    top[i] = static_cast<std::uint8_t>(i % 5 < 2 ? i : 200);
  auto dib = ToDib(top, 37, 9, 8);
  DWORD flags = 0;
  auto compress = [&](InputFormat& input) {
    return static_cast<LONG>(ICCompress(c.hic, 0, out, buffer.data(), input.header(), dib.data(),
                                        nullptr, &flags, 0, 0, ICQUALITY_DEFAULT, nullptr,
                                        nullptr));
  };
  EXPECT_NE(compress(in), ICERR_OK);
  ASSERT_EQ(ICCompressBegin(c.hic, in.header(), out), ICERR_OK);
  EXPECT_EQ(compress(other), ICERR_BADFORMAT);
  ASSERT_EQ(compress(in), ICERR_OK);
  EXPECT_LE(out->biSizeImage, max);
  EXPECT_EQ(flags, AVIIF_KEYFRAME);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + std::ptrdiff_t(max), buffer.end()),
            std::vector<std::uint8_t>(16, 0xEE));
  EXPECT_EQ(ICCompressEnd(c.hic), ICERR_OK);
}

}  // namespace
}  // namespace norv::test
