// Which files a movie's picture and sound come from, what they say about
// themselves, and the sources that render them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/norvavi/make_options.h"
#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/files_opened_ahead.h"
#include "tools/norvavi/sources/media_decoder.h"
#include "tools/norvavi/sources/source_defaults.h"
#include "tools/norvavi/sources/stdin_spool.h"
#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

struct MovieSources {
  std::string videoPath;  // empty: the built-in pattern
  std::string audioPath;  // empty: the tone, when the movie has sound
  SourceFacts facts;      // of the video file and of the sound's file
  // The decoders' own opens of those files, begun while they are probed
  // (taken by the sources opened from a const MovieSources).
  mutable FilesOpenedAhead opened;
};

// Reads --video and --audio ("-": standard input, through `spool`). The
// sound is the video file's own unless --audio names another file, "tone"
// or "none"; with the pattern it is the tone. Without --project the host's
// project takes the video file's size and rate. False with `error` set.
bool ResolveSources(const MakeOptions& options, StdinSpool* spool, MovieSources* sources,
                    std::string* error);

// Decode errors are counted in `errors` when given. A file's decoder runs
// `threads` threads (0: as many as libavcodec finds worth it).
std::unique_ptr<VideoSource> OpenVideo(const MovieSources& sources, std::string* error,
                                       DecodeErrors* errors = nullptr, int threads = 0);
// The same, opened when its first frame is asked for (rendering fails if it
// cannot be opened then). `sources` must outlive it.
std::unique_ptr<VideoSource> OpenVideoWhenAsked(const MovieSources& sources);
// The sound from `startMs` on, in `format`.
std::unique_ptr<AudioSource> OpenAudio(const MovieSources& sources, const PcmFormat& format,
                                       std::uint32_t startMs, std::string* error,
                                       DecodeErrors* errors = nullptr);

}  // namespace norv::cli
