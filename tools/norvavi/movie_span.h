// The span of the time line a movie covers, from --start/--end, --duration
// or the video file's real length, checked against where the file's
// pictures really end: never padded past them without a word.
#pragma once

#include <cstdint>
#include <string>

#include "tools/norvavi/make_options.h"
#include "tools/norvavi/sources/source_defaults.h"

namespace norv::cli {

struct MovieSpan {
  std::uint32_t startMs = 0;
  std::uint32_t endMs = 0;
  // Said on standard error when the movie is shorter than asked or than
  // the file announces; the exit status then tells it (kShortened).
  std::string shortened;
};

enum class SpanChoice { kOk, kRefused };

// `videoFile`: the facts are of a video file (its span bounds the movie).
// kRefused with `error` set says why nothing can be made.
SpanChoice ChooseSpan(const MakeOptions& options, const SourceFacts& facts, bool videoFile,
                      MovieSpan* span, std::string* error);

}  // namespace norv::cli
