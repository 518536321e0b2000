// Stands in for the built-in drivers' configuration dialogs, which have no
// user interface here: a program (or test) may answer them through a hook.
#pragma once

#include "platform/vfw/vfw.h"

namespace norv::vfw {

// Gets the owner window, the driver's handler and its effort setting (0..9),
// which it may change; returning false is the dialog's Cancel.
using ConfigureHook = bool (*)(void* context, HWND owner, DWORD handler, LONG* effort);

// Without a hook, ICM_CONFIGURE succeeds and leaves the options as they are.
void SetConfigureHook(ConfigureHook hook, void* context);

}  // namespace norv::vfw
