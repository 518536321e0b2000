// The host's audio thread for a job that may be stopped: the audio pushed
// as PushAudio pushes it, block for block, but given up between seconds
// once `stop` is set, so an interrupted movie does not wait for (or fill the
// temporary file with) sound it will never use.
#pragma once

#include <atomic>
#include <cstdint>

#include "tools/norvavi/host/host_feed.h"

namespace norv::cli {

bool PushAudioUntil(const PluginExports& plugin, void* session, AudioSource& source,
                    const PcmFormat& format, std::uint64_t bytes, const std::atomic<bool>& stop);

}  // namespace norv::cli
