// The OpenDML indexes of an AVI file against its chunks: every super index
// ('indx') entry must name a standard index ('ix##') of its stream with its
// size and duration, every standard index entry a chunk of that stream at
// that offset with that size, and every chunk of 'movi' in every form must
// be indexed once. Files without a super index (AVI 1.0, or an OpenDML file
// whose room is still JUNK) have nothing to check here.
#pragma once

#include <cstdint>

#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

struct OpenDmlIndexSummary {
  int superIndexes = 0;
  std::uint64_t standardIndexes = 0;
  std::uint64_t entries = 0;
};

// Adds what disagrees to the report's problems.
OpenDmlIndexSummary CheckOpenDmlIndexes(ByteReader& file, VerifyReport& report);

}  // namespace norv::cli
