// The installed video compressors as a host sees them through the compressor
// interface: what `norvavi compressors` lists, and whether one takes the
// frames a movie would hand it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace norv::cli {

struct CompressorDescription {
  std::uint32_t handler = 0;
  std::string handlerText;  // the four characters
  std::string name;         // the driver's short name
  std::string description;  // what the settings dialog lists
  bool takes8 = false;      // 8-bit frames (colorFormat 80..84) at some usual size
  bool takes24 = false;     // 24-bit frames (colorFormat 16, 24)
  int outputBits = 0;       // bits per pixel it makes from 24-bit frames
  bool quality = false;     // honours a quality, so a data rate can be fitted
  bool temporal = false;    // makes delta frames between key frames
  bool configures = false;  // has a configuration dialog of its own
  int defaultQuality = 0;
  int defaultKeyFrameEvery = 0;
  // Of the usual sizes (160x120 .. 720x576), those it takes; all of them
  // for a compressor without size rules.
  std::vector<std::pair<int, int>> sizes;
};

// Every installed video compressor, in the order the settings dialog lists them.
std::vector<CompressorDescription> ListCompressors();
// One compressor by its handler; false when none opens.
bool DescribeCompressor(std::uint32_t handler, CompressorDescription* description);

// The usual sizes the colour probe tries, in its order.
const std::vector<std::pair<int, int>>& ProbeSizes();

enum class CompressorFit {
  kTakes,         // the compressor takes such frames
  kNotInstalled,  // no compressor with that handler opens
  kRefused,       // it opens but refuses frames of that depth and size
};

// Whether compressor `handler` takes `bits`-bit (8 or 24) frames of
// width x height, as the movie would hand them over. With kTakes,
// `frameBytes` is the compressor's bound on one compressed frame and
// `fixedFrameBytes` is set when every frame has exactly that size.
CompressorFit CheckCompressorInput(std::uint32_t handler, int width, int height, int bits,
                                   std::uint64_t* frameBytes = nullptr,
                                   bool* fixedFrameBytes = nullptr);

// Whether compressor `handler` makes key frames only (announces no delta
// frames); false when none opens.
bool MakesKeyFramesOnly(std::uint32_t handler);

std::string FourccString(std::uint32_t handler);

}  // namespace norv::cli
