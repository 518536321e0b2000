// The host's own dialogs. Without a user interface they leave the values as
// they are, and the preset chooser answers with the path a host program set
// (NorvHostSetPresetPathAnswer), or is cancelled.
#include <cstring>

#include "hoststub/host_state.h"
#include "plugin/host/host_api.h"

using norv::host::HostState;
using norv::host::LockState;

namespace {
constexpr std::size_t kPathBuffer = 260;
}

extern "C" {

void RunCroppingDialog(std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*, HWND) {}
void RunHardwareOptionsDialog(std::int32_t*, std::int32_t) {}

// A path too long for the caller's buffer is a cancelled choice, never a
// shortened one.
std::int32_t AskPresetPath(std::int32_t, char* path, const char*, HWND) {
  if (path == nullptr) return 0;
  HostState* s;
  auto lock = LockState(&s);
  if (s->presetPath.empty() || s->presetPath.size() >= kPathBuffer) return 0;
  std::memcpy(path, s->presetPath.c_str(), s->presetPath.size() + 1);
  return 1;
}
}
