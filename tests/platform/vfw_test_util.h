// Pictures, a minimal AVI wrapper and an ffmpeg decode for the compressor
// tests: what the drivers produce is judged by a decoder we did not write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"
#include "tests/support/test_support.h"

namespace norv::test {

// A FOURCC from a four-letter name known only at run time.
inline DWORD Fcc(const std::string& name) {
  DWORD v = 0;
  for (std::size_t i = 0; i < 4 && i < name.size(); ++i)
    v |= static_cast<DWORD>(static_cast<std::uint8_t>(name[i])) << (8 * i);
  return v;
}

inline std::size_t Stride(LONG width, int bits) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32) * 4;
}

// A bitmap format block: the 40-byte header, then the colour table for 8 bits.
struct InputFormat {
  std::vector<std::uint8_t> bytes;
  BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()); }
  const RGBQUAD* colours() const {
    return reinterpret_cast<const RGBQUAD*>(bytes.data() + sizeof(BITMAPINFOHEADER));
  }
};

inline InputFormat MakeInput(LONG width, LONG height, int bits) {
  InputFormat f;
  f.bytes.assign(sizeof(BITMAPINFOHEADER) + (bits == 8 ? 1024 : 0), 0);
  BITMAPINFOHEADER& h = *f.header();
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biSizeImage = static_cast<DWORD>(Stride(width, bits) * static_cast<std::size_t>(height));
  h.biClrUsed = h.biClrImportant = bits == 8 ? 256 : 0;
  if (bits == 8) {
    auto* c = reinterpret_cast<RGBQUAD*>(f.bytes.data() + sizeof h);
    for (int i = 0; i < 256; ++i)  // 3-3-2 colour cube
      c[i] = {static_cast<BYTE>((i >> 6) * 85), static_cast<BYTE>(((i >> 3) & 7) * 36),
              static_cast<BYTE>((i & 7) * 36), 0};
  }
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
  const std::size_t bpp = static_cast<std::size_t>(bits / 8), stride = Stride(w, bits);
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
// asking for a key frame where `askKey` says; picture i is frame number
// `numbers[i]` (none given: i + 1, as a host numbers them). Stops at the first frame refused.
inline Encoded EncodeAll(DWORD handler, InputFormat& in,
                         const std::vector<std::vector<std::uint8_t>>& dibs,
                         const std::function<bool(std::size_t)>& askKey,
                         DWORD quality = ICQUALITY_DEFAULT, std::vector<LONG> numbers = {}) {
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
    const DWORD r = ICCompress(hic, askKey(i) ? ICCOMPRESS_KEYFRAME : 0, oh, buffer.data(),
                               in.header(), const_cast<std::uint8_t*>(dibs[i].data()), &ckid,
                               &flags, numbers.empty() ? static_cast<LONG>(i + 1) : numbers[i], 0,
                               quality, nullptr, nullptr);
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

// The least an AVI reader needs: avih, one video stream and movi (ffmpeg
// reads the frames in order without an index).
inline std::vector<std::uint8_t> WrapAvi(const Encoded& e, DWORD handler) {
  using Bytes = std::vector<std::uint8_t>;
  auto words = [](std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t x : values) PutLe(b, x);
    return b;
  };
  auto list = [](const char* type, const RiffChunks& chunks) {  // a LIST's type and chunks
    const Bytes riff = RiffBytes(type, chunks);
    return Bytes(riff.begin() + 8, riff.end());
  };
  const auto* f = reinterpret_cast<const BITMAPINFOHEADER*>(e.format.data());
  const auto n = static_cast<std::uint32_t>(e.frames.size());
  RiffChunks movi;
  for (const auto& frame : e.frames) movi.push_back({"00dc", frame});
  const auto w = static_cast<std::uint32_t>(f->biWidth),
             h = static_cast<std::uint32_t>(f->biHeight);
  const Bytes strl = list(
      "strl",
      {{"strh", words({MakeFourCC("vids"), handler, 0, 0, 0, 1, 25, 0, n, 0, 0xFFFFFFFF, 0, 0, 0})},
       {"strf", e.format}});
  return RiffBytes(
      "AVI ",
      {{"LIST", list("hdrl", {{"avih", words({40000, 0, 0, 0, n, 0, 1, 0, w, h, 0, 0, 0, 0})},
                              {"LIST", strl}})},
       {"LIST", list("movi", movi)}});
}

}  // namespace norv::test
