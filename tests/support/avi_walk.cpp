#include "tests/support/avi_walk.h"

#include "tests/support/test_support.h"

namespace norv::test {

namespace {

void Walk(const std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t end, int depth,
          AviWalk* out) {
  while (at + 8 <= end) {
    WalkedChunk c;
    c.id = FourCC(b, at);
    c.size = Le32(b, at + 4);
    c.headerOffset = static_cast<std::uint32_t>(at);
    c.depth = depth;
    const std::uint64_t dataEnd = at + 8 + c.size;
    if (dataEnd > end) out->sizesConsistent = false;
    const bool list = c.id == "RIFF" || c.id == "LIST";
    if (list && c.size >= 4) c.type = FourCC(b, at + 8);
    out->chunks.push_back(c);
    if (c.type == "movi") out->moviCodeOffset = static_cast<std::uint32_t>(at + 8);
    if (list) Walk(b, at + 12, std::min(dataEnd, end), depth + 1, out);
    if (c.id == "idx1") {
      for (std::uint64_t e = at + 8; e + 16 <= std::min(dataEnd, end); e += 16)
        out->index.push_back({FourCC(b, e), Le32(b, e + 4), Le32(b, e + 8), Le32(b, e + 12)});
    }
    at = dataEnd + (c.size & 1);
  }
}

}  // namespace

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

std::string CheckIndexAgainstChunks(const std::vector<std::uint8_t>& bytes) {
  AviWalk w = WalkAvi(bytes);
  if (!w.sizesConsistent) return "a chunk size runs past its parent";
  if (w.moviCodeOffset == 0) return "no LIST 'movi'";
  std::size_t next = 0;
  int moviDepth = -1;
  for (const WalkedChunk& c : w.chunks) {
    if (c.type == "movi") {
      moviDepth = c.depth;
      continue;
    }
    if (moviDepth < 0 || c.depth <= moviDepth) continue;
    if (next >= w.index.size())
      return "chunk at " + std::to_string(c.headerOffset) + " not indexed";
    const WalkedIndexEntry& e = w.index[next++];
    const std::string id = c.id == "LIST" ? c.type : c.id;
    if (e.id != id)
      return "entry " + std::to_string(next - 1) + " names " + e.id + ", file has " + id;
    if (e.offset + w.moviCodeOffset != c.headerOffset)
      return "entry " + std::to_string(next - 1) + " offset mismatch";
    if (e.length != c.size) return "entry " + std::to_string(next - 1) + " length mismatch";
    const bool key = e.id == "00db";
    if (((e.flags & 0x10) != 0) != key) return "entry " + std::to_string(next - 1) + " key flag";
    if (((e.flags & 0x01) != 0) != (c.id == "LIST"))
      return "entry " + std::to_string(next - 1) + " list flag";
  }
  if (next != w.index.size()) return "index holds entries past the chunks";
  return "";
}

}  // namespace norv::test
