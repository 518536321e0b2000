// The host's own dialogs. Without a user interface they leave the values as
// they are and a path chooser is cancelled.
#include "plugin/host/host_api.h"

extern "C" {

void RunCroppingDialog(std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*, HWND) {}
void RunHardwareOptionsDialog(std::int32_t*, std::int32_t) {}
std::int32_t AskPresetPath(std::int32_t, char*, const char*, HWND) {
  return 0;
}
}
