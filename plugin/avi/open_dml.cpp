#include "plugin/avi/open_dml.h"

#include <cstring>

#include "platform/win32_types.h"

using norv::riff::ChunkInfo;
using norv::riff::kOk;
using norv::riff::RiffFile;

namespace {

constexpr std::uint32_t kFourccRiff = MakeFourCC("RIFF");
constexpr std::uint32_t kFourccList = MakeFourCC("LIST");
constexpr std::uint32_t kFourccAvix = MakeFourCC("AVIX");
constexpr std::uint32_t kFourccMovi = MakeFourCC("movi");
constexpr std::uint32_t kFourccJunk = MakeFourCC("JUNK");
constexpr std::uint32_t kFourccIndx = MakeFourCC("indx");
constexpr std::uint32_t kFourccOdml = MakeFourCC("odml");
constexpr std::uint32_t kFourccDmlh = MakeFourCC("dmlh");

// Both index kinds start with the same 24 bytes after the chunk header.
constexpr std::uint8_t kIndexOfIndexes = 0x00;
constexpr std::uint8_t kIndexOfChunks = 0x01;
constexpr std::uint32_t kIndexHeaderBytes = 24;
constexpr std::uint32_t kSuperEntryBytes = 16;
constexpr std::uint32_t kStandardEntryBytes = 8;
constexpr std::uint32_t kSuperIndexBytes =
    kIndexHeaderBytes + kSuperIndexEntries * kSuperEntryBytes;
constexpr std::uint32_t kDeltaFrame = 0x80000000u;

// Little-endian bytes, appended.
class Bytes {
 public:
  void U8(std::uint8_t v) { b_.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
  }
  void Zeros(std::size_t n) { b_.resize(b_.size() + n, 0); }
  const std::uint8_t* data() const { return b_.data(); }
  std::size_t size() const { return b_.size(); }

 private:
  std::vector<std::uint8_t> b_;
};

// The 24 bytes both index kinds share; a standard index fills in its base
// offset where a super index keeps three reserved words.
void IndexHeader(Bytes& b, std::uint32_t id, std::uint32_t size, std::uint16_t longsPerEntry,
                 std::uint8_t type, std::uint32_t entries, std::uint32_t chunkId) {
  b.U32(id);
  b.U32(size);
  b.U16(longsPerEntry);
  b.U8(0);  // sub-type
  b.U8(type);
  b.U32(entries);
  b.U32(chunkId);
}

int WriteAll(RiffFile& file, const Bytes& b) {
  return file.Write(b.data(), b.size()) == static_cast<long long>(b.size())
             ? kOk
             : norv::riff::kCannotWrite;
}

int Patch32(RiffFile& file, std::uint64_t at, std::uint32_t value) {
  Bytes b;
  b.U32(value);
  return file.Overwrite(at, b.data(), b.size());
}

}  // namespace

OpenDmlLayout::OpenDmlLayout(const std::vector<StreamInfo>& streams, std::uint64_t formLimit)
    : formLimit_(formLimit), totals_(streams.size(), 0) {
  for (const StreamInfo& info : streams) streams_.push_back(Stream{info});
}

int OpenDmlLayout::ReserveSuperIndex(RiffFile& file, int stream) {
  streams_[static_cast<std::size_t>(stream)].superIndexAt = file.Tell();
  Bytes b;
  b.U32(kFourccJunk);
  b.U32(kSuperIndexBytes);
  b.Zeros(kSuperIndexBytes);
  return WriteAll(file, b);
}

int OpenDmlLayout::WriteExtendedHeader(RiffFile& file) {
  ChunkInfo list;
  list.type = kFourccOdml;
  if (file.CreateChunk(list, norv::riff::kCreateList) != kOk) return file.error();
  ChunkInfo dmlh;
  dmlh.id = kFourccDmlh;
  dmlh.size = kDmlhBytes;
  if (file.CreateChunk(dmlh, 0) != kOk) return file.error();
  dmlhAt_ = dmlh.dataOffset;
  const std::vector<std::uint8_t> zeros(kDmlhBytes, 0);
  if (file.Write(zeros.data(), zeros.size()) != kDmlhBytes) return file.error();
  if (file.Ascend(dmlh) != kOk) return file.error();
  return file.Ascend(list);
}

void OpenDmlLayout::SetHeaderFields(std::uint64_t mainTotalFramesAt,
                                    std::vector<std::uint64_t> lengthAt) {
  mainFramesAt_ = mainTotalFramesAt;
  for (std::size_t i = 0; i < streams_.size() && i < lengthAt.size(); ++i)
    streams_[i].lengthAt = lengthAt[i];
}

void OpenDmlLayout::SetFirstForm(std::uint64_t riffAt, std::uint64_t moviCodeAt) {
  formAt_ = riffAt;
  moviAt_ = moviCodeAt - 8;
}

std::uint64_t OpenDmlLayout::Ticks(const Stream& s, std::uint32_t size) const {
  return s.info.blockAlign == 0 ? 1 : size / s.info.blockAlign;
}

std::uint64_t OpenDmlLayout::StandardIndexBytes(std::size_t extraEntries) const {
  std::uint64_t bytes = 0;
  for (const Stream& s : streams_)
    bytes += 8 + kIndexHeaderBytes + kStandardEntryBytes * (s.entries.size() + extraEntries);
  return bytes;
}

bool OpenDmlLayout::FormWouldOverflow(std::uint64_t position, std::uint64_t bytes,
                                      std::uint64_t legacyIndexBytes) const {
  bool empty = true;
  for (const Stream& s : streams_) empty = empty && s.entries.empty();
  if (empty) return false;
  // A record adds at most one chunk per stream to the indexes.
  const std::uint64_t formBytes =
      position - formAt_ + bytes + StandardIndexBytes(1) + legacyIndexBytes;
  return formBytes > formLimit_;
}

void OpenDmlLayout::AddChunk(int stream, std::uint64_t dataOffset, std::uint32_t size, bool key) {
  Stream& s = streams_[static_cast<std::size_t>(stream)];
  s.entries.push_back({dataOffset, key ? size : size | kDeltaFrame});
  const std::uint64_t ticks = Ticks(s, size);
  s.ticksInForm += ticks;
  totals_[static_cast<std::size_t>(stream)] += ticks;
}

int OpenDmlLayout::WriteDataChunk(RiffFile& file, int stream, std::uint32_t id, bool key,
                                  const void* data, std::uint32_t size) {
  Bytes header;
  header.U32(id);
  header.U32(size);
  if (WriteAll(file, header) != kOk) return file.error();
  const std::uint64_t dataOffset = file.Tell();
  if (size != 0 && file.Write(data, size) != static_cast<long long>(size)) return file.error();
  if (size & 1) {
    const std::uint8_t pad = 0;
    if (file.Write(&pad, 1) != 1) return file.error();
  }
  AddChunk(stream, dataOffset, size, key);
  return kOk;
}

int OpenDmlLayout::OpenList(RiffFile& file, std::uint32_t type, std::uint64_t* headerAt) {
  *headerAt = file.Tell();
  Bytes b;
  b.U32(kFourccList);
  b.U32(0);
  b.U32(type);
  return WriteAll(file, b);
}

int OpenDmlLayout::CloseList(RiffFile& file, std::uint64_t headerAt, std::uint32_t* size) {
  const std::uint64_t length = file.Tell() - (headerAt + 8);
  if (length > 0xFFFFFFFFull) return norv::riff::kTooLarge;
  *size = static_cast<std::uint32_t>(length);
  return Patch32(file, headerAt + 4, *size);
}

int OpenDmlLayout::WriteStandardIndexes(RiffFile& file) {
  if (forms_ == 1 && !firstFormClosed_) {
    firstFormFrames_ = static_cast<std::uint32_t>(totals_[0]);
    firstFormClosed_ = true;
  }
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    Stream& s = streams_[i];
    if (s.entries.empty()) continue;  // nothing of this stream in the form
    const auto count = static_cast<std::uint32_t>(s.entries.size());
    const std::uint32_t size = kIndexHeaderBytes + count * kStandardEntryBytes;
    Bytes b;
    const std::uint32_t id = MakeFourCC("ix00") + (static_cast<std::uint32_t>(i) << 24);
    IndexHeader(b, id, size, 2, kIndexOfChunks, count, s.info.chunkId);
    b.U64(formAt_);  // base offset: every entry is relative to its form
    b.U32(0);
    for (const IndexEntry& e : s.entries) {
      b.U32(static_cast<std::uint32_t>(e.dataOffset - formAt_));
      b.U32(e.size);
    }
    const std::uint64_t at = file.Tell();
    if (WriteAll(file, b) != kOk) return file.error();
    s.super.push_back({at, 8 + size, static_cast<std::uint32_t>(s.ticksInForm)});
    s.entries.clear();
    s.ticksInForm = 0;
  }
  return kOk;
}

int OpenDmlLayout::EndExtension(RiffFile& file) {
  std::uint32_t size = 0;
  if (CloseList(file, moviAt_, &size) != kOk) return file.error();
  return CloseList(file, formAt_, &size);
}

int OpenDmlLayout::BeginExtension(RiffFile& file) {
  formAt_ = file.Tell();
  moviAt_ = formAt_ + 12;
  ++forms_;
  Bytes b;
  b.U32(kFourccRiff);
  b.U32(0);
  b.U32(kFourccAvix);
  b.U32(kFourccList);
  b.U32(0);
  b.U32(kFourccMovi);
  return WriteAll(file, b);
}

int OpenDmlLayout::PatchHeaders(RiffFile& file) {
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    const Stream& s = streams_[i];
    if (s.super.empty()) continue;  // the room stays JUNK
    Bytes b;
    IndexHeader(b, kFourccIndx, kSuperIndexBytes, 4, kIndexOfIndexes,
                static_cast<std::uint32_t>(s.super.size()), s.info.chunkId);
    b.Zeros(12);
    for (const SuperEntry& e : s.super) {
      b.U64(e.offset);
      b.U32(e.size);
      b.U32(e.duration);
    }
    b.Zeros(8 + kSuperIndexBytes - b.size());
    if (file.Overwrite(s.superIndexAt, b.data(), b.size()) != kOk) return file.error();
    if (Patch32(file, s.lengthAt, static_cast<std::uint32_t>(totals_[i])) != kOk)
      return file.error();
  }
  if (Patch32(file, dmlhAt_, static_cast<std::uint32_t>(totals_[0])) != kOk) return file.error();
  // AVI 1.0 readers (Video for Windows' AVIFile, the index-only players)
  // know only the first form and its 'idx1', so the main header counts the
  // frames there; OpenDML readers (ffmpeg, GStreamer, VLC, MPlayer,
  // DirectShow) take the whole movie from 'dmlh', the stream lengths and
  // the super indexes.
  return Patch32(file, mainFramesAt_, firstFormFrames_);
}
