// The settings command's Qt half. It is built as a module of its own that
// norvavi loads only for `norvavi settings`, so that every other command
// starts without Qt's libraries.
#pragma once

#include "tools/norvavi/host/plugin_loader.h"

namespace norv::cli {

// The module's file, next to the program, and its one entry.
inline constexpr char kSettingsWindowModule[] = "libnorvavi_settings.so";
inline constexpr char kSettingsWindowEntry[] = "NorvaviShowSettings";

// Shows the plug-in's AVI Settings dialog with the Qt binding and the host's
// Qt dialogs installed, in the running QApplication or one made from
// argc/argv. FileTypeLaunchSettings' result (1: OK), or -1 after a message on
// standard error when no window can be shown.
using ShowSettingsFunction = int (*)(const PluginExports* plugin, AviSettings* settings,
                                     const ProjectSettings* project, int* argc, char** argv);

}  // namespace norv::cli
