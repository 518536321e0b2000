// A movie checked before anything is written, with the plug-in's own rules:
// the settings against what the settings dialogs let them hold and what the
// chosen compressor takes, the request as the plug-in accepts or refuses it,
// and the file against the 4 GiB an AVI 1.0 file can hold. The plug-in
// refuses silently; here every refusal names the field or option and the
// values it takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host/movie_request.h"

namespace norv::cli {

struct MovieCheck {
  std::vector<std::string> refusals;  // the movie must not be started
  std::vector<std::string> warnings;  // worth saying; the movie goes ahead
  bool ok() const { return refusals.empty(); }
};

// The settings alone, as `info`, `defaults` and `make` take them: field
// ranges, the palette file, and whether the compressor takes frames of the
// colour format and size.
MovieCheck CheckSettings(const AviSettings& settings);

// Everything `make` needs: the settings, then the request (output name,
// span, frame count) and the file size, unless `openDml` lets it go past
// 4 GiB. `withAudio`: the movie carries an audio stream.
MovieCheck CheckMovie(const MovieRequest& request, const AviSettings& settings, bool withAudio,
                      bool openDml = false);

// Frames in the movie, as the plug-in counts them: the span at the
// settings' rate, rounded; capped at 2^32 - 1.
std::uint32_t MovieFrameCount(const MovieRequest& request, const AviSettings& settings);

struct SizeEstimate {
  std::uint64_t bytes = 0;  // the whole file, rounded up
  std::uint32_t frames = 0;
  std::uint32_t framesThatFit = 0;  // of `frames`, below the 32-bit limit
  bool certain = false;             // frame sizes known exactly, not only their bound
};

// The AVI file the movie makes: every frame at `frameBytes` (uncompressed,
// fixed-size, or the compressor's bound), the audio, the chunk headers,
// records and index entries around them.
SizeEstimate EstimateAviSize(std::uint32_t frames, std::uint64_t frameBytes, bool frameBytesExact,
                             std::uint64_t audioBytes);

// The bytes free for the user in the output's folder; UINT64_MAX when unknown.
std::uint64_t FreeBytesBeside(const std::string& output);

// Where the plug-in keeps the audio pushed to it while the movie is made:
// "Taltemp101wav.tmp" in the output's folder, shared by every movie there.
std::string TemporaryAudioPath(const std::string& output);

// The refusal of an output that exists.
std::string OutputExists(const std::string& output);

// The files of the user's that a movie would destroy. The output must not be
// one of `inputs` (the same file by any path or link) and, unless `force`,
// must not exist; `waveFile`, when not empty, is written and then removed by
// the job, so it must not be an input and, unless `force`, must not exist; no input may be the
// temporary audio file. Inputs named "" or "-" are skipped.
void CheckUserFiles(const std::string& output, const std::string& waveFile,
                    const std::vector<std::string>& inputs, bool force, MovieCheck* check);

// Prints the warnings and refusals on standard error; true when there was no refusal.
bool ReportCheck(const MovieCheck& check);

}  // namespace norv::cli
