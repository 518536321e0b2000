#include "tools/norvavi/commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "plugin/host/host_api.h"
#include "tools/norvavi/checked_settings.h"
#include "tools/norvavi/host/settings_fields.h"

namespace norv::cli {

namespace {

using json = nlohmann::ordered_json;

// The summary's lines; the plug-in separates them with "\r\n", as the
// host's text controls want.
std::vector<std::string> SummaryLines(const char* text) {
  std::vector<std::string> lines(1);
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\r') continue;
    if (*p == '\n')
      lines.emplace_back();
    else
      lines.back() += *p;
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// A field's value in JSON: numbers as numbers, codes and paths as text.
json TypedValue(const std::vector<FieldDescription>& fields, const std::string& name,
                const std::string& value) {
  for (const FieldDescription& f : fields) {
    if (f.name != name) continue;
    if (f.type == "integer" || f.type == "unsigned") return std::stoll(value);
    if (f.type == "number") return std::stod(value);
  }
  return value;
}

}  // namespace

int RunInfo(const MakeOptions& o, bool withProject, bool asJson) {
  PluginExports plugin;
  HostSettings settings;
  int status = 0;
  if (!LoadChecked(o, &plugin, &settings, &status)) return status;
  ProjectSettings project;
  MakeProject(plugin, &project);
  // The summary is bounded by the compressor's description; this is ample.
  char text[4096] = {};
  if (plugin.FileTypeGetSettingsInfo(1, text, 0, &settings.record,
                                     withProject ? &project : nullptr) == 0) {
    std::fprintf(stderr, "norvavi: the plug-in wrote no summary\n");
    return 1;
  }
  const std::vector<std::string> lines = SummaryLines(text);
  // The summary names the colour format the settings hold; the movie's own
  // frames may differ, and a user reading "16 Bits" expects 16-bit frames.
  const char* note = settings.record.colorFormat == kColor16
                         ? "with 16 Bits the plug-in writes 24-bit frames; it has no 16-bit form "
                           "of its own"
                         : nullptr;
  if (!asJson) {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    if (note != nullptr) std::fprintf(stderr, "norvavi: note: %s\n", note);
    return 0;
  }
  json j;
  j["summary"] = lines;
  if (note != nullptr) j["notes"] = json::array({note});
  json fields = json::object();
  const std::vector<FieldDescription> described = DescribeFields();
  for (const std::string& line : DescribeSettings(settings.record)) {
    const auto [name, value] = SplitAssignment(line);
    fields[name] = TypedValue(described, name, value);
  }
  j["settings"] = fields;
  std::cout << j.dump(2) << "\n";
  return 0;
}

}  // namespace norv::cli
