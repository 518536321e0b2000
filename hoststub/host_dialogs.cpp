// The host's own dialogs. A host program with windows puts its dialogs in
// (NorvHostSetDialogs); without them the values stay as they are, and the
// preset chooser answers with the path a host program set
// (NorvHostSetPresetPathAnswer), or is cancelled.
#include <cstring>
#include <mutex>

#include "hoststub/host_state.h"
#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"

using norv::host::HostState;
using norv::host::LockState;

namespace {

constexpr std::size_t kPathBuffer = 260;

std::mutex& DialogsMutex() {
  static std::mutex mutex;
  return mutex;
}
NorvHostDialogs& Installed() {
  static NorvHostDialogs dialogs{};
  return dialogs;
}

// A copy, so that no lock is held while a dialog runs.
NorvHostDialogs Dialogs() {
  std::lock_guard lock(DialogsMutex());
  return Installed();
}

}  // namespace

extern "C" {

void NorvHostSetDialogs(const NorvHostDialogs* dialogs) {
  std::lock_guard lock(DialogsMutex());
  Installed() = dialogs != nullptr ? *dialogs : NorvHostDialogs{};
}

void RunCroppingDialog(std::int32_t* left, std::int32_t* top, std::int32_t* right,
                       std::int32_t* bottom, HWND owner) {
  const NorvHostDialogs d = Dialogs();
  if (d.cropping != nullptr) d.cropping(d.context, left, top, right, bottom, owner);
}

void RunHardwareOptionsDialog(std::int32_t* options, std::int32_t) {
  const NorvHostDialogs d = Dialogs();
  if (d.hardwareOptions != nullptr) d.hardwareOptions(d.context, options);
}

void PositionWindow(HWND window, std::int32_t, std::int32_t) {
  const NorvHostDialogs d = Dialogs();
  if (d.positionWindow != nullptr) d.positionWindow(d.context, window);
}

// A path too long for the caller's buffer is a cancelled choice, never a
// shortened one.
std::int32_t AskPresetPath(std::int32_t mode, char* path, const char* extension, HWND owner) {
  if (path == nullptr) return 0;
  {
    HostState* s;
    auto lock = LockState(&s);
    if (s->presetPath.size() >= kPathBuffer) return 0;
    if (!s->presetPath.empty()) {
      std::memcpy(path, s->presetPath.c_str(), s->presetPath.size() + 1);
      return 1;
    }
  }
  const NorvHostDialogs d = Dialogs();
  if (d.presetPath == nullptr) return 0;
  char chosen[kPathBuffer] = {};
  if (d.presetPath(d.context, mode, chosen, extension, owner) == 0 || chosen[0] == '\0' ||
      std::memchr(chosen, '\0', sizeof chosen) == nullptr)
    return 0;
  std::memcpy(path, chosen, std::strlen(chosen) + 1);
  return 1;
}
}
