// Every HANDLE of the kernel stand-ins points at one of these, so that one
// CloseHandle serves files, mappings and events alike.
#pragma once

#include "platform/win32_types.h"

namespace norv::platform {

struct KernelObject {
  static constexpr std::uint32_t kMagic = 0x4B4F424A;  // "KOBJ"
  std::uint32_t magic = kMagic;
  virtual ~KernelObject() { magic = 0; }
};

template <typename T>
T* As(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  auto* o = static_cast<KernelObject*>(h);
  if (o->magic != KernelObject::kMagic) return nullptr;
  return dynamic_cast<T*>(o);
}

}  // namespace norv::platform

#if !defined(_WIN32)
BOOL CloseHandle(HANDLE h);
#endif
