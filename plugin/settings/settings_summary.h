// The summary text the host shows beside the output choice.
#pragma once

#include <string>

#include "plugin/settings/project_settings.h"

std::string BuildSettingsSummary(const AviSettings* settings, const ProjectSettings* project);
