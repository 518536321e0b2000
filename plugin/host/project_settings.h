// The host's read-only description of the project's own format.
#pragma once

#include "plugin/host/avi_settings.h"

struct ProjectSettings {
  std::uint32_t kind;             // 1: a project the summary may compare with
  std::uint32_t audioFormat[14];  // the project's audio format block
  AviSettings video;              // the project's settings; its state block is the host's
};

static_assert(sizeof(ProjectSettings) == 580);
static_assert(offsetof(ProjectSettings, kind) == 0);
static_assert(offsetof(ProjectSettings, audioFormat) == 4);
static_assert(offsetof(ProjectSettings, video) == 60);
