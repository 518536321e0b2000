// The options of `norvavi make`, which the other commands that start from
// the plug-in's settings (info, defaults, fields, settings) take too.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "tools/norvavi/host/host_settings.h"

namespace norv::cli {

// --start or --end not given.
constexpr long long kNoTime = -(1ll << 62);

struct MakeOptions {
  std::string output;
  std::string preset;
  std::vector<std::string> sets;
  std::string video = "pattern";
  std::string audio;      // empty: the video file's own sound, or the tone with the pattern
  double duration = NAN;  // not given: the whole video file, or 5 seconds of the pattern
  long long startMs = kNoTime;
  long long endMs = kNoTime;
  int ntsc = 0;
  int hardware = 1;
  std::string project;  // WIDTHxHEIGHT@RATE
  bool sameAsProject = false;
  std::string profile;
  std::string plugin;
  bool quiet = false;
  bool openDml = false;  // past 4 GiB in OpenDML forms (the host profile key, for this movie)
  bool force = false;    // overwrite an existing OUT.avi, and OUT.wav with --hardware 0
  // The shortcuts for the fields people set most; "" or -1: not given.
  std::string compressor;  // compressorHandler
  std::string size;        // WIDTHxHEIGHT, or "source"
  std::string rate;        // frames per second, or "source"
  int quality = -1;
  int keyframes = -1;  // keyFrameEvery
  int audioTrack = 0;  // 1-based among the file's audio streams; 0: the best one
  // Hand the request to the plug-in without norvavi's own check of the
  // settings and span, so that the plug-in's own answer shows (for testing
  // hosts and compressors); the user's files stay protected.
  bool noCheck = false;

  // The shortcuts as --set assignments, ahead of the user's own --set.
  std::vector<std::string> Sets() const;
  SettingsChoices Choices() const {
    return {preset, Sets(), sameAsProject, !project.empty(), size == "source", rate == "source"};
  }
};

// Applies the host state the options describe (video standard, hardware,
// project, profile); false with a message on standard error.
bool ApplyHostOptions(const MakeOptions& options);

}  // namespace norv::cli
