// "Same as project": applying the project's format to a record, and telling
// whether a record already follows the project.
#pragma once

#include <cstdint>

#include "plugin/host/project_settings.h"

// The project decides everything but the audio switches, the interleave
// period and the hardware-acceleration choices.
void ApplyProjectSettings(AviSettings* settings, const ProjectSettings* project);
// True when applying the project would change nothing that matters.
bool MatchesProject(const AviSettings* settings, const ProjectSettings* project);
bool AudioMatchesProject(const std::uint32_t* block, const ProjectSettings* project);
void CopyProjectAudio(std::uint32_t* block, const ProjectSettings* project);
