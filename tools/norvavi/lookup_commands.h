// The commands that look things up and write no movie: `info` (the
// plug-in's summary of the settings), `defaults` (the settings as a preset),
// `fields` (every --set name), `compressors` (the installed compressors) and
// `verify` (an AVI file checked). `info` and `defaults` refuse settings
// that `make` would refuse, saying why.
#pragma once

#include <string>

#include "tools/norvavi/make_options.h"

namespace norv::cli {

// Exit status: 0 done, 1 failed, 2 settings refused.
int RunInfo(const MakeOptions& options, bool withProject, bool json);
int RunDefaults(const MakeOptions& options, const std::string& presetPath);
int RunFields(const MakeOptions& options, bool json);
int RunCompressors(bool json);

// 0 sound, 1 problems, 2 unreadable or not an AVI file at all.
int RunVerifyCommand(const std::string& path, bool json);

}  // namespace norv::cli
