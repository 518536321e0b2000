#include "tools/norvavi/host/scoped_profile.h"

#include "plugin/host/host_api.h"

namespace norv::cli {

ScopedProfileInt::ScopedProfileInt(bool active, const char* section, const char* key,
                                   std::int32_t value)
    : active_(active), section_(section), key_(key) {
  if (!active_) return;
  // A key the profile did not hold reads as 0, which is what it meant.
  previous_ = ReadProfileInt(section, key, 0, 0);
  WriteProfileInt(section, key, value, 0);
}

ScopedProfileInt::~ScopedProfileInt() {
  if (active_) WriteProfileInt(section_.c_str(), key_.c_str(), previous_, 0);
}

}  // namespace norv::cli
