// Preset files: not stored yet.
#include "plugin/host/host_api.h"

extern "C" {

std::int32_t SavePresetFile(std::int32_t, const void*, const char*) {
  return 0;
}
std::int32_t LoadPresetFile(std::int32_t, void*, const char*) {
  return 0;
}
}
