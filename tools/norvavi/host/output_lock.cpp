#include "tools/norvavi/host/output_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tools/norvavi/host/job_guard.h"

namespace norv::cli {

namespace {

std::string CannotWrite(const std::string& path, int error) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  const std::string folder = parent.empty() ? std::string(".") : parent;
  std::string why;
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      why = "the folder " + folder +
            " is not writable for you (read-only or another owner's); choose another folder";
      break;
    case ENOSPC:
    case EDQUOT:
      why = "no space left in " + folder;
      break;
    case ENOENT:
    case ENOTDIR:
      why = "the folder " + folder + " does not exist";
      break;
    default:
      why = std::strerror(error);
  }
  std::string message = "cannot write ";
  message.append(path).append(": ").append(why);
  return message;
}

}  // namespace

OutputLock::~OutputLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

OutputLock::Result OutputLock::Take(const std::string& path, bool replace, std::string* error) {
  Result made = Result::kMade;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    if (!replace) return Result::kExists;
    made = Result::kLocked;
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) {
    *error = CannotWrite(path, errno);
    return Result::kFailed;
  }
  bool said = false;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locks here: as a lone job
    if (!said) {
      std::fprintf(stderr, "norvavi: another norvavi job is writing %s; waiting for it to finish\n",
                   path.c_str());
      said = true;
    }
    if (JobGuard::Interrupted()) {
      ::close(fd);
      return Result::kInterrupted;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  fd_ = fd;
  return made;
}

}  // namespace norv::cli
