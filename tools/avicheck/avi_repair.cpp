#include "tools/avicheck/avi_repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/avicheck/avi_verify.h"
#include "tools/avicheck/odml_repair.h"
#include "tools/avicheck/repair_steps.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

namespace {

std::string At(std::uint64_t offset) {
  return " at " + std::to_string(offset);
}

std::string Unexpected(std::uint32_t id, std::uint32_t type, std::uint64_t at) {
  return "a layout this plug-in does not write (" +
         (id == kList ? "LIST " + FourCCText(type) : FourCCText(id)) + At(at) + ")";
}

struct StreamInfo {
  std::string type;
  std::uint64_t strhAt = 0;  // header of the 'strh' chunk
  std::uint32_t length = 0, sampleSize = 0, blockAlign = 0;
  std::uint64_t chunks = 0, bytes = 0;
};

struct Plan {
  std::uint64_t avihAt = 0;
  std::uint32_t totalFrames = 0;
  std::vector<StreamInfo> streams;
  std::uint64_t moviAt = 0;  // LIST header of 'movi'
  std::uint64_t keptEnd = 0;
  bool addPad = false;
  std::vector<std::uint8_t> index;  // 16-byte entries
  std::uint64_t records = 0, chunks = 0;
};

class Planner {
 public:
  Planner(FileReader& file, Plan& plan) : f_(file), p_(plan) {}

  void Run() {
    const std::uint64_t size = f_.size();
    std::uint8_t h[12];
    if (!f_.ReadAt(0, h, 12) || Le32(h) != kRiff || Le32(h + 8) != FourCCValue("AVI "))
      Refuse("not a RIFF 'AVI ' file");
    const std::uint32_t riffSize = Le32(h + 4);
    bool headers = false;
    std::uint64_t at = 12;
    for (;;) {
      if (!f_.ReadAt(at, h, 12)) Refuse("no LIST 'movi': the file ends" + At(at));
      const std::uint32_t id = Le32(h), n = Le32(h + 4), type = Le32(h + 8);
      if (!LooksLikeChunkId(id)) Refuse("unreadable chunk id " + FourCCText(id) + At(at));
      if (id == kList && type == FourCCValue("movi")) break;
      const std::uint64_t end = at + 8 + n;
      if (end > size) Refuse("the headers are cut off (" + FourCCText(id) + At(at) + ")");
      // Key frames are told by the chunk ids only in this plug-in's layout;
      // anything else before 'movi' means another writer.
      if (id != kList || type != FourCCValue("hdrl") || headers)
        Refuse(Unexpected(id, type, at) + " before 'movi'");
      ReadHeaders(at + 12, end);
      headers = true;
      at = end + (n & 1);
    }
    if (!headers || p_.avihAt == 0 || p_.streams.empty())
      Refuse("no LIST 'hdrl' with a main header and stream headers before 'movi'");
    p_.moviAt = at;
    if (riffSize != 0 && std::uint64_t{riffSize} + 8 < at + 12)
      Refuse("the RIFF size, " + std::to_string(riffSize) + ", ends before LIST 'movi'");
    const std::uint32_t moviSize = Le32(h + 4);
    const std::uint64_t moviEnd = at + 8 + std::uint64_t{moviSize};
    std::uint64_t limit = size;
    if (moviSize != 0 && moviEnd <= size) {
      if (moviSize < 4) Refuse("LIST 'movi' of size " + std::to_string(moviSize));
      const std::uint64_t after = moviEnd + (moviSize & 1);
      if (f_.ReadAt(after, h, 8) && Le32(h) == FourCCValue("idx1") &&
          after + 8 + Le32(h + 4) <= size)
        Refuse("the file is finished: it has its 'idx1' index (norvavi verify checks it)");
      limit = moviEnd;
    }
    Scan(at + 12, limit);
  }

 private:
  void ReadHeaders(std::uint64_t at, std::uint64_t end) {
    while (at + 8 <= end) {
      // A list type cut off by the end of 'hdrl' reads as 0, not as the last one's.
      std::uint8_t h[12] = {};
      if (!f_.ReadAt(at, h, std::min<std::uint64_t>(12, end - at))) break;
      const std::uint32_t id = Le32(h), n = Le32(h + 4);
      const std::uint64_t next = at + 8 + n + (n & 1);
      if (id == FourCCValue("avih") && n >= 40) {
        std::uint8_t d[40];
        if (f_.ReadAt(at + 8, d, sizeof d)) {
          p_.avihAt = at;
          p_.totalFrames = Le32(d + 16);
        }
      } else if (id == kList && Le32(h + 8) == FourCCValue("strl")) {
        p_.streams.emplace_back();
        ReadStream(at + 12, std::min(at + 8 + n, end));
      } else {
        Refuse(Unexpected(id, Le32(h + 8), at) + " in 'hdrl'");
      }
      at = next;
    }
  }

  void ReadStream(std::uint64_t at, std::uint64_t end) {
    StreamInfo& s = p_.streams.back();
    std::uint8_t h[8], d[48];
    while (at + 8 <= end && f_.ReadAt(at, h, 8)) {
      const std::uint32_t id = Le32(h), n = Le32(h + 4);
      if (id == FourCCValue("strh") && n >= 48 && f_.ReadAt(at + 8, d, 48)) {
        s.type = FourCCText(Le32(d)).substr(1, 4);
        s.strhAt = at;
        s.length = Le32(d + 32);
        s.sampleSize = Le32(d + 44);
      } else if (id == FourCCValue("strf") && s.type == "auds" && n >= 14 &&
                 f_.ReadAt(at + 8, d, 14)) {
        s.blockAlign = Le16(d + 12);
      } else if (id != FourCCValue("strf")) {
        Refuse(Unexpected(id, 0, at) + " in a stream list");
      }
      at += 8 + std::uint64_t{n} + (n & 1);
    }
    if (s.type.empty()) Refuse("a stream list without a 'strh' stream header");
  }

  void AddEntry(std::uint32_t id, std::uint32_t flags, std::uint64_t at, std::uint32_t length) {
    const std::uint64_t offset = at - (p_.moviAt + 8);
    std::uint8_t e[16];
    PutLe32(e, id);
    PutLe32(e + 4, flags);
    PutLe32(e + 8, static_cast<std::uint32_t>(offset));
    PutLe32(e + 12, length);
    p_.index.insert(p_.index.end(), e, e + 16);
  }

  // A stream chunk: refused unless it names a known stream.
  void AddChunk(std::uint32_t id, std::uint64_t at, std::uint32_t size) {
    const int stream = StreamOfChunk(id);
    if (stream < 0 || static_cast<std::size_t>(stream) >= p_.streams.size())
      Refuse("chunk " + FourCCText(id) + At(at) + " inside 'movi' names no stream of the file");
    StreamInfo& s = p_.streams[static_cast<std::size_t>(stream)];
    ++s.chunks;
    s.bytes += size;
    ++p_.chunks;
    // The writer names key frames '##db' and the others '##dc'.
    AddEntry(id, ChunkKind(id) == "db" ? kIndexKeyFrame : 0, at, size);
  }

  void Scan(std::uint64_t at, std::uint64_t limit) {
    p_.keptEnd = at;
    std::uint8_t h[12];
    while (limit - at >= 8) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(12, limit - at));
      if (!f_.ReadAt(at, h, want)) break;
      const std::uint32_t id = Le32(h), size = Le32(h + 4);
      const std::uint64_t end = at + 8 + std::uint64_t{size};
      if (id == 0 && size == 0) break;  // never written: the rest of the file is torn
      if (id == kList) {
        if (want < 12) break;
        if (Le32(h + 8) != FourCCValue("rec "))
          Refuse("LIST " + FourCCText(Le32(h + 8)) + At(at) + " inside 'movi'");
        // A record not yet closed keeps its declared size 0: torn.
        if (size < 4 || end > limit) break;
        ScanRecord(at, end);
        at = end + (size & 1);
      } else if (id == FourCCValue("JUNK")) {
        if (end > limit) break;
        at = end + (size & 1);
      } else if (id == FourCCValue("idx1")) {
        Refuse("an 'idx1' chunk" + At(at) + " inside a 'movi' of declared size 0");
      } else if (StreamOfChunk(id) >= 0) {
        if (end > limit) break;
        AddChunk(id, at, size);
        at = end + (size & 1);
        // The pad byte may be all that is missing: the finished file gets it back.
        p_.addPad = at > limit;
        if (p_.addPad) at = limit;
      } else {
        Refuse("unrecognised chunk " + FourCCText(id) + At(at) + " inside 'movi'");
      }
      p_.keptEnd = at;
    }
  }

  // A record whose size fits the file must hold whole chunks exactly.
  void ScanRecord(std::uint64_t at, std::uint64_t end) {
    AddEntry(FourCCValue("rec "), kIndexList, at, static_cast<std::uint32_t>(end - at - 8));
    ++p_.records;
    std::uint8_t h[8];
    std::uint64_t p = at + 12;
    while (p < end) {
      if (end - p < 8 || !f_.ReadAt(p, h, 8))
        Refuse("the record" + At(at) + " does not end with a whole chunk");
      const std::uint32_t id = Le32(h), size = Le32(h + 4);
      const std::uint64_t next = p + 8 + std::uint64_t{size} + (size & 1);
      if (next > end) Refuse("chunk " + FourCCText(id) + At(p) + " runs past its record");
      AddChunk(id, p, size);
      p = next;
    }
  }

  FileReader& f_;
  Plan& p_;
};

// The finished file, written next to `target` and renamed over it.
bool WriteFinished(FileReader& in, const Plan& plan, const std::string& target, mode_t mode,
                   std::string* error) {
  ReplaceFile out(target);
  if (!out.Create(mode, error)) return false;
  const int fd = out.fd();
  bool ok = true;
  std::vector<std::uint8_t> block(1 << 20);
  for (std::uint64_t at = 0; ok && at < plan.keptEnd; at += block.size()) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), plan.keptEnd - at));
    ok = in.ReadAt(at, block.data(), n) && WriteAll(fd, block.data(), n);
  }
  const std::uint8_t pad = 0;
  if (ok && plan.addPad) ok = WriteAll(fd, &pad, 1);
  const std::uint64_t moviEnd = plan.keptEnd + (plan.addPad ? 1 : 0);
  std::uint8_t head[8];
  PutLe32(head, FourCCValue("idx1"));
  PutLe32(head + 4, static_cast<std::uint32_t>(plan.index.size()));
  ok = ok && WriteAll(fd, head, 8) && WriteAll(fd, plan.index.data(), plan.index.size());
  const std::uint64_t total = moviEnd + 8 + plan.index.size();
  ok = ok && Patch32(fd, 4, static_cast<std::uint32_t>(total - 8)) &&
       Patch32(fd, plan.moviAt + 4, static_cast<std::uint32_t>(moviEnd - plan.moviAt - 8));
  const StreamInfo* video = nullptr;
  for (const StreamInfo& s : plan.streams) {
    std::uint64_t length = s.chunks;
    if (s.type == "auds" && s.sampleSize != 0)
      length = s.bytes / (s.blockAlign != 0 ? s.blockAlign : s.sampleSize);
    ok = ok && Patch32(fd, s.strhAt + 8 + 32, static_cast<std::uint32_t>(length));
    if (video == nullptr && s.type == "vids") video = &s;
  }
  if (video != nullptr)
    ok = ok && Patch32(fd, plan.avihAt + 8 + 16, static_cast<std::uint32_t>(video->chunks));
  if (!ok) {
    *error = "writing " + target + " failed: " + std::strerror(errno);
    return false;
  }
  return PutInPlace(out, error);
}

}  // namespace

RepairResult RepairAvi(const RepairOptions& options) {
  RepairResult result;
  if (options.inPlace == !options.output.empty()) {
    result.status = 2;
    result.message = options.inPlace ? "give either OUT or --in-place, not both"
                                     : "give OUT, or --in-place to replace IN";
    return result;
  }
  FileReader in;
  if (!in.Open(options.input, &result.message)) {
    result.status = 2;
    return result;
  }
  const std::string target = options.inPlace ? options.input : options.output;
  std::error_code ec;
  if (!options.inPlace && std::filesystem::equivalent(options.input, options.output, ec)) {
    result.status = 2;
    result.message = "OUT is IN: use --in-place to replace it";
    return result;
  }
  Plan plan;
  try {
    const OpenDmlFile openDml = ClassifyOpenDml(in);
    if (openDml == OpenDmlFile::kCut) return RepairOpenDml(in, target);
    if (openDml == OpenDmlFile::kFinished)
      Refuse("the file is finished: every RIFF form has its size (norvavi verify checks it)");
    Planner(in, plan).Run();
    const std::uint64_t total = plan.keptEnd + (plan.addPad ? 1 : 0) + 8 + plan.index.size();
    if (total - 8 > 0xffffffffu) Refuse("the finished file would pass 4 GiB");
  } catch (const Refusal& refusal) {
    result.status = 1;
    result.message = RefusalMessage(refusal.text);
    return result;
  }
  struct stat st {};
  ::fstat(in.fd(), &st);
  if (!WriteFinished(in, plan, target, st.st_mode, &result.message)) {
    result.status = 1;
    return result;
  }
  // The frames counted are those the main header now announces: the first video stream's.
  bool video = false;
  for (const StreamInfo& s : plan.streams) {
    if (s.type == "vids" && !video) result.videoFrames = s.chunks, video = true;
    if (s.type == "auds") result.audioBytes += s.bytes;
  }
  result.chunksKept = plan.chunks;
  result.recordsKept = plan.records;
  result.bytesDropped = in.size() - plan.keptEnd;
  char text[512];
  std::snprintf(text, sizeof text,
                "repaired %s: %" PRIu64 " chunks (%" PRIu64 " video frames, %" PRIu64
                " audio bytes) in %" PRIu64 " records kept, %" PRIu64
                " bytes of a torn end dropped, idx1 rebuilt with %zu entries, sizes and "
                "stream lengths set to what the file holds",
                target.c_str(), result.chunksKept, result.videoFrames, result.audioBytes,
                result.recordsKept, result.bytesDropped, plan.index.size() / 16);
  result.message = text;
  return result;
}

}  // namespace norv::cli
