// Palette files: read into an 8-bit bitmap's colour table, then used to
// map a small picture.
#include <vector>

#include "fuzz/fuzz_file.h"
#include "platform/gdi/palette.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/video/palettes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SilenceMessages();
  const std::string& path = FuzzPath(".pal");
  if (!WriteFuzzFile(path, data, size)) return 0;
  std::vector<std::uint8_t> eight(1064 + 8 * 3);
  FillBitmapHeader(eight.data(), 5, 3, 8);
  std::vector<std::uint8_t> source(40 + 16 * 3);
  FillBitmapHeader(source.data(), 5, 3, 24);
  for (std::size_t i = 40; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 37);
  HPALETTE palette = LoadPaletteFile(path.c_str(), eight.data());
  if (palette != nullptr) {
    MapFrameNearest(eight.data(), source.data(), palette);
    DeleteObject(palette);
  }
  return 0;
}
