#include <string>

#include "platform/ui/message_box.h"

// Owner: the calling thread's active window. While a settings dialog is open
// that is the dialog, otherwise the host's main window, so the box is modal
// to what the user is looking at and comes up in front of it. A movie export
// may run on a host thread that owns no window; the box is then task-modal,
// so it still holds every window of that thread until it is answered.
//
// Title: the host program's name (its executable's file name without the
// extension), which is how the framework titles every box of the
// application: the user works in the host and has never heard of this DLL,
// and a box titled "Error" would not say which program speaks.
int FrameworkMessageBox(const char* text, UINT type) {
  HWND owner = GetActiveWindow();
  if (owner == nullptr) type |= MB_TASKMODAL;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string title(path, length < MAX_PATH ? length : 0);
  const std::size_t slash = title.find_last_of("\\/");
  if (slash != std::string::npos) title.erase(0, slash + 1);
  const std::size_t dot = title.find_last_of('.');
  if (dot != std::string::npos && dot > 0) title.erase(dot);
  return MessageBoxA(owner, text, title.empty() ? nullptr : title.c_str(), type);
}
