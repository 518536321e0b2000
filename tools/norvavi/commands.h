// The commands of norvavi, one file each (settings_command.h has its own
// header for its result codes). Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "tools/avicheck/avi_repair.h"
#include "tools/norvavi/make_options.h"

namespace norv::cli {

// `make`'s status for a movie written and finished but shorter than asked
// for or than its source announces, or made from a damaged source: the
// message says where and why.
constexpr int kShortened = 3;

// `make`: one movie through the plug-in's exports, as a host does it.
// 0 written, 1 failed, 2 refused with nothing written, 3 written but
// shortened or damaged, 128+N stopped by signal N.
int MakeMovie(const MakeOptions& options);

// The commands that look things up and write no movie. `info` prints the
// plug-in's summary of the settings, `defaults` writes them as a preset;
// both refuse settings that `make` would refuse, saying why. `fields` lists
// every --set name, `compressors` the installed compressors.
// 0 done, 1 failed, 2 settings refused.
int RunInfo(const MakeOptions& options, bool withProject, bool json);
int RunDefaults(const MakeOptions& options, const std::string& presetPath);
int RunFields(const MakeOptions& options, bool json);
int RunCompressors(bool json);

// `verify`: an AVI file checked (with `deep`, the data inside the chunks
// too; with `targets`, READER names or comma lists, against what those
// readers are known to mishandle). 0 sound and no reader rule applies,
// 1 problems, 2 unreadable, not an AVI file at all, or an unknown reader.
int RunVerifyCommand(const std::string& path, bool json, bool deep = false,
                     const std::vector<std::string>& targets = {});

// `repair`: prints what was done (standard output) or refused (standard
// error); RepairResult's status. With `salvage` any writer's file is
// rescued into OUT (SalvageAvi), reported as text or JSON.
struct RepairCommand {
  RepairOptions repair;
  bool salvage = false;
  std::string reference;
  bool json = false;
};
int RunRepairCommand(const RepairCommand& command);

}  // namespace norv::cli
