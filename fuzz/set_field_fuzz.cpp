// The --set parser: any text either sets one field or leaves the record
// exactly as it was.
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/norvavi/host/settings_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  AviSettings settings;
  std::memset(&settings, 0x5A, sizeof settings);
  AviSettings before = settings;
  std::string error;
  if (!norv::cli::SetSettingsField(&settings, text, &error)) {
    if (std::memcmp(&settings, &before, sizeof settings) != 0 || error.empty()) std::abort();
  } else if (settings.compressorState != before.compressorState ||
             settings.compressorStateSize != before.compressorStateSize) {
    std::abort();
  }
  return 0;
}
