#include "plugin/avi/avi_writer.h"

#include <algorithm>
#include <cstddef>
#include <new>

using norv::riff::ChunkInfo;
using norv::riff::kCreateList;
using norv::riff::kCreateRiff;
using norv::riff::RiffFile;

namespace {

std::uint64_t ChunkBytes(std::uint32_t size) {
  return 8 + static_cast<std::uint64_t>(size) + (size & 1);
}
constexpr std::uint64_t kRecordBytes = 12;

int StreamOf(std::uint32_t id) {
  return id == kFourccAudio ? 1 : 0;
}

}  // namespace

AviWriter::AviWriter(std::uint64_t fileLimit, std::uint64_t formLimit)
    : fileLimit_(fileLimit), formLimit_(formLimit) {}

AviWriter::~AviWriter() {
  if (file_) (void)file_->Close();  // what was written stays on disk
}

AviStatus AviWriter::WriteAviHeaders(const char* path, const AviStreamPlan& plan) {
  auto file = RiffFile::Open(path, norv::riff::OpenMode::kCreate);
  if (!file) return AviStatus::kCannotCreate;
  return WriteAviHeaders(std::move(file), plan);
}

AviStatus AviWriter::WriteFixedChunk(std::uint32_t id, const void* data, std::uint32_t size,
                                     AviStatus createFailed, AviStatus writeFailed) {
  chunk_ = ChunkInfo{};
  chunk_.id = id;
  chunk_.size = size;
  if (file_->CreateChunk(chunk_, 0) != 0) return createFailed;
  if (file_->Write(data, size) != static_cast<long long>(size)) return writeFailed;
  (void)file_->Ascend(chunk_);
  return AviStatus::kOk;
}

AviStatus AviWriter::WriteStreamList(int stream, const AviStreamHeader& header,
                                     const std::uint8_t* format, std::uint32_t formatSize,
                                     std::vector<std::uint64_t>* lengthFields) {
  failedStream_ = stream;
  recordChunk_ = ChunkInfo{};
  recordChunk_.type = kFourccStrl;
  if (file_->CreateChunk(recordChunk_, kCreateList) != 0) return AviStatus::kStreamList;
  if (AviStatus s = WriteFixedChunk(kFourccStrh, &header, sizeof header,
                                    AviStatus::kStreamHeaderChunk, AviStatus::kStreamHeaderData);
      s != AviStatus::kOk)
    return s;
  lengthFields->push_back(chunk_.dataOffset + offsetof(AviStreamHeader, length));
  if (AviStatus s = WriteFixedChunk(kFourccStrf, format, formatSize, AviStatus::kStreamFormatChunk,
                                    AviStatus::kStreamFormatData);
      s != AviStatus::kOk)
    return s;
  if (openDml_ && openDml_->ReserveSuperIndex(*file_, stream) != 0) return AviStatus::kFailed;
  (void)file_->Ascend(recordChunk_);
  return AviStatus::kOk;
}

AviStatus AviWriter::WriteAviHeaders(std::unique_ptr<RiffFile> file, const AviStreamPlan& plan) {
  records_ = plan.records;
  indexCapacity_ = plan.indexCapacity;
  indexCount_ = 0;
  if (plan.openDml) {
    // Readers take a stream's number from the id; its key frames' name serves.
    std::vector<OpenDmlLayout::StreamInfo> streams{{kFourccKeyVideo, 0}};
    if (plan.audio) streams.push_back({kFourccAudio, plan.audioBlockAlign});
    openDml_ = std::make_unique<OpenDmlLayout>(streams, formLimit_);
  }
  file_ = std::move(file);
  if (file_->Seek(0) != 0) return AviStatus::kFailed;

  riffChunk_ = ChunkInfo{};
  riffChunk_.type = kFourccAvi;
  if (file_->CreateChunk(riffChunk_, kCreateRiff) != 0) return AviStatus::kFailed;
  listChunk_ = ChunkInfo{};
  listChunk_.type = kFourccHdrl;
  if (file_->CreateChunk(listChunk_, kCreateList) != 0) return AviStatus::kFailed;

  if (AviStatus s = WriteFixedChunk(kFourccAvih, &plan.mainHeader, sizeof plan.mainHeader,
                                    AviStatus::kMainHeaderChunk, AviStatus::kMainHeaderData);
      s != AviStatus::kOk)
    return s;
  const std::uint64_t mainFramesField = chunk_.dataOffset + offsetof(AviMainHeader, totalFrames);

  std::vector<std::uint64_t> lengthFields;
  if (AviStatus s = WriteStreamList(0, plan.videoHeader, plan.videoFormat, plan.videoFormatSize,
                                    &lengthFields);
      s != AviStatus::kOk)
    return s;
  if (plan.audio) {
    if (AviStatus s = WriteStreamList(1, plan.audioHeader, plan.audioFormat, plan.audioFormatSize,
                                      &lengthFields);
        s != AviStatus::kOk)
      return s;
  }
  if (openDml_) {
    if (openDml_->WriteExtendedHeader(*file_) != 0) return AviStatus::kFailed;
    openDml_->SetHeaderFields(mainFramesField, lengthFields);
  }
  (void)file_->Ascend(listChunk_);

  listChunk_ = ChunkInfo{};
  listChunk_.type = kFourccMovi;
  if (file_->CreateChunk(listChunk_, kCreateList) != 0) return AviStatus::kMovieList;
  moviDataOffset_ = listChunk_.dataOffset;
  if (openDml_) openDml_->SetFirstForm(riffChunk_.dataOffset - 8, moviDataOffset_);
  // Ten spare entries, as the index has always had; the writers refuse a
  // chunk rather than pass the capacity.
  try {
    index_.reserve(static_cast<std::size_t>(indexCapacity_) + 10);
  } catch (const std::bad_alloc&) {
    return AviStatus::kFailed;
  }
  return AviStatus::kOk;
}

bool AviWriter::InExtension() const {
  return openDml_ && openDml_->InExtension();
}

// A chunk that would not fit the index is refused: a host that sends more
// frames than it announced loses the extra frames, and every chunk in the
// file stays indexed. The interleave rule never needs more than the capacity.
bool AviWriter::IndexHasRoom(std::uint32_t entries) const {
  return file_ != nullptr && indexCount_ + entries <= indexCapacity_;
}

// An AVI 1.0 file states its size in 32 bits. A chunk that would carry the
// file, with the index still to come, past that limit is refused, once
// with kFileFull; the file stays whole and readable.
AviStatus AviWriter::RoomInFile(std::uint64_t bytes) {
  if (full_) return AviStatus::kRefused;
  const std::uint64_t index = 8 + static_cast<std::uint64_t>(indexCapacity_) * 16;
  if (file_->Tell() + bytes + index <= fileLimit_) return AviStatus::kOk;
  full_ = true;
  return AviStatus::kFileFull;
}

// OpenDML: a record that would carry the form in progress past the boundary
// begins the next form. Only the super index's room limits the movie.
AviStatus AviWriter::RoomInForm(std::uint64_t bytes) {
  if (full_) return AviStatus::kRefused;
  OpenDmlLayout& odml = *openDml_;
  const std::uint64_t legacyIndex =
      odml.InExtension() ? 0 : 8 + 16 * (static_cast<std::uint64_t>(indexCount_) + 3);
  if (!odml.FormWouldOverflow(file_->Tell(), bytes, legacyIndex)) return AviStatus::kOk;
  if (odml.SuperIndexFull()) {
    full_ = true;
    return AviStatus::kFileFull;
  }
  return CloseForm(false);
}

// Room for `bytes` more: checked for the whole record before it opens (a
// form never ends inside one), and for each chunk where one file holds all.
AviStatus AviWriter::RoomFor(std::uint64_t bytes, bool recordStart) {
  if (!openDml_) return RoomInFile(bytes);
  if (recordStart) return RoomInForm(bytes);
  return full_ ? AviStatus::kRefused : AviStatus::kOk;
}

int AviWriter::OpenRecord(Record* record) {
  record->entry = indexCount_;
  if (InExtension()) {
    ++indexCount_;  // counted against the capacity, though 'idx1' is written already
    return openDml_->OpenList(*file_, kFourccRec, &record->at);
  }
  recordChunk_ = ChunkInfo{};
  recordChunk_.type = kFourccRec;
  if (file_->CreateChunk(recordChunk_, kCreateList) != 0) return -1;
  index_.push_back({kFourccRec, kIndexList, recordChunk_.dataOffset - moviDataOffset_ - 8, 0});
  ++indexCount_;
  return 0;
}

void AviWriter::CloseRecord(const Record& record) {
  if (InExtension()) {
    std::uint32_t size = 0;
    (void)openDml_->CloseList(*file_, record.at, &size);
    return;
  }
  (void)file_->Ascend(recordChunk_);
  index_[record.entry].length = recordChunk_.size;
}

// Writes one data chunk and its index entry; the caller counts the entry.
int AviWriter::WriteDataChunk(std::uint32_t id, std::uint32_t flags, Chunk data) {
  // Audio chunks are all key frames to OpenDML readers; 'idx1' has always left them unflagged.
  const bool key = (flags & kIndexKeyFrame) != 0 || id == kFourccAudio;
  if (InExtension())
    return openDml_->WriteDataChunk(*file_, StreamOf(id), id, key, data.data, data.size);
  chunk_ = ChunkInfo{};
  chunk_.id = id;
  chunk_.size = data.size;
  if (file_->CreateChunk(chunk_, 0) != 0) return -1;
  if (data.size != 0 && file_->Write(data.data, data.size) != static_cast<long long>(data.size))
    return -1;
  (void)file_->Ascend(chunk_);
  index_.push_back({id, flags, chunk_.dataOffset - moviDataOffset_ - 8, chunk_.size});
  if (openDml_) openDml_->AddChunk(StreamOf(id), chunk_.dataOffset, chunk_.size, key);
  return 0;
}

int AviWriter::WriteVideoData(bool key, Chunk video) {
  return WriteDataChunk(key ? kFourccKeyVideo : kFourccDeltaVideo, key ? kIndexKeyFrame : 0, video);
}

AviStatus AviWriter::WriteVideoChunk(bool key, Chunk video) {
  if (!file_ || !IndexHasRoom(records_ ? 2 : 1)) return AviStatus::kIndexFull;
  if (AviStatus s = RoomFor((records_ ? kRecordBytes : 0) + ChunkBytes(video.size), true);
      s != AviStatus::kOk)
    return s;
  Record record;
  if (records_ && OpenRecord(&record) != 0) return AviStatus::kFailed;
  if (WriteVideoData(key, video) != 0) return AviStatus::kFailed;
  if (records_) CloseRecord(record);
  ++indexCount_;
  return AviStatus::kOk;
}

AviStatus AviWriter::WriteVideoAndAudioChunks(bool key, Chunk video,
                                              std::optional<std::uint32_t> plannedAudio,
                                              const NextAudio& next) {
  if (!file_ || !IndexHasRoom(records_ ? 3 : 2)) return AviStatus::kIndexFull;
  const std::uint64_t audio = openDml_ && plannedAudio ? ChunkBytes(*plannedAudio) : 0;
  if (AviStatus s = RoomFor((records_ ? kRecordBytes : 0) + ChunkBytes(video.size) + audio, true);
      s != AviStatus::kOk)
    return s;
  Record record;
  if (records_ && OpenRecord(&record) != 0) return AviStatus::kFailed;
  if (WriteVideoData(key, video) != 0) return AviStatus::kFailed;
  ++indexCount_;
  const std::optional<Chunk> slice = next();
  if (!slice) {
    if (records_) CloseRecord(record);
    return AviStatus::kOk;
  }
  if (AviStatus s = RoomFor(ChunkBytes(slice->size), false); s != AviStatus::kOk) {
    if (records_) CloseRecord(record);  // the video stays, in a whole record
    return s;
  }
  if (WriteDataChunk(kFourccAudio, 0, *slice) != 0) return AviStatus::kFailed;
  if (records_) CloseRecord(record);
  ++indexCount_;
  return AviStatus::kOk;
}

AviStatus AviWriter::WriteAudioOnlyChunk(const NextAudio& next) {
  if (!file_ || !IndexHasRoom(records_ ? 2 : 1)) return AviStatus::kIndexFull;
  if (full_) return AviStatus::kRefused;
  const std::optional<Chunk> slice = next();
  const Chunk audio = slice.value_or(Chunk{});
  if (AviStatus s = RoomFor((records_ ? kRecordBytes : 0) + ChunkBytes(audio.size), true);
      s != AviStatus::kOk)
    return s;
  Record record;
  if (records_ && OpenRecord(&record) != 0) return AviStatus::kFailed;
  if (WriteDataChunk(kFourccAudio, 0, audio) != 0) return AviStatus::kFailed;
  if (records_) CloseRecord(record);
  ++indexCount_;
  return AviStatus::kOk;
}

AviStatus AviWriter::WriteIndexAndClose() {
  if (!file_) return AviStatus::kFailed;
  chunk_ = ChunkInfo{};
  chunk_.id = kFourccIdx1;
  chunk_.size = indexCapacity_ * static_cast<std::uint32_t>(sizeof(AviIndexEntry));
  if (file_->CreateChunk(chunk_, 0) != 0) return AviStatus::kFailed;
  const std::size_t bytes = index_.size() * sizeof(AviIndexEntry);
  if (bytes != 0 && file_->Write(index_.data(), bytes) != static_cast<long long>(bytes))
    return AviStatus::kFailed;
  (void)file_->Ascend(chunk_);
  (void)file_->Ascend(riffChunk_);
  return Flush();
}

AviStatus AviWriter::CloseForm(bool last) {
  if (!file_ || !openDml_) return AviStatus::kFailed;
  OpenDmlLayout& odml = *openDml_;
  if (odml.WriteStandardIndexes(*file_) != 0) return AviStatus::kFailed;
  if (odml.InExtension()) {
    if (odml.EndExtension(*file_) != 0) return AviStatus::kFailed;
  } else {
    if (file_->Ascend(listChunk_) != 0) return AviStatus::kFailed;
    if (AviStatus s = WriteIndexAndClose(); s != AviStatus::kOk) return s;
  }
  // Every closed form is indexed on disk at once: a movie cut later plays
  // up to here.
  if (odml.PatchHeaders(*file_) != 0) return AviStatus::kFailed;
  if (last) return Flush();
  return odml.BeginExtension(*file_) == 0 ? AviStatus::kOk : AviStatus::kFailed;
}

AviStatus AviWriter::Finish() {
  if (!file_) return AviStatus::kFailed;
  if (openDml_) return CloseForm(true);
  (void)file_->Ascend(listChunk_);
  return WriteIndexAndClose();
}

AviStatus AviWriter::Flush() {
  if (!file_) return AviStatus::kFailed;
  return file_->Flush() == 0 ? AviStatus::kOk : AviStatus::kFailed;
}
