#include "tools/avicheck/replace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace norv::cli {

ReplaceFile::ReplaceFile(std::string target) : target_(std::move(target)) {}

ReplaceFile::~ReplaceFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
}

bool ReplaceFile::Create(mode_t mode, std::string* error) {
  const std::filesystem::path dir = std::filesystem::path(target_).parent_path();
  const std::string folder = dir.empty() ? std::string(".") : dir.string();
  std::string temp = folder + "/.norvavi-repair-XXXXXX";
  fd_ = ::mkstemp(temp.data());
  if (fd_ < 0) {
    *error = "cannot create a file in " + folder + ": " + std::strerror(errno);
    return false;
  }
  temp_ = temp;
  if (::fchmod(fd_, mode & 0777) != 0) {
    *error = "writing " + target_ + " failed: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReplaceFile::Close(std::string* error) {
  const bool synced = ::fsync(fd_) == 0;
  const int saved = errno;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (synced && closed) return true;
  *error = "writing " + target_ + " failed: " + std::strerror(synced ? errno : saved);
  return false;
}

bool ReplaceFile::Commit(std::string* error) {
  if (fd_ < 0 && std::rename(temp_.c_str(), target_.c_str()) == 0) return committed_ = true;
  *error = "writing " + target_ + " failed: " + std::strerror(fd_ < 0 ? errno : EBADF);
  return false;
}

}  // namespace norv::cli
