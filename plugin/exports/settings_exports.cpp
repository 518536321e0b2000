// The five settings exports. They run on the host's user-interface thread
// and serve one file-type kind, 1; any other kind gets 0 and no effect.
#include "platform/win32_types.h"
#include "plugin/dialogs/avi_settings_dialog.h"
#include "plugin/dialogs/system_dialogs.h"
#include "plugin/host/calling.h"
#include "plugin/resources/resource_module.h"
#include "plugin/settings/default_settings.h"
#include "plugin/settings/project_match.h"
#include "plugin/settings/settings_summary.h"

namespace {
constexpr std::uint32_t kAviKind = 1;
}

// Runs the AVI Settings dialog through the dialog binding the host program
// installed (norv::ui::SetDialogBinding), or on Windows through the dialog
// manager. Elsewhere, with none installed, the dialog cannot be shown: it is
// initialised over the control model alone and closed as Cancel, so the
// record is normalised and the result is 0.
NORV_EXPORT std::int32_t NORV_STDCALL FileTypeLaunchSettings(std::uint32_t kind,
                                                             AviSettings* settings,
                                                             const ProjectSettings* project,
                                                             HWND owner) {
  if (kind != kAviKind || settings == nullptr) return 0;
  try {
    const ResourceModuleScope resources;
    UseSystemDialogsUnlessBound();
    AviSettingsDialog dialog(settings, project, owner);
    return dialog.DoModal() == AviSettingsDialog::kOk ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL FileTypeDefaultSettings(std::uint32_t kind,
                                                              AviSettings* settings,
                                                              std::uint32_t reserved) {
  if (kind != kAviKind || reserved != 0 || settings == nullptr) return 0;
  try {
    FillDefaultSettings(settings);
    return 1;
  } catch (...) {
    return 0;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL FileTypeGetSettingsInfo(std::uint32_t kind, char* text,
                                                              std::uint32_t,
                                                              const AviSettings* settings,
                                                              const ProjectSettings* project) {
  if (kind != kAviKind || text == nullptr || settings == nullptr) return 0;
  try {
    return WriteSettingsInfo(kind, text, settings, project);
  } catch (...) {
    return 0;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL FileTypeMakeSameAsPrj(std::uint32_t kind,
                                                            AviSettings* settings,
                                                            const ProjectSettings* project) {
  if (kind != kAviKind || settings == nullptr || project == nullptr) return 0;
  try {
    ApplyProjectSettings(settings, project);
    return 1;
  } catch (...) {
    return 0;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL FileTypeEnsureToInit() {
  return 1;
}
