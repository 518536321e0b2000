#include "platform/riff/riff_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/files/files.h"

namespace norv::riff {

namespace {

class FileStream final : public Stream {
 public:
  explicit FileStream(HANDLE h) : handle_(h) {}
  ~FileStream() override { FileStream::Close(); }

  bool Read(void* data, std::size_t n, std::size_t* got) override {
    *got = 0;
    auto* p = static_cast<std::uint8_t*>(data);
    while (n > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
      DWORD read = 0;
      if (!ReadFile(handle_, p, chunk, &read, nullptr)) return false;
      *got += read;
      if (read < chunk) break;
      p += read;
      n -= read;
    }
    return true;
  }

  bool Write(const void* data, std::size_t n) override {
    auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, p, chunk, &written, nullptr) || written != chunk) return false;
      p += chunk;
      n -= chunk;
    }
    return true;
  }

  bool Seek(std::uint64_t position) override {
    LONG high = static_cast<LONG>(position >> 32);
    DWORD low =
        SetFilePointer(handle_, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    bool ok = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<Stream> OpenFileStream(const char* path, OpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == OpenMode::kReadWrite) access |= GENERIC_WRITE;
  if (mode == OpenMode::kCreate) {
    access |= GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
  HANDLE h = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<FileStream>(h);
}

bool MemoryStream::Read(void* data, std::size_t n, std::size_t* got) {
  std::size_t avail = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
  *got = std::min(n, avail);
  if (*got > 0) std::memcpy(data, bytes_->data() + position_, *got);
  position_ += *got;
  return true;
}

bool MemoryStream::Write(const void* data, std::size_t n) {
  if (position_ + n > bytes_->size()) bytes_->resize(position_ + n);
  if (n > 0) std::memcpy(bytes_->data() + position_, data, n);
  position_ += n;
  return true;
}

bool MemoryStream::Seek(std::uint64_t position) {
  if (position > std::numeric_limits<std::size_t>::max()) return false;
  position_ = static_cast<std::size_t>(position);
  return true;
}

}  // namespace norv::riff
