#include "tools/norvavi/lookup_commands.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "plugin/host/host_api.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/riff_reader.h"
#include "tools/norvavi/host/compressor_listing.h"
#include "tools/norvavi/host/host_settings.h"
#include "tools/norvavi/host/request_check.h"
#include "tools/norvavi/host/settings_fields.h"

namespace norv::cli {

namespace {

using json = nlohmann::ordered_json;

// The plug-in loaded and the record built from the options and checked;
// false after a message saying why not, with the exit status in `status`.
bool LoadChecked(const MakeOptions& o, PluginExports* plugin, HostSettings* settings, int* status) {
  std::string error;
  *status = 1;
  if (!ApplyHostOptions(o)) return false;
  if (!LoadPlugin(o.plugin.empty() ? DefaultPluginPath() : o.plugin, plugin, &error) ||
      !BuildSettings(*plugin, o.Choices(), &settings->record, &error)) {
    std::fprintf(stderr, "norvavi: %s\n", error.c_str());
    return false;
  }
  if (!ReportCheck(CheckSettings(settings->record))) {
    *status = 2;
    return false;
  }
  return true;
}

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

// "name=value" split at the first '='.
std::pair<std::string, std::string> Split(const std::string& line) {
  const auto eq = line.find('=');
  return {line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1)};
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

std::string YesNo(bool v) {
  return v ? "yes" : "no";
}

std::string Depths(const CompressorDescription& c) {
  std::string text;
  if (c.takes8) text = "8";
  if (c.takes24) text += text.empty() ? "24" : ",24";
  return text.empty() ? "-" : text;
}

std::string Sizes(const CompressorDescription& c) {
  if (c.sizes.size() == ProbeSizes().size()) return "any";
  std::string text;
  for (const auto& [w, h] : c.sizes) {
    // Appended piece by piece: "," + std::string makes GCC 12 warn falsely
    // at -O3 about the insert at the front it inlines (GCC bug 105651).
    if (!text.empty()) text += ',';
    text.append(std::to_string(w)).append("x").append(std::to_string(h));
  }
  return text.empty() ? "-" : text;
}

// Readable, and not a RIFF 'AVI ' form.
bool ReadableButNotAvi(const std::string& path) {
  FileReader file;
  std::string error;
  if (!file.Open(path, &error)) return false;
  std::uint8_t h[12];
  return !file.ReadAt(0, h, sizeof h) || Le32(h) != kRiff || std::memcmp(h + 8, "AVI ", 4) != 0;
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
  if (!asJson) {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return 0;
  }
  json j;
  j["summary"] = lines;
  json fields = json::object();
  const std::vector<FieldDescription> described = DescribeFields();
  for (const std::string& line : DescribeSettings(settings.record)) {
    const auto [name, value] = Split(line);
    fields[name] = TypedValue(described, name, value);
  }
  j["settings"] = fields;
  std::cout << j.dump(2) << "\n";
  return 0;
}

int RunDefaults(const MakeOptions& o, const std::string& path) {
  PluginExports plugin;
  HostSettings settings;
  int status = 0;
  if (!LoadChecked(o, &plugin, &settings, &status)) return status;
  if (SavePresetFile(1, &settings.record, path.c_str()) == 0) {
    std::fprintf(stderr, "norvavi: cannot write the preset %s\n", path.c_str());
    return 1;
  }
  return 0;
}

int RunFields(const MakeOptions& o, bool asJson) {
  // The defaults are the plug-in's, for the host the options describe.
  PluginExports plugin;
  HostSettings defaults;
  std::string error;
  if (!ApplyHostOptions(o)) return 1;
  if (!LoadPlugin(o.plugin.empty() ? DefaultPluginPath() : o.plugin, &plugin, &error)) {
    std::fprintf(stderr, "norvavi: %s\n", error.c_str());
    return 1;
  }
  plugin.FileTypeDefaultSettings(1, &defaults.record, 0);
  std::vector<std::pair<std::string, std::string>> values;
  for (const std::string& line : DescribeSettings(defaults.record)) values.push_back(Split(line));
  auto defaultOf = [&](const std::string& name) {
    for (const auto& [n, v] : values)
      if (n == name) return v;
    return std::string();
  };
  const std::vector<FieldDescription> fields = DescribeFields();
  if (asJson) {
    json a = json::array();
    for (const FieldDescription& f : fields)
      a.push_back({{"name", f.name},
                   {"type", f.type},
                   {"allowed", f.allowed},
                   {"default", defaultOf(f.name)},
                   {"meaning", f.meaning}});
    std::cout << a.dump(2) << "\n";
    return 0;
  }
  std::printf("%-20s %-9s %-44s %-8s %s\n", "FIELD", "TYPE", "ALLOWED", "DEFAULT", "MEANING");
  for (const FieldDescription& f : fields)
    std::printf("%-20s %-9s %-44s %-8s %s\n", f.name.c_str(), f.type.c_str(), f.allowed.c_str(),
                defaultOf(f.name).c_str(), f.meaning.c_str());
  return 0;
}

int RunCompressors(bool asJson) {
  const std::vector<CompressorDescription> list = ListCompressors();
  if (asJson) {
    json a = json::array();
    for (const CompressorDescription& c : list) {
      json sizes = json::array();
      for (const auto& [w, h] : c.sizes)
        sizes.push_back(std::to_string(w) + "x" + std::to_string(h));
      json depths = json::array();
      if (c.takes8) depths.push_back(8);
      if (c.takes24) depths.push_back(24);
      a.push_back({{"handler", c.handlerText},
                   {"name", c.name},
                   {"description", c.description},
                   {"inputBits", depths},
                   {"outputBits", c.outputBits},
                   {"quality", c.quality},
                   {"keyFrames", c.temporal},
                   {"dataRate", c.quality},
                   {"configures", c.configures},
                   {"defaultQuality", c.defaultQuality},
                   {"defaultKeyFrameEvery", c.defaultKeyFrameEvery},
                   {"sizes", sizes},
                   {"anySize", c.sizes.size() == ProbeSizes().size()}});
    }
    std::cout << a.dump(2) << "\n";
    return 0;
  }
  // Quality and a data rate go together: the rate is met by lowering the quality.
  std::printf("%-7s %-6s %-7s %-9s %-10s %-9s %-21s %s\n", "HANDLER", "INPUT", "QUALITY",
              "KEYFRAMES", "DATA RATE", "CONFIGURE", "SIZES", "DESCRIPTION");
  for (const CompressorDescription& c : list)
    std::printf("%-7s %-6s %-7s %-9s %-10s %-9s %-21s %s\n", c.handlerText.c_str(),
                Depths(c).c_str(), YesNo(c.quality).c_str(), YesNo(c.temporal).c_str(),
                YesNo(c.quality).c_str(), YesNo(c.configures).c_str(), Sizes(c).c_str(),
                c.description.c_str());
  if (list.empty()) std::printf("(no compressor installed: movies are uncompressed)\n");
  return 0;
}

int RunVerifyCommand(const std::string& path, bool asJson) {
  // A file that is no AVI at all is a wrong request, not an unsound movie.
  if (ReadableButNotAvi(path)) {
    const std::string why =
        path + " is not an AVI file (it does not start with a RIFF 'AVI ' form)";
    if (asJson)
      std::cout << json({{"file", path}, {"error", why}}).dump(2) << "\n";
    else
      std::cerr << "norvavi: " << why << "\n";
    return 2;
  }
  return RunVerify(path, asJson);
}

}  // namespace norv::cli
