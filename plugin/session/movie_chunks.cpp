// The chunks inside LIST 'movi', the 'rec ' records that group them, the
// in-memory index, and 'idx1' at the end. Which chunks go together is the
// interleave rule's business; this file only writes them.
#include <algorithm>
#include <cstring>

#include "plugin/avi/audio_format.h"
#include "plugin/session/movie_session.h"

using norv::riff::ChunkInfo;

namespace {

// A chunk that would not fit the index is refused: a host that sends more
// frames than it announced loses the extra frames, and every chunk in the
// file stays indexed. The interleave rule never needs more than the capacity.
bool IndexHasRoom(const MovieSession& s, std::uint32_t entries) {
  return s.indexEntries != nullptr && s.indexCount + entries <= s.indexCapacity;
}

// An AVI 1.0 file states its size in 32 bits. A chunk that would carry the
// file, with the index still to come, past that limit is refused, once
// with a message; the file stays whole and readable.
bool RoomInFile(MovieSession& s, std::uint64_t bytes) {
  if (s.fileFull) return false;
  const std::uint64_t index = 8 + static_cast<std::uint64_t>(s.indexCapacity) * 16;
  if (s.aviFile->Tell() + bytes + index <= MovieFileLimit()) return true;
  s.fileFull = true;
  ShowMessage("The movie has reached the largest size of an AVI file; the rest is not written.");
  return false;
}

std::uint64_t ChunkBytes(std::uint32_t size) {
  return 8 + static_cast<std::uint64_t>(size) + (size & 1);
}
constexpr std::uint64_t kRecordBytes = 12;

// OpenDML: a record that would carry the form in progress past the boundary
// begins the next form. Only the super index's room limits the movie.
bool RoomInForm(MovieSession& s, std::uint64_t bytes) {
  if (s.fileFull) return false;
  OpenDmlLayout& odml = *s.openDml;
  const std::uint64_t legacyIndex =
      odml.InExtension() ? 0 : 8 + 16 * (static_cast<std::uint64_t>(s.indexCount) + 3);
  if (!odml.FormWouldOverflow(s.aviFile->Tell(), bytes, legacyIndex)) return true;
  if (odml.SuperIndexFull()) {
    s.fileFull = true;
    ShowMessage("The movie has reached the largest size of an AVI file; the rest is not written.");
    return false;
  }
  return s.CloseForm(false) == 0;
}

// Room for `bytes` more: checked for the whole record before it opens (a
// form never ends inside one), and for each chunk where one file holds all.
bool RoomFor(MovieSession& s, std::uint64_t bytes, bool recordStart) {
  if (!s.openDml) return RoomInFile(s, bytes);
  return recordStart ? RoomInForm(s, bytes) : !s.fileFull;
}

// The audio chunk a record will carry after its frame: the slice up to the
// target the interleave rule has set, as both audio sources cut it.
std::uint64_t AudioBytes(const MovieSession& s) {
  if (s.audioChunkData == nullptr || s.audioFormat == nullptr) return 0;
  const std::uint32_t target =
      AudioTarget(s.audioTotalBytes, s.audioProgress, AudioBlockAlign(s.audioFormat));
  return ChunkBytes(std::max(target, s.audioChunkEnd) - s.audioChunkEnd);
}

bool InExtension(const MovieSession& s) {
  return s.openDml && s.openDml->InExtension();
}

int StreamOf(std::uint32_t id) {
  return id == kFourccAudio ? 1 : 0;
}

bool RecordsInUse(const MovieSession& s) {
  return s.interleaveFrames == 1 && s.noInterleave == 0;
}

struct Record {
  std::uint32_t entry;  // its idx1 entry
  std::uint64_t at;     // its header, in an extension form
};

int OpenRecord(MovieSession& s, Record* record) {
  record->entry = s.indexCount;
  if (InExtension(s)) {
    ++s.indexCount;  // counted against the capacity, though 'idx1' is written already
    return s.openDml->OpenList(*s.aviFile, kFourccRec, &record->at);
  }
  s.subListChunk = ChunkInfo{};
  s.subListChunk.type = kFourccRec;
  if (s.aviFile->CreateChunk(s.subListChunk, norv::riff::kCreateList) != 0) return -1;
  s.indexEntries[s.indexCount] = {kFourccRec, kIndexList,
                                  s.subListChunk.dataOffset - s.moviDataOffset - 8, 0};
  ++s.indexCount;
  return 0;
}

void CloseRecord(MovieSession& s, const Record& record) {
  if (InExtension(s)) {
    std::uint32_t size = 0;
    (void)s.openDml->CloseList(*s.aviFile, record.at, &size);
    return;
  }
  (void)s.aviFile->Ascend(s.subListChunk);
  s.indexEntries[record.entry].length = s.subListChunk.size;
}

// Writes one data chunk and fills its index entry at `indexCount` (the
// caller counts it).
int WriteDataChunk(MovieSession& s, std::uint32_t id, std::uint32_t flags, const void* data,
                   std::uint32_t size) {
  // Audio chunks are all key frames to OpenDML readers; 'idx1' has always left them unflagged.
  const bool key = (flags & kIndexKeyFrame) != 0 || id == kFourccAudio;
  if (InExtension(s))
    return s.openDml->WriteDataChunk(*s.aviFile, StreamOf(id), id, key, data, size);
  s.chunk = ChunkInfo{};
  s.chunk.id = id;
  s.chunk.size = size;
  if (s.aviFile->CreateChunk(s.chunk, 0) != 0) return -1;
  if (size != 0 && s.aviFile->Write(data, size) != static_cast<long long>(size)) return -1;
  (void)s.aviFile->Ascend(s.chunk);
  s.indexEntries[s.indexCount] = {id, flags, s.chunk.dataOffset - s.moviDataOffset - 8,
                                  s.chunk.size};
  if (s.openDml) s.openDml->AddChunk(StreamOf(id), s.chunk.dataOffset, s.chunk.size, key);
  return 0;
}

int WriteVideoData(MovieSession& s) {
  const bool key = s.isKeyFrame != 0;
  return WriteDataChunk(s, key ? kFourccKeyVideo : kFourccDeltaVideo, key ? kIndexKeyFrame : 0,
                        s.videoChunkData, s.videoChunkSize);
}

int WriteAudioData(MovieSession& s) {
  return WriteDataChunk(s, kFourccAudio, 0, s.audioChunkData, s.audioChunkEnd - s.audioChunkStart);
}

}  // namespace

std::uint32_t MovieSession::ComputeIndexCapacity() const {
  if (streamCount == 1) return 2 * frameCount;
  if (interleaveFrames == 1 && noInterleave == 0) return 3 * frameCount + initialAudioChunks;
  return static_cast<std::uint32_t>(static_cast<float>(frameCount) /
                                        static_cast<float>(interleaveFrames) +
                                    static_cast<float>(frameCount) + 1.0f);
}

int MovieSession::WriteVideoChunk() {
  if (!aviFile) return -1;
  const bool records = RecordsInUse(*this);
  if (!IndexHasRoom(*this, records ? 2 : 1)) return -1;
  if (!RoomFor(*this, (records ? kRecordBytes : 0) + ChunkBytes(videoChunkSize), true)) return -1;
  Record record{};
  if (records && OpenRecord(*this, &record) != 0) return -1;
  if (WriteVideoData(*this) != 0) return -1;
  if (records) CloseRecord(*this, record);
  ++indexCount;
  return 0;
}

int MovieSession::WriteVideoAndAudioChunks() {
  if (!aviFile) return -1;
  const bool records = RecordsInUse(*this);
  if (!IndexHasRoom(*this, records ? 3 : 2)) return -1;
  const std::uint64_t audio = openDml ? AudioBytes(*this) : 0;
  if (!RoomFor(*this, (records ? kRecordBytes : 0) + ChunkBytes(videoChunkSize) + audio, true))
    return -1;
  Record record{};
  if (records && OpenRecord(*this, &record) != 0) return -1;
  if (WriteVideoData(*this) != 0) return -1;
  ++indexCount;
  AdvanceAudioChunk();
  if (audioChunkData == nullptr) {
    if (records) CloseRecord(*this, record);
    return 0;
  }
  if (!RoomFor(*this, ChunkBytes(audioChunkEnd - audioChunkStart), false)) {
    if (records) CloseRecord(*this, record);  // the video stays, in a whole record
    return -1;
  }
  if (WriteAudioData(*this) != 0) return -1;
  if (records) CloseRecord(*this, record);
  ++indexCount;
  return 0;
}

int MovieSession::WriteAudioOnlyChunk() {
  if (!aviFile) return -1;
  const bool records = RecordsInUse(*this);
  if (!IndexHasRoom(*this, records ? 2 : 1) || fileFull) return -1;
  AdvanceAudioChunk();
  if (!RoomFor(*this, (records ? kRecordBytes : 0) + ChunkBytes(audioChunkEnd - audioChunkStart),
               true))
    return -1;
  Record record{};
  if (records && OpenRecord(*this, &record) != 0) return -1;
  if (WriteAudioData(*this) != 0) return -1;
  if (records) CloseRecord(*this, record);
  ++indexCount;
  return 0;
}

int MovieSession::WriteIndexAndClose() {
  if (!aviFile) return -1;
  chunk = ChunkInfo{};
  chunk.id = kFourccIdx1;
  chunk.size = indexCapacity * static_cast<std::uint32_t>(sizeof(AviIndexEntry));
  if (aviFile->CreateChunk(chunk, 0) != 0) return -1;
  const std::uint32_t entries = std::min(indexCapacity, indexCount);
  const std::size_t bytes = static_cast<std::size_t>(entries) * sizeof(AviIndexEntry);
  if (bytes != 0 && aviFile->Write(indexEntries, bytes) != static_cast<long long>(bytes)) return -1;
  (void)aviFile->Ascend(chunk);
  (void)aviFile->Ascend(riffChunk);
  return aviFile->Flush() == 0 ? 0 : -1;
}

int MovieSession::CloseForm(bool last) {
  if (!aviFile || !openDml) return -1;
  OpenDmlLayout& odml = *openDml;
  if (odml.WriteStandardIndexes(*aviFile) != 0) return -1;
  if (odml.InExtension()) {
    if (odml.EndExtension(*aviFile) != 0) return -1;
  } else {
    if (aviFile->Ascend(listChunk) != 0) return -1;
    if (WriteIndexAndClose() != 0) return -1;
  }
  // Every closed form is indexed on disk at once: a movie cut later plays
  // up to here.
  if (odml.PatchHeaders(*aviFile) != 0) return -1;
  if (last) return aviFile->Flush() == 0 ? 0 : -1;
  return odml.BeginExtension(*aviFile);
}
