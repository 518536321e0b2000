// The host's profile: an INI file ("[Section]" lines and "key=value" lines)
// read on every call and rewritten on every change, so values survive between
// runs and between processes. Without a path the profile lives in memory.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hoststub/host_state.h"
#include "plugin/host/host_api.h"

namespace {

struct Line {
  std::string section;  // of a key line; empty for headers, comments, blanks
  std::string key;
  std::string text;  // the line as it stands
};

std::vector<Line> g_memoryProfile;

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<Line> Parse(std::istream& in) {
  std::vector<Line> lines;
  std::string raw, section;
  while (std::getline(in, raw)) {
    std::string t = Trim(raw);
    Line line{{}, {}, t};
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = t.substr(1, t.size() - 2);
    } else if (!t.empty() && t[0] != ';' && t[0] != '#' && t.find('=') != std::string::npos) {
      line.section = section;
      line.key = Trim(t.substr(0, t.find('=')));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<Line> Load(const std::string& path) {
  if (path.empty()) return g_memoryProfile;
  std::ifstream in(path);
  return in ? Parse(in) : std::vector<Line>{};
}

void Store(const std::string& path, const std::vector<Line>& lines) {
  if (path.empty()) {
    g_memoryProfile = lines;
    return;
  }
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  // Write beside and rename, so a crash never leaves half a profile.
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const Line& l : lines) out << l.text << '\n';
    if (!out) return;
  }
  std::filesystem::rename(temp, path, ec);
}

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

extern "C" {

std::int32_t ReadProfileInt(const char* section, const char* key, std::int32_t fallback,
                            std::int32_t) {
  norv::host::HostState* s;
  auto lock = norv::host::LockState(&s);
  for (const Line& l : Load(s->profilePath)) {
    if (!l.key.empty() && SameKey(l.section, section) && SameKey(l.key, key)) {
      std::string value = Trim(l.text.substr(l.text.find('=') + 1));
      char* end = nullptr;
      long v = std::strtol(value.c_str(), &end, 10);
      return end != value.c_str() ? static_cast<std::int32_t>(v) : fallback;
    }
  }
  return fallback;
}

void WriteProfileInt(const char* section, const char* key, std::int32_t value, std::int32_t) {
  norv::host::HostState* s;
  auto lock = norv::host::LockState(&s);
  std::vector<Line> lines = Load(s->profilePath);
  std::string text = std::string(key) + "=" + std::to_string(value);
  std::size_t sectionEnd = lines.size();
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Line& l = lines[i];
    if (!l.key.empty() && SameKey(l.section, section) && SameKey(l.key, key)) {
      // A value written again as it stands leaves the file alone: replacing
      // it costs a rename that the file system may make wait for the disk.
      if (l.text == text) return;
      l.text = text;
      Store(s->profilePath, lines);
      return;
    }
    const std::string& t = l.text;
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      if (inSection) {
        sectionEnd = i;
        inSection = false;
      }
      if (SameKey(t.substr(1, t.size() - 2), section)) {
        inSection = true;
        sectionEnd = lines.size();
      }
    }
  }
  Line line{section, key, text};
  if (inSection || sectionEnd != lines.size()) {
    // Behind the section's last non-blank line.
    std::size_t at = sectionEnd;
    while (at > 0 && lines[at - 1].text.empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
  } else {
    if (!lines.empty() && !lines.back().text.empty()) lines.push_back({});
    // Appended, not "[" + std::string: GCC 12 at -O3 warns falsely about
    // the insert at the front that that form inlines (GCC bug 105651).
    lines.push_back({{}, {}, std::string("[").append(section).append("]")});
    lines.push_back(line);
  }
  Store(s->profilePath, lines);
}
}
