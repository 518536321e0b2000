// The settings record as the command-line host holds it: the plug-in's
// defaults, then a preset, then --set assignments; and the project record
// it offers for "same as project".
#pragma once

#include <string>
#include <vector>

#include "plugin/host/project_settings.h"
#include "tools/norvavi/host/plugin_loader.h"
#include "tools/norvavi/sources/source_defaults.h"

namespace norv::cli {

// A record that gives its compressor-state block back when it goes.
class HostSettings {
 public:
  HostSettings();
  ~HostSettings();
  HostSettings(const HostSettings&) = delete;
  HostSettings& operator=(const HostSettings&) = delete;
  AviSettings record;
};

// What the user chose on top of the plug-in's defaults.
struct SettingsChoices {
  std::string preset;             // empty: none
  std::vector<std::string> sets;  // FIELD=VALUE, applied in order
  bool sameAsProject = false;
  bool projectGiven = false;  // the host's project was named, so the source does not set it
  bool sourceSize = false;    // the source's size and rate over the preset's (--size/--rate source)
  bool sourceRate = false;
};

// Defaults from the plug-in, what the source says (when there is one), the
// preset if any, the project's values with --same-as-project, then every
// --set; false with `error` set at the first that fails.
bool BuildSettings(const PluginExports& plugin, const SettingsChoices& choices,
                   AviSettings* settings, std::string* error, const SourceFacts* source = nullptr);

// The project the host stands for: the plug-in's defaults at the project's
// size and rate, kind 1 so that the summary compares with it.
void MakeProject(const PluginExports& plugin, ProjectSettings* project);

}  // namespace norv::cli
