#include "tools/avicheck/repair_steps.h"

#include "tools/avicheck/avi_verify.h"

namespace norv::cli {

void Refuse(const std::string& text) {
  throw Refusal{text};
}

std::string RefusalMessage(const std::string& why) {
  return "not repaired, nothing changed: " + why;
}

bool PutInPlace(ReplaceFile& file, std::string* error) {
  if (!file.Close(error)) return false;
  const VerifyReport check = VerifyAvi(file.path());
  if (check.readable && !check.sound()) {
    const VerifyFinding& p = check.problems.front();
    *error = RefusalMessage("the finished file would still not be sound: " + p.field + " (at " +
                            std::to_string(p.offset) + "): " + p.message);
    return false;
  }
  return file.Commit(error);
}

}  // namespace norv::cli
