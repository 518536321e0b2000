// `norvavi verify --target READER`: what a file holds that a given reader is
// known to mishandle. Every rule in the table was seen to fail with its
// reader on a sample while the corrected sample played
// (scripts/try-readers.sh makes both and runs the readers); a reader with
// no rule has shown no such failure yet.
#pragma once

#include <string>
#include <vector>

#include "tools/avicheck/avi_verify.h"

namespace norv::cli {

struct ReaderRule {
  const char* id;
  std::vector<std::string> readers;
  const char* text;  // what the reader does with such a file, for a user
  // Empty when the rule does not apply; otherwise what in this file sets it off.
  std::string (*applies)(const VerifyReport&);
};

struct ReaderFinding {
  std::string rule;
  std::vector<std::string> readers;
  std::string message;
};

const std::vector<std::string>& KnownReaders();
const std::vector<ReaderRule>& ReaderRules();

// READER names, each maybe a comma list; "strict" stands for every reader.
// False, naming the culprit in `error`, for a name that is not known.
bool ParseReaders(const std::vector<std::string>& names, std::vector<std::string>* readers,
                  std::string* error);

// The rules of `readers` that apply to `report`, in table order.
std::vector<ReaderFinding> CheckReaders(const VerifyReport& report,
                                        const std::vector<std::string>& readers);

}  // namespace norv::cli
