#include "plugin/resources/resource_module.h"

#include <atomic>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {
std::atomic<HINSTANCE> g_resourceModule{nullptr};
}

HINSTANCE CurrentResourceModule() {
  return g_resourceModule.load();
}

void SetResourceModule(HINSTANCE module) {
  g_resourceModule.store(module);
}

HINSTANCE ThisModule() {
#if defined(_WIN32)
  // By address, so a host that loads the module under another name finds it.
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
#else
  // A module's handle is its load address, as on Windows.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThisModule), &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
#endif
}

ResourceModuleScope::ResourceModuleScope() : previous_(CurrentResourceModule()) {
  SetResourceModule(ThisModule());
}

ResourceModuleScope::~ResourceModuleScope() {
  SetResourceModule(previous_);
}
