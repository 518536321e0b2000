// The stand-in's state, shared by its files.
#pragma once

#include <mutex>
#include <string>

namespace norv::host {

struct HostState {
  int ntsc = 0;
  int hardware = 0;
  int projectWidth = 720;
  int projectHeight = 576;
  int projectRateX100 = 2500;
  int confirm = 1;
  int confirmRequests = 0;
  int dvReverseAvailable = 1;
  std::string folder;       // ends in a separator
  std::string profilePath;  // empty: the profile lives in memory only
  std::string presetPath;   // what AskPresetPath answers; empty: cancelled
};

// The state under its lock.
std::unique_lock<std::mutex> LockState(HostState** state);

}  // namespace norv::host
