// The file parsers read from a path: each input is written to a file of
// this process's own in memory-backed storage first.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ui/message_box.h"

inline const std::string& FuzzPath(const char* extension) {
  static const std::string path = "/dev/shm/norv-fuzz-" + std::to_string(::getpid()) + extension;
  return path;
}

inline bool WriteFuzzFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// The parsers' messages are expected; they must not flood the output.
inline void SilenceMessages() {
  static const bool once = [] {
    NorvSetMessageSink([](void*, const char*, const char*, UINT) { return 1; }, nullptr);
    return true;
  }();
  (void)once;
}
