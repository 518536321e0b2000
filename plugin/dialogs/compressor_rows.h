// The rows of the AVI Settings dialog's compressor list: "No Compression"
// and every installed video compressor, with the colour depths each takes
// and the quality and key-frame interval it starts from. Finding them opens
// each compressor; the dialog only shows them.
#pragma once

#include <string>
#include <vector>

#include "platform/vfw/vfw.h"
#include "plugin/host/host_block.h"

// Slots of the colour list: 0..4 the five palettes, k the depth k + 4 bits.
constexpr int kSlots = 24;
constexpr int kSlot24Bits = 20;

// One row of the compressor list; row 0 is "No Compression".
struct CompressorEntry {
  std::uint32_t handler = 0;
  int keyFrameEvery = 0;
  int quality = 0;
  int colourSlots[kSlots] = {};  // slot k non-zero: colour list item k is offered
  std::uint32_t stateSize = 0;
  std::uint32_t stateCapacity = 0;
  HostBlockRef stateBuffer = 0;  // from HostAlloc
};

// Every row, "No Compression" first; `names` receives the installed
// compressors' descriptions, in the rows' order.
std::vector<CompressorEntry> ListCompressorRows(std::vector<std::string>* names);

// A compressor's description; false when it gives none.
bool ReadInfo(HIC instance, ICINFO* info);
