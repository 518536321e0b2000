#include "tools/norvavi/make_options.h"

#include <cstdio>

#include "hoststub/norv_host.h"

namespace norv::cli {

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
