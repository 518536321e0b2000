#include "tools/avicheck/repair_steps.h"

#include <unistd.h>

#include <cerrno>

#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

void Refuse(const std::string& text) {
  throw Refusal{text};
}

std::string RefusalMessage(const std::string& why) {
  return "not repaired, nothing changed: " + why;
}

bool WriteAll(int fd, const void* data, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, b, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    b += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool PatchBytes(int fd, std::uint64_t at, const void* data, std::size_t n) {
  return ::pwrite(fd, data, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

bool Patch32(int fd, std::uint64_t at, std::uint32_t value) {
  std::uint8_t b[4];
  PutLe32(b, value);
  return PatchBytes(fd, at, b, 4);
}

bool PutInPlace(ReplaceFile& file, std::string* error) {
  if (!file.Close(error)) return false;
  const VerifyReport check = VerifyAvi(file.path());
  if (check.readable && !check.sound()) {
    const VerifyFinding& p = check.problems.front();
    *error = RefusalMessage("the finished file would still not be sound: " + p.field + " (at " +
                            std::to_string(p.offset) + "): " + p.message);
    return false;
  }
  return file.Commit(error);
}

}  // namespace norv::cli
