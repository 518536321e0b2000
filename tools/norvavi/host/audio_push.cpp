#include "tools/norvavi/host/audio_push.h"

#include <algorithm>

namespace norv::cli {

bool PushAudioUntil(const PluginExports& plugin, void* session, AudioSource& source,
                    const PcmFormat& format, std::uint64_t bytes, const std::atomic<bool>& stop) {
  // A second is ten of PushAudio's blocks, so the blocks stay the same.
  const std::uint64_t second = static_cast<std::uint64_t>(format.sampleRate / 10) * 10 *
                               static_cast<std::uint64_t>(format.BlockAlign());
  if (second == 0) return PushAudio(plugin, session, source, format, bytes);
  for (std::uint64_t sent = 0; sent < bytes && !stop.load(); sent += second)
    if (!PushAudio(plugin, session, source, format, std::min(second, bytes - sent))) return false;
  return true;
}

}  // namespace norv::cli
