#include "tools/avicheck/length_fixup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

namespace {

bool Write32(int fd, std::uint64_t at, std::uint32_t value) {
  std::uint8_t b[4];
  PutLe32(b, value);
  return ::pwrite(fd, b, 4, static_cast<off_t>(at)) == 4;
}

}  // namespace

bool SetLengthsToContents(const std::string& path, std::string* error) {
  const VerifyReport report = VerifyAvi(path);
  if (!report.readable || report.unfinished || report.extensionForms > 0) {
    *error = "not a finished AVI 1.0 file";
    return false;
  }
  // Where the counts go: 'avih' and each 'strh' inside LIST 'hdrl'.
  FileReader file;
  if (!file.Open(path, error)) return false;
  std::uint8_t h[12];
  if (!file.ReadAt(12, h, 12) || Le32(h) != kList || std::memcmp(h + 8, "hdrl", 4) != 0) {
    *error = "no LIST 'hdrl' where it belongs";
    return false;
  }
  const std::uint64_t end = 12 + 8 + static_cast<std::uint64_t>(Le32(h + 4));
  std::uint64_t totalFramesAt = 0;
  std::vector<std::uint64_t> lengthAt;
  for (std::uint64_t at = 24; at + 8 <= end;) {
    std::uint8_t c[12];
    if (!file.ReadAt(at, c, 12)) break;
    const std::uint32_t size = Le32(c + 4);
    if (std::memcmp(c, "avih", 4) == 0) totalFramesAt = at + 8 + 16;
    if (Le32(c) == kList && std::memcmp(c + 8, "strl", 4) == 0) {
      std::uint8_t s[8];
      if (file.ReadAt(at + 12, s, 8) && std::memcmp(s, "strh", 4) == 0)
        lengthAt.push_back(at + 12 + 8 + 32);
    }
    at += 8 + size + (size & 1);
  }
  if (totalFramesAt == 0 || lengthAt.size() != report.streams.size()) {
    *error = "headers not where the plug-in writes them";
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot write " + path;
    return false;
  }
  bool ok = true;
  for (std::size_t i = 0; i < report.streams.size(); ++i) {
    const VerifiedStream& s = report.streams[i];
    const std::uint32_t unit = s.type == "auds" ? (s.blockAlign != 0 ? s.blockAlign : 1) : 0;
    const auto length = static_cast<std::uint32_t>(unit != 0 ? s.bytes / unit : s.chunks);
    ok = ok && Write32(fd, lengthAt[i], length);
    if (s.type == "vids") ok = ok && Write32(fd, totalFramesAt, length);
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) *error = "cannot write " + path;
  return ok;
}

}  // namespace norv::cli
