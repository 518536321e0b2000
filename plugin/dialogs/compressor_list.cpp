// The Compression, Color and Playback Platform rows of the AVI Settings
// dialog: the installed compressors, the colour depths each accepts, and the
// quality, key-frame interval and state each row remembers while the dialog
// is open.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"
#include "plugin/dialogs/avi_settings_dialog.h"
#include "plugin/dialogs/compression_options_dialog.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/dialogs/slider_dialogs.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/resources/string_table.h"

namespace {

constexpr DWORD kIv31 = MakeFourCC("iv31");
constexpr DWORD kMjpg = MakeFourCC("MJPG");
constexpr DWORD kMsvcUpper = MakeFourCC("MSVC");
constexpr DWORD kMsvcLower = MakeFourCC("msvc");
constexpr DWORD kZqkm = MakeFourCC("ZQKM");
constexpr int kSlots = 24;
constexpr int kSlot24Bits = 20;
constexpr LRESULT kPalettisedFormatBytes = kEightBitHeaderBytes;
constexpr std::uint32_t kDataRates[9] = {0, 800, 700, 600, 500, 400, 300, 150, 0};
constexpr int kCustomDataRate = 8;

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

bool ReadInfo(HIC instance, ICINFO* info) {
  *info = ICINFO{};
  return instance != nullptr && ICGetInfo(instance, info, sizeof *info) != 0;
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

std::uint8_t* BlockBytes(HostBlockRef block) {
  return static_cast<std::uint8_t*>(HostBlockAddress(block));
}

void CopyBlock(HostBlockRef to, HostBlockRef from, std::uint32_t bytes) {
  if (bytes == 0) return;
  std::uint8_t* destination = BlockBytes(to);
  const std::uint8_t* source = BlockBytes(from);
  if (destination != nullptr && source != nullptr) std::memcpy(destination, source, bytes);
}

std::uint32_t RoundedCapacity(std::uint32_t size) {
  return size - size % 1000 + 1000;
}

}  // namespace

int AviSettingsDialog::CountCompressors() const {
  int count = 1;
  ICINFO described;
  for (DWORD index = 0; HIC instance = OpenNextVideoCompressor(&index, &described);) {
    ++count;
    ICClose(instance);
  }
  return count;
}

void AviSettingsDialog::BuildCompressorList() {
  if (!compressorEntries_.empty()) return;
  const int count = CountCompressors();
  compressorEntries_.assign(static_cast<std::size_t>(count), CompressorEntry{});
  ResetContent(kCompressorList);
  AddItem(kCompressorList, LoadStringEntry(kStrNoCompression));
  CompressorEntry& none = compressorEntries_[0];
  none.quality = 10000;
  none.keyFrameEvery = 1;
  for (int k = 0; k < 5; ++k) none.colourSlots[k] = kColor332 + k;
  none.colourSlots[kSlot24Bits] = 24;

  std::size_t row = 1;
  DWORD index = 0;
  while (row < compressorEntries_.size()) {
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
    CompressorEntry& e = compressorEntries_[row++];
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
    AddItem(kCompressorList, text);
    e.handler = handler;
    if (instance != nullptr) ICClose(instance);
  }
  compressorEntries_.resize(row);
}

bool AviSettingsDialog::ProbeColourFormats(CompressorEntry& row, void* instance) const {
  HIC hic = static_cast<HIC>(instance);
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

void AviSettingsDialog::FillColourList(const CompressorEntry& row) {
  ResetContent(kColourList);
  int palettised = 0;
  for (int k = 0; k < kSlots; ++k) {
    if (row.colourSlots[k] == 0) continue;
    if (k < 5) {
      const int index = AddItem(kColourList, LoadStringEntry(kStrColor332 + k));
      SetItemData(kColourList, index, static_cast<std::uint32_t>(kColor332 + palettised++));
    } else {
      char text[64];
      std::snprintf(text, sizeof text, "%d %s", k + 4, LoadStringEntry(kStrBits));
      const int index = AddItem(kColourList, text);
      SetItemData(kColourList, index, static_cast<std::uint32_t>(k + 4));
    }
  }
}

void AviSettingsDialog::SelectColour(int code) {
  const int count = ItemCount(kColourList);
  if (count == 0) return;
  int index = 0;
  for (int i = 0; i < count; ++i) {
    if (ItemData(kColourList, i) == static_cast<std::uint32_t>(code)) {
      index = i;
      break;
    }
  }
  Select(kColourList, index);
  OnColourChanged();
}

void AviSettingsDialog::OnColourChanged() {
  const int index = Selection(kColourList);
  if (index < 0) return;
  settings_.colorFormat = static_cast<std::int32_t>(ItemData(kColourList, index));
  EnableControl(kPaletteButton, settings_.colorFormat == kColorPaletteFile);
}

void AviSettingsDialog::SelectCompressorFromRecord() {
  const int rows =
      std::min(ItemCount(kCompressorList), static_cast<int>(compressorEntries_.size()));
  int index = 0;
  for (int i = 0; i < rows; ++i) {
    if (compressorEntries_[static_cast<std::size_t>(i)].handler == settings_.compressorHandler) {
      index = i;
      break;
    }
  }
  Select(kCompressorList, index);
  OnCompressorChanged(true);
}

void AviSettingsDialog::OnCompressorChanged(bool fromRecord) {
  const int index = Selection(kCompressorList);
  if (index < 0 || index >= static_cast<int>(compressorEntries_.size())) return;
  CompressorEntry& e = compressorEntries_[static_cast<std::size_t>(index)];

  if (fromRecord) {
    e.stateSize = settings_.compressorStateSize;
    if (e.stateCapacity < e.stateSize) {
      HostFree(&e.stateBuffer);
      // A record claiming less room than its state still gets all of it copied.
      e.stateCapacity = std::max(settings_.compressorStateCapacity, e.stateSize);
      e.stateBuffer = HostAlloc(e.stateCapacity, 1);
    }
    CopyBlock(e.stateBuffer, settings_.compressorState, settings_.compressorStateSize);
  } else {
    // Re-choosing the compressor already chosen changes nothing.
    if (settings_.compressorHandler == e.handler) return;
    settings_.compressorStateSize = e.stateSize;
    if (settings_.compressorStateCapacity < e.stateSize) {
      HostFree(&settings_.compressorState);
      settings_.compressorStateCapacity = e.stateCapacity;
      settings_.compressorState = HostAlloc(settings_.compressorStateCapacity, 1);
    }
    CopyBlock(settings_.compressorState, e.stateBuffer, e.stateSize);
  }

  settings_.compressorHandler = e.handler;
  if (!fromRecord) {
    settings_.keyFrameEvery = e.keyFrameEvery;
    settings_.quality = e.quality;
  }
  EnableControl(kCompressionOptions, index != 0);
  FillColourList(e);
  SelectColour(fromRecord ? settings_.colorFormat : static_cast<int>(ItemData(kColourList, 0)));
  settings_.dataRateChoice = std::clamp(settings_.dataRateChoice, 0, 8);
  Select(kDataRateList, fromRecord ? settings_.dataRateChoice : 0);
  OnDataRateChanged();
  if (settings_.compressorHandler == 0) {
    EnableControl(kDataRateList, false);
    return;
  }
  HIC instance = ICOpen(ICTYPE_VIDEO, settings_.compressorHandler, ICMODE_QUERY);
  if (instance == nullptr) return;
  ICINFO info;
  const bool described = ReadInfo(instance, &info);
  // A compressor that cannot describe itself counts as one without any abilities.
  const DWORD flags = described ? info.dwFlags : 0;
  EnableControl(kDataRateList, described && (flags & VIDCF_QUALITY) != 0);
  if ((flags & VIDCF_TEMPORAL) != 0 && settings_.compressorHandler != kZqkm) {
    intraOnly_ = 0;
  } else {
    intraOnly_ = 1;
    if (!fromRecord) settings_.keyFrameEvery = 1;
  }
  ICClose(instance);
}

bool AviSettingsDialog::SetDataRateItemData() {
  if (ItemCount(kDataRateList) != 9) return false;
  for (int i = 0; i < 9; ++i) SetItemData(kDataRateList, i, kDataRates[i]);
  return true;
}

void AviSettingsDialog::OnDataRateChanged() {
  const int index = std::max(Selection(kDataRateList), 0);
  settings_.dataRateChoice = index;
  if (index == 0) {
    settings_.dataRate = -1;
  } else if (index < kCustomDataRate) {
    settings_.dataRate = static_cast<std::int32_t>(ItemData(kDataRateList, index));
  }
  EnableControl(kPlaybackOptions, index == kCustomDataRate);
}

void AviSettingsDialog::OpenPlaybackOptions() {
  if (Selection(kDataRateList) != kCustomDataRate) return;
  PlaybackOptionsDialog dialog;
  dialog.value = settings_.dataRate;
  if (dialog.DoModal() == kOk) settings_.dataRate = dialog.value;
}

void AviSettingsDialog::OpenCompressionOptions() {
  const int index = Selection(kCompressorList);
  if (index < 0 || index >= static_cast<int>(compressorEntries_.size())) return;
  CompressorEntry& e = compressorEntries_[static_cast<std::size_t>(index)];

  HIC instance = ICOpen(ICTYPE_VIDEO, settings_.compressorHandler, ICMODE_COMPRESS);
  int canConfigure = 0;
  std::uint32_t stateSize = 0;
  if (instance != nullptr && ICQueryConfigure(instance)) {
    canConfigure = 1;
    const LRESULT answer = ICGetStateSize(instance);
    stateSize = answer > 0 ? static_cast<std::uint32_t>(answer) : 0;
  }
  CompressionOptionsDialog dialog(settings_.keyFrameEvery, settings_.quality, canConfigure,
                                  instance);
  // The compressor starts from the saved configuration.
  if (stateSize != 0 && settings_.compressorStateSize != 0 &&
      stateSize == settings_.compressorStateSize)
    ICSetState(instance, HostBlockAddress(settings_.compressorState), stateSize);

  if (dialog.DoModal() == kOk) {
    settings_.quality = e.quality = dialog.quality;
    settings_.keyFrameEvery = e.keyFrameEvery = dialog.keyFrameEvery;
    if (stateSize != 0) {
      settings_.compressorStateSize = stateSize;
      if (settings_.compressorStateCapacity < stateSize) {
        HostFree(&settings_.compressorState);
        settings_.compressorStateCapacity = RoundedCapacity(stateSize);
        settings_.compressorState = HostAlloc(settings_.compressorStateCapacity, 1);
      }
      const LRESULT answer = ICGetState(instance, HostBlockAddress(settings_.compressorState),
                                        settings_.compressorStateSize);
      // A state whose size the compressor does not confirm is dropped.
      if (answer != static_cast<LRESULT>(settings_.compressorStateSize))
        settings_.compressorStateSize = 0;
      e.stateSize = settings_.compressorStateSize;
      if (e.stateCapacity < e.stateSize) {
        HostFree(&e.stateBuffer);
        e.stateCapacity = RoundedCapacity(e.stateSize);
        e.stateBuffer = HostAlloc(e.stateCapacity, 1);
      }
      CopyBlock(e.stateBuffer, settings_.compressorState, e.stateSize);
    }
  }
  if (instance != nullptr) ICClose(instance);
}
