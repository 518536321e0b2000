// A small reader of the files the tests make: the RIFF chunk tree in file
// order, and the idx1 entries.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace norv::test {

struct WalkedChunk {
  std::string id;    // four characters; "LIST"/"RIFF" for lists
  std::string type;  // list or form type, else empty
  std::uint32_t headerOffset = 0;
  std::uint32_t size = 0;
  int depth = 0;
  bool operator==(const WalkedChunk&) const = default;
};

struct WalkedIndexEntry {
  std::string id;
  std::uint32_t flags, offset, length;
  bool operator==(const WalkedIndexEntry&) const = default;
};

// For test failures: "id type size@offset depth", "id flags offset length".
std::ostream& operator<<(std::ostream& out, const WalkedChunk& c);
std::ostream& operator<<(std::ostream& out, const WalkedIndexEntry& e);

struct AviWalk {
  std::vector<WalkedChunk> chunks;
  std::vector<WalkedIndexEntry> index;
  std::uint32_t moviCodeOffset = 0;  // file offset of the 'movi' code
  bool sizesConsistent = true;       // every size fits its parent and the file
  const WalkedChunk* Find(const std::string& id, const std::string& type = "") const;
};

AviWalk WalkAvi(const std::vector<std::uint8_t>& bytes);

}  // namespace norv::test
