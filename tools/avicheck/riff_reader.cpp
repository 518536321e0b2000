#include "tools/avicheck/riff_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace norv::cli {

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(const std::string& path, std::string* error) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "cannot read " + path + ": " + (fd_ < 0 ? std::strerror(errno) : "not a regular file");
    return false;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  window_.resize(kWindow);
  return true;
}

bool FileReader::ReadAt(std::uint64_t at, void* out, std::size_t n) {
  if (at > size_ || n > size_ - at) return false;
  auto* dst = static_cast<std::uint8_t*>(out);
  if (at >= windowStart_ && at + n <= windowStart_ + windowBytes_) {
    std::memcpy(dst, window_.data() + (at - windowStart_), n);
    return true;
  }
  if (n <= kWindow / 2) {
    // Chunk headers are read one after another: a window serves the next ones too.
    const ssize_t got = ::pread(fd_, window_.data(), kWindow, static_cast<off_t>(at));
    if (got < static_cast<ssize_t>(n)) return false;
    windowStart_ = at;
    windowBytes_ = static_cast<std::size_t>(got);
    std::memcpy(dst, window_.data(), n);
    return true;
  }
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, dst + done, n - done, static_cast<off_t>(at + done));
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t FourCCValue(const char (&code)[5]) {
  return Le32(reinterpret_cast<const std::uint8_t*>(code));
}

std::string FourCCText(std::uint32_t id) {
  std::string s;
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(id >> (8 * i));
    printable = printable && c >= 0x20 && c < 0x7f;
    s += c;
  }
  if (printable) return "'" + s + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", id);
  return hex;
}

bool LooksLikeChunkId(std::uint32_t id) {
  for (int i = 0; i < 4; ++i) {
    const unsigned char c = static_cast<unsigned char>(id >> (8 * i));
    if (std::isalnum(c) == 0 && (c != ' ' || i == 0)) return false;
  }
  return true;
}

int StreamOfChunk(std::uint32_t id) {
  const unsigned char a = static_cast<unsigned char>(id), b = static_cast<unsigned char>(id >> 8);
  const unsigned char c = static_cast<unsigned char>(id >> 16),
                      d = static_cast<unsigned char>(id >> 24);
  if (std::isdigit(a) == 0 || std::isdigit(b) == 0 || std::isalpha(c) == 0 || std::isalpha(d) == 0)
    return -1;
  return (a - '0') * 10 + (b - '0');
}

std::string ChunkKind(std::uint32_t id) {
  return {static_cast<char>(id >> 16), static_cast<char>(id >> 24)};
}

}  // namespace norv::cli
