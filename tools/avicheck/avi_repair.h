// `norvavi repair`: finishes an AVI file whose export was cut off (a crash,
// power loss, a full disk) before its index was written. It keeps every
// whole chunk and whole 'rec ' record of 'movi', drops a torn last one,
// rebuilds 'idx1' as the plug-in writes it and fixes the list and RIFF
// sizes. The stream lengths and the main header's frame count are set to
// what the file holds, since players take the duration from them.
//
// Anything it does not understand (not an AVI file, no 'hdrl' or 'movi', a
// file that is already finished, sizes that make no sense, a layout other
// than the plug-in's, e.g. JUNK, OpenDML or INFO lists) is refused with a
// message and nothing is written: only in the plug-in's own layout do the
// chunk ids tell key frames ('##db') from the others ('##dc'). So is a file
// whose finished copy `norvavi verify` would still find fault with, for what
// the repair copies as it stands (stream counts, rates, header sizes).
#pragma once

#include <cstdint>
#include <string>

namespace norv::cli {

struct RepairOptions {
  std::string input;
  std::string output;    // empty with inPlace
  bool inPlace = false;  // replace the input, once a finished copy is written
};

struct RepairResult {
  int status = 0;  // 0 repaired, 1 refused or failed, 2 usage or unreadable input
  std::string message;
  std::uint64_t chunksKept = 0, recordsKept = 0, videoFrames = 0, audioBytes = 0;
  std::uint64_t bytesDropped = 0;
};

RepairResult RepairAvi(const RepairOptions& options);

}  // namespace norv::cli
