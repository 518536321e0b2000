#include "tools/norvavi/sources/stdin_spool.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace norv::cli {

StdinSpool::~StdinSpool() {
  if (!path_.empty()) std::remove(path_.c_str());
}

bool StdinSpool::Resolve(const std::string& name, std::string* path, std::string* error) {
  if (name != "-") {
    *path = name;
    return true;
  }
  if (!path_.empty()) {
    *path = path_;
    return true;
  }
  std::error_code ec;
  std::string pattern =
      (std::filesystem::temp_directory_path(ec) / "norvavi-stdin-XXXXXX").string();
  if (ec) pattern = "/tmp/norvavi-stdin-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    *error = "cannot make a temporary file for standard input";
    return false;
  }
  path_ = pattern;
  std::vector<char> buffer(1 << 20);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(0, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      *error = "cannot read standard input";
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ::close(fd);
        *error = "cannot keep standard input in " + path_ + " (disk full?)";
        return false;
      }
      done += w;
    }
    total += static_cast<std::uint64_t>(n);
  }
  if (::close(fd) != 0 || total == 0) {
    *error = total == 0 ? "standard input holds no stream" : "cannot keep standard input";
    return false;
  }
  *path = path_;
  return true;
}

}  // namespace norv::cli
