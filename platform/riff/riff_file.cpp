#include "platform/riff/riff_file.h"

#include <cstring>

namespace norv::riff {

namespace {

constexpr std::uint64_t kMaxRiffOffset = 0xFFFFFFFFull;

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

RiffFile::RiffFile(std::unique_ptr<Stream> stream, std::size_t bufferBytes)
    : stream_(std::move(stream)), buffer_(bufferBytes) {}

RiffFile::~RiffFile() {
  (void)Close();
}

std::unique_ptr<RiffFile> RiffFile::Open(const char* path, OpenMode mode) {
  auto stream = OpenFileStream(path, mode);
  if (!stream) return nullptr;
  // A file opened to be read gets no write buffer.
  return std::make_unique<RiffFile>(std::move(stream),
                                    mode == OpenMode::kCreate ? kDefaultBuffer : 0);
}

int RiffFile::Fail(int code) {
  if (error_ == kOk) error_ = code;
  return code;
}

int RiffFile::Flush() {
  if (error_ != kOk) return error_;
  if (buffered_ == 0) return kOk;
  if (streamPosition_ != bufferStart_ && !stream_->Seek(bufferStart_)) return Fail(kCannotSeek);
  if (!stream_->Write(buffer_.data(), buffered_)) return Fail(kCannotWrite);
  streamPosition_ = bufferStart_ + buffered_;
  buffered_ = 0;
  return kOk;
}

long long RiffFile::Write(const void* data, std::size_t n) {
  if (closed_) return -1;
  if (error_ != kOk) return -1;
  if (n == 0) return 0;
  if (buffered_ > 0 && bufferStart_ + buffered_ != position_) {
    if (Flush() != kOk) return -1;
  }
  if (buffered_ == 0) bufferStart_ = position_;
  if (n < kDirectWrite && n <= buffer_.size() - buffered_) {
    std::memcpy(buffer_.data() + buffered_, data, n);
    buffered_ += n;
  } else if (n < kDirectWrite && n <= buffer_.size()) {
    if (Flush() != kOk) return -1;
    bufferStart_ = position_;
    std::memcpy(buffer_.data(), data, n);
    buffered_ = n;
  } else {
    if (Flush() != kOk) return -1;
    if (streamPosition_ != position_ && !stream_->Seek(position_)) return Fail(kCannotSeek), -1;
    if (!stream_->Write(data, n)) return Fail(kCannotWrite), -1;
    streamPosition_ = position_ + n;
  }
  position_ += n;
  return static_cast<long long>(n);
}

bool RiffFile::ReadAt(std::uint64_t at, void* data, std::size_t n) {
  if (Flush() != kOk) return false;
  if (streamPosition_ != at && !stream_->Seek(at)) return Fail(kCannotSeek), false;
  std::size_t got = 0;
  if (!stream_->Read(data, n, &got)) return Fail(kCannotRead), false;
  streamPosition_ = at + got;
  position_ = at + got;
  return got == n;
}

long long RiffFile::Read(void* data, std::size_t n) {
  if (closed_ || error_ != kOk) return -1;
  if (Flush() != kOk) return -1;
  if (streamPosition_ != position_ && !stream_->Seek(position_)) return Fail(kCannotSeek), -1;
  std::size_t got = 0;
  if (!stream_->Read(data, n, &got)) return Fail(kCannotRead), -1;
  streamPosition_ = position_ + got;
  position_ += got;
  return static_cast<long long>(got);
}

long long RiffFile::Seek(std::uint64_t position) {
  if (closed_ || error_ != kOk) return -1;
  position_ = position;
  return static_cast<long long>(position);
}

int RiffFile::PatchSize(std::uint64_t at, std::uint32_t value) {
  std::uint8_t bytes[4];
  PutLe32(bytes, value);
  if (at >= bufferStart_ && at + 4 <= bufferStart_ + buffered_) {
    std::memcpy(buffer_.data() + (at - bufferStart_), bytes, 4);
    return kOk;
  }
  // The header went out already: flush what is pending and patch in place.
  if (Flush() != kOk) return error_;
  if (!stream_->Seek(at)) return Fail(kCannotSeek);
  if (!stream_->Write(bytes, 4)) return Fail(kCannotWrite);
  streamPosition_ = at + 4;
  return kOk;
}

int RiffFile::Overwrite(std::uint64_t at, const void* data, std::size_t n) {
  if (closed_) return kClosed;
  if (error_ != kOk) return error_;
  if (n == 0) return kOk;
  if (at >= bufferStart_ && at + n <= bufferStart_ + buffered_) {
    std::memcpy(buffer_.data() + (at - bufferStart_), data, n);
    return kOk;
  }
  if (Flush() != kOk) return error_;
  if (!stream_->Seek(at)) return Fail(kCannotSeek);
  if (!stream_->Write(data, n)) return Fail(kCannotWrite);
  streamPosition_ = at + n;
  return kOk;
}

int RiffFile::CreateChunk(ChunkInfo& ck, std::uint32_t flags) {
  if (closed_) return kClosed;
  if (error_ != kOk) return error_;
  const bool list = (flags & (kCreateRiff | kCreateList)) != 0;
  if (flags & kCreateRiff) ck.id = kRiffId;
  if (flags & kCreateList) ck.id = kListId;
  if (position_ + 8 > kMaxRiffOffset) return Fail(kTooLarge);
  std::uint8_t header[12];
  PutLe32(header, ck.id);
  PutLe32(header + 4, ck.size);
  PutLe32(header + 8, ck.type);
  ck.dataOffset = static_cast<std::uint32_t>(position_ + 8);
  ck.flags = kDirty;
  if (Write(header, list ? 12 : 8) < 0) return error_;
  return kOk;
}

int RiffFile::Ascend(ChunkInfo& ck) {
  if (closed_) return kClosed;
  if (error_ != kOk) return error_;
  if (ck.flags & kDirty) {
    if (position_ < ck.dataOffset) return Fail(kCannotSeek);
    const std::uint64_t length = position_ - ck.dataOffset;
    if (length > kMaxRiffOffset) return Fail(kTooLarge);
    if (length != ck.size) {
      if (PatchSize(ck.dataOffset - 4, static_cast<std::uint32_t>(length)) != kOk) return error_;
      ck.size = static_cast<std::uint32_t>(length);
    }
    if (length & 1) {
      const std::uint8_t pad = 0;
      if (Write(&pad, 1) < 0) return error_;
    }
    ck.flags &= ~kDirty;
    return kOk;
  }
  // A chunk that was read: move past its data and pad byte.
  position_ = static_cast<std::uint64_t>(ck.dataOffset) + ck.size + (ck.size & 1);
  return kOk;
}

int RiffFile::Descend(ChunkInfo& ck, const ChunkInfo* parent, std::uint32_t flags) {
  if (closed_) return kClosed;
  if (error_ != kOk) return error_;
  const std::uint64_t end =
      parent != nullptr ? static_cast<std::uint64_t>(parent->dataOffset) + parent->size : ~0ull;
  const std::uint32_t wantId = (flags & kFindRiff)   ? kRiffId
                               : (flags & kFindList) ? kListId
                                                     : ck.id;
  const bool matchId = (flags & (kFindRiff | kFindList | kFindChunk)) != 0;
  const bool matchType = (flags & (kFindRiff | kFindList)) != 0;
  std::uint64_t at = position_;
  while (at + 8 <= end) {
    std::uint8_t header[12];
    if (!ReadAt(at, header, 8)) {
      if (error_ == kOk) return kChunkNotFound;  // ran off the end of the data
      return error_;
    }
    ChunkInfo found;
    found.id = GetLe32(header);
    found.size = GetLe32(header + 4);
    found.dataOffset = static_cast<std::uint32_t>(at + 8);
    const bool isList = found.id == kRiffId || found.id == kListId;
    if (isList) {
      if (!ReadAt(at + 8, header + 8, 4)) return error_ == kOk ? kChunkNotFound : error_;
      found.type = GetLe32(header + 8);
    }
    if (!matchId || (found.id == wantId && (!matchType || found.type == ck.type))) {
      ck = found;
      position_ = at + 8 + (isList ? 4 : 0);
      return kOk;
    }
    at = at + 8 + found.size + (found.size & 1);
  }
  return kChunkNotFound;
}

int RiffFile::Close() {
  if (closed_) return error_;
  (void)Flush();
  if (!stream_->Close()) (void)Fail(kCannotWrite);
  closed_ = true;
  return error_;
}

}  // namespace norv::riff
