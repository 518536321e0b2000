// What the two repairs share: how a file is refused, and how the finished
// copy takes the target's place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/avicheck/replace_file.h"

namespace norv::cli {

// Thrown while a repair plans, for a file it will not touch; the text says
// why. RepairAvi catches it: nothing has been written by then.
struct Refusal {
  std::string text;
};

[[noreturn]] void Refuse(const std::string& text);

// The message of a refused repair.
std::string RefusalMessage(const std::string& why);

// The copy's bytes: appended whole (through interruptions), or patched in
// place; false when the file system refuses.
bool WriteAll(int fd, const void* data, std::size_t n);
bool PatchBytes(int fd, std::uint64_t at, const void* data, std::size_t n);
bool Patch32(int fd, std::uint64_t at, std::uint32_t value);

// Closes the finished copy and, when verify finds it sound, renames it over
// the target. What a repair copies as it stands (stream counts, rates,
// header sizes) may still be wrong: such a copy is refused, not handed
// back. False with `error` set; the copy then goes with `file`.
bool PutInPlace(ReplaceFile& file, std::string* error);

}  // namespace norv::cli
