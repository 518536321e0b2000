#include "tools/norvavi/checked_settings.h"

#include <cstdio>

#include "tools/norvavi/host/request_check.h"

namespace norv::cli {

bool LoadChecked(const MakeOptions& o, PluginExports* plugin, HostSettings* settings, int* status) {
  std::string error;
  *status = 1;
  if (!ApplyHostOptions(o)) return false;
  if (!LoadPlugin(o.plugin.empty() ? DefaultPluginPath() : o.plugin, plugin, &error) ||
      !BuildSettings(*plugin, o.Choices(), &settings->record, &error)) {
    std::fprintf(stderr, "norvavi: %s\n", error.c_str());
    return false;
  }
  if (!ReportCheck(CheckSettings(settings->record))) {
    *status = 2;
    return false;
  }
  return true;
}

// "name=value" split at the first '='.
std::pair<std::string, std::string> SplitAssignment(const std::string& line) {
  const auto eq = line.find('=');
  return {line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1)};
}

}  // namespace norv::cli
