// What keeps a `norvavi make` job polite: the files it makes for its own
// use go on every way out, an interrupt finishes the movie instead of
// leaving it torn, and jobs that would share the plug-in's temporary audio
// file in one folder take turns.
#pragma once

#include <string>

namespace norv::cli {

// One per process while a movie is made. The first SIGINT, SIGTERM or SIGHUP only
// asks the job to stop (Interrupted()); the second removes the temporaries
// at once and ends the process with 128 + the signal's number.
class JobGuard {
 public:
  JobGuard();
  // Removes the temporaries, releases the folder lock and puts the previous
  // signal handlers back.
  ~JobGuard();
  JobGuard(const JobGuard&) = delete;
  JobGuard& operator=(const JobGuard&) = delete;

  // A file the job makes and must not leave behind. Register it before the
  // file is made, so that an interrupt in between removes it too.
  void AddTemporary(const std::string& path);
  // A temporary that is to stay after all (the movie, once it is begun).
  void Keep(const std::string& path);
  // Removes a temporary now.
  void RemoveTemporary(const std::string& path);

  // Takes `folder`'s lock, held until the guard goes. While another job holds
  // it, says so once and waits. False when interrupted while waiting; true,
  // without a lock, where the file system has no locks.
  bool LockFolder(const std::string& folder);

  static bool Interrupted();
  // The signal that interrupted the job, or 0.
  static int Signal();

 private:
  int lockFd_ = -1;
};

}  // namespace norv::cli
