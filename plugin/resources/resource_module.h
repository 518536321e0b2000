// The dialog framework's resource module: where templates and strings are
// looked up. The host has its own setting; every entry point that needs this
// module's resources switches to it for the duration of the call and puts
// the host's setting back.
#pragma once

#include "platform/win32_types.h"

// The module resources are currently taken from (null: the host program).
HINSTANCE CurrentResourceModule();
void SetResourceModule(HINSTANCE module);
// This module, found by its file name.
HINSTANCE ThisModule();

// Makes this module the resource module and restores the previous one on
// every way out of the scope, unwinding included.
class ResourceModuleScope {
 public:
  ResourceModuleScope();
  ~ResourceModuleScope();
  ResourceModuleScope(const ResourceModuleScope&) = delete;
  ResourceModuleScope& operator=(const ResourceModuleScope&) = delete;

 private:
  HINSTANCE previous_;
};
