#include "tools/norvavi/commands.h"

#include <cstdio>

#include "plugin/host/host_api.h"
#include "tools/norvavi/checked_settings.h"

namespace norv::cli {

int RunDefaults(const MakeOptions& o, const std::string& path) {
  PluginExports plugin;
  HostSettings settings;
  int status = 0;
  if (!LoadChecked(o, &plugin, &settings, &status)) return status;
  if (SavePresetFile(1, &settings.record, path.c_str()) == 0) {
    std::fprintf(stderr, "norvavi: cannot write the preset %s\n", path.c_str());
    return 1;
  }
  return 0;
}

}  // namespace norv::cli
