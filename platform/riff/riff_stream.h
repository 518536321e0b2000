// Where a RIFF file's bytes go: a small sink/source interface, so the same
// writer serves real files, memory (tests) and deliberately failing streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace norv::riff {

class Stream {
 public:
  virtual ~Stream() = default;
  // Reads up to `n` bytes at the current position; `got` receives the count.
  // End of data is success with fewer bytes.
  virtual bool Read(void* data, std::size_t n, std::size_t* got) = 0;
  // Writes all `n` bytes at the current position or fails.
  virtual bool Write(const void* data, std::size_t n) = 0;
  virtual bool Seek(std::uint64_t position) = 0;
  virtual bool Close() { return true; }
};

// A stream over a platform file opened with the given access.
enum class OpenMode { kRead, kReadWrite, kCreate };
std::unique_ptr<Stream> OpenFileStream(const char* path, OpenMode mode);

// A growable stream in memory; `bytes` stays readable after the writer is done.
class MemoryStream final : public Stream {
 public:
  explicit MemoryStream(std::vector<std::uint8_t>* bytes) : bytes_(bytes) {}
  bool Read(void* data, std::size_t n, std::size_t* got) override;
  bool Write(const void* data, std::size_t n) override;
  bool Seek(std::uint64_t position) override;

 private:
  std::vector<std::uint8_t>* bytes_;
  std::size_t position_ = 0;
};

}  // namespace norv::riff
