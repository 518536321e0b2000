// What the commands that print or write settings share: the plug-in
// loaded with the record built from the options and checked, and the
// "name=value" lines the settings are described in.
#pragma once

#include <string>
#include <utility>

#include "tools/norvavi/host/host_settings.h"
#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/make_options.h"

namespace norv::cli {

// The plug-in loaded and the record built from the options and checked;
// false after a message saying why not, with the exit status in `status`.
bool LoadChecked(const MakeOptions& options, PluginExports* plugin, HostSettings* settings,
                 int* status);

// "name=value" split at the first '='.
std::pair<std::string, std::string> SplitAssignment(const std::string& line);

}  // namespace norv::cli
