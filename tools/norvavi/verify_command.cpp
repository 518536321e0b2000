#include "tools/norvavi/commands.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/reader_rules.h"
#include "tools/avicheck/riff_reader.h"
#include "tools/norvavi/deep_check.h"

namespace norv::cli {

namespace {

using json = nlohmann::ordered_json;

// Readable, and not a RIFF 'AVI ' form.
bool ReadableButNotAvi(const std::string& path) {
  FileReader file;
  std::string error;
  if (!file.Open(path, &error)) return false;
  std::uint8_t h[12];
  return !file.ReadAt(0, h, sizeof h) || Le32(h) != kRiff || std::memcmp(h + 8, "AVI ", 4) != 0;
}

// The reader rules that apply, appended to the report `text`.
void AddTargets(const VerifyReport& report, const std::vector<std::string>& readers, bool asJson,
                const std::vector<ReaderFinding>& found, std::string* text) {
  std::string names, ruleless;
  for (const std::string& r : readers) {
    names += (names.empty() ? "" : ",") + r;
    const auto& rules = ReaderRules();
    if (std::none_of(rules.begin(), rules.end(), [&](const ReaderRule& rule) {
          return std::find(rule.readers.begin(), rule.readers.end(), r) != rule.readers.end();
        }))
      ruleless += " " + r;
  }
  if (asJson) {
    json all = json::parse(*text);
    json list = json::array();
    for (const ReaderFinding& f : found)
      list.push_back({{"rule", f.rule}, {"readers", f.readers}, {"message", f.message}});
    all["targets"] = {{"readers", readers}, {"findings", list}};
    *text = all.dump(2) + "\n";
    return;
  }
  if (!report.readable) return;
  for (const ReaderFinding& f : found) *text += "target: " + f.rule + ": " + f.message + "\n";
  *text += found.empty()
               ? "targets " + names + ": none of their known problems found\n"
               : "targets " + names + ": " + std::to_string(found.size()) + " reader problem(s)\n";
  if (!ruleless.empty()) *text += "no reader rule is known yet for:" + ruleless + "\n";
}

}  // namespace

int RunVerifyCommand(const std::string& path, bool asJson, bool deep,
                     const std::vector<std::string>& targets) {
  std::vector<std::string> readers;
  std::string wrong;
  if (!ParseReaders(targets, &readers, &wrong)) {
    std::cerr << "norvavi: " << wrong << "\n";
    return 2;
  }
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
  const VerifyReport report = VerifyAvi(path);
  std::string text = asJson ? FormatReportJson(report) : FormatReport(report);
  DeepReport inside;
  if (deep && report.readable) {
    inside = DeepCheck(path);
    if (asJson) {
      json both = json::parse(text);
      both["deep"] = json::parse(FormatDeepJson(inside));
      text = both.dump(2) + "\n";
    } else {
      text += FormatDeep(inside);
    }
  }
  const std::vector<ReaderFinding> found = CheckReaders(report, readers);
  if (!readers.empty()) AddTargets(report, readers, asJson, found, &text);
  if (!report.readable && !asJson)
    std::cerr << text;
  else
    std::cout << text;
  if (!report.readable) return 2;
  const bool deepSound = !deep || (inside.opened && inside.findingCount == 0);
  return report.sound() && deepSound && found.empty() ? 0 : 1;
}

}  // namespace norv::cli
