// A file that takes another's place only once it is whole: written beside
// the target (same folder, so the rename cannot cross file systems), synced,
// then renamed over it. On every other way out the copy is removed and the
// target is left as it was.
#pragma once

#include <sys/types.h>

#include <string>

namespace norv::cli {

class ReplaceFile {
 public:
  explicit ReplaceFile(std::string target);
  ~ReplaceFile();
  ReplaceFile(const ReplaceFile&) = delete;
  ReplaceFile& operator=(const ReplaceFile&) = delete;

  // Creates the copy with the permission bits of `mode`; false with `error` set.
  bool Create(mode_t mode, std::string* error);
  // The copy's descriptor, open from Create until Close.
  int fd() const { return fd_; }
  // The copy's path, for a reader that checks it before it is put in place.
  const std::string& path() const { return temp_; }
  // Syncs and closes the copy; false with `error` set.
  bool Close(std::string* error);
  // Renames the closed copy over the target; false with `error` set.
  bool Commit(std::string* error);

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace norv::cli
