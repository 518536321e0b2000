#include "tools/avicheck/avi_salvage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/avicheck/riff_reader.h"
#include "tools/avicheck/salvage_writer.h"

namespace norv::cli {

namespace {

using salvage::Entry;
using salvage::HeaderBlock;
using salvage::HeaderStream;

// No stream chunk of a real file comes near this; a size above it is garbage.
constexpr std::uint32_t kLargestChunk = 256u << 20;

std::uint32_t Id(const char (&code)[5]) {
  return FourCCValue(code);
}

// A four-character code as its characters, without FourCCText's quotes.
std::string Code(std::uint32_t id) {
  const std::string text = FourCCText(id);
  return text.front() == '\'' ? text.substr(1, 4) : text;
}

// An OpenDML standard index, 'ix##'.
bool IsStandardIndex(std::uint32_t id) {
  return (id & 0xFFFF) == (Id("ix00") & 0xFFFF);
}

class HeaderReader {
 public:
  explicit HeaderReader(HeaderBlock& block) : b_(block) {}

  // False with `why` when the file holds no usable headers.
  bool Read(FileReader& f, std::string* why) {
    std::uint8_t h[12];
    if (!f.ReadAt(0, h, 12) || Le32(h) != kRiff || Le32(h + 8) != Id("AVI "))
      return Fail(why, "it does not start as a RIFF 'AVI ' file");
    std::uint64_t at = 12, end = 12;
    while (f.ReadAt(at, h, 12)) {
      const std::uint32_t id = Le32(h), n = Le32(h + 4);
      if (id == kList && Le32(h + 8) == Id("movi")) {
        b_.moviData = at + 12;
        break;
      }
      if (!LooksLikeChunkId(id) || at + 8 + n > f.size()) break;
      at += 8 + std::uint64_t{n} + (n & 1);
      end = std::min(at, f.size());
    }
    if (end - 12 > (16u << 20)) return Fail(why, "its headers are larger than any writer makes");
    b_.bytes.resize(static_cast<std::size_t>(end - 12));
    if (!f.ReadAt(12, b_.bytes.data(), b_.bytes.size()))
      return Fail(why, "its headers cannot be read");
    Walk(0, b_.bytes.size(), 0);
    if (b_.avih == 0 || b_.streams.empty())
      return Fail(why, "it has no LIST 'hdrl' with a main header and stream headers");
    return true;
  }

 private:
  static bool Fail(std::string* why, const char* text) {
    *why = text;
    return false;
  }

  // The chunks in [at, end) of the block, inside a list of type `parent`
  // (0: the form itself). Only what readers take counts: 'hdrl' in the
  // form; 'avih', the stream lists and 'odml' in 'hdrl'; 'dmlh' in 'odml'.
  void Walk(std::size_t at, std::size_t end, std::uint32_t parent) {
    while (at + 8 <= end) {
      const std::uint8_t* h = b_.bytes.data() + at;
      const std::uint32_t id = Le32(h), n = Le32(h + 4);
      const std::size_t data = at + 8;
      if (n > end - data) break;
      if (id == kList && n >= 4) {
        const std::uint32_t type = Le32(h + 8);
        const bool taken = (parent == 0 && type == Id("hdrl")) ||
                           (parent == Id("hdrl") && (type == Id("strl") || type == Id("odml")));
        if (taken && type == Id("strl")) b_.streams.emplace_back();
        if (taken) Walk(data + 4, data + n, type);
      } else if (parent == Id("hdrl") && id == Id("avih") && n >= 56) {
        b_.avih = data;
      } else if (parent == Id("odml") && id == Id("dmlh") && n >= 4) {
        b_.dmlh = data;
      } else if (parent == Id("strl")) {
        Stream(id, data, n);
      }
      at = data + n + (n & 1);
    }
  }

  void Stream(std::uint32_t id, std::size_t data, std::uint32_t n) {
    HeaderStream& s = b_.streams.back();
    const std::uint8_t* d = b_.bytes.data() + data;
    if (id == Id("strh") && n >= 48) {
      s.type = Code(Le32(d));
      s.strh = data;
      s.sampleSize = Le32(d + 44);
    } else if (id == Id("strf") && s.type == "vids" && n >= 20) {
      s.compression = Le32(d + 16);
    } else if (id == Id("strf") && s.type == "auds" && n >= 14) {
      s.blockAlign = Le16(d + 12);
    } else if (id == Id("indx")) {
      s.indx = data - 8;  // filled again, or made JUNK, by the writer
    }
  }

  HeaderBlock& b_;
};

class Scanner {
 public:
  Scanner(FileReader& f, const HeaderBlock& headers, const KeyFrameJudge& judge,
          SalvageReport& report)
      : f_(f), h_(headers), judge_(judge), r_(report) {}

  std::vector<Entry> Run(std::uint64_t at) {
    const std::uint64_t size = f_.size();
    std::uint8_t h[12];
    while (at < size) {
      const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(12, size - at));
      if (got < 8 || !f_.ReadAt(at, h, got)) {
        Drop(at, size - at, "a torn end");
        break;
      }
      if (got < 12) std::memset(h + got, 0, 12 - got);
      const Step step = Classify(at, h);
      if (step.kind == kChunk && !ChunkStartsAt(at + step.advance)) {
        // Nothing plausible follows: if the next chunk starts inside this
        // one, its size was overwritten and it ends where that one begins.
        const std::uint64_t inner = Resync(at + 8, at + step.advance);
        if (inner < at + step.advance) {
          Keep(at, Le32(h), static_cast<std::uint32_t>(inner - at - 8));
          ++r_.sizesFixed;
          at = inner;
          continue;
        }
      }
      if (step.kind == kChunk) {
        Keep(at, Le32(h), Le32(h + 4));
      } else if (step.kind == kCutOff) {
        // The last chunk of a torn file, or a size that garbage overwrote.
        const std::uint64_t next = Resync(at + 1, size);
        Drop(at, next - at,
             next == size ? "a chunk cut off by the end of the file"
                          : "a chunk whose size runs past the end of the file");
        at = next;
        continue;
      } else if (step.kind == kBad) {
        const std::uint64_t next = Resync(at + 1, size);
        const std::uint64_t zeros = ZeroRun(at, next);
        Drop(at, zeros, "zeros");
        Drop(at + zeros, next - at - zeros, "not a chunk of this file's streams");
        at = next;
        continue;
      } else if (step.kind == kSkip) {
        const std::uint32_t id = Le32(h);
        if (id == Id("idx1") || id == Id("indx") || IsStandardIndex(id)) ++r_.indexChunksSkipped;
      }
      at += step.advance;
    }
    return std::move(entries_);
  }

 private:
  enum Kind { kChunk, kEnter, kSkip, kCutOff, kBad };
  struct Step {
    Kind kind = kBad;
    std::uint64_t advance = 0;
  };

  // What stands at `at`: a chunk of a stream, a list or form to step into,
  // a chunk to step over (indexes, padding, the damaged file's own
  // headers), or none of these.
  Step Classify(std::uint64_t at, const std::uint8_t* h) const {
    const std::uint32_t id = Le32(h), n = Le32(h + 4), type = Le32(h + 8);
    const std::uint64_t whole = 8 + std::uint64_t{n} + (n & 1);
    const bool fits = at + 8 + n <= f_.size();
    if ((id == kRiff && (type == Id("AVI ") || type == Id("AVIX"))) ||
        (id == kList && (type == Id("movi") || type == Id("rec "))))
      return {kEnter, 12};
    const int stream = StreamOfChunk(id);
    if (stream >= 0 && static_cast<std::size_t>(stream) < h_.streams.size() &&
        KindFits(h_.streams[static_cast<std::size_t>(stream)].type, ChunkKind(id)) &&
        n <= kLargestChunk)
      return {fits ? kChunk : kCutOff, whole};
    const bool skippable = id == Id("JUNK") || id == Id("idx1") || id == Id("indx") ||
                           (id == kList && LooksLikeChunkId(type)) || IsStandardIndex(id);
    if (skippable && fits && n <= kLargestChunk) return {kSkip, whole};
    return {kBad, 0};
  }

  static bool KindFits(const std::string& type, const std::string& kind) {
    if (type == "vids") return kind == "db" || kind == "dc";
    if (type == "auds") return kind == "wb";
    return kind.size() == 2;
  }

  // Whether a chunk, list or form of the file stands at `at` (or the file ends there).
  bool ChunkStartsAt(std::uint64_t at) const {
    if (at >= f_.size()) return true;
    std::uint8_t h[12] = {};
    const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(12, f_.size() - at));
    if (got < 8 || !f_.ReadAt(at, h, got)) return false;
    const Kind kind = Classify(at, h).kind;
    return kind == kChunk || kind == kEnter || kind == kSkip;
  }

  // The next place before `end` where a chunk stands; `end` when none does.
  std::uint64_t Resync(std::uint64_t at, std::uint64_t end) const {
    for (; at + 8 <= f_.size() && at < end; ++at)
      if (ChunkStartsAt(at)) return at;
    return end;
  }

  // How many bytes from `from` (before `to`) are zeros.
  std::uint64_t ZeroRun(std::uint64_t from, std::uint64_t to) const {
    std::uint8_t block[4096];
    std::uint64_t at = from;
    while (at < to) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, to - at));
      if (!f_.ReadAt(at, block, n)) break;
      const auto* end = std::find_if(block, block + n, [](std::uint8_t b) { return b != 0; });
      at += static_cast<std::uint64_t>(end - block);
      if (end != block + n) break;
    }
    return at - from;
  }

  void Keep(std::uint64_t at, std::uint32_t id, std::uint32_t size) {
    const auto stream = static_cast<std::size_t>(StreamOfChunk(id));
    const HeaderStream& hs = h_.streams[stream];
    SalvagedStream& s = r_.streams[stream];
    std::uint32_t flags = kIndexKeyFrame;
    if (hs.type == "vids") {
      flags = size == 0 ? 0 : KeyFlag(stream, hs.compression, at + 8, size, s);
      if (flags != 0) ++s.keyFrames;
    }
    ++s.chunks;
    s.bytes += size;
    entries_.push_back({at, id, size, flags});
    if (r_.kept.empty() || broken_) r_.kept.push_back({at, 0, 0, 0});
    broken_ = false;
    KeptRun& run = r_.kept.back();
    run.bytes = at + 8 + size + (size & 1) - run.offset;
    run.frames += hs.type == "vids" ? 1 : 0;
    if (hs.type == "auds") run.audioBlocks += hs.blockAlign != 0 ? size / hs.blockAlign : 1;
  }

  std::uint32_t KeyFlag(std::size_t stream, std::uint32_t compression, std::uint64_t at,
                        std::uint32_t size, SalvagedStream& s) {
    data_.resize(size);
    std::optional<bool> key;
    if (f_.ReadAt(at, data_.data(), size) && judge_)
      key = judge_(static_cast<int>(stream), compression, data_.data(), size);
    if (!key) s.keysJudged = false;
    return key.value_or(true) ? kIndexKeyFrame : 0;
  }

  void Drop(std::uint64_t at, std::uint64_t bytes, const char* why) {
    if (bytes == 0) return;
    broken_ = true;
    r_.bytesDropped += bytes;
    if (!r_.dropped.empty() && r_.dropped.back().why == why &&
        r_.dropped.back().offset + r_.dropped.back().bytes == at) {
      r_.dropped.back().bytes += bytes;
      return;
    }
    r_.dropped.push_back({at, bytes, why});
  }

  FileReader& f_;
  const HeaderBlock& h_;
  const KeyFrameJudge& judge_;
  SalvageReport& r_;
  std::vector<Entry> entries_;
  std::vector<std::uint8_t> data_;
  bool broken_ = false;  // a range was dropped since the last chunk kept
};

// '##db' holds a whole picture. A writer that names its key frames '##db'
// and the others '##dc' has said which is which, and readers that go by the
// names agree with it: there the flags follow the names, not the judge
// (which may find a picture the writer chose not to call a key frame).
void FlagsFromNames(std::vector<Entry>& entries, SalvageReport& r) {
  std::vector<int> kinds(r.streams.size(), 0);  // bit 0: '##db' seen, bit 1: '##dc'
  for (const Entry& e : entries)
    kinds[static_cast<std::size_t>(StreamOfChunk(e.id))] |= ChunkKind(e.id) == "db" ? 1 : 2;
  for (Entry& e : entries) {
    const auto s = static_cast<std::size_t>(StreamOfChunk(e.id));
    SalvagedStream& stream = r.streams[s];
    const bool whole = ChunkKind(e.id) == "db", named = kinds[s] == 3;
    if (stream.type != "vids" || (!whole && !named)) continue;  // the judge's word stands
    const std::uint32_t flags = whole ? kIndexKeyFrame : 0;
    if (flags != e.flags) whole ? ++stream.keyFrames : --stream.keyFrames;
    e.flags = flags;
    if (named) stream.keysJudged = true;
  }
}

}  // namespace

SalvageReport SalvageAvi(const SalvageOptions& options, const KeyFrameJudge& judge) {
  SalvageReport r;
  r.status = 2;
  if (options.output.empty()) {
    r.message = "give OUT: a salvage never writes over its input";
    return r;
  }
  FileReader in;
  if (!in.Open(options.input, &r.message)) return r;
  std::error_code ec;
  if (std::filesystem::equivalent(options.input, options.output, ec)) {
    r.message = "OUT is IN: a salvage never writes over its input";
    return r;
  }
  r.status = 1;
  HeaderBlock headers;
  std::string why;
  if (!HeaderReader(headers).Read(in, &why)) {
    if (options.reference.empty()) {
      r.message = "not salvaged, nothing written: " + options.input + " has no usable headers (" +
                  why + "); --reference GOOD.avi takes them from a sound file of the same device";
      return r;
    }
    FileReader reference;
    headers = HeaderBlock{};
    if (!reference.Open(options.reference, &r.message)) {
      r.status = 2;
      return r;
    }
    if (!HeaderReader(headers).Read(reference, &why)) {
      r.message = "not salvaged, nothing written: the reference " + options.reference +
                  " has no usable headers either (" + why + ")";
      return r;
    }
    headers.moviData = 0;  // the damaged file is searched from its first byte
    r.headersFromReference = true;
  }
  r.streams.resize(headers.streams.size());
  for (std::size_t i = 0; i < headers.streams.size(); ++i) {
    r.streams[i].type = headers.streams[i].type;
    if (headers.streams[i].type == "vids" && headers.streams[i].compression != 0)
      r.streams[i].compression = Code(headers.streams[i].compression);
  }
  std::vector<Entry> entries =
      Scanner(in, headers, judge, r).Run(headers.moviData != 0 ? headers.moviData : 0);
  FlagsFromNames(entries, r);
  if (entries.empty()) {
    r.message = "not salvaged, nothing written: no whole chunk of the file's streams was found";
    return r;
  }
  for (std::size_t i = 0; i < r.streams.size(); ++i)
    if (!r.streams[i].keysJudged)
      r.unfixed.push_back("stream " + std::to_string(i) + ": the key frames of '" +
                          r.streams[i].compression +
                          "' cannot be told from the data; every frame is marked a key frame");
  struct stat st {};
  ::fstat(in.fd(), &st);
  if (!salvage::Write(in, headers, entries, options.output, st.st_mode, options.formBytes,
                      &r.message))
    return r;
  r.status = 0;
  r.message = "salvaged " + options.output + " from " + options.input;
  return r;
}

std::string FormatSalvage(const SalvageReport& r) {
  std::string text = r.message + "\n";
  if (r.status != 0) return text;
  char line[256];
  if (r.headersFromReference) text += "headers: taken from the reference file\n";
  for (std::size_t i = 0; i < r.streams.size(); ++i) {
    const SalvagedStream& s = r.streams[i];
    std::snprintf(line, sizeof line, "stream %zu (%s%s%s): %" PRIu64 " chunks, %" PRIu64 " bytes",
                  i, s.type.c_str(), s.compression.empty() ? "" : " ", s.compression.c_str(),
                  s.chunks, s.bytes);
    text += line;
    if (s.type == "vids")
      text += ", " + std::to_string(s.keyFrames) +
              (s.keysJudged ? " key frames (from the data)" : " marked key");
    text += " kept\n";
  }
  // Kept runs and dropped ranges in the order they stand in the input.
  std::size_t k = 0;
  for (std::size_t d = 0; d <= r.dropped.size(); ++d) {
    const std::uint64_t before = d < r.dropped.size() ? r.dropped[d].offset : UINT64_MAX;
    for (; k < r.kept.size() && r.kept[k].offset < before; ++k) {
      std::snprintf(line, sizeof line,
                    "kept %" PRIu64 " bytes at %" PRIu64 ": %" PRIu64 " frames, %" PRIu64
                    " audio blocks\n",
                    r.kept[k].bytes, r.kept[k].offset, r.kept[k].frames, r.kept[k].audioBlocks);
      text += line;
    }
    if (d == r.dropped.size()) break;
    std::snprintf(line, sizeof line, "dropped %" PRIu64 " bytes at %" PRIu64 ": %s\n",
                  r.dropped[d].bytes, r.dropped[d].offset, r.dropped[d].why.c_str());
    text += line;
  }
  if (r.sizesFixed != 0)
    text += "chunk sizes put right: " + std::to_string(r.sizesFixed) +
            " (each chunk ends where the next begins)\n";
  if (r.indexChunksSkipped != 0)
    text +=
        "old index chunks left out: " + std::to_string(r.indexChunksSkipped) + " (idx1 rebuilt)\n";
  for (const std::string& u : r.unfixed) text += "not fixed: " + u + "\n";
  return text;
}

std::string FormatSalvageJson(const SalvageReport& r) {
  nlohmann::ordered_json j;
  j["status"] = r.status;
  j["message"] = r.message;
  j["headersFromReference"] = r.headersFromReference;
  j["streams"] = nlohmann::ordered_json::array();
  for (const SalvagedStream& s : r.streams)
    j["streams"].push_back({{"type", s.type},
                            {"compression", s.compression},
                            {"chunks", s.chunks},
                            {"bytes", s.bytes},
                            {"keyFrames", s.keyFrames},
                            {"keysFromData", s.keysJudged}});
  j["kept"] = nlohmann::ordered_json::array();
  for (const KeptRun& k : r.kept)
    j["kept"].push_back({{"offset", k.offset},
                         {"bytes", k.bytes},
                         {"frames", k.frames},
                         {"audioBlocks", k.audioBlocks}});
  j["dropped"] = nlohmann::ordered_json::array();
  for (const DroppedRange& d : r.dropped)
    j["dropped"].push_back({{"offset", d.offset}, {"bytes", d.bytes}, {"why", d.why}});
  j["bytesDropped"] = r.bytesDropped;
  j["sizesFixed"] = r.sizesFixed;
  j["indexChunksSkipped"] = r.indexChunksSkipped;
  j["unfixed"] = r.unfixed;
  return j.dump(2) + "\n";
}

}  // namespace norv::cli
