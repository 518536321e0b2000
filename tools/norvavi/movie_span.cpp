#include "tools/norvavi/movie_span.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace norv::cli {

namespace {

std::string Seconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", ms / 1000.0);
  return text;
}

// The whole file: its pictures' real span, and a word when the headers
// announce more than a frame beyond it.
SpanChoice WholeFile(const MakeOptions& o, const SourceFacts& facts, MovieSpan* span,
                     std::string* error) {
  span->endMs = SourceSpanMs(facts);
  if (span->endMs == 0) {
    *error = "cannot tell how long " + o.video + " is: give --duration";
    return SpanChoice::kRefused;
  }
  const double frameMs = 1000.0 * facts.rateDen / facts.rateNum;
  if (facts.announcedMs > facts.spanMs + frameMs)
    span->shortened = o.video + " announces " + Seconds(facts.announcedMs) +
                      " but its pictures end at " + Seconds(facts.spanMs) +
                      " (the file is cut short or damaged): the movie stops there";
  return SpanChoice::kOk;
}

}  // namespace

SpanChoice ChooseSpan(const MakeOptions& o, const SourceFacts& facts, bool videoFile,
                      MovieSpan* span, std::string* error) {
  if (o.startMs != kNoTime || o.endMs != kNoTime) {
    if (o.startMs < 0 || o.endMs < 0) {
      *error = "--start and --end are milliseconds from the source's start, 0 or more";
      return SpanChoice::kRefused;
    }
    if (o.endMs > 0xFFFFFFFFll) {
      *error = "--end must be below 4294967296 ms";
      return SpanChoice::kRefused;
    }
    span->startMs = static_cast<std::uint32_t>(o.startMs);
    span->endMs = static_cast<std::uint32_t>(o.endMs);
  } else if (std::isnan(o.duration) && videoFile) {
    return WholeFile(o, facts, span, error);
  } else if (std::isnan(o.duration) && facts.audioSpanMs >= 1.0) {
    span->endMs = static_cast<std::uint32_t>(
        std::min(std::llround(facts.audioSpanMs), 0xFFFFFFFFll));  // the sound file's length
  } else {
    const double seconds = std::isnan(o.duration) ? 5.0 : o.duration;
    if (!(seconds > 0 && seconds < 4e6)) {
      *error = "--duration must be more than 0 seconds (and below 4000000)";
      return SpanChoice::kRefused;
    }
    span->endMs = static_cast<std::uint32_t>(std::llround(seconds * 1000.0));
  }
  if (!videoFile) return SpanChoice::kOk;
  const std::uint32_t sourceEnd = SourceSpanMs(facts);
  if (sourceEnd == 0) return SpanChoice::kOk;  // a length nobody can tell: as asked
  if (span->startMs >= sourceEnd) {
    *error = "--start " + std::to_string(span->startMs) + " is past the end of " + o.video + " (" +
             Seconds(facts.spanMs) + "): nothing to convert";
    return SpanChoice::kRefused;
  }
  if (span->endMs > sourceEnd) {
    span->shortened = o.video + " ends at " + Seconds(facts.spanMs) + ", before the " +
                      Seconds(span->endMs) + " asked for: the movie stops there";
    span->endMs = sourceEnd;
  }
  return SpanChoice::kOk;
}

}  // namespace norv::cli
