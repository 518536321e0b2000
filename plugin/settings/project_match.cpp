#include "plugin/settings/project_match.h"

#include <cstring>

#include "plugin/host/host_api.h"

void ApplyProjectSettings(AviSettings* settings, const ProjectSettings* project) {
  const std::int32_t interleaveFrames = settings->interleaveFrames;
  const std::int32_t audioAvailable = settings->audioAvailable;
  const std::int32_t audioEnabled = settings->audioEnabled;
  const std::int32_t hwAccel = settings->hwAccel;
  std::int32_t hwAccelOptions[17];
  std::memcpy(hwAccelOptions, settings->hwAccelOptions, sizeof hwAccelOptions);

  CopyFileTypeSettings(settings, &project->video);
  std::memcpy(settings->audioFormat, project->audioFormat, sizeof settings->audioFormat);

  settings->interleaveFrames = interleaveFrames;
  settings->audioAvailable = audioAvailable;
  settings->audioEnabled = audioEnabled;
  settings->hwAccel = hwAccel;
  std::memcpy(settings->hwAccelOptions, hwAccelOptions, sizeof hwAccelOptions);
}

bool MatchesProject(const AviSettings* settings, const ProjectSettings* project) {
  AviSettings scratch;
  std::memset(&scratch, 0, sizeof scratch);
  CopyFileTypeSettings(&scratch, settings);
  ApplyProjectSettings(&scratch, project);

  // Everything up to and including the hardware options; the compressor state
  // by its size and bytes. Capacity, block address, qrvExport and the
  // reserved words never count.
  constexpr std::size_t kCompared = offsetof(AviSettings, compressorStateSize);
  bool same = std::memcmp(&scratch, settings, kCompared) == 0 &&
              scratch.compressorStateSize == settings->compressorStateSize;
  if (same && settings->compressorStateSize != 0) {
    const void* a = HostBlockAddress(scratch.compressorState);
    const void* b = HostBlockAddress(settings->compressorState);
    same = a != nullptr && b != nullptr && std::memcmp(a, b, settings->compressorStateSize) == 0;
  }
  HostFree(&scratch.compressorState);
  return same;
}

bool AudioMatchesProject(const std::uint32_t* block, const ProjectSettings* project) {
  return std::memcmp(block, project->audioFormat, sizeof project->audioFormat) == 0;
}

void CopyProjectAudio(std::uint32_t* block, const ProjectSettings* project) {
  std::memcpy(block, project->audioFormat, sizeof project->audioFormat);
}
