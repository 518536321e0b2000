// norvtest --settings: opens the AVI Settings dialog through the plug-in's
// FileTypeLaunchSettings, checks the window the dialog manager made against
// the dialog's template, then presses OK. 0 when every control stands where
// the template puts it and the plug-in returned 1.
#pragma once

#include "tools/norvavi/host/plugin_loader.h"

namespace norv::cli {

int RunSettingsCheck(const PluginExports& plugin);

}  // namespace norv::cli
