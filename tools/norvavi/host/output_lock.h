// One job per output: the movie's file is made (or opened, when it may be
// replaced) and locked before anything is written, so that a second job on
// the same output is refused or waits instead of writing over the first.
#pragma once

#include <string>

namespace norv::cli {

class OutputLock {
 public:
  OutputLock() = default;
  // Releases the lock; the file stays (the job guard removes it when the
  // movie was never begun).
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  enum class Result {
    kLocked,       // the file is ours until this lock goes
    kMade,         // the same, and the file did not exist: an empty file now
    kExists,       // the file exists and `replace` is false: untouched
    kInterrupted,  // interrupted while waiting for another job
    kFailed,       // cannot be made or opened: `error` says why and what to do
  };
  // Takes `path`. While another job holds it, says so once and waits.
  Result Take(const std::string& path, bool replace, std::string* error);

 private:
  int fd_ = -1;
};

}  // namespace norv::cli
