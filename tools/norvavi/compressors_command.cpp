#include "tools/norvavi/commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/norvavi/host/compressor_listing.h"

namespace norv::cli {

namespace {

using json = nlohmann::ordered_json;

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

}  // namespace

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

}  // namespace norv::cli
