// What a source file says about itself (picture size as shown, rate,
// length, sound), and how that fills in what the user did not choose:
// the movie's size, rate, span and audio format, and the project's.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host/avi_settings.h"
#include "plugin/host/project_settings.h"
#include "tools/norvavi/audio_source.h"

namespace norv::cli {

struct SourceFacts {
  bool hasVideo = false;
  int width = 0, height = 0;  // as shown: after the sample aspect and the rotation
  int rotation = 0;           // clockwise degrees the frames are turned by: 0, 90, 180, 270
  int rateNum = 0, rateDen = 1;
  std::int64_t frames = 0;  // in the whole video stream; 0: not known
  bool hasAudio = false;
  PcmFormat audio;  // the nearest format the settings' audio block offers
};

// Reads the file's headers (and, where they do not give the length and
// `countFrames` asks for it, its packets: a whole extra read of the file);
// false with `error` set when the file cannot be read or has no stream of
// the kind asked for.
bool ProbeVideoSource(const std::string& path, bool countFrames, SourceFacts* facts,
                      std::string* error);
bool ProbeAudioSource(const std::string& path, SourceFacts* facts, std::string* error);

// The size a picture is shown at: the coded size stretched by the sample
// aspect (width kept even), then turned by `rotation`.
void DisplaySize(int codedWidth, int codedHeight, int sarNum, int sarDen, int rotation, int* width,
                 int* height);
// Clockwise quarter turns of a display matrix (libavutil's layout), in degrees.
int RotationOf(const std::int32_t matrix[9]);
// The settings' audio block offers 8 or 16 bits, 1 or 2 channels and five
// rates: the nearest to a source's own, never below its rate where one above
// is offered.
PcmFormat NearestRecordFormat(int sampleRate, int channels, bool eightBit);

// Size, rate and audio of the source into the record (audio switched off
// when a movie source has none).
void ApplySourceDefaults(const SourceFacts& facts, AviSettings* settings);
// The video's whole length in milliseconds, rounded so that a movie at the
// source's rate counts exactly its frames; 0 when the length is unknown.
std::uint32_t SourceSpanMs(const SourceFacts& facts);
// The project record of a host whose project is the source: the record's
// defaults with the source's size, rate and audio.
void ApplySourceToProject(const SourceFacts& facts, ProjectSettings* project);

}  // namespace norv::cli
