#include "tools/avicheck/odml_repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/avicheck/repair_steps.h"

namespace norv::cli {

namespace {

struct Form {
  std::uint64_t at;
  std::uint32_t size;
  std::uint32_t type;
};

std::vector<Form> Forms(FileReader& in) {
  std::vector<Form> forms;
  std::uint64_t at = 0;
  while (at + 12 <= in.size()) {
    std::uint8_t h[12];
    if (!in.ReadAt(at, h, 12) || Le32(h) != kRiff) break;
    forms.push_back({at, Le32(h + 4), Le32(h + 8)});
    if (Le32(h + 4) == 0) break;
    at += 8 + static_cast<std::uint64_t>(Le32(h + 4)) + (Le32(h + 4) & 1);
  }
  return forms;
}

struct Stream {
  std::uint64_t strhAt = 0, indxAt = 0;
  std::uint32_t indexSize = 0, indexUsed = 0;  // the super index's chunk size and entries in use
  std::uint32_t type = 0, sampleSize = 0;      // from 'strh'
  std::uint32_t blockAlign = 0;                // 0 for video
  struct Entry {
    std::uint64_t dataOffset;
    std::uint32_t size;
  };
  std::vector<Entry> entries;  // of the cut form
  std::uint64_t bytes = 0;
};

struct Plan {
  std::vector<Stream> streams;
  std::uint64_t dmlhAt = 0, avihAt = 0;
  std::uint64_t moviAt = 0;        // the cut form's LIST 'movi' header
  std::uint64_t brokenAt = 0;      // a header chunk unreadable or past its list
  bool firstForm = false;          // cut before the first form closed: 'idx1' to write too
  std::vector<std::uint8_t> idx1;  // its 16-byte entries, as the plug-in writes them
  Form last{};
  std::uint64_t keptEnd = 0;
  std::uint64_t chunks = 0, records = 0;
};

// Where a header chunk stands: the plug-in's layout, as a reader walks it.
enum class In { kForm, kHeaders, kStream, kOpenDml };

// The stream lists of the first form: where each 'strh' and 'indx' stand.
// Only chunks where the plug-in puts them count, and only when they hold the
// fields the repair sets, so that it never writes into another chunk.
void ReadHeaders(FileReader& in, std::uint64_t at, std::uint64_t end, Plan& p,
                 In where = In::kForm) {
  while (at + 8 <= end) {
    std::uint8_t h[24];
    if (!in.ReadAt(at, h, 8)) return;
    const std::uint32_t id = Le32(h), size = Le32(h + 4);
    // Headers a reader cannot walk are not this plug-in's to finish.
    if (!LooksLikeChunkId(id) || at + 8 + size > end) {
      p.brokenAt = at;
      return;
    }
    // A list still open (the 'movi' of a cut first form) keeps its size 0.
    const std::uint32_t type = id == kList && in.ReadAt(at + 8, h + 8, 4) ? Le32(h + 8) : 0;
    Stream* stream = where == In::kStream ? &p.streams.back() : nullptr;
    if (where == In::kForm && type == FourCCValue("movi")) {
      p.moviAt = at;
      return;
    } else if (where == In::kForm && type == FourCCValue("hdrl")) {
      ReadHeaders(in, at + 12, at + 8 + size, p, In::kHeaders);
    } else if (where == In::kHeaders && type == FourCCValue("strl")) {
      p.streams.emplace_back();
      ReadHeaders(in, at + 12, at + 8 + size, p, In::kStream);
    } else if (where == In::kHeaders && type == FourCCValue("odml")) {
      ReadHeaders(in, at + 12, at + 8 + size, p, In::kOpenDml);
    } else if (where == In::kHeaders && id == FourCCValue("avih") && size >= 40) {
      p.avihAt = at;
    } else if (where == In::kOpenDml && id == FourCCValue("dmlh") && size >= 4) {
      p.dmlhAt = at + 8;
    } else if (stream != nullptr && id == FourCCValue("strh") && size >= 48) {
      stream->strhAt = at;
      std::uint8_t strh[48];
      const bool read = in.ReadAt(at + 8, strh, sizeof strh);
      stream->type = read ? Le32(strh) : 0;
      stream->sampleSize = read ? Le32(strh + 44) : 0;
    } else if (stream != nullptr && id == FourCCValue("strf") &&
               stream->type == FourCCValue("auds") && size >= 14 && in.ReadAt(at + 8, h + 8, 14)) {
      stream->blockAlign = Le16(h + 8 + 12);
    } else if (stream != nullptr && (id == FourCCValue("indx") || id == FourCCValue("JUNK"))) {
      stream->indxAt = at;  // the super index, or its room while the first form is open
    }
    at += 8 + static_cast<std::uint64_t>(size) + (size & 1);
  }
}

void AddLegacyEntry(Plan& p, std::uint32_t id, std::uint32_t flags, std::uint64_t at,
                    std::uint32_t size) {
  std::uint8_t e[16];
  PutLe32(e, id);
  PutLe32(e + 4, flags);
  PutLe32(e + 8, static_cast<std::uint32_t>(at - (p.moviAt + 8)));  // from the 'movi' code
  PutLe32(e + 12, size);
  p.idx1.insert(p.idx1.end(), e, e + 16);
}

// A whole data chunk of the cut form: it joins its stream's index.
bool TakeChunk(FileReader& in, Plan& p, std::uint64_t at, std::uint64_t end) {
  std::uint8_t h[8];
  if (at + 8 > end || !in.ReadAt(at, h, 8)) return false;
  const std::uint32_t id = Le32(h), size = Le32(h + 4);
  const int stream = StreamOfChunk(id);
  if (stream < 0 || static_cast<std::size_t>(stream) >= p.streams.size()) return false;
  if (at + 8 + size + (size & 1) > end) return false;
  Stream& s = p.streams[static_cast<std::size_t>(stream)];
  if (s.blockAlign != 0 && size % s.blockAlign != 0) return false;  // sound comes in whole blocks
  const bool key = s.blockAlign != 0 || ChunkKind(id) == "db";
  s.entries.push_back({at + 8, key ? size : size | kIndexDeltaFrame});
  s.bytes += size;
  ++p.chunks;
  if (p.firstForm) AddLegacyEntry(p, id, ChunkKind(id) == "db" ? kIndexKeyFrame : 0, at, size);
  return true;
}

// Keeps the whole chunks and whole records of the cut form's 'movi'.
void PlanCutForm(FileReader& in, Plan& p) {
  if (!p.firstForm) p.moviAt = p.last.at + 12;
  const std::uint64_t moviAt = p.moviAt;
  std::uint8_t h[12];
  if (!in.ReadAt(moviAt, h, 12) || Le32(h) != kList || Le32(h + 8) != FourCCValue("movi")) {
    Refuse("the last form does not begin with LIST 'movi'");
  }
  std::uint64_t at = moviAt + 12;
  const std::uint64_t end = in.size();
  p.keptEnd = at;
  while (at + 8 <= end) {
    if (!in.ReadAt(at, h, 12)) break;
    if (Le32(h) == kList && Le32(h + 8) == FourCCValue("rec ")) {
      const std::uint32_t size = Le32(h + 4);
      const std::uint64_t recordEnd = at + 8 + size;
      // A record whose size was never set was cut inside.
      if (size < 4 || recordEnd > end) break;
      const std::size_t before = p.chunks, legacyBefore = p.idx1.size();
      if (p.firstForm) AddLegacyEntry(p, FourCCValue("rec "), kIndexList, at, size);
      std::vector<std::pair<std::size_t, std::uint64_t>> counts;  // entries and bytes
      for (const Stream& s : p.streams) counts.emplace_back(s.entries.size(), s.bytes);
      std::uint64_t c = at + 12;
      bool whole = true;
      while (whole && c < recordEnd) {
        std::uint8_t ch[8];
        whole = in.ReadAt(c, ch, 8) && TakeChunk(in, p, c, recordEnd);
        if (whole) c += 8 + static_cast<std::uint64_t>(Le32(ch + 4)) + (Le32(ch + 4) & 1);
      }
      if (!whole || c != recordEnd) {  // not ours, or torn: undo and stop
        for (std::size_t i = 0; i < p.streams.size(); ++i) {
          p.streams[i].entries.resize(counts[i].first);
          p.streams[i].bytes = counts[i].second;
        }
        p.chunks = before;
        p.idx1.resize(legacyBefore);
        break;
      }
      ++p.records;
      at = recordEnd;
    } else if (TakeChunk(in, p, at, end)) {
      at += 8 + static_cast<std::uint64_t>(Le32(h + 4)) + (Le32(h + 4) & 1);
    } else {
      break;
    }
    p.keptEnd = at;
  }
}

void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  PutLe32(&b[at], static_cast<std::uint32_t>(v));
  PutLe32(&b[at + 4], static_cast<std::uint32_t>(v >> 32));
}

// Copies what is kept, appends the standard indexes and sets every field
// that depends on them; false with `error` set.
bool WriteFinished(FileReader& in, const Plan& p, int fd, std::uint64_t* indexes,
                   std::string* error) {
  std::vector<std::uint8_t> block(1 << 20);
  for (std::uint64_t at = 0; at < p.keptEnd; at += block.size()) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), p.keptEnd - at));
    if (!in.ReadAt(at, block.data(), n) || !WriteAll(fd, block.data(), n)) {
      *error = std::string("copying failed: ") + std::strerror(errno);
      return false;
    }
  }
  std::uint64_t at = p.keptEnd;
  std::uint64_t frames = 0;
  for (std::size_t s = 0; s < p.streams.size(); ++s) {
    const Stream& st = p.streams[s];
    const std::uint32_t cb = st.indexSize, used = st.indexUsed;
    // The super index's header, whole: the room of a form never closed is still JUNK.
    std::uint8_t head[24] = {};
    PutLe32(head, FourCCValue("indx"));
    PutLe32(head + 4, cb);
    head[8] = 4;  // longs per entry; an index of indexes
    PutLe32(head + 12, used);
    PutLe32(head + 16,
            (static_cast<std::uint32_t>('0' + s / 10)) |
                (static_cast<std::uint32_t>('0' + s % 10) << 8) |
                ((st.blockAlign != 0 ? FourCCValue("00wb") : FourCCValue("00db")) & 0xFFFF0000u));
    if (!PatchBytes(fd, st.indxAt, head, sizeof head)) return *error = "writing failed", false;
    std::vector<std::uint8_t> entries(16 * static_cast<std::size_t>(used));
    if (!entries.empty() && !in.ReadAt(st.indxAt + 32, entries.data(), entries.size()))
      return *error = "cannot read 'indx'", false;
    std::uint64_t ticks = 0;
    for (std::uint32_t i = 0; i < used; ++i) ticks += Le32(&entries[16 * i + 12]);
    if (!st.entries.empty()) {
      const auto count = static_cast<std::uint32_t>(st.entries.size());
      std::vector<std::uint8_t> ix(32 + 8 * static_cast<std::size_t>(count), 0);
      PutLe32(&ix[0], FourCCValue("ix00") + (static_cast<std::uint32_t>(s) << 24));
      PutLe32(&ix[4], 24 + 8 * count);
      ix[8] = 2;      // longs per entry
      ix[11] = 0x01;  // an index of chunks
      PutLe32(&ix[12], count);
      PutLe32(&ix[16], Le32(head + 16));
      Put64(ix, 20, p.last.at);
      for (std::uint32_t i = 0; i < count; ++i) {
        PutLe32(&ix[32 + 8 * i], static_cast<std::uint32_t>(st.entries[i].dataOffset - p.last.at));
        PutLe32(&ix[36 + 8 * i], st.entries[i].size);
      }
      const std::uint64_t formTicks = st.blockAlign == 0 ? count : st.bytes / st.blockAlign;
      if (!WriteAll(fd, ix.data(), ix.size())) return *error = "writing failed", false;
      std::uint8_t e[16];
      PutLe32(e, static_cast<std::uint32_t>(at));
      PutLe32(e + 4, static_cast<std::uint32_t>(at >> 32));
      PutLe32(e + 8, static_cast<std::uint32_t>(ix.size()));
      PutLe32(e + 12, static_cast<std::uint32_t>(formTicks));
      if (!PatchBytes(fd, st.indxAt + 32 + 16ull * used, e, 16) ||
          !Patch32(fd, st.indxAt + 12, used + 1))
        return *error = "writing failed", false;
      at += ix.size();
      ticks += formTicks;
      ++*indexes;
    }
    if (!Patch32(fd, st.strhAt + 8 + 32, static_cast<std::uint32_t>(ticks)))
      return *error = "writing failed", false;
    if (s == 0) frames = ticks;
  }
  if (!Patch32(fd, p.moviAt + 4, static_cast<std::uint32_t>(at - p.moviAt - 8)))
    return *error = "writing failed", false;
  if (p.firstForm) {
    // 'idx1' after 'movi', and the main header's count of the first form's frames.
    std::uint8_t head[8];
    PutLe32(head, FourCCValue("idx1"));
    PutLe32(head + 4, static_cast<std::uint32_t>(p.idx1.size()));
    if (!WriteAll(fd, head, 8) || !WriteAll(fd, p.idx1.data(), p.idx1.size()) ||
        !Patch32(fd, p.avihAt + 8 + 16, static_cast<std::uint32_t>(frames)))
      return *error = "writing failed", false;
    at += 8 + p.idx1.size();
  }
  if (!Patch32(fd, p.last.at + 4, static_cast<std::uint32_t>(at - p.last.at - 8)) ||
      !Patch32(fd, p.dmlhAt, static_cast<std::uint32_t>(frames)))
    return *error = "writing failed", false;
  return true;
}

}  // namespace

OpenDmlFile ClassifyOpenDml(FileReader& in) {
  const std::vector<Form> forms = Forms(in);
  if (forms.empty()) return OpenDmlFile::kOther;
  if (forms.size() >= 2 && forms.front().size != 0 && forms.back().size == 0 &&
      forms.back().type == FourCCValue("AVIX"))
    return OpenDmlFile::kCut;
  // Otherwise the headers say whether it is OpenDML at all.
  const bool open = forms.back().size == 0;
  if (open && (forms.size() != 1 || forms.front().type != FourCCValue("AVI ")))
    return OpenDmlFile::kOther;
  Plan p;
  ReadHeaders(in, 12, open ? in.size() : 8 + std::uint64_t{forms.front().size}, p);
  if (p.dmlhAt == 0 || p.moviAt == 0) return OpenDmlFile::kOther;
  if (open) return OpenDmlFile::kCut;  // cut in the first form
  return p.brokenAt == 0 ? OpenDmlFile::kFinished : OpenDmlFile::kOther;
}

RepairResult RepairOpenDml(FileReader& in, const std::string& target) {
  RepairResult result;
  result.status = 1;
  Plan p;
  const std::vector<Form> forms = Forms(in);
  p.last = forms.back();
  p.firstForm = forms.size() == 1;
  ReadHeaders(in, 12, p.firstForm ? in.size() : 8 + forms.front().size, p);
  if (p.brokenAt != 0)
    Refuse("a header chunk (at " + std::to_string(p.brokenAt) +
           ") is unreadable or runs past its list");
  if (p.streams.empty() || p.dmlhAt == 0 || p.avihAt == 0 || p.moviAt == 0)
    Refuse("no stream lists, 'avih', 'dmlh' or 'movi'");
  // Each chunk lies within its list, so every field set below stands before 'movi'.
  for (Stream& s : p.streams) {
    std::uint8_t h[16];
    if (s.strhAt == 0 || s.indxAt == 0 || !in.ReadAt(s.indxAt, h, sizeof h))
      Refuse("a stream list without 'strh' or 'indx'");
    // The frame counts come from the first stream: the plug-in's video, then
    // its sound in whole blocks, one sample each.
    const bool first = &s == &p.streams.front();
    if (s.type != FourCCValue(first ? "vids" : "auds") ||
        (!first && (s.blockAlign == 0 || s.sampleSize != s.blockAlign)))
      Refuse("streams other than video and then sound (at " + std::to_string(s.strhAt) + ")");
    // The room of a form never closed holds no entries, whatever its bytes say.
    const bool room = Le32(h) == FourCCValue("JUNK");
    if (room != p.firstForm)
      Refuse("a super index room that does not fit the forms (at " + std::to_string(s.indxAt) +
             ")");
    s.indexSize = Le32(h + 4);
    s.indexUsed = room ? 0 : Le32(h + 12);
    if (s.indexSize < 24 || (s.indexSize - 24) / 16 <= s.indexUsed)
      Refuse("a super index is full (at " + std::to_string(s.indxAt) + ")");
  }
  PlanCutForm(in, p);
  struct stat st {};
  ::fstat(in.fd(), &st);
  ReplaceFile out(target);
  std::uint64_t indexes = 0;
  if (!out.Create(st.st_mode, &result.message) ||
      !WriteFinished(in, p, out.fd(), &indexes, &result.message) ||
      !PutInPlace(out, &result.message))
    return result;
  result.status = 0;
  result.chunksKept = p.chunks;
  result.recordsKept = p.records;
  result.videoFrames = p.streams[0].entries.size();
  for (const Stream& s : p.streams)
    if (s.blockAlign != 0) result.audioBytes += s.bytes;
  result.bytesDropped = in.size() - p.keptEnd;
  char text[400];
  std::snprintf(
      text, sizeof text,
      "repaired %s: the %s keeps %" PRIu64 " chunks (%" PRIu64 " video frames, %" PRIu64
      " audio bytes) in %" PRIu64 " records, %" PRIu64 " bytes of a torn end dropped, %" PRIu64
      " standard index(es) written and the super indexes, 'dmlh' and stream lengths "
      "set to what the file holds",
      target.c_str(), p.firstForm ? "first form" : "last 'AVIX' form", result.chunksKept,
      result.videoFrames, result.audioBytes, result.recordsKept, result.bytesDropped, indexes);
  result.message = text;
  return result;
}

}  // namespace norv::cli
