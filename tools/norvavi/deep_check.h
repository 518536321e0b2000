// `norvavi verify --deep`: what lies inside the chunks. Every video chunk is
// decoded with libavcodec (the codec the stream format names), its key flag
// in the index is compared with what the bitstream says, and the audio
// format is compared with the data: chunk sizes in whole blocks, a byte rate
// that matches the sample rate and block size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norv::cli {

struct DeepFinding {
  std::string what;  // "undecodable frame", "key flag", "audio format", ...
  int stream = 0;
  std::int64_t frame = -1;   // the chunk's number in its stream; -1: the stream as a whole
  std::int64_t offset = -1;  // the chunk's place in the file, where known
  std::string message;
  // Readers cope: a key frame the index does not flag only cannot be
  // seeked to. Notes never make a file unsound.
  bool note = false;
};

struct DeepReport {
  bool opened = false;
  std::string error;  // why the file could not be read as a movie
  std::uint64_t framesDecoded = 0, framesChecked = 0, audioChunks = 0;
  std::vector<DeepFinding> findings;  // the first ones, problems and notes
  std::uint64_t findingCount = 0;     // problems only
  std::uint64_t noteCount = 0;
};

DeepReport DeepCheck(const std::string& path);
std::string FormatDeep(const DeepReport& report);
std::string FormatDeepJson(const DeepReport& report);  // one JSON object

}  // namespace norv::cli
