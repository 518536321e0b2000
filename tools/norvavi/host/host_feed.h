// What a host hands the plug-in besides its frames: the render callback the
// optimum palette samples through, and the audio, as a wave file beside the
// movie or pushed block by block. Plain C++ over the exports, shared by
// norvavi and the Windows test host.
#pragma once

#include <cstdint>
#include <string>

#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/sources/audio_source.h"
#include "tools/norvavi/sources/video_source.h"

namespace norv::cli {

// A zeroed request, version 1, for the movie `output` with `settings`;
// false when the path does not fit the record.
bool PrepareRequest(const std::string& output, AviSettings* settings, MovieRequest* request);

// Offers `source` through the request's render callback. The callback's
// context is 32 bits wide, so one source is offered at a time; null
// withdraws it.
void OfferPaletteSource(MovieRequest* request, VideoSource* source);

// Whether the movie the settings describe has an audio stream.
bool MovieHasAudio(const AviSettings& settings);
// The settings' audio format.
PcmFormat AudioFormatOf(const AviSettings& settings);
// What a host with hardware pushes: below 22050 Hz four times the rate, as
// the plug-in keeps every fourth sample there.
PcmFormat PushedFormat(const PcmFormat& format);
// Bytes of `format` audio in `spanMs` milliseconds.
std::uint64_t AudioBytes(const PcmFormat& format, std::uint64_t spanMs);

// Pushes `bytes` of the source in tenths of a second, as the host's audio
// thread does; false when the plug-in refuses a block.
bool PushAudio(const PluginExports& plugin, void* session, AudioSource& source,
               const PcmFormat& format, std::uint64_t bytes);

}  // namespace norv::cli
