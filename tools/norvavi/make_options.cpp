#include "tools/norvavi/make_options.h"

#include <cstdio>

#include "hoststub/norv_host.h"

namespace norv::cli {

std::vector<std::string> MakeOptions::Sets() const {
  std::vector<std::string> all;
  if (!compressor.empty()) all.push_back("compressorHandler=" + compressor);
  const auto x = size.find('x');
  if (x != std::string::npos) {
    all.push_back("width=" + size.substr(0, x));
    all.push_back("height=" + size.substr(x + 1));
  }
  if (!rate.empty() && rate != "source") all.push_back("frameRate=" + rate);
  if (quality >= 0)
    all.push_back("quality=" + std::to_string(quality * 100));  // the field counts to 10000
  if (keyframes >= 0) all.push_back("keyFrameEvery=" + std::to_string(keyframes));
  all.insert(all.end(), sets.begin(), sets.end());
  return all;
}

bool ApplyHostOptions(const MakeOptions& o) {
  NorvHostSetNtsc(o.ntsc);
  NorvHostSetHardware(o.hardware);
  if (!o.project.empty()) {
    int w, h, r;
    if (!NorvHostParseProject(o.project.c_str(), &w, &h, &r)) {
      std::fprintf(stderr, "norvavi: --project expects WIDTHxHEIGHT@RATE, got \"%s\"\n",
                   o.project.c_str());
      return false;
    }
    NorvHostSetProject(w, h, r);
  } else if (o.ntsc) {
    NorvHostSetProject(720, 480, 2997);
  }
  if (!o.profile.empty()) NorvHostSetProfilePath(o.profile.c_str());
  return true;
}

}  // namespace norv::cli
