// Palette files: a RIFF "PAL " form whose "data" chunk is a logical palette
// (version, entry count, entries of red, green, blue, flags).
#include <algorithm>
#include <cstring>

#include "platform/gdi/palette.h"
#include "platform/riff/riff_file.h"
#include "plugin/io/message.h"
#include "plugin/video/palettes.h"

namespace {

using norv::riff::ChunkInfo;
using norv::riff::RiffFile;

// Version and count words, then 256 entries: all a colour table can take.
constexpr std::size_t kPaletteBytes = 4 + 256 * sizeof(PALETTEENTRY);

// Reads the rest of a chunk whose data runs past the buffer, so that a chunk
// cut short is still noticed; true when all `bytes` were there.
bool SkipBytes(RiffFile& file, std::uint64_t bytes) {
  std::uint8_t scratch[4096];
  while (bytes > 0) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes, sizeof scratch));
    if (file.Read(scratch, want) != static_cast<long long>(want)) return false;
    bytes -= want;
  }
  return true;
}

HPALETTE Fail(const char* message) {
  ShowMessage(message);
  return nullptr;
}

}  // namespace

HPALETTE LoadPaletteFile(const char* path, std::uint8_t* eightBitDib) {
  // Read-write, as a palette file has always been opened: a read-only file
  // is refused here.
  auto file = RiffFile::Open(path, norv::riff::OpenMode::kReadWrite);
  if (!file) return Fail("Invalid palette file!");
  ChunkInfo form{};
  form.type = MakeFourCC("PAL ");
  if (file->Descend(form, nullptr, norv::riff::kFindRiff) != norv::riff::kOk)
    return Fail("Fail to find pal chunk!");
  ChunkInfo data{};
  data.id = MakeFourCC("data");
  if (file->Descend(data, &form, norv::riff::kFindChunk) != norv::riff::kOk)
    return Fail("Fail to find data chunk!");

  // Longer chunks are cut to 256 entries; what is missing stays zero (black).
  alignas(LOGPALETTE) std::uint8_t buffer[kPaletteBytes] = {};
  const std::size_t want = std::min<std::size_t>(data.size, kPaletteBytes);
  if (file->Read(buffer, want) != static_cast<long long>(want) ||
      !SkipBytes(*file, data.size - want))
    return Fail("Fail to read pal data!");

  std::uint8_t* table = eightBitDib + sizeof(BITMAPINFOHEADER);
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint8_t* e = buffer + 4 + 4 * i;  // red, green, blue, flags
    const RGBQUAD q{e[2], e[1], e[0], 0};
    std::memcpy(table + 4 * i, &q, sizeof q);
  }
  (void)file->Close();  // nothing was written

  auto* logical = reinterpret_cast<LOGPALETTE*>(buffer);
  logical->palNumEntries = std::min<WORD>(logical->palNumEntries, 256);
  return CreatePalette(logical);
}
