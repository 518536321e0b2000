#include "plugin/dialogs/compressor_rows.h"

#include <algorithm>
#include <cstring>

#include "plugin/host/avi_settings.h"
#include "plugin/image/bitmap_header.h"

namespace {

constexpr DWORD kIv31 = MakeFourCC("iv31");
constexpr DWORD kMjpg = MakeFourCC("MJPG");
constexpr DWORD kMsvcUpper = MakeFourCC("MSVC");
constexpr DWORD kMsvcLower = MakeFourCC("msvc");
constexpr LRESULT kPalettisedFormatBytes = kEightBitHeaderBytes;

// Compressors answer their default quality and key-frame interval into one
// value kept for the module's life: one that does not answer leaves the last
// answer in place.
DWORD g_defaultsAnswer = 0;

struct ProbeSize {
  LONG width;
  LONG height;
};
constexpr ProbeSize kProbeSizes[] = {{160, 120}, {320, 240}, {640, 480},
                                     {752, 480}, {720, 480}, {720, 576}};

struct PalettisedHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

BITMAPINFOHEADER InputHeader(const ProbeSize& size, WORD bits) {
  BITMAPINFOHEADER h;
  FillBitmapHeader(&h, size.width, size.height, bits);
  return h;
}

// A block at least as large as a header, so its bit count can be read.
std::vector<std::uint8_t> FormatBlock(LRESULT size) {
  return std::vector<std::uint8_t>(
      std::max<std::size_t>(static_cast<std::size_t>(size), sizeof(BITMAPINFOHEADER)), 0);
}

WORD BitCount(const std::vector<std::uint8_t>& format) {
  BITMAPINFOHEADER h;
  std::memcpy(&h, format.data(), sizeof h);
  return h.biBitCount;
}

bool IsCompressorType(const ICINFO& info) {
  return info.fccType == ICTYPE_VIDEO && info.fccHandler != kIv31;
}

// The next installed video compressor from `*index` on that opens for
// queries and describes itself as one, with that description; null when the
// list ends. `*index` moves past it; the caller closes it.
HIC OpenNextVideoCompressor(DWORD* index, ICINFO* described) {
  for (;; ++*index) {
    ICINFO listed{};
    if (!ICInfo(0, *index, &listed)) return nullptr;
    if (!IsCompressorType(listed)) continue;
    HIC instance = ICOpen(listed.fccType, listed.fccHandler, ICMODE_QUERY);
    if (instance == nullptr) continue;
    if (ReadInfo(instance, described) && described->fccType == ICTYPE_VIDEO) {
      ++*index;
      return instance;
    }
    ICClose(instance);
  }
}

int CountCompressors() {
  int count = 1;
  ICINFO described;
  for (DWORD index = 0; HIC instance = OpenNextVideoCompressor(&index, &described);) {
    ++count;
    ICClose(instance);
  }
  return count;
}

bool ProbeColourFormats(CompressorEntry& row, HIC hic) {
  for (const ProbeSize& size : kProbeSizes) {
    std::fill(std::begin(row.colourSlots), std::end(row.colourSlots), 0);
    bool success = false;

    PalettisedHeader in8{};
    in8.header = InputHeader(size, 8);
    in8.header.biClrUsed = 256;
    in8.header.biClrImportant = 256;
    if (ICCompressGetFormatSize(hic, &in8.header) == kPalettisedFormatBytes) {
      std::vector<std::uint8_t> out = FormatBlock(kPalettisedFormatBytes);
      auto* outHeader = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
      ICCompressGetFormat(hic, &in8.header, outHeader);
      if (ICCompressQuery(hic, &in8.header, outHeader) == ICERR_OK && BitCount(out) == 8) {
        for (int k = 0; k < 5; ++k) row.colourSlots[k] = kColor332 + k;
        success = true;
      }
    }

    BITMAPINFOHEADER in24 = InputHeader(size, 24);
    const LRESULT size24 = ICCompressGetFormatSize(hic, &in24);
    if (size24 > 0 && size24 <= kPalettisedFormatBytes) {
      std::vector<std::uint8_t> out = FormatBlock(size24);
      auto* outHeader = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
      ICCompressGetFormat(hic, &in24, outHeader);
      if (ICCompressQuery(hic, &in24, outHeader) == ICERR_OK) {
        const int bits = BitCount(out);
        // An output depth outside the list's slots still takes 24-bit frames.
        if (bits >= 9 && bits <= 27) {
          row.colourSlots[bits - 4] = bits;
        } else {
          row.colourSlots[kSlot24Bits] = 24;
        }
        success = true;
      }
    }
    if (success) return true;
  }
  return false;
}

}  // namespace

bool ReadInfo(HIC instance, ICINFO* info) {
  *info = ICINFO{};
  return instance != nullptr && ICGetInfo(instance, info, sizeof *info) != 0;
}

std::vector<CompressorEntry> ListCompressorRows(std::vector<std::string>* names) {
  const int count = CountCompressors();
  std::vector<CompressorEntry> rows(static_cast<std::size_t>(count));
  CompressorEntry& none = rows[0];
  none.quality = 10000;
  none.keyFrameEvery = 1;
  for (int k = 0; k < 5; ++k) none.colourSlots[k] = kColor332 + k;
  none.colourSlots[kSlot24Bits] = 24;

  std::size_t row = 1;
  DWORD index = 0;
  while (row < rows.size()) {
    ICINFO described;
    HIC instance = OpenNextVideoCompressor(&index, &described);
    if (instance == nullptr) break;
    const DWORD handler = described.fccHandler;
    // Motion JPEG tells its formats only to an instance opened for compressing;
    // one that will not open so fails the probe and is listed with 24 bits.
    if (handler == kMjpg) {
      ICClose(instance);
      instance = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
    }
    CompressorEntry& e = rows[row++];
    if (ProbeColourFormats(e, instance)) {
      if (handler == kMjpg) {
        ICClose(instance);
        instance = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
      }
    } else {
      std::fill(std::begin(e.colourSlots), std::end(e.colourSlots), 0);
      e.colourSlots[kSlot24Bits] = 24;
    }
    ICSendMessage(instance, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&g_defaultsAnswer),
                  sizeof g_defaultsAnswer);
    e.quality = std::clamp(static_cast<int>(g_defaultsAnswer), 0, 10000);
    if (handler == kMsvcUpper || handler == kMsvcLower) {
      e.keyFrameEvery = 4;
    } else {
      ICSendMessage(instance, ICM_GETDEFAULTKEYFRAMERATE,
                    reinterpret_cast<DWORD_PTR>(&g_defaultsAnswer), sizeof g_defaultsAnswer);
      e.keyFrameEvery = static_cast<int>(g_defaultsAnswer);
    }
    std::string text;
    for (std::size_t i = 0; i < 128 && described.szDescription[i] != 0; ++i)
      text.push_back(static_cast<char>(described.szDescription[i] & 0xFF));
    names->push_back(text);
    e.handler = handler;
    if (instance != nullptr) ICClose(instance);
  }
  rows.resize(row);
  return rows;
}
