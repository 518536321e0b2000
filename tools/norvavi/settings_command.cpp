#include "tools/norvavi/settings_command.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>

#include "plugin/host/host_api.h"
#include "tools/norvavi/host/host_settings.h"
#include "tools/norvavi/settings_window.h"

namespace norv::cli {

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "norvavi: %s\n", message.c_str());
  return kSettingsFailed;
}

void PrintSummary(const PluginExports& plugin, const AviSettings& settings,
                  const ProjectSettings& project) {
  char text[4096] = {};
  if (plugin.FileTypeGetSettingsInfo(1, text, 0, &settings, &project) == 0) return;
  std::string lines;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p != '\r') lines += *p;
  std::printf("%s\n", lines.c_str());
}

}  // namespace

int RunSettingsCommand(const MakeOptions& options, const std::string& presetPath, int& argc,
                       char** argv) {
  if (!ApplyHostOptions(options)) return kSettingsFailed;
  PluginExports plugin;
  std::string error;
  if (!LoadPlugin(options.plugin.empty() ? DefaultPluginPath() : options.plugin, &plugin, &error))
    return Fail(error);

  MakeOptions start = options;
  std::error_code ec;
  if (!presetPath.empty() && std::filesystem::exists(presetPath, ec)) start.preset = presetPath;
  HostSettings settings;
  if (!BuildSettings(plugin, start.Choices(), &settings.record, &error)) return Fail(error);
  ProjectSettings project;
  MakeProject(plugin, &project);

  const std::string modulePath = NextToProgram(kSettingsWindowModule);
  void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto show = module != nullptr
                  ? reinterpret_cast<ShowSettingsFunction>(dlsym(module, kSettingsWindowEntry))
                  : nullptr;
  if (show == nullptr) {
    const char* why = dlerror();
    return Fail("cannot load " + modulePath + ": " + (why != nullptr ? why : "no entry"));
  }
  const int result = show(&plugin, &settings.record, &project, &argc, argv);
  // Stays loaded: Qt does not come apart cleanly before the program ends.
  if (result < 0) return kSettingsFailed;
  if (result != 1) {
    std::fprintf(stderr, "norvavi: cancelled, nothing written\n");
    return kSettingsCancelled;
  }
  if (presetPath.empty()) {
    PrintSummary(plugin, settings.record, project);
    return kSettingsSaved;
  }
  if (SavePresetFile(1, &settings.record, presetPath.c_str()) == 0)
    return Fail("cannot write the preset " + presetPath);
  return kSettingsSaved;
}

}  // namespace norv::cli
