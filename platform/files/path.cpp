#include "platform/files/path.h"

#include <cstring>
#include <string>

namespace norv::platform {

namespace {

void Put(char* out, std::size_t cap, const std::string& s) {
  if (out == nullptr) return;
  std::size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

void SplitPath(const char* path, char* drive, char* dir, char* name, char* ext) {
  std::string p = path == nullptr ? "" : path;
  std::string d;
#if defined(_WIN32)
  if (p.size() >= 2 && p[1] == ':') {
    d = p.substr(0, 2);
    p = p.substr(2);
  }
#endif
  std::size_t slash = std::string::npos;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (IsSeparator(p[i])) slash = i;
  }
  std::string folder = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? p : p.substr(slash + 1);
  std::size_t dot = file.find_last_of('.');
  std::string base = dot == std::string::npos ? file : file.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : file.substr(dot);
  Put(drive, 3, d);
  Put(dir, 256, folder);
  Put(name, 256, base);
  Put(ext, 256, extension);
}

void MakePath(char* out, std::size_t size, const char* drive, const char* dir, const char* name,
              const char* ext) {
  std::string s;
  if (drive != nullptr && *drive != '\0') {
    s += drive[0];
    s += ':';
  }
  if (dir != nullptr && *dir != '\0') {
    s += dir;
    if (!IsSeparator(s.back())) s += kPathSeparator;
  }
  if (name != nullptr) s += name;
  if (ext != nullptr && *ext != '\0') {
    if (*ext != '.') s += '.';
    s += ext;
  }
  Put(out, size, s);
}

}  // namespace norv::platform
