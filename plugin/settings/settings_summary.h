// The summary text the host shows beside the output choice.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host/project_settings.h"

// Up to nine lines joined by "\r\n"; empty for a field handling the record
// cannot have.
std::string BuildSettingsSummary(const AviSettings* settings, const ProjectSettings* project);

// The body of FileTypeGetSettingsInfo: 0 for a kind other than 1 (nothing
// written), else the summary and its terminator are copied into `text` and
// the result is 1. The caller sizes `text`; the export is not told its size.
std::int32_t WriteSettingsInfo(std::uint32_t kind, char* text, const AviSettings* settings,
                               const ProjectSettings* project);
