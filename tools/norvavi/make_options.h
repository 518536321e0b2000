// The options of `norvavi make`, which the other commands that start from
// the plug-in's settings (info, defaults, fields, settings) take too.
#pragma once

#include <string>
#include <vector>

#include "tools/norvavi/host/host_settings.h"

namespace norv::cli {

struct MakeOptions {
  std::string output;
  std::string preset;
  std::vector<std::string> sets;
  std::string video = "pattern";
  std::string audio;      // empty: the video file's own sound, or the tone with the pattern
  double duration = 0.0;  // 0: the whole video file, or 5 seconds of the pattern
  long long startMs = -1;
  long long endMs = -1;
  int ntsc = 0;
  int hardware = 1;
  std::string project;  // WIDTHxHEIGHT@RATE
  bool sameAsProject = false;
  std::string profile;
  std::string plugin;
  bool quiet = false;
  bool openDml = false;  // past 4 GiB in OpenDML forms (the host profile key, for this movie)
  bool force = false;    // overwrite an existing OUT.wav with --hardware 0
  // Hand the request to the plug-in without norvavi's own check of the
  // settings and span, so that the plug-in's own answer shows (for testing
  // hosts and compressors); the user's files stay protected.
  bool noCheck = false;

  // Neither a span nor a duration: the movie is as long as its video file.
  bool WholeVideoFile() const { return duration == 0.0 && startMs < 0 && endMs < 0; }
  SettingsChoices Choices() const { return {preset, sets, sameAsProject, !project.empty()}; }
};

// Applies the host state the options describe (video standard, hardware,
// project, profile); false with a message on standard error.
bool ApplyHostOptions(const MakeOptions& options);

}  // namespace norv::cli
