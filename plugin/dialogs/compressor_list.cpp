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
#include "plugin/dialogs/compressor_rows.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/dialogs/slider_dialogs.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/resources/string_table.h"

namespace {

constexpr DWORD kZqkm = MakeFourCC("ZQKM");
constexpr std::uint32_t kDataRates[9] = {0, 800, 700, 600, 500, 400, 300, 150, 0};
constexpr int kCustomDataRate = 8;

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

void AviSettingsDialog::BuildCompressorList() {
  if (!compressorEntries_.empty()) return;
  std::vector<std::string> names;
  compressorEntries_ = ListCompressorRows(&names);
  ResetContent(kCompressorList);
  AddItem(kCompressorList, LoadStringEntry(kStrNoCompression));
  for (const std::string& name : names) AddItem(kCompressorList, name);
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
