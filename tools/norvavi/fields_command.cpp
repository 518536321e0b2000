#include "tools/norvavi/commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/norvavi/checked_settings.h"
#include "tools/norvavi/host/settings_fields.h"

namespace norv::cli {

namespace {

using json = nlohmann::ordered_json;

}  // namespace

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
  for (const std::string& line : DescribeSettings(defaults.record))
    values.push_back(SplitAssignment(line));
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

}  // namespace norv::cli
