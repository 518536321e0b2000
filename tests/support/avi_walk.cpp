#include "tests/support/avi_walk.h"

#include "tests/support/test_support.h"

namespace norv::test {

namespace {

void Walk(const std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t end, int depth,
          AviWalk* out) {
  while (at + 8 <= end) {
    WalkedChunk c{FourCC(b, at), "", static_cast<std::uint32_t>(at), Le32(b, at + 4), depth};
    const std::uint64_t dataEnd = at + 8 + c.size;
    if (dataEnd > end) out->sizesConsistent = false;
    const bool list = c.id == "RIFF" || c.id == "LIST";
    if (list && c.size >= 4) c.type = FourCC(b, at + 8);
    out->chunks.push_back(c);
    if (c.type == "movi") out->moviCodeOffset = static_cast<std::uint32_t>(at + 8);
    if (list) Walk(b, at + 12, std::min(dataEnd, end), depth + 1, out);
    if (c.id == "idx1")
      for (std::uint64_t e = at + 8; e + 16 <= std::min(dataEnd, end); e += 16)
        out->index.push_back({FourCC(b, e), Le32(b, e + 4), Le32(b, e + 8), Le32(b, e + 12)});
    at = dataEnd + (c.size & 1);
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const WalkedChunk& c) {
  return out << c.id << " " << c.type << " " << c.size << "@" << c.headerOffset << " " << c.depth;
}
std::ostream& operator<<(std::ostream& out, const WalkedIndexEntry& e) {
  return out << e.id << " " << e.flags << " " << e.offset << " " << e.length;
}

const WalkedChunk* AviWalk::Find(const std::string& id, const std::string& type) const {
  for (const WalkedChunk& c : chunks)
    if (c.id == id && (type.empty() || c.type == type)) return &c;
  return nullptr;
}

AviWalk WalkAvi(const std::vector<std::uint8_t>& bytes) {
  AviWalk w;
  Walk(bytes, 0, bytes.size(), 0, &w);
  return w;
}

}  // namespace norv::test
