#include "tools/norvavi/host/host_settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "plugin/host/host_api.h"
#include "tools/norvavi/host/compressor_listing.h"
#include "tools/norvavi/host/settings_fields.h"

namespace norv::cli {

HostSettings::HostSettings() {
  std::memset(&record, 0, sizeof record);
}
HostSettings::~HostSettings() {
  HostFree(&record.compressorState);
}

namespace {

// Whether one of --set's assignments is to `field`.
bool Sets(const std::vector<std::string>& sets, std::string_view field) {
  for (const std::string& s : sets)
    if (std::string_view(s).substr(0, s.find('=')) == field) return true;
  return false;
}

// The side not given, from the other at the source's shown aspect, rounded
// to an even number as the compressors want it.
void KeepShape(int sourceWidth, int sourceHeight, bool widthGiven, AviSettings* s) {
  if (sourceWidth <= 0 || sourceHeight <= 0) return;
  const double derived = widthGiven ? static_cast<double>(s->width) * sourceHeight / sourceWidth
                                    : static_cast<double>(s->height) * sourceWidth / sourceHeight;
  const int even = std::max(2, static_cast<int>(std::lround(derived / 2.0)) * 2);
  (widthGiven ? s->height : s->width) = even;
}

}  // namespace

bool BuildSettings(const PluginExports& plugin, const SettingsChoices& o, AviSettings* settings,
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
    if (source != nullptr && !o.projectGiven) ApplySourceToProject(*source, &project);
    plugin.FileTypeMakeSameAsPrj(1, settings, &project);
  }
  if (source != nullptr && source->hasVideo) {
    // The preset's compressor with the source's own size or rate.
    AviSettings own = *settings;
    ApplySourceDefaults(*source, &own);
    if (o.sourceSize) {
      settings->width = own.width;
      settings->height = own.height;
    }
    if (o.sourceRate) settings->frameRate = own.frameRate;
  }
  for (const std::string& s : o.sets) {
    if (!SetSettingsField(settings, s, error)) {
      *error = "--set " + *error;
      return false;
    }
  }
  // One side of the size given: the other keeps the source's shape.
  const bool width = Sets(o.sets, "width"), height = Sets(o.sets, "height");
  if (source != nullptr && source->hasVideo && width != height)
    KeepShape(source->width, source->height, width, settings);
  // Naming a compressor with --set is choosing it in the dialog, which keys
  // every frame of one that makes no delta frames: players can then seek to
  // any frame, and no previous frame is kept for it.
  if (Sets(o.sets, "compressorHandler") && !Sets(o.sets, "keyFrameEvery") &&
      settings->compressorHandler != 0 && MakesKeyFramesOnly(settings->compressorHandler))
    settings->keyFrameEvery = 1;
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

}  // namespace norv::cli
