// The image library: packed 24-bit bitmaps in, colour reduction (quantise.h),
// a palette and a packed 8-bit bitmap out.
//
// Ownership: the library keeps each image from ImageFromDib until
// ReleaseImage; ids are never reused, so a released id stays refused. The
// palette of ImagePalette and the block of ImageToDib are new on every call
// and belong to the caller (DeleteObject, GlobalFree).
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "hoststub/norv_host.h"
#include "hoststub/quantise.h"
#include "platform/gdi/palette.h"
#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"

namespace {

struct Image {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<norv::host::Rgba> rgba;  // rows in the bitmap's order (bottom-up)
  bool reduced = false;
  std::vector<norv::host::Rgba> palette;  // after ReduceColors
  std::vector<std::uint8_t> pixels;       // indices into `palette`, width x height
};

struct Library {
  std::mutex lock;
  std::map<std::int32_t, Image> images;
  std::int32_t nextId = 0;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

bool g_withoutPalette = false;

std::uint32_t RowBytes(std::int32_t width, std::uint32_t bits) {
  return ((static_cast<std::uint32_t>(width) * bits + 31) / 8) & ~3u;
}

bool Quantise(Image& image, int colors) {
  norv::host::Quantised result;
  if (!norv::host::QuantiseImage(image.rgba, image.width, image.height, colors, &result))
    return false;
  image.palette = std::move(result.palette);
  image.pixels = std::move(result.indices);
  image.reduced = true;
  return true;
}

}  // namespace

extern "C" {

std::int32_t ImageFromDib(const void* packedDib) {
  if (packedDib == nullptr) return -1;
  BITMAPINFOHEADER h;
  std::memcpy(&h, packedDib, sizeof h);
  if (h.biSize < sizeof h || h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth < 1 ||
      h.biHeight < 1 || h.biWidth > 65536 || h.biHeight > 65536)
    return -1;
  const std::uint32_t row = RowBytes(h.biWidth, 24);
  if (h.biSizeImage != 0 && h.biSizeImage < row * static_cast<std::uint32_t>(h.biHeight)) return -1;

  Image image;
  image.width = h.biWidth;
  image.height = h.biHeight;
  image.rgba.resize(static_cast<std::size_t>(h.biWidth) * static_cast<std::size_t>(h.biHeight));
  const auto* bits = static_cast<const std::uint8_t*>(packedDib) + h.biSize;
  norv::host::Rgba* out = image.rgba.data();
  for (std::int32_t y = 0; y < h.biHeight; ++y) {
    const std::uint8_t* p = bits + static_cast<std::size_t>(row) * static_cast<std::uint32_t>(y);
    for (std::int32_t x = 0; x < h.biWidth; ++x, p += 3)
      *out++ = norv::host::Rgba{p[2], p[1], p[0], 255};
  }

  Library& library = TheLibrary();
  std::lock_guard guard(library.lock);
  if (library.nextId < 0) return -1;  // every id has been given out once
  const std::int32_t id = library.nextId;
  library.nextId = id == INT32_MAX ? -1 : id + 1;
  library.images.emplace(id, std::move(image));
  return id;
}

std::int32_t ReduceColors(std::int32_t id, std::int32_t bits, std::int32_t, std::int32_t colors) {
  if (bits != 8 || colors < 2 || colors > 256) return -1;
  Library& library = TheLibrary();
  std::lock_guard guard(library.lock);
  auto it = library.images.find(id);
  if (it == library.images.end()) return -1;
  return Quantise(it->second, colors) ? 0 : -1;
}

HPALETTE ImagePalette(std::int32_t id) {
  Library& library = TheLibrary();
  std::lock_guard guard(library.lock);
  auto it = library.images.find(id);
  if (it == library.images.end() || !it->second.reduced || g_withoutPalette) return nullptr;
  const std::vector<norv::host::Rgba>& colors = it->second.palette;
  std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
  auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = static_cast<WORD>(colors.size());
  for (std::size_t i = 0; i < colors.size(); ++i)
    logical->palPalEntry[i] = PALETTEENTRY{colors[i].r, colors[i].g, colors[i].b, 0};
  return CreatePalette(logical);
}

HGLOBAL ImageToDib(std::int32_t id, std::uint32_t* width, std::uint32_t* height,
                   std::uint32_t* colorCount) {
  Library& library = TheLibrary();
  std::lock_guard guard(library.lock);
  auto it = library.images.find(id);
  if (it == library.images.end() || !it->second.reduced) return nullptr;
  const Image& image = it->second;
  const std::uint32_t row = RowBytes(image.width, 8);
  const std::uint32_t imageBytes = row * static_cast<std::uint32_t>(image.height);
  constexpr std::size_t kTableAt = sizeof(BITMAPINFOHEADER);
  constexpr std::size_t kPixelsAt = kTableAt + 256 * sizeof(RGBQUAD);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kPixelsAt + imageBytes);
  auto* p = block != nullptr ? static_cast<std::uint8_t*>(GlobalLock(block)) : nullptr;
  if (p == nullptr) {
    if (block != nullptr) GlobalFree(block);
    return nullptr;
  }
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = image.width;
  h.biHeight = image.height;
  h.biPlanes = 1;
  h.biBitCount = 8;
  h.biCompression = BI_RGB;
  h.biSizeImage = imageBytes;
  h.biClrUsed = static_cast<DWORD>(image.palette.size());
  std::memcpy(p, &h, sizeof h);
  // Entries past the reduced colours stay black, as allocated.
  for (std::size_t i = 0; i < image.palette.size(); ++i) {
    const norv::host::Rgba& c = image.palette[i];
    const RGBQUAD q{c.b, c.g, c.r, 0};
    std::memcpy(p + kTableAt + 4 * i, &q, sizeof q);
  }
  for (std::int32_t y = 0; y < image.height; ++y) {
    std::memcpy(p + kPixelsAt + static_cast<std::size_t>(row) * static_cast<std::uint32_t>(y),
                image.pixels.data() + static_cast<std::size_t>(image.width) * y,
                static_cast<std::size_t>(image.width));
  }
  GlobalUnlock(block);
  if (width != nullptr) *width = static_cast<std::uint32_t>(image.width);
  if (height != nullptr) *height = static_cast<std::uint32_t>(image.height);
  if (colorCount != nullptr) *colorCount = static_cast<std::uint32_t>(image.palette.size());
  return block;
}

std::int32_t ReleaseImage(std::int32_t id) {
  Library& library = TheLibrary();
  std::lock_guard guard(library.lock);
  return library.images.erase(id) != 0 ? 0 : -1;
}
}

extern "C" void NorvHostImagesWithoutPalette(int on) {
  g_withoutPalette = on != 0;
}
