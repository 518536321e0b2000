// Preset files, both kinds; what parses must write back to the same text.
#include <cstdlib>
#include <string_view>

#include "hoststub/preset_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  norv::host::VideoPreset video;
  if (norv::host::ParseVideoPreset(text, &video)) {
    const std::string again = norv::host::FormatVideoPreset(video.settings, video.state);
    norv::host::VideoPreset reread;
    if (again.empty() || !norv::host::ParseVideoPreset(again, &reread) ||
        norv::host::FormatVideoPreset(reread.settings, reread.state) != again)
      std::abort();
  }
  norv::host::AudioBlock audio{};
  if (norv::host::ParseAudioPreset(text, &audio)) {
    norv::host::AudioBlock reread{};
    if (!norv::host::ParseAudioPreset(norv::host::FormatAudioPreset(audio), &reread) ||
        reread != audio)
      std::abort();
  }
  return 0;
}
