// A video source that renders ahead on its own thread: while the plug-in
// takes one frame on the host's video thread, the next few are read,
// decoded and scaled into a small ring of ready frames, so the video
// thread only copies a finished picture into its buffer.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

// When reading ahead pays: `kWhenWorthIt` stops after the first frames when
// the source renders a frame in less time than a few copies of it take (a
// raw file, say), since for a caller that copies each frame out (Render) the
// copy and the hand-over would then cost more than they save; `kAlways`
// never stops, as suits a caller that reads the lent frames (Frame).
enum class ReadAhead { kWhenWorthIt, kAlways };

// Wraps `source` so that it renders the schedule's frames ahead, at most
// `depth` of them (memory: depth frames, whatever the movie's length). A
// call that does not follow the schedule stops the read-ahead and goes to
// `source` directly from then on. The source is only ever used by one
// thread at a time. Null `source` gives null.
std::unique_ptr<VideoSource> PrefetchFrames(std::unique_ptr<VideoSource> source,
                                            const FrameSchedule& schedule, std::size_t depth = 3,
                                            ReadAhead when = ReadAhead::kWhenWorthIt);

}  // namespace norv::cli
