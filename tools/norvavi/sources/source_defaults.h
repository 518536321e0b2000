// What a source file says about itself (picture size as shown, rate,
// length, sound), and how that fills in what the user did not choose:
// the movie's size, rate, span and audio format, and the project's.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host/avi_settings.h"
#include "plugin/host/project_settings.h"
#include "tools/norvavi/sources/audio_source.h"

namespace norv::cli {

struct SourceFacts {
  bool hasVideo = false;
  int width = 0, height = 0;  // as shown: after the sample aspect and the rotation
  int rotation = 0;           // clockwise degrees the frames are turned by: 0, 90, 180, 270
  int rateNum = 0, rateDen = 1;
  // The video's real span on the file's clock (ClockOriginUs): from its
  // first frame to the end of its last one, as the time stamps say; and the
  // length the headers announce (0: none), longer when the file is cut short.
  double spanMs = 0;
  double announcedMs = 0;
  bool hasAudio = false;
  int audioTrack = 0;  // asked for before probing: the Nth audio stream, 0: the players' pick
  double audioSpanMs =
      0;            // of a separate audio file (--audio FILE), as its header says; 0: unknown
  PcmFormat audio;  // the nearest format the settings' audio block offers
};

// Reads the file's headers and the time stamps of its last packets (of all
// of them where a seek near the end finds none: a file cut short); false
// with `error` set when the file cannot be read or has no stream of the
// kind asked for.
bool ProbeVideoSource(const std::string& path, SourceFacts* facts, std::string* error);
bool ProbeAudioSource(const std::string& path, SourceFacts* facts, std::string* error);
// Whether the facts name a sound of `path`; false with ProbeAudioSource's
// `error` when not. ProbeVideoSource reads the sound of its file too.
bool AudioFound(const std::string& path, const SourceFacts& facts, std::string* error);

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
// The video's real span in whole milliseconds; 0 when it is unknown.
std::uint32_t SourceSpanMs(const SourceFacts& facts);
// The project record of a host whose project is the source: the record's
// defaults with the source's size, rate and audio.
void ApplySourceToProject(const SourceFacts& facts, ProjectSettings* project);

}  // namespace norv::cli
