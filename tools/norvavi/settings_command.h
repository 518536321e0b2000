// `norvavi settings [PRESET]`: the plug-in's AVI Settings dialog in real
// windows, over a preset or the defaults, written back on OK.
#pragma once

#include <string>

#include "tools/norvavi/make_options.h"

namespace norv::cli {

// Exit codes of the command.
enum SettingsResult : int {
  kSettingsSaved = 0,      // OK: the preset was written (or the summary printed)
  kSettingsFailed = 1,     // a message on standard error says why
  kSettingsCancelled = 2,  // Cancel: nothing was written
};

// Runs the dialog through FileTypeLaunchSettings with the Qt binding and the
// host's Qt dialogs installed (the Qt half is a module loaded here). Starts from PRESET when it
// exists, else from
// --preset or the defaults, then --set; the host state comes from the
// options (--project, --hardware, ...), and the dialog sees that project.
// On OK the settings go to PRESET, or without one their summary to standard
// output. Uses the running QApplication, or makes one from argc/argv.
int RunSettingsCommand(const MakeOptions& options, const std::string& presetPath, int& argc,
                       char** argv);

}  // namespace norv::cli
