// `norvavi repair --salvage`: rescues an AVI file from any writer (a
// crashed capture, a camera or recorder file without index, a file with
// garbage or runs of zeros in the middle, a file whose headers were never
// written). It walks what is there, resynchronises on the next chunk that
// names a stream of the file and fits in it, keeps every whole chunk, and
// writes a new file: the writer's own lists before 'movi' (INFO, JUNK,
// odml, vprp) as they are, a flat 'movi', and an 'idx1' whose key flags
// come from the data itself; an OpenDML source gets OpenDML forms and
// indexes too. Sizes, lengths, the frame count and the buffer sizes are set
// to what was kept. It never writes to its input.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace norv::cli {

// Whether a video chunk is a key frame, judged from its bitstream; nullopt
// when the compression (its four-character code, 0 for uncompressed) is
// not one the judge can read. The judge keeps per-stream state (a parser
// may need the sequence headers of earlier frames): chunks come in file
// order.
using KeyFrameJudge = std::function<std::optional<bool>(int stream, std::uint32_t compression,
                                                        const std::uint8_t* data, std::size_t n)>;

struct SalvageOptions {
  std::string input;
  std::string output;
  std::string reference;  // headers from this file when the input has none
  // Where an OpenDML copy closes a RIFF form and begins the next: readers
  // and tools expect forms of at most 1 GiB.
  std::uint64_t formBytes = 1ull << 30;
};

struct SalvagedStream {
  std::string type;         // 'vids', 'auds', ...
  std::string compression;  // video: the format's code; empty for uncompressed
  std::uint64_t chunks = 0, bytes = 0, keyFrames = 0;
  bool keysJudged = true;  // false: the data could not tell, every chunk is marked key
};

struct DroppedRange {
  std::uint64_t offset = 0, bytes = 0;
  std::string why;
};

// A run of kept chunks of the input, between two dropped ranges.
struct KeptRun {
  std::uint64_t offset = 0, bytes = 0;  // from the first chunk's header to the last one's end
  std::uint64_t frames = 0;             // video chunks
  std::uint64_t audioBlocks = 0;        // audio blocks (chunks where the format has none)
};

struct SalvageReport {
  int status = 0;  // 0 salvaged, 1 refused or failed, 2 usage or unreadable input
  std::string message;
  bool headersFromReference = false;
  std::vector<SalvagedStream> streams;
  std::vector<KeptRun> kept;
  std::vector<DroppedRange> dropped;
  std::uint64_t bytesDropped = 0, indexChunksSkipped = 0;
  std::uint64_t sizesFixed = 0;      // chunks whose size was overwritten, cut where the next begins
  std::vector<std::string> unfixed;  // what the salvage could not put right
};

SalvageReport SalvageAvi(const SalvageOptions& options, const KeyFrameJudge& judge);
std::string FormatSalvage(const SalvageReport& report);
std::string FormatSalvageJson(const SalvageReport& report);

}  // namespace norv::cli
