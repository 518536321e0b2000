// Pictures, their compression and a movie of them for the compressor tests:
// what the drivers produce is judged by a decoder we did not write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"
#include "plugin/avi/avi_writer.h"
#include "plugin/image/bitmap_header.h"
#include "tests/support/test_support.h"

namespace norv::test {

// A FOURCC from a four-letter name known only at run time.
inline DWORD Fcc(const std::string& name) {
  DWORD v = 0;
  for (std::size_t i = 0; i < 4 && i < name.size(); ++i)
    v |= static_cast<DWORD>(static_cast<std::uint8_t>(name[i])) << (8 * i);
  return v;
}

// The installed compressors of `type`, by index.
inline std::vector<ICINFO> Enumerate(DWORD type) {
  std::vector<ICINFO> all;
  ICINFO info{};
  for (DWORD i = 0; ICInfo(type, i, &info); ++i) all.push_back(info);
  return all;
}

// A bitmap format block: the 40-byte header, then the colour table for 8 bits.
struct InputFormat {
  std::vector<std::uint8_t> bytes;
  BITMAPINFOHEADER* header() { return DibHeader(bytes.data()); }
  const RGBQUAD* colours() const {
    return reinterpret_cast<const RGBQUAD*>(bytes.data() + kBitmapHeaderBytes);
  }
};

inline InputFormat MakeInput(LONG width, LONG height, int bits) {
  InputFormat f;
  f.bytes.assign(bits == 8 ? kEightBitHeaderBytes : kBitmapHeaderBytes, 0);
  FillBitmapHeader(f.bytes.data(), width, height, static_cast<std::uint32_t>(bits));
  f.header()->biClrUsed = f.header()->biClrImportant = bits == 8 ? 256 : 0;
  auto* c = reinterpret_cast<RGBQUAD*>(f.bytes.data() + kBitmapHeaderBytes);
  for (int i = 0; bits == 8 && i < 256; ++i)  // 3-3-2 colour cube
    c[i] = {static_cast<BYTE>((i >> 6) * 85), static_cast<BYTE>(((i >> 3) & 7) * 36),
            static_cast<BYTE>((i & 7) * 36), 0};
  return f;
}

// A moving gradient, top-down BGR rows without padding.
inline std::vector<std::uint8_t> Gradient(LONG w, LONG h, int t) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 3));
  auto tri = [](int v) {
    return static_cast<std::uint8_t>(std::min(255, std::abs(v % 512 - 256)));
  };
  for (LONG y = 0; y < h; ++y)
    for (LONG x = 0; x < w; ++x) {
      std::uint8_t* p = &px[static_cast<std::size_t>((y * w + x) * 3)];
      p[0] = tri(x * 2 + 8 * t);
      p[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
      p[2] = tri(x + y + 4 * t);
    }
  return px;
}

// 8-bit indices, top-down: flat bands (runs) next to busy texture (literals).
inline std::vector<std::uint8_t> Indexed(LONG w, LONG h, int t) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
  for (LONG y = 0; y < h; ++y)
    for (LONG x = 0; x < w; ++x)
      px[static_cast<std::size_t>(y * w + x)] =
          x < w / 2 ? static_cast<std::uint8_t>((x / 9 + y / 7 + t) & 255)
                    : static_cast<std::uint8_t>((x * 7 + y * 13 + t * 5) & 255);
  return px;
}

// Top-down packed pixels into bottom-up padded DIB rows.
inline std::vector<std::uint8_t> ToDib(const std::vector<std::uint8_t>& top, LONG w, LONG h,
                                       int bits) {
  const std::size_t bpp = static_cast<std::size_t>(bits / 8),
                    stride = DibRowBytes(w, static_cast<std::uint32_t>(bits));
  std::vector<std::uint8_t> dib(stride * static_cast<std::size_t>(h), 0);
  for (LONG y = 0; y < h; ++y)
    std::memcpy(&dib[static_cast<std::size_t>(h - 1 - y) * stride],
                &top[static_cast<std::size_t>(y * w) * bpp], static_cast<std::size_t>(w) * bpp);
  return dib;
}

// 8-bit indices through a colour table into BGR pixels.
inline std::vector<std::uint8_t> ExpandPalette(const std::vector<std::uint8_t>& idx,
                                               const RGBQUAD* colours) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t i : idx)
    out.insert(out.end(), {colours[i].rgbBlue, colours[i].rgbGreen, colours[i].rgbRed});
  return out;
}

inline double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * double(a[i] - b[i]);
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

struct Encoded {
  std::vector<std::uint8_t> format;
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<bool> keys;
};

// Opens `handler`, negotiates the format and compresses every picture,
// asking for a key frame where `asked` says; picture i is frame number
// `numbers[i]` (none given: i + 1, as a host numbers them). Stops at the first frame refused.
inline Encoded EncodeAll(DWORD handler, InputFormat& in,
                         const std::vector<std::vector<std::uint8_t>>& dibs,
                         const std::vector<bool>& asked, std::vector<LONG> numbers = {}) {
  Encoded e;
  HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
  EXPECT_NE(hic, nullptr);
  if (hic == nullptr) return e;
  const LRESULT formatSize = ICCompressGetFormatSize(hic, in.header());
  EXPECT_GE(formatSize, 40);
  e.format.assign(static_cast<std::size_t>(std::max<LRESULT>(formatSize, 40)), 0);
  auto* out = reinterpret_cast<BITMAPINFOHEADER*>(e.format.data());
  EXPECT_EQ(ICCompressGetFormat(hic, in.header(), out), ICERR_OK);
  const auto maxBytes = static_cast<DWORD>(ICCompressGetSize(hic, in.header(), out));
  EXPECT_EQ(ICCompressBegin(hic, in.header(), out), ICERR_OK);
  std::vector<std::uint8_t> outHeader(e.format), buffer(maxBytes);
  auto* oh = reinterpret_cast<BITMAPINFOHEADER*>(outHeader.data());
  for (std::size_t i = 0; i < dibs.size(); ++i) {
    DWORD flags = 0xDEAD, ckid = 0;
    const DWORD r = ICCompress(hic, asked[i] ? ICCOMPRESS_KEYFRAME : 0, oh, buffer.data(),
                               in.header(), const_cast<std::uint8_t*>(dibs[i].data()), &ckid,
                               &flags, numbers.empty() ? static_cast<LONG>(i + 1) : numbers[i], 0,
                               ICQUALITY_DEFAULT, nullptr, nullptr);
    EXPECT_EQ(r, static_cast<DWORD>(ICERR_OK)) << "frame " << i;
    if (r != ICERR_OK) break;
    EXPECT_LE(oh->biSizeImage, maxBytes);
    e.frames.emplace_back(buffer.begin(), buffer.begin() + oh->biSizeImage);
    e.keys.push_back((flags & AVIIF_KEYFRAME) != 0);
  }
  ICCompressEnd(hic);
  ICClose(hic);
  return e;
}

// The frames as a movie at `path`, written as the plug-in writes its own.
inline void WriteAvi(const std::string& path, const Encoded& e, DWORD handler) {
  const auto* f = reinterpret_cast<const BITMAPINFOHEADER*>(e.format.data());
  const auto n = static_cast<std::uint32_t>(e.frames.size());
  AviStreamPlan plan;
  const auto w = static_cast<std::uint32_t>(f->biWidth),
             h = static_cast<std::uint32_t>(f->biHeight);
  plan.mainHeader = {40000, 0, 0, kAvifHasIndex, n, 0, 1, 0, w, h};
  plan.videoHeader = {kFourccVids, handler, 0, 0, 0, 0, 1, 25, 0, n, 0, 0xFFFFFFFF};
  plan.videoFormat = e.format.data();
  plan.videoFormatSize = static_cast<std::uint32_t>(e.format.size());
  plan.indexCapacity = n;
  AviWriter writer;
  ASSERT_EQ(writer.WriteAviHeaders(path.c_str(), plan), AviStatus::kOk);
  for (std::size_t i = 0; i < n; ++i) {
    const auto size = static_cast<std::uint32_t>(e.frames[i].size());
    ASSERT_EQ(writer.WriteVideoChunk(e.keys[i], {e.frames[i].data(), size}), AviStatus::kOk);
  }
  ASSERT_EQ(writer.Finish(), AviStatus::kOk);
}

}  // namespace norv::test
