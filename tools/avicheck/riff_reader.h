// Reading RIFF files of any size without loading them: positioned reads
// through a small window, 64-bit offsets, and the few helpers the AVI
// checker and the repair share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norv::cli {

// What the AVI checker reads from: a file, or bytes held in memory (the
// fuzz targets read through one that checks every request).
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual std::uint64_t size() const = 0;
  // False when fewer than n bytes stand at `at`.
  virtual bool ReadAt(std::uint64_t at, void* out, std::size_t n) = 0;
};

class FileReader final : public ByteReader {
 public:
  FileReader() = default;
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False with a message when the file cannot be opened for reading.
  bool Open(const std::string& path, std::string* error);
  std::uint64_t size() const override { return size_; }
  bool ReadAt(std::uint64_t at, void* out, std::size_t n) override;
  int fd() const { return fd_; }

 private:
  static constexpr std::size_t kWindow = 64 * 1024;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowBytes_ = 0;
};

std::uint32_t Le32(const std::uint8_t* p);
std::uint16_t Le16(const std::uint8_t* p);
void PutLe32(std::uint8_t* p, std::uint32_t v);
std::uint32_t FourCCValue(const char (&code)[5]);
// The four characters, or their bytes in hex when they are not printable.
std::string FourCCText(std::uint32_t id);
// Letters, digits and spaces, not starting with a space: what writers use.
bool LooksLikeChunkId(std::uint32_t id);
// The stream number of a '##xx' data chunk, or -1 for any other id.
int StreamOfChunk(std::uint32_t id);
// The two letters after the stream number ('db', 'dc', 'wb', ...).
std::string ChunkKind(std::uint32_t id);

constexpr std::uint32_t kRiff = 0x46464952;  // 'RIFF'
constexpr std::uint32_t kList = 0x5453494C;  // 'LIST'

// The format's flags: in 'avih', in idx1 entries, in OpenDML standard index
// entries (a bit of the size); and the layout both OpenDML index kinds share.
constexpr std::uint32_t kMainHasIndex = 0x10;
constexpr std::uint32_t kIndexKeyFrame = 0x10;
constexpr std::uint32_t kIndexList = 0x01;  // the entry names a list ('rec ')
constexpr std::uint32_t kIndexDeltaFrame = 0x80000000u;
constexpr std::uint32_t kIndexHeaderBytes = 24;  // after the chunk header
constexpr std::uint8_t kIndexOfIndexes = 0x00;   // a super index ('indx')
constexpr std::uint8_t kIndexOfChunks = 0x01;    // a standard index ('ix##')

}  // namespace norv::cli
