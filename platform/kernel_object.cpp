#include "platform/kernel_object.h"

BOOL CloseHandle(HANDLE h) {
  auto* o = norv::platform::As<norv::platform::KernelObject>(h);
  if (o == nullptr) return FALSE;
  delete o;
  return TRUE;
}
