#include "tools/avicheck/avi_verify.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "tools/avicheck/odml_index_check.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

namespace {

constexpr std::size_t kKeptProblems = 50;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// A chunk or 'rec ' list of the first form's 'movi', as idx1 may name it.
struct MoviItem {
  std::uint64_t position;  // of the chunk header
  std::uint32_t id;        // the list type for a list
  std::uint32_t size;
  bool list;
};

enum class Context { kForm, kHeaders, kStream, kOpenDml, kMovie, kRecord, kOther };

class Verifier {
 public:
  Verifier(ByteReader& file, VerifyReport& report) : file_(file), r_(report) {}

  void Run() {
    WalkForms();
    if (r_.streams.empty() && r_.problemCount == 0)
      Problem("LIST 'hdrl'", 12, "no stream header ('strl' with 'strh') found");
    CheckIndex();
    CheckStreams();
  }

 private:
  void Problem(const std::string& field, std::uint64_t at, const std::string& message) {
    if (r_.problems.size() < kKeptProblems) r_.problems.push_back({field, at, message});
    ++r_.problemCount;
  }
  void Note(const std::string& field, std::uint64_t at, const std::string& message) {
    r_.notes.push_back({field, at, message});
  }

  // A chunk header could stand here: a readable id and a size within `end`.
  bool HeaderFits(std::uint64_t at, std::uint64_t end) {
    std::uint8_t h[8];
    return at + 8 <= end && file_.ReadAt(at, h, 8) && LooksLikeChunkId(Le32(h)) &&
           at + 8 + Le32(h + 4) <= end;
  }

  void WalkForms() {
    const std::uint64_t fileSize = file_.size();
    std::uint64_t at = 0;
    for (int form = 0; at < fileSize; ++form) {
      std::uint8_t h[12];
      if (fileSize - at < 12 || !file_.ReadAt(at, h, 12) || Le32(h) != kRiff) {
        if (form == 0)
          Problem("RIFF", 0, "the file does not start with a RIFF form");
        else
          Problem("file size", at,
                  Format("%" PRIu64 " bytes after the last RIFF form start no further form",
                         fileSize - at));
        return;
      }
      const std::uint32_t size = Le32(h + 4), type = Le32(h + 8);
      if (type != FourCCValue(form == 0 ? "AVI " : "AVIX")) {
        Problem(
            "RIFF form type", at,
            FourCCText(type) + (form == 0 ? ", not 'AVI '" : ", not the extension form 'AVIX'"));
        return;
      }
      std::uint64_t end = at + 8 + size;
      if (form == 0) r_.riffSize = size;
      if (form > 0) ++r_.extensionForms;
      if (form == 0 && size == 0) {
        r_.unfinished = true;
        Problem("RIFF size", at, "0, as an export that never finished leaves it");
        end = fileSize;
      } else if (end > fileSize) {
        Problem("RIFF size", at,
                Format("%" PRIu32 ": the form would end at %" PRIu64 ", the file holds %" PRIu64
                       " bytes",
                       size, end, fileSize));
        end = fileSize;
      }
      Walk(at + 12, end, "RIFF " + FourCCText(type), Context::kForm, form == 0);
      at = end + (size & 1);
      if (at > fileSize) at = fileSize;
    }
  }

  // The children in [at, end) of one list.
  void Walk(std::uint64_t at, std::uint64_t end, const std::string& parent, Context context,
            bool firstForm) {
    while (at < end) {
      if (end - at < 8) {
        Problem(parent + " size", at,
                Format("%" PRIu64 " byte(s) after its last chunk, too few for a chunk header",
                       end - at));
        return;
      }
      std::uint8_t h[12] = {};
      if (!file_.ReadAt(at, h, std::min<std::uint64_t>(12, end - at))) {
        Problem("file", at, "read failed");
        return;
      }
      const std::uint32_t id = Le32(h), size = Le32(h + 4);
      if (!LooksLikeChunkId(id)) {
        Problem("chunk id", at, "unreadable chunk id " + FourCCText(id) + " inside " + parent);
        return;
      }
      const bool isList = id == kList;
      const std::uint32_t type = isList && end - at >= 12 ? Le32(h + 8) : 0;
      const std::string name = isList ? "LIST " + FourCCText(type) : FourCCText(id);
      std::uint64_t dataEnd = at + 8 + std::uint64_t{size};
      if (isList && size == 0 && type == FourCCValue("movi")) {
        // Left so by the writer until the export finishes: the rest is the movie data.
        r_.unfinished = true;
        Problem("LIST 'movi' size", at, "0, as an export that never finished leaves it");
        dataEnd = end;
      } else if (isList && size < 4) {
        Problem(name + " size", at, Format("%" PRIu32 " cannot hold the list type", size));
        return;
      }
      const bool overrun = dataEnd > end;
      if (overrun)
        Problem(
            name + " size", at,
            Format("%" PRIu32 " runs %" PRIu64 " bytes past the end of its ", size, dataEnd - end) +
                parent);
      Visit(at, id, type, size, std::min(dataEnd, end), context, firstForm);
      if (overrun) return;
      std::uint64_t next = dataEnd + (size & 1);
      if ((size & 1) != 0) {
        if (next > end) {
          Problem("pad", at,
                  name + Format(" of odd size %" PRIu32 " has no room for its pad byte in ", size) +
                      parent);
          return;
        }
        if (next < end && !HeaderFits(next, end) && HeaderFits(dataEnd, end)) {
          Problem("pad", at,
                  name + Format(" of odd size %" PRIu32 " is not followed by its pad byte", size));
          next = dataEnd;
        }
      }
      at = next;
    }
  }

  void Visit(std::uint64_t at, std::uint32_t id, std::uint32_t type, std::uint32_t size,
             std::uint64_t end, Context context, bool firstForm) {
    const bool isList = id == kList;
    const std::string name = isList ? "LIST " + FourCCText(type) : FourCCText(id);
    if (context == Context::kForm && firstForm) r_.layout.push_back(FourCCText(isList ? type : id));
    if (isList) {
      Context inner = Context::kOther;
      if (context == Context::kForm && type == FourCCValue("hdrl")) {
        // Readers take the headers before 'movi' and stop there.
        if (seenHeaders_)
          Problem(name, at, "a second header list; readers take the first");
        else
          inner = Context::kHeaders;
        seenHeaders_ = true;
      }
      if (context == Context::kForm && type == FourCCValue("movi")) {
        inner = Context::kMovie;
        if (firstForm) {
          moviCode_ = at + 8;
          haveMovi_ = true;
        }
      }
      if (context == Context::kHeaders && type == FourCCValue("strl")) {
        inner = Context::kStream;
        r_.streams.emplace_back();
        strhAt_.push_back(0);
      }
      if (context == Context::kHeaders && type == FourCCValue("odml")) {
        inner = Context::kOpenDml;
        r_.openDml = true;
      }
      if (context == Context::kMovie && type == FourCCValue("rec ")) {
        inner = Context::kRecord;
        ++r_.records;
        r_.largestRecord = std::max<std::uint64_t>(r_.largestRecord, size);
        if (firstForm) items_.push_back({at, type, size, true});
      }
      Walk(at + 12, end, name, inner, firstForm);
      return;
    }
    std::uint8_t d[64] = {};
    const std::size_t have = static_cast<std::size_t>(
        std::min<std::uint64_t>({sizeof d, std::uint64_t{size}, end > at + 8 ? end - at - 8 : 0}));
    if (have > 0 && !file_.ReadAt(at + 8, d, have)) return;
    switch (context) {
      case Context::kForm:
        if (id == FourCCValue("idx1") && firstForm) {
          r_.hasIndex = true;
          indexAt_ = at;
          indexSize_ = size;
          indexEnd_ = end;
        }
        break;
      case Context::kHeaders:
        if (id == FourCCValue("avih")) {
          if (have < 40) {
            Problem("avih size", at, Format("%" PRIu32 " is too small for the main header", size));
            break;
          }
          r_.flags = Le32(d + 12);
          r_.totalFrames = Le32(d + 16);
          r_.streamCount = Le32(d + 24);
          r_.mainSuggestedBuffer = Le32(d + 28);
          avihAt_ = at;
        }
        break;
      case Context::kStream: {
        VerifiedStream& s = r_.streams.back();
        if (id == FourCCValue("strh")) {
          if (have < 48) {
            Problem("strh size", at, Format("%" PRIu32 " is too small for a stream header", size));
            break;
          }
          s.type = FourCCText(Le32(d)).substr(1, 4);
          s.handler = Le32(d + 4) == 0 ? "" : FourCCText(Le32(d + 4));
          s.scale = Le32(d + 20);
          s.rate = Le32(d + 24);
          s.length = Le32(d + 32);
          s.suggestedBuffer = Le32(d + 36);
          s.sampleSize = Le32(d + 44);
          strhAt_.back() = at;
        } else if (id == FourCCValue("strf") && s.type == "auds" && have >= 14) {
          s.bytesPerSecond = Le32(d + 8);
          s.blockAlign = Le16(d + 12);
        } else if (id == FourCCValue("indx")) {
          r_.openDml = true;
        }
        break;
      }
      case Context::kOpenDml:
        if (id == FourCCValue("dmlh") && have >= 4) dmlhFrames_ = Le32(d);
        break;
      case Context::kMovie:
      case Context::kRecord:
        DataChunk(at, id, size, firstForm);
        break;
      case Context::kOther:
        break;
    }
  }

  void DataChunk(std::uint64_t at, std::uint32_t id, std::uint32_t size, bool firstForm) {
    const int stream = StreamOfChunk(id);
    if (stream < 0) {
      if ((id & 0xffff) == (FourCCValue("ix00") & 0xffff)) r_.openDml = true;
      return;
    }
    if (static_cast<std::size_t>(stream) >= r_.streams.size()) {
      Problem("chunk id", at,
              FourCCText(id) +
                  Format(" names stream %d; the headers describe %zu", stream, r_.streams.size()));
      return;
    }
    VerifiedStream& s = r_.streams[static_cast<std::size_t>(stream)];
    ++s.chunks;
    s.bytes += size;
    s.largest = std::max<std::uint64_t>(s.largest, size);
    if (firstForm) {
      ++s.chunksInFirstForm;
      s.bytesInFirstForm += size;
      items_.push_back({at, id, size, false});
      const std::string kind = ChunkKind(id);
      if (kind == "db") keysAsDb_.insert(stream);
      if (kind == "dc") {
        deltasAsDc_.insert(stream);
        ++s.dcChunksInFirstForm;
      }
    }
    TrackSkew();
  }

  // Audio time minus video time after each chunk, in file order.
  void TrackSkew() {
    const VerifiedStream* video = Stream("vids");
    const VerifiedStream* audio = Stream("auds");
    if (video == nullptr || audio == nullptr || video->rate == 0 || audio->rate == 0) return;
    const double videoSeconds =
        static_cast<double>(video->chunks) * video->scale / static_cast<double>(video->rate);
    double audioSeconds = 0;
    if (audio->sampleSize != 0 && audio->bytesPerSecond != 0)
      audioSeconds = static_cast<double>(audio->bytes) / audio->bytesPerSecond;
    else
      audioSeconds =
          static_cast<double>(audio->chunks) * audio->scale / static_cast<double>(audio->rate);
    const double skewMs = (audioSeconds - videoSeconds) * 1000.0;
    r_.skewKnown = true;
    r_.leadMs = std::max(r_.leadMs, skewMs);
    r_.lagMs = std::max(r_.lagMs, -skewMs);
  }

  const VerifiedStream* Stream(const char* type) const {
    for (const VerifiedStream& s : r_.streams)
      if (s.type == type) return &s;
    return nullptr;
  }

  std::int64_t Find(std::uint64_t position) const {
    auto it =
        std::lower_bound(items_.begin(), items_.end(), position,
                         [](const MoviItem& item, std::uint64_t p) { return item.position < p; });
    if (it == items_.end() || it->position != position) return -1;
    return it - items_.begin();
  }

  void CheckIndex() {
    if (!r_.hasIndex) {
      if (!r_.unfinished && (r_.flags & kMainHasIndex) != 0 && !r_.openDml)
        Problem("idx1", avihAt_, "missing, though the main header's flags announce an index");
      return;
    }
    if (!haveMovi_) return;
    if (indexSize_ % 16 != 0)
      Problem("idx1 size", indexAt_, Format("%" PRIu32 " is not a multiple of 16", indexSize_));
    const std::uint64_t entries = (indexEnd_ - indexAt_ - 8) / 16;
    r_.indexEntries = entries;
    std::vector<bool> indexed(items_.size(), false);
    std::vector<std::uint8_t> block;
    constexpr std::uint64_t kBlock = 4096;
    std::uint64_t base = moviCode_;
    for (std::uint64_t first = 0; first < entries; first += kBlock) {
      const std::uint64_t n = std::min(kBlock, entries - first);
      block.resize(n * 16);
      if (!file_.ReadAt(indexAt_ + 8 + first * 16, block.data(), block.size())) {
        Problem("idx1", indexAt_, "read failed");
        return;
      }
      if (first == 0) base = IndexBase(block, n);
      for (std::uint64_t i = 0; i < n; ++i)
        CheckEntry(first + i, block.data() + i * 16, base, &indexed);
    }
    std::uint64_t missing = 0;
    for (std::size_t k = 0; k < items_.size(); ++k) {
      if (indexed[k] || items_[k].list) continue;
      if (++missing <= 3)
        Problem("idx1", items_[k].position,
                "chunk " + FourCCText(items_[k].id) +
                    Format(" at %" PRIu64 " is not indexed", items_[k].position));
    }
    if (missing > 3)
      Problem("idx1", indexAt_, Format("%" PRIu64 " chunks in all are not indexed", missing));
  }

  // Offsets count from the 'movi' code (as this plug-in writes them) or from
  // the start of the file; like readers, decide by which one the first
  // entries land on chunks with.
  std::uint64_t IndexBase(const std::vector<std::uint8_t>& block, std::uint64_t n) {
    int relative = 0, absolute = 0;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(n, 32); ++i) {
      const std::uint8_t* e = block.data() + i * 16;
      const std::uint32_t id = Le32(e), offset = Le32(e + 8);
      const std::int64_t rel = Find(moviCode_ + offset), abs = Find(offset);
      relative += rel >= 0 && items_[static_cast<std::size_t>(rel)].id == id;
      absolute += abs >= 0 && items_[static_cast<std::size_t>(abs)].id == id;
    }
    const bool useAbsolute = absolute > relative ||
                             (absolute == relative && n > 0 && Le32(block.data() + 8) > moviCode_);
    r_.indexAbsolute = useAbsolute;
    return useAbsolute ? 0 : moviCode_;
  }

  void CheckEntry(std::uint64_t i, const std::uint8_t* e, std::uint64_t base,
                  std::vector<bool>* indexed) {
    const std::uint32_t id = Le32(e), flags = Le32(e + 4), offset = Le32(e + 8),
                        length = Le32(e + 12);
    const std::uint64_t at = indexAt_ + 8 + i * 16;
    const std::string field = Format("idx1 entry %" PRIu64 " ", i);
    const std::int64_t k = Find(base + offset);
    if (k < 0) {
      Problem(field + "offset", at,
              Format("%" PRIu32 " (file offset %" PRIu64 ") names no chunk of 'movi'", offset,
                     base + offset));
      return;
    }
    const MoviItem& item = items_[static_cast<std::size_t>(k)];
    (*indexed)[static_cast<std::size_t>(k)] = true;
    if (item.id != id) {
      Problem(field + "id", at,
              FourCCText(id) + Format(", the chunk at %" PRIu64 " is ", item.position) +
                  (item.list ? "LIST " : "") + FourCCText(item.id));
      return;
    }
    if (item.size != length)
      Problem(field + "length", at,
              Format("%" PRIu32 ", the chunk %s at %" PRIu64 " holds %" PRIu32, length,
                     FourCCText(id).c_str(), item.position, item.size));
    if (((flags & kIndexList) != 0) != item.list)
      Problem(field + "flags", at,
              Format("0x%" PRIx32 ": the list flag 0x01 ", flags) +
                  (item.list ? "is missing for a list" : "is set for a chunk"));
    const std::string kind = ChunkKind(id);
    const int stream = StreamOfChunk(id);
    // '##db' holds whole pictures: always key frames. Where a stream keeps its
    // key frames as '##db' and the others as '##dc' (as this plug-in does),
    // a key-frame flag on '##dc' contradicts the naming; writers that name
    // every frame '##dc' are left alone.
    if (stream >= 0 && kind == "db" && (flags & kIndexKeyFrame) == 0)
      Problem(field + "flags", at,
              Format("0x%" PRIx32 ": the key-frame flag 0x10 is missing for ", flags) +
                  FourCCText(id) + " (a whole picture)");
    if (stream >= 0 && kind == "dc" && (flags & kIndexKeyFrame) != 0 &&
        keysAsDb_.count(stream) != 0 && deltasAsDc_.count(stream) != 0)
      Problem(field + "flags", at,
              Format("0x%" PRIx32 ": key-frame flag on ", flags) + FourCCText(id) +
                  ", where this stream stores key frames as '##db'");
  }

  void CheckStreams() {
    const VerifiedStream* video = Stream("vids");
    for (std::size_t n = 0; n < r_.streams.size(); ++n) {
      const VerifiedStream& s = r_.streams[n];
      const std::string field = Format("stream %zu ", n);
      const std::uint64_t at = strhAt_[n];
      if (s.type.empty()) {
        Problem(field + "strh", at, "the stream list has no 'strh'");
        continue;
      }
      if (s.rate == 0 || s.scale == 0)
        Problem(field + "rate", at,
                Format("rate %" PRIu32 " over scale %" PRIu32 " gives no time", s.rate, s.scale));
      std::uint64_t counted = s.chunks, countedFirst = s.chunksInFirstForm;
      std::string unit = "chunks";
      if (s.type == "auds" && s.sampleSize != 0) {
        const std::uint32_t align = s.blockAlign != 0 ? s.blockAlign : s.sampleSize;
        counted = s.bytes / align;
        countedFirst = s.bytesInFirstForm / align;
        unit = Format("blocks of %" PRIu32 " bytes", align);
        if (s.bytes % align != 0)
          Note(field + "audio bytes", at,
               Format("%" PRIu64 " is not a whole number of blocks", s.bytes));
      }
      CompareLength(field + "length", at, s.length, counted, countedFirst, unit);
      if (s.suggestedBuffer != 0 && s.suggestedBuffer < s.largest)
        Note(field + "suggested buffer size", at,
             Format("%" PRIu32 " is below the largest chunk, %" PRIu64 " bytes", s.suggestedBuffer,
                    s.largest));
    }
    if (avihAt_ == 0) {
      Problem("avih", 12, "no main header");
      return;
    }
    if (r_.streamCount != r_.streams.size())
      Problem("avih streams", avihAt_,
              Format("%" PRIu32 ", the headers describe %zu", r_.streamCount, r_.streams.size()));
    if (video != nullptr) {
      // OpenDML keeps the whole count in 'dmlh'; the main header may count the first form only.
      if (r_.openDml)
        CompareLength("dmlh total frames", avihAt_, dmlhFrames_, video->chunks, video->chunks,
                      "chunks");
      else
        CompareLength("avih total frames", avihAt_, r_.totalFrames, video->chunks, video->chunks,
                      "chunks");
    }
    std::uint64_t largest = r_.largestRecord;
    for (const VerifiedStream& s : r_.streams) largest = std::max(largest, s.largest);
    if (r_.mainSuggestedBuffer != 0 && r_.mainSuggestedBuffer < largest)
      Note("avih suggested buffer size", avihAt_,
           Format("%" PRIu32 " is below the largest chunk or record, %" PRIu64 " bytes",
                  r_.mainSuggestedBuffer, largest));
  }

  void CompareLength(const std::string& field, std::uint64_t at, std::uint32_t length,
                     std::uint64_t counted, std::uint64_t countedFirst, const std::string& unit) {
    if (length == counted || (r_.openDml && length == countedFirst)) return;
    const std::string text =
        Format("%" PRIu32 ", the file holds %" PRIu64 " ", length, counted) + unit;
    if (length < counted)
      Problem(field, at, text + "; readers that trust the header stop early");
    else
      Note(field, at, text + " (an export that ended early; readers go by the index)");
  }

  ByteReader& file_;
  VerifyReport& r_;
  std::vector<MoviItem> items_;
  std::vector<std::uint64_t> strhAt_;
  std::set<int> keysAsDb_, deltasAsDc_;
  std::uint64_t moviCode_ = 0, indexAt_ = 0, indexEnd_ = 0, avihAt_ = 0;
  std::uint32_t indexSize_ = 0, dmlhFrames_ = 0;
  bool haveMovi_ = false, seenHeaders_ = false;
};

}  // namespace

VerifyReport VerifyAvi(const std::string& path) {
  VerifyReport report;
  report.path = path;
  FileReader file;
  if (!file.Open(path, &report.error)) return report;
  return VerifyAvi(file, path);
}

VerifyReport VerifyAvi(ByteReader& file, const std::string& path) {
  VerifyReport report;
  report.path = path;
  report.readable = true;
  report.fileSize = file.size();
  Verifier(file, report).Run();
  if (report.openDml) (void)CheckOpenDmlIndexes(file, report);
  return report;
}

std::string FormatReport(const VerifyReport& r) {
  if (!r.readable) return r.error + "\n";
  std::string out =
      r.path + Format(": %" PRIu64 " bytes, RIFF 'AVI ' of size %" PRIu32
                      " (32-bit size headroom %" PRIu64 " bytes)",
                      r.fileSize, r.riffSize, std::uint64_t{0xffffffffu} - r.riffSize);
  if (r.extensionForms > 0) out += Format(", %d 'AVIX' form(s)", r.extensionForms);
  if (r.openDml) out += ", OpenDML";
  out += "\n";
  out += Format("main header: %" PRIu32 " frames, %" PRIu32 " streams, flags 0x%" PRIx32
                ", suggested buffer %" PRIu32 "\n",
                r.totalFrames, r.streamCount, r.flags, r.mainSuggestedBuffer);
  for (std::size_t n = 0; n < r.streams.size(); ++n) {
    const VerifiedStream& s = r.streams[n];
    out += Format("stream %zu '%s'%s%s: rate %" PRIu32 "/%" PRIu32 ", length %" PRIu32 ", %" PRIu64
                  " chunks, %" PRIu64 " bytes, largest %" PRIu64 ", suggested buffer %" PRIu32 "\n",
                  n, s.type.c_str(), s.handler.empty() ? "" : " ", s.handler.c_str(), s.rate,
                  s.scale, s.length, s.chunks, s.bytes, s.largest, s.suggestedBuffer);
  }
  if (r.records > 0)
    out += Format("records: %" PRIu64 " 'rec ' lists, largest %" PRIu64 " bytes\n", r.records,
                  r.largestRecord);
  if (r.hasIndex)
    out += Format("idx1: %" PRIu64 " entries, offsets from %s\n", r.indexEntries,
                  r.indexAbsolute ? "the start of the file" : "the 'movi' code");
  else
    out += "idx1: none\n";
  if (r.skewKnown)
    out += Format("skew: audio ahead of the video by up to %.1f ms, behind by up to %.1f ms\n",
                  r.leadMs, r.lagMs);
  for (const VerifyFinding& n : r.notes)
    out += "note: " + n.field + Format(" (at %" PRIu64 "): ", n.offset) + n.message + "\n";
  for (const VerifyFinding& p : r.problems)
    out += "problem: " + p.field + Format(" (at %" PRIu64 "): ", p.offset) + p.message + "\n";
  if (r.problemCount > r.problems.size())
    out += Format("... and %" PRIu64 " more problems\n", r.problemCount - r.problems.size());
  if (r.unfinished) out += "the export never finished: norvavi repair can finish the file\n";
  out += r.problemCount == 0 ? "sound\n"
                             : Format("NOT SOUND: %" PRIu64 " problem(s)\n", r.problemCount);
  return out;
}

std::string FormatReportJson(const VerifyReport& r) {
  using nlohmann::json;
  json j;
  j["file"] = r.path;
  if (!r.readable) {
    j["error"] = r.error;
    return j.dump(2) + "\n";
  }
  auto findings = [](const std::vector<VerifyFinding>& list) {
    json a = json::array();
    for (const VerifyFinding& f : list)
      a.push_back({{"field", f.field}, {"offset", f.offset}, {"message", f.message}});
    return a;
  };
  j["sound"] = r.sound();
  j["size"] = r.fileSize;
  j["riff"] = {{"size", r.riffSize},
               {"headroom32", std::uint64_t{0xffffffffu} - r.riffSize},
               {"extensionForms", r.extensionForms},
               {"openDml", r.openDml},
               {"unfinished", r.unfinished}};
  j["mainHeader"] = {{"totalFrames", r.totalFrames},
                     {"streams", r.streamCount},
                     {"flags", r.flags},
                     {"suggestedBuffer", r.mainSuggestedBuffer}};
  j["streams"] = json::array();
  for (const VerifiedStream& s : r.streams)
    j["streams"].push_back({{"type", s.type},
                            {"handler", s.handler},
                            {"rate", s.rate},
                            {"scale", s.scale},
                            {"length", s.length},
                            {"chunks", s.chunks},
                            {"bytes", s.bytes},
                            {"largestChunk", s.largest},
                            {"suggestedBuffer", s.suggestedBuffer}});
  j["records"] = {{"count", r.records}, {"largest", r.largestRecord}};
  j["index"] = {{"present", r.hasIndex},
                {"entries", r.indexEntries},
                {"offsets", r.indexAbsolute ? "absolute" : "movi"}};
  if (r.skewKnown) j["skewMs"] = {{"lead", r.leadMs}, {"lag", r.lagMs}};
  j["problemCount"] = r.problemCount;
  j["problems"] = findings(r.problems);
  j["notes"] = findings(r.notes);
  return j.dump(2) + "\n";
}

}  // namespace norv::cli
