// A RIFF file with the semantics of the multimedia file I/O: chunks created
// with a declared size and patched on ascend when the written length differs,
// one zero pad byte after odd data (not counted), data offsets reported the
// same way. Writes are buffered in large blocks; big writes go straight
// through, so a frame is not copied on its way to the disk.
//
// The first I/O failure is sticky: every later call fails too, so a caller
// may check once per frame and once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/riff/riff_stream.h"

namespace norv::riff {

// The chunk information block.
struct ChunkInfo {
  std::uint32_t id = 0;          // chunk identifier
  std::uint32_t size = 0;        // data size, without header and pad byte
  std::uint32_t type = 0;        // form or list type of a RIFF or LIST chunk
  std::uint32_t dataOffset = 0;  // file offset of the data (of the type, for a list)
  std::uint32_t flags = 0;       // kDirty while a created chunk is open
};

enum Flags : std::uint32_t {
  kFindChunk = 0x0010,
  kFindRiff = 0x0020,
  kFindList = 0x0040,
  kCreateRiff = 0x0020,
  kCreateList = 0x0040,
  kDirty = 0x10000,
};

enum Result : int {
  kOk = 0,
  kCannotRead = 1,
  kCannotWrite = 2,
  kCannotSeek = 3,
  kChunkNotFound = 4,
  kTooLarge = 5,  // a size or offset past the 32 bits a RIFF file can express
  kClosed = 6,
};

constexpr std::uint32_t kRiffId = 0x46464952;  // 'RIFF'
constexpr std::uint32_t kListId = 0x5453494C;  // 'LIST'

class RiffFile {
 public:
  static constexpr std::size_t kDefaultBuffer = 1 << 20;
  // Writes of this many bytes or more bypass the buffer.
  static constexpr std::size_t kDirectWrite = 64 * 1024;

  explicit RiffFile(std::unique_ptr<Stream> stream, std::size_t bufferBytes = kDefaultBuffer);
  ~RiffFile();
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // Null when the file cannot be opened (or created) with that access.
  static std::unique_ptr<RiffFile> Open(const char* path, OpenMode mode);

  [[nodiscard]] int CreateChunk(ChunkInfo& ck, std::uint32_t flags);
  [[nodiscard]] int Ascend(ChunkInfo& ck);
  [[nodiscard]] int Descend(ChunkInfo& ck, const ChunkInfo* parent, std::uint32_t flags);

  // Bytes written or read, or -1.
  [[nodiscard]] long long Write(const void* data, std::size_t n);
  [[nodiscard]] long long Read(void* data, std::size_t n);
  // Absolute seek; the new position or -1.
  [[nodiscard]] long long Seek(std::uint64_t position);
  std::uint64_t Tell() const { return position_; }
  // Replaces `n` bytes already written at `at` (a size or an index filled in
  // later), wherever they stand; the write position does not move. For
  // layouts past the 32-bit offsets a ChunkInfo can hold.
  [[nodiscard]] int Overwrite(std::uint64_t at, const void* data, std::size_t n);

  [[nodiscard]] int Flush();
  // Flushes and closes; the first failure of the file's life is reported.
  [[nodiscard]] int Close();
  int error() const { return error_; }

 private:
  int Fail(int code);
  int PatchSize(std::uint64_t at, std::uint32_t value);
  bool ReadAt(std::uint64_t at, void* data, std::size_t n);

  std::unique_ptr<Stream> stream_;
  std::vector<std::uint8_t> buffer_;  // pending bytes at [bufferStart_, bufferStart_ + size)
  std::size_t buffered_ = 0;
  std::uint64_t bufferStart_ = 0;
  std::uint64_t position_ = 0;
  std::uint64_t streamPosition_ = 0;
  int error_ = kOk;
  bool closed_ = false;
};

}  // namespace norv::riff
