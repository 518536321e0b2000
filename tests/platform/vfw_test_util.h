// Pictures, a minimal AVI wrapper and an ffmpeg decode for the compressor
// tests: what the drivers produce is judged by a decoder we did not write.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
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
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(Stride(width, bits) * static_cast<std::size_t>(height));
  if (bits == 8) {
    h.biClrUsed = h.biClrImportant = 256;
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
    return static_cast<std::uint8_t>(std::abs((v % 512) - 256) > 255 ? 255
                                                                     : std::abs((v % 512) - 256));
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

inline std::vector<std::uint8_t> ExpandPalette(const std::vector<std::uint8_t>& idx,
                                               const RGBQUAD* colours) {
  std::vector<std::uint8_t> out;
  out.reserve(idx.size() * 3);
  for (std::uint8_t i : idx) {
    out.push_back(colours[i].rgbBlue);
    out.push_back(colours[i].rgbGreen);
    out.push_back(colours[i].rgbRed);
  }
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
  DWORD maxBytes = 0;
};

// Opens `handler`, negotiates the format and compresses every picture, a key
// frame every `keyEvery` frames (starting with the first).
inline Encoded EncodeAll(DWORD handler, InputFormat& in,
                         const std::vector<std::vector<std::uint8_t>>& dibs, int keyEvery,
                         DWORD quality = ICQUALITY_DEFAULT) {
  Encoded e;
  HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
  EXPECT_NE(hic, nullptr);
  if (hic == nullptr) return e;
  const LRESULT formatSize = ICCompressGetFormatSize(hic, in.header());
  EXPECT_GE(formatSize, 40);
  e.format.assign(static_cast<std::size_t>(formatSize > 0 ? formatSize : 40), 0);
  auto* out = reinterpret_cast<BITMAPINFOHEADER*>(e.format.data());
  EXPECT_EQ(ICCompressGetFormat(hic, in.header(), out), ICERR_OK);
  e.maxBytes = static_cast<DWORD>(ICCompressGetSize(hic, in.header(), out));
  EXPECT_EQ(ICCompressBegin(hic, in.header(), out), ICERR_OK);
  std::vector<std::uint8_t> outHeader(e.format);
  std::vector<std::uint8_t> buffer(e.maxBytes);
  for (std::size_t i = 0; i < dibs.size(); ++i) {
    const bool key = i % static_cast<std::size_t>(keyEvery) == 0;
    DWORD flags = 0xDEAD, ckid = 0;
    auto* oh = reinterpret_cast<BITMAPINFOHEADER*>(outHeader.data());
    const DWORD r = ICCompress(hic, key ? ICCOMPRESS_KEYFRAME : 0, oh, buffer.data(), in.header(),
                               const_cast<std::uint8_t*>(dibs[i].data()), &ckid, &flags,
                               static_cast<LONG>(i), 0, quality, nullptr, nullptr);
    EXPECT_EQ(r, static_cast<DWORD>(ICERR_OK)) << "frame " << i;
    if (r != ICERR_OK) break;
    EXPECT_LE(oh->biSizeImage, e.maxBytes);
    e.frames.emplace_back(buffer.begin(), buffer.begin() + oh->biSizeImage);
    e.keys.push_back((flags & AVIIF_KEYFRAME) != 0);
  }
  ICCompressEnd(hic);
  ICClose(hic);
  return e;
}

// The least an AVI reader needs: avih, one video stream, movi and idx1.
inline std::vector<std::uint8_t> WrapAvi(const Encoded& e, DWORD handler) {
  auto put32 = [](std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  };
  auto chunk = [&](const char(&id)[5], const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> c;
    put32(c, MakeFourCC(id));
    put32(c, static_cast<std::uint32_t>(body.size()));
    c.insert(c.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) c.push_back(0);
    return c;
  };
  auto list = [&](const char(&kind)[5], const char(&type)[5],
                  const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> inner;
    put32(inner, MakeFourCC(type));
    inner.insert(inner.end(), body.begin(), body.end());
    return chunk(kind, inner);
  };
  const auto* f = reinterpret_cast<const BITMAPINFOHEADER*>(e.format.data());
  const auto n = static_cast<std::uint32_t>(e.frames.size());
  std::vector<std::uint8_t> avih, strh;
  for (std::uint32_t v :
       {40000u, 0u, 0u, 0x10u, n, 0u, 1u, 0u, static_cast<std::uint32_t>(f->biWidth),
        static_cast<std::uint32_t>(f->biHeight), 0u, 0u, 0u, 0u})
    put32(avih, v);
  for (std::uint32_t v :
       {MakeFourCC("vids"), handler, 0u, 0u, 0u, 1u, 25u, 0u, n, 0u, 0xFFFFFFFFu, 0u, 0u, 0u})
    put32(strh, v);
  std::vector<std::uint8_t> strl = chunk("strh", strh), strf = chunk("strf", e.format);
  strl.insert(strl.end(), strf.begin(), strf.end());
  std::vector<std::uint8_t> hdrl = chunk("avih", avih), strlList = list("LIST", "strl", strl);
  hdrl.insert(hdrl.end(), strlList.begin(), strlList.end());
  std::vector<std::uint8_t> movi, idx;
  for (std::uint32_t i = 0; i < n; ++i) {
    put32(idx, MakeFourCC("00dc"));
    put32(idx, e.keys[i] ? 0x10u : 0u);
    put32(idx, static_cast<std::uint32_t>(movi.size() + 4));
    put32(idx, static_cast<std::uint32_t>(e.frames[i].size()));
    auto c = chunk("00dc", e.frames[i]);
    movi.insert(movi.end(), c.begin(), c.end());
  }
  std::vector<std::uint8_t> body = list("LIST", "hdrl", hdrl);
  for (const auto& part : {list("LIST", "movi", movi), chunk("idx1", idx)})
    body.insert(body.end(), part.begin(), part.end());
  return list("RIFF", "AVI ", body);
}

// Decodes a file with ffmpeg into top-down BGR frames.
inline std::vector<std::vector<std::uint8_t>> DecodeWithFfmpeg(const std::string& file, LONG w,
                                                               LONG h) {
  const std::string raw = file + ".bgr";
  int status = -1;
  RunCommand("ffmpeg -nostdin -v error -y -i '" + file +
                 "' -fps_mode passthrough -f rawvideo -pix_fmt bgr24 '" + raw + "'",
             &status);
  EXPECT_EQ(status, 0) << "ffmpeg could not decode " << file;
  std::vector<std::vector<std::uint8_t>> frames;
  if (status != 0) return frames;
  const auto bytes = ReadFileBytes(raw);
  const std::size_t size = static_cast<std::size_t>(w * h * 3);
  EXPECT_EQ(bytes.size() % size, 0u);
  for (std::size_t at = 0; at + size <= bytes.size(); at += size)
    frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  return frames;
}

}  // namespace norv::test
