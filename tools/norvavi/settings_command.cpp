#include "tools/norvavi/settings_command.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "hoststub/qt/qt_host_dialogs.h"
#include "platform/ui/qt/qt_binding.h"
#include "plugin/host/host_api.h"
#include "tools/norvavi/host_settings.h"

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
  if (!BuildSettings(plugin, start, &settings.record, &error)) return Fail(error);
  ProjectSettings project;
  MakeProject(plugin, &project);

  std::unique_ptr<QApplication> ownApplication;
  if (qApp == nullptr) {
    // Without a display Qt would abort; say what is missing instead.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform == nullptr || *platform == '\0') && (display == nullptr || *display == '\0') &&
        (wayland == nullptr || *wayland == '\0')) {
      std::fprintf(stderr,
                   "norvavi: the settings dialog needs a display (DISPLAY or "
                   "WAYLAND_DISPLAY); without one, edit the settings with --set and save them "
                   "with norvavi defaults\n");
      return kSettingsFailed;
    }
    ownApplication = std::make_unique<QApplication>(argc, argv);
    // These platforms draw into memory: the dialog would wait for a click
    // that nobody can give.
    const QString name = QGuiApplication::platformName();
    if (name == "offscreen" || name == "minimal") {
      std::fprintf(stderr,
                   "norvavi: the settings dialog needs a display; Qt's \"%s\" platform shows "
                   "no windows (edit the settings with --set and save them with norvavi "
                   "defaults)\n",
                   name.toUtf8().constData());
      return kSettingsFailed;
    }
  }
  int result;
  {
    // The binding and the message sink live in the platform library, which
    // the plug-in shares with this program: installing them here reaches it.
    norv::ui::QtBinding binding;
    norv::host::QtHostDialogs hostDialogs;
    result = plugin.FileTypeLaunchSettings(1, &settings.record, &project, nullptr);
  }
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
