#include "tools/norvavi/settings_window.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hoststub/qt/qt_host_dialogs.h"
#include "platform/ui/qt/qt_binding.h"

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int NorvaviShowSettings(
    const norv::cli::PluginExports* plugin, AviSettings* settings, const ProjectSettings* project,
    int* argc, char** argv) {
  std::unique_ptr<QApplication> ownApplication;
  if (qApp == nullptr) {
    // Without a display Qt would abort; say what is missing instead.
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
      std::fprintf(stderr,
                   "norvavi: the settings dialog needs a display (DISPLAY or "
                   "WAYLAND_DISPLAY); without one, edit the settings with --set and save them "
                   "with norvavi defaults\n");
      return -1;
    }
    ownApplication = std::make_unique<QApplication>(*argc, argv);
    // These platforms draw into memory: the dialog would wait for a click
    // that nobody can give.
    const QString name = QGuiApplication::platformName();
    if (name == "offscreen" || name == "minimal") {
      std::fprintf(stderr,
                   "norvavi: the settings dialog needs a display; Qt's \"%s\" platform shows "
                   "no windows (edit the settings with --set and save them with norvavi "
                   "defaults)\n",
                   name.toUtf8().constData());
      return -1;
    }
  }
  // The binding and the message sink live in the platform library, which
  // the plug-in shares with this program: installing them here reaches it.
  norv::ui::QtBinding binding;
  norv::host::QtHostDialogs hostDialogs;
  return plugin->FileTypeLaunchSettings(1, settings, project, nullptr);
}
