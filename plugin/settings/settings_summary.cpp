#include "plugin/settings/settings_summary.h"

std::string BuildSettingsSummary(const AviSettings*, const ProjectSettings*) {
  return {};
}
