#include "tools/avicheck/salvage_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/avicheck/repair_steps.h"
#include "tools/avicheck/replace_file.h"

namespace norv::cli::salvage {

namespace {

std::uint32_t Id(const char (&code)[5]) {
  return FourCCValue(code);
}

std::size_t StreamOf(const Entry& e) {
  return static_cast<std::size_t>(StreamOfChunk(e.id));
}

std::uint64_t Whole(std::uint32_t size) {
  return 8 + std::uint64_t{size} + (size & 1);
}

// What a chunk adds to its stream's OpenDML durations: audio counts blocks,
// the rest chunks.
std::uint32_t Ticks(const HeaderStream& s, std::uint32_t size) {
  return s.type == "auds" && s.blockAlign != 0 ? size / s.blockAlign : 1;
}

void U32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  std::uint8_t p[4];
  PutLe32(p, v);
  b.insert(b.end(), p, p + 4);
}

// The entries of one RIFF form, [first, end).
struct Form {
  std::size_t first = 0, end = 0;
};

// Forms of at most `limit` bytes (one chunk alone may pass it), with room
// for their standard indexes and, in the first, 'idx1'.
std::vector<Form> PlanForms(const HeaderBlock& h, const std::vector<Entry>& entries,
                            std::uint64_t limit) {
  std::vector<Form> forms{{0, 0}};
  std::uint64_t bytes = 12 + h.bytes.size() + 12 + 8;
  std::vector<bool> indexed(h.streams.size(), false);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t s = StreamOf(entries[i]);
    auto cost = [&] {
      return Whole(entries[i].size) + 8 + (forms.size() == 1 ? 16 : 0) +
             (indexed[s] ? 0 : 8 + kIndexHeaderBytes);
    };
    if (forms.back().end > forms.back().first && bytes + cost() > limit) {
      forms.push_back({i, i});
      bytes = 24;
      indexed.assign(indexed.size(), false);
    }
    bytes += cost();
    indexed[s] = true;
    forms.back().end = i + 1;
  }
  return forms;
}

// How many super index entries the room of a stream's 'indx' holds.
std::size_t Room(const HeaderBlock& h, const HeaderStream& s) {
  if (s.indx == 0) return 0;
  const std::uint32_t size = Le32(h.bytes.data() + s.indx + 4);
  return size < kIndexHeaderBytes ? 0 : (size - kIndexHeaderBytes) / 16;
}

// An OpenDML copy needs 'dmlh' and, for every stream with chunks, a super
// index with room for an entry per form.
bool FitsOpenDml(const HeaderBlock& h, const std::vector<Entry>& entries,
                 const std::vector<Form>& forms) {
  if (h.dmlh == 0) return false;
  std::vector<std::size_t> formsOf(h.streams.size(), 0);
  for (const Form& f : forms) {
    std::vector<bool> in(h.streams.size(), false);
    for (std::size_t i = f.first; i < f.end; ++i) in[StreamOf(entries[i])] = true;
    for (std::size_t s = 0; s < in.size(); ++s) formsOf[s] += in[s] ? 1 : 0;
  }
  for (std::size_t s = 0; s < h.streams.size(); ++s)
    if (formsOf[s] > Room(h, h.streams[s])) return false;
  return true;
}

struct SuperEntry {
  std::uint64_t offset = 0;  // of the standard index's chunk header
  std::uint32_t size = 0, duration = 0;
};

// Appends to the copy and knows where it stands.
class Output {
 public:
  Output(FileReader& in, int fd) : in_(in), fd_(fd) {}

  std::uint64_t at() const { return at_; }
  bool ok() const { return ok_; }

  void Put(const void* data, std::size_t n) {
    ok_ = ok_ && WriteAll(fd_, data, n);
    at_ += n;
  }
  void Head(std::uint32_t id, std::uint32_t size, std::uint32_t type = 0) {
    std::uint8_t h[12];
    PutLe32(h, id);
    PutLe32(h + 4, size);
    PutLe32(h + 8, type);
    Put(h, type != 0 ? 12 : 8);
  }
  // The chunk from the input, with its size put right where it was overwritten.
  void Copy(const Entry& e) {
    // The pad byte may be missing at the end of a torn file: written as 0.
    data_.assign(static_cast<std::size_t>(Whole(e.size)), 0);
    ok_ = ok_ && in_.ReadAt(e.from, data_.data(), 8 + std::size_t{e.size});
    PutLe32(data_.data() + 4, e.size);
    Put(data_.data(), data_.size());
  }
  // Closes a list or form that began at `at`.
  void Close(std::uint64_t at) {
    ok_ = ok_ && Patch32(fd_, at + 4, static_cast<std::uint32_t>(at_ - at - 8));
  }
  void Patch(std::uint64_t at, const std::vector<std::uint8_t>& b) {
    ok_ = ok_ && PatchBytes(fd_, at, b.data(), b.size());
  }

 private:
  FileReader& in_;
  int fd_;
  std::uint64_t at_ = 0;
  bool ok_ = true;
  std::vector<std::uint8_t> data_;
};

// One form: its chunks, its standard indexes (OpenDML) and, in the first,
// 'idx1' after 'movi'. The header block is written as it stands and patched
// once every form is done.
void WriteForm(Output& o, const HeaderBlock& h, const std::vector<Entry>& entries, const Form& f,
               bool first, bool openDml, std::vector<std::vector<SuperEntry>>& super) {
  const std::uint64_t formAt = o.at();
  o.Head(kRiff, 0, Id(first ? "AVI " : "AVIX"));
  if (first) o.Put(h.bytes.data(), h.bytes.size());
  const std::uint64_t moviAt = o.at();
  o.Head(kList, 0, Id("movi"));
  std::vector<std::uint8_t> idx1;
  std::vector<std::vector<std::uint8_t>> ix(h.streams.size());
  std::vector<std::uint32_t> ticks(h.streams.size(), 0), chunkIds(h.streams.size(), 0);
  for (std::size_t i = f.first; i < f.end; ++i) {
    const Entry& e = entries[i];
    const std::size_t s = StreamOf(e);
    if (first) {
      U32(idx1, e.id);
      U32(idx1, e.flags);
      U32(idx1, static_cast<std::uint32_t>(o.at() - (moviAt + 8)));
      U32(idx1, e.size);
    }
    // Standard index entries count from their form's start.
    U32(ix[s], static_cast<std::uint32_t>(o.at() + 8 - formAt));
    U32(ix[s], e.size | ((e.flags & kIndexKeyFrame) != 0 ? 0 : kIndexDeltaFrame));
    ticks[s] += Ticks(h.streams[s], e.size);
    if (chunkIds[s] == 0) chunkIds[s] = e.id;
    o.Copy(e);
  }
  for (std::size_t s = 0; openDml && s < ix.size(); ++s) {
    if (ix[s].empty()) continue;
    const auto count = static_cast<std::uint32_t>(ix[s].size() / 8);
    std::vector<std::uint8_t> b;
    const auto digits = static_cast<std::uint32_t>((s / 10 % 10) << 16 | (s % 10) << 24);
    U32(b, Id("ix00") + digits);
    U32(b, kIndexHeaderBytes + 8 * count);
    U32(b, 2u | (std::uint32_t{kIndexOfChunks} << 24));  // longs per entry, sub-type, type
    U32(b, count);
    U32(b, chunkIds[s]);
    U32(b, static_cast<std::uint32_t>(formAt));
    U32(b, static_cast<std::uint32_t>(formAt >> 32));
    U32(b, 0);
    b.insert(b.end(), ix[s].begin(), ix[s].end());
    super[s].push_back({o.at(), static_cast<std::uint32_t>(b.size()), ticks[s]});
    o.Put(b.data(), b.size());
  }
  o.Close(moviAt);
  if (first) {
    o.Head(Id("idx1"), static_cast<std::uint32_t>(idx1.size()));
    o.Put(idx1.data(), idx1.size());
  }
  o.Close(formAt);
}

// A stream's super index in its room (the rest of the room zeros), or the
// room made JUNK when no form indexes the stream.
void FillSuperIndex(HeaderBlock& h, const HeaderStream& hs, const std::vector<SuperEntry>& super,
                    std::uint32_t chunkId) {
  std::uint8_t* room = h.bytes.data() + hs.indx;
  if (super.empty()) {
    PutLe32(room, Id("JUNK"));
    return;
  }
  std::uint8_t* p = room + 8;
  std::fill(p, p + Le32(room + 4), std::uint8_t{0});
  PutLe32(p, 4u | (std::uint32_t{kIndexOfIndexes} << 24));  // longs per entry, sub-type, type
  PutLe32(p + 4, static_cast<std::uint32_t>(super.size()));
  PutLe32(p + 8, chunkId);
  p += kIndexHeaderBytes;
  for (const SuperEntry& e : super) {
    PutLe32(p, static_cast<std::uint32_t>(e.offset));
    PutLe32(p + 4, static_cast<std::uint32_t>(e.offset >> 32));
    PutLe32(p + 8, e.size);
    PutLe32(p + 12, e.duration);
    p += 16;
  }
}

// The header block with the counts and sizes of what was kept, and the
// super indexes filled (or left as JUNK where nothing points at them).
void PatchHeaders(HeaderBlock& h, const std::vector<Entry>& entries, const Form& firstForm,
                  bool openDml, const std::vector<std::vector<SuperEntry>>& super) {
  const std::size_t n = h.streams.size();
  std::vector<std::uint32_t> largest(n, 0);
  std::vector<std::uint64_t> chunks(n, 0), bytes(n, 0);
  std::vector<std::uint32_t> firstChunkId(n, 0);
  std::uint32_t largestAll = 0;
  for (const Entry& e : entries) {
    const std::size_t s = StreamOf(e);
    if (firstChunkId[s] == 0) firstChunkId[s] = e.id;
    largest[s] = std::max(largest[s], e.size);
    largestAll = std::max(largestAll, e.size);
    ++chunks[s];
    bytes[s] += e.size;
  }
  std::uint64_t frames = 0, firstFormFrames = 0;
  bool video = false;
  for (std::size_t s = 0; s < n; ++s) {
    HeaderStream& hs = h.streams[s];
    if (hs.indx != 0) FillSuperIndex(h, hs, super[s], firstChunkId[s]);
    if (hs.strh == 0) continue;
    std::uint64_t length = chunks[s];
    if (hs.type == "auds" && hs.sampleSize != 0)
      length = bytes[s] / (hs.blockAlign != 0 ? hs.blockAlign : hs.sampleSize);
    if (hs.type == "vids" && !video) {
      video = true;
      frames = chunks[s];
      for (std::size_t i = firstForm.first; i < firstForm.end; ++i)
        firstFormFrames += StreamOf(entries[i]) == s ? 1 : 0;
    }
    PutLe32(h.bytes.data() + hs.strh + 32, static_cast<std::uint32_t>(length));
    PutLe32(h.bytes.data() + hs.strh + 36, largest[s]);
  }
  std::uint8_t* avih = h.bytes.data() + h.avih;
  PutLe32(avih + 12, Le32(avih + 12) | kMainHasIndex);
  // An OpenDML file's main header counts the first form, which AVI 1.0
  // readers see; 'dmlh' counts them all.
  PutLe32(avih + 16, static_cast<std::uint32_t>(openDml ? firstFormFrames : frames));
  PutLe32(avih + 28, largestAll);
  if (h.dmlh != 0) PutLe32(h.bytes.data() + h.dmlh, static_cast<std::uint32_t>(frames));
}

}  // namespace

bool Write(FileReader& in, HeaderBlock& h, const std::vector<Entry>& entries,
           const std::string& target, mode_t mode, std::uint64_t formBytes, std::string* error) {
  // A form's offsets are 32 bits: whatever the caller asks, forms stay
  // well inside that (a chunk may still pass the limit by its own size).
  std::vector<Form> forms = PlanForms(h, entries, std::min(formBytes, std::uint64_t{1} << 31));
  const bool openDml = FitsOpenDml(h, entries, forms);
  if (!openDml) {
    forms = {{0, entries.size()}};
    std::uint64_t total = 12 + h.bytes.size() + 12 + 8 + 16 * entries.size();
    for (const Entry& e : entries) total += Whole(e.size);
    if (total - 8 > 0xFFFFFFFFu) {
      *error =
          "not salvaged, nothing written: what was found passes 4 GiB, more than an AVI "
          "1.0 file holds (its headers have no room for OpenDML indexes)";
      return false;
    }
  }
  ReplaceFile out(target);
  if (!out.Create(mode, error)) return false;
  Output o(in, out.fd());
  std::vector<std::vector<SuperEntry>> super(h.streams.size());
  for (std::size_t f = 0; f < forms.size() && o.ok(); ++f)
    WriteForm(o, h, entries, forms[f], f == 0, openDml, super);
  PatchHeaders(h, entries, forms.front(), openDml, super);
  o.Patch(12, h.bytes);
  if (!o.ok()) {
    *error = "writing " + target + " failed: " + std::strerror(errno);
    return false;
  }
  return PutInPlace(out, error);
}

}  // namespace norv::cli::salvage
