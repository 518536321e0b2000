#include "tools/norvavi/host_settings.h"

#include <cstdio>
#include <cstring>

#include "plugin/host/host_api.h"
#include "tools/norvavi/settings_fields.h"

namespace norv::cli {

HostSettings::HostSettings() {
  std::memset(&record, 0, sizeof record);
}
HostSettings::~HostSettings() {
  HostFree(&record.compressorState);
}

bool BuildSettings(const PluginExports& plugin, const MakeOptions& o, AviSettings* settings,
                   std::string* error, const SourceFacts* source) {
  plugin.FileTypeDefaultSettings(1, settings, 0);
  if (source != nullptr) ApplySourceDefaults(*source, settings);
  if (!o.preset.empty() && LoadPresetFile(1, settings, o.preset.c_str()) == 0) {
    *error = "cannot load the preset " + o.preset;
    return false;
  }
  if (o.sameAsProject) {
    ProjectSettings project;
    MakeProject(plugin, &project);
    // A host whose project is the source: same size, rate and sound.
    if (source != nullptr && o.project.empty()) ApplySourceToProject(*source, &project);
    plugin.FileTypeMakeSameAsPrj(1, settings, &project);
  }
  for (const std::string& s : o.sets) {
    if (!SetSettingsField(settings, s, error)) {
      *error = "--set " + *error;
      return false;
    }
  }
  return true;
}

void MakeProject(const PluginExports& plugin, ProjectSettings* project) {
  std::memset(project, 0, sizeof *project);
  project->kind = 1;
  plugin.FileTypeDefaultSettings(1, &project->video, 0);
  project->video.width = ProjectWidth();
  project->video.height = ProjectHeight();
  project->video.frameRate = static_cast<float>(ProjectFrameRateX100()) / 100.0f;
  std::memcpy(project->audioFormat, project->video.audioFormat, sizeof project->audioFormat);
}

namespace {

// The plug-in loaded and the record built from the options; says why not.
bool LoadWithSettings(const MakeOptions& o, PluginExports* plugin, HostSettings* settings) {
  std::string error;
  if (!ApplyHostOptions(o)) return false;
  if (!LoadPlugin(o.plugin.empty() ? DefaultPluginPath() : o.plugin, plugin, &error) ||
      !BuildSettings(*plugin, o, &settings->record, &error)) {
    std::fprintf(stderr, "norvavi: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int PrintSettingsInfo(const MakeOptions& o, bool withProject) {
  PluginExports plugin;
  HostSettings settings;
  if (!LoadWithSettings(o, &plugin, &settings)) return 1;
  ProjectSettings project;
  MakeProject(plugin, &project);
  // The summary is bounded by the compressor's description; this is ample.
  char text[4096] = {};
  if (plugin.FileTypeGetSettingsInfo(1, text, 0, &settings.record,
                                     withProject ? &project : nullptr) == 0) {
    std::fprintf(stderr, "norvavi: the plug-in wrote no summary\n");
    return 1;
  }
  // The plug-in separates lines with "\r\n", as the host's text controls want.
  std::string lines;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p != '\r') lines += *p;
  std::printf("%s\n", lines.c_str());
  return 0;
}

int WriteSettingsPreset(const MakeOptions& o, const std::string& path) {
  PluginExports plugin;
  HostSettings settings;
  if (!LoadWithSettings(o, &plugin, &settings)) return 1;
  if (SavePresetFile(1, &settings.record, path.c_str()) == 0) {
    std::fprintf(stderr, "norvavi: cannot write the preset %s\n", path.c_str());
    return 1;
  }
  return 0;
}

}  // namespace norv::cli
