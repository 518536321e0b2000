#include "tools/avicheck/odml_index_check.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <vector>

namespace norv::cli {

namespace {

constexpr std::size_t kKeptProblems = 50;
constexpr int kMaxDepth = 8;

std::uint64_t Le64(const std::uint8_t* p) {
  return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

std::string Text(const char* format, std::uint64_t a, std::uint64_t b = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

struct Chunk {
  std::uint32_t id;
  std::uint32_t size;
  bool indexed = false;
};

class IndexChecker {
 public:
  IndexChecker(ByteReader& file, VerifyReport& report) : file_(file), r_(report) {}

  OpenDmlIndexSummary Run() {
    WalkForms();
    for (std::size_t s = 0; s < superIndexes_.size(); ++s)
      if (superIndexes_[s] != 0) CheckSuperIndex(static_cast<int>(s), superIndexes_[s]);
    if (summary_.superIndexes == 0) return summary_;
    for (const auto& [offset, chunk] : chunks_) {
      const int stream = StreamOfChunk(chunk.id);
      if (chunk.indexed || stream < 0 || static_cast<std::size_t>(stream) >= covered_.size() ||
          !covered_[static_cast<std::size_t>(stream)])
        continue;
      Problem("ix##", offset - 8, FourCCText(chunk.id) + " is in no standard index of its stream");
    }
    return summary_;
  }

 private:
  void Problem(const std::string& field, std::uint64_t at, const std::string& message) {
    if (r_.problems.size() < kKeptProblems) r_.problems.push_back({field, at, message});
    ++r_.problemCount;
  }

  void WalkForms() {
    std::uint64_t at = 0;
    while (at + 12 <= file_.size()) {
      std::uint8_t h[12];
      if (!file_.ReadAt(at, h, 12) || Le32(h) != kRiff) return;
      const std::uint64_t end = std::min<std::uint64_t>(at + 8 + Le32(h + 4), file_.size());
      Walk(at + 12, end, 0, false, false);
      if (Le32(h + 4) == 0) return;  // a form left unfinished ends the walk
      at = at + 8 + Le32(h + 4) + (Le32(h + 4) & 1);
    }
  }

  void Walk(std::uint64_t at, std::uint64_t end, int depth, bool inStream, bool inMovie) {
    if (depth > kMaxDepth) return;
    while (at + 8 <= end) {
      std::uint8_t h[12];
      if (!file_.ReadAt(at, h, 8)) return;
      const std::uint32_t id = Le32(h), size = Le32(h + 4);
      if (id == kList) {
        if (at + 12 > end || !file_.ReadAt(at + 8, h + 8, 4)) return;
        const std::uint32_t type = Le32(h + 8);
        const bool stream = type == FourCCValue("strl");
        if (stream) superIndexes_.push_back(0);
        const std::uint64_t listEnd = std::min<std::uint64_t>(at + 8 + size, end);
        Walk(at + 12, listEnd, depth + 1, stream, inMovie || type == FourCCValue("movi"));
      } else if (inStream && id == FourCCValue("indx")) {
        superIndexes_.back() = at;
      } else if (inMovie && StreamOfChunk(id) >= 0) {
        chunks_[at + 8] = {id, size};
        names_[StreamOfChunk(id)] |= ChunkKind(id) == "db" ? 1 : ChunkKind(id) == "dc" ? 2 : 0;
      }
      if (size > end - at - 8) return;  // the checker's own walk reports such sizes
      at += 8 + static_cast<std::uint64_t>(size) + (size & 1);
    }
  }

  // The common 24 bytes; false (with a problem) when they cannot be the kind wanted.
  bool ReadHeader(std::uint64_t at, std::uint8_t (&h)[8 + kIndexHeaderBytes], std::uint16_t longs,
                  std::uint8_t type, std::uint32_t entryBytes, const std::string& field) {
    // Asked first, not left to the read: a cut 'indx' must not be read past the end.
    if (at > file_.size() || file_.size() - at < sizeof h || !file_.ReadAt(at, h, sizeof h)) {
      Problem(field, at, "the index runs past the end of the file");
      return false;
    }
    const std::uint32_t size = Le32(h + 4), inUse = Le32(h + 12);
    if (Le16(h + 8) != longs || h[11] != type) {
      Problem(
          field, at,
          Text("is not the expected kind of index (%" PRIu64 " longs per entry, type %" PRIu64 ")",
               Le16(h + 8), h[11]));
      return false;
    }
    if (size < kIndexHeaderBytes ||
        inUse > (static_cast<std::uint64_t>(size) - kIndexHeaderBytes) / entryBytes ||
        at + 8 + size > file_.size()) {
      Problem(field, at,
              Text("%" PRIu64 " entries in use do not fit its size %" PRIu64, inUse, size));
      return false;
    }
    return true;
  }

  void CheckSuperIndex(int stream, std::uint64_t at) {
    const std::string field = "indx of stream " + std::to_string(stream);
    std::uint8_t h[8 + kIndexHeaderBytes];
    if (!ReadHeader(at, h, 4, kIndexOfIndexes, 16, field)) return;
    ++summary_.superIndexes;
    const std::uint32_t inUse = Le32(h + 12);
    if (StreamOfChunk(Le32(h + 16)) != stream)
      Problem(field, at, FourCCText(Le32(h + 16)) + " is not a chunk id of this stream");
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(inUse) * 16);
    if (!entries.empty() && !file_.ReadAt(at + 32, entries.data(), entries.size())) return;
    covered_.resize(std::max<std::size_t>(covered_.size(), static_cast<std::size_t>(stream) + 1));
    covered_[static_cast<std::size_t>(stream)] = true;
    const std::uint32_t blockAlign = static_cast<std::size_t>(stream) < r_.streams.size()
                                         ? r_.streams[static_cast<std::size_t>(stream)].blockAlign
                                         : 0;
    for (std::uint32_t i = 0; i < inUse; ++i) {
      const std::uint8_t* e = entries.data() + 16 * static_cast<std::size_t>(i);
      CheckStandardIndex(stream, Le64(e), Le32(e + 8), Le32(e + 12), blockAlign,
                         field + Text(" entry %" PRIu64, i));
    }
  }

  void CheckStandardIndex(int stream, std::uint64_t at, std::uint32_t superSize,
                          std::uint32_t duration, std::uint32_t blockAlign,
                          const std::string& field) {
    std::uint8_t h[8 + kIndexHeaderBytes];
    // Written so that an offset near 2^64 cannot wrap around.
    if (at > file_.size() || file_.size() - at < sizeof h) {
      Problem(field, at, "points past the end of the file");
      return;
    }
    if (!file_.ReadAt(at, h, sizeof h)) return;
    const std::uint32_t id = Le32(h);
    const std::string want = Text("ix%02" PRIu64, static_cast<std::uint64_t>(stream));
    if (FourCCText(id) != "'" + want + "'") {
      Problem(field, at, "points at " + FourCCText(id) + ", not '" + want + "'");
      return;
    }
    if (!ReadHeader(at, h, 2, kIndexOfChunks, 8, want)) return;
    ++summary_.standardIndexes;
    const std::uint32_t size = Le32(h + 4), inUse = Le32(h + 12);
    if (superSize != size + 8 && superSize != size)
      Problem(field, at,
              Text("size %" PRIu64 " is not that of the index, %" PRIu64, superSize, size + 8ull));
    const std::uint64_t base = Le64(h + 20);
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(inUse) * 8);
    if (!entries.empty() && !file_.ReadAt(at + 32, entries.data(), entries.size())) return;
    std::uint64_t ticks = 0;
    for (std::uint32_t i = 0; i < inUse; ++i) {
      const std::uint8_t* e = entries.data() + 8 * static_cast<std::size_t>(i);
      const std::uint64_t dataOffset = base + Le32(e);
      const std::uint32_t length = Le32(e + 4) & ~kIndexDeltaFrame;
      ++summary_.entries;
      auto it = chunks_.find(dataOffset);
      if (it == chunks_.end() || StreamOfChunk(it->second.id) != stream) {
        Problem(want, at + 32 + 8ull * i,
                Text("entry %" PRIu64 " names offset %" PRIu64 ", where no chunk of the stream is",
                     i, dataOffset));
        continue;
      }
      if (it->second.size != length)
        Problem(want, at + 32 + 8ull * i,
                Text("entry %" PRIu64 " says %" PRIu64 " bytes", i, length) +
                    Text("; the chunk holds %" PRIu64, it->second.size));
      if (it->second.indexed)
        Problem(want, at + 32 + 8ull * i, Text("entry %" PRIu64 " names a chunk twice", i));
      // As in 'idx1': '##db' is a whole picture, and where a stream names its
      // key frames '##db' and the others '##dc', a '##dc' is not a key frame.
      const bool delta = (Le32(e + 4) & kIndexDeltaFrame) != 0;
      const std::string kind = ChunkKind(it->second.id);
      if ((kind == "db" && delta) || (kind == "dc" && !delta && names_[stream] == 3))
        Problem(want, at + 32 + 8ull * i,
                Text("entry %" PRIu64 " marks ", i) + FourCCText(it->second.id) +
                    (delta ? " (a whole picture) a delta frame"
                           : " a key frame, where the stream names its key frames '##db'"));
      it->second.indexed = true;
      ticks += blockAlign == 0 ? 1 : length / blockAlign;
    }
    // Some writers count an audio stream's chunks instead of its blocks.
    if (duration != ticks && !(blockAlign != 0 && duration == inUse))
      Problem(field, at, Text("duration %" PRIu64 "; the index covers %" PRIu64, duration, ticks));
  }

  ByteReader& file_;
  VerifyReport& r_;
  OpenDmlIndexSummary summary_;
  std::vector<std::uint64_t> superIndexes_;  // per stream list: its 'indx', or 0
  std::vector<bool> covered_;                // streams with a super index
  std::map<std::uint64_t, Chunk> chunks_;    // by data offset
  std::map<int, int> names_;                 // per stream: 1 '##db' seen, 2 '##dc', 3 both
};

}  // namespace

OpenDmlIndexSummary CheckOpenDmlIndexes(ByteReader& file, VerifyReport& report) {
  return IndexChecker(file, report).Run();
}

}  // namespace norv::cli
