// A host profile value that holds for one job: set when the job starts, and
// the value the profile held put back at the end, so a command-line option
// never changes what the user's profile says for later runs.
#pragma once

#include <cstdint>
#include <string>

namespace norv::cli {

class ScopedProfileInt {
 public:
  // Does nothing unless `active`.
  ScopedProfileInt(bool active, const char* section, const char* key, std::int32_t value);
  ~ScopedProfileInt();
  ScopedProfileInt(const ScopedProfileInt&) = delete;
  ScopedProfileInt& operator=(const ScopedProfileInt&) = delete;

 private:
  bool active_;
  std::string section_, key_;
  std::int32_t previous_ = 0;
};

}  // namespace norv::cli
