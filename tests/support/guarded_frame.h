// A frame whose last byte is the last byte of a page, with an inaccessible
// page right after it: a reader that strays past the frame faults at once
// instead of reading whatever lies there.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace norv::test {

class GuardedFrame {
 public:
  explicit GuardedFrame(const std::vector<std::uint8_t>& bytes) : size_(bytes.size()) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (size_ + page - 1) / page;
    length_ = (dataPages + 1) * page;
    void* map = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<std::uint8_t*>(map);
    if (mprotect(base_ + dataPages * page, page, PROT_NONE) != 0) {
      munmap(base_, length_);
      throw std::runtime_error("mprotect failed");
    }
    data_ = base_ + dataPages * page - size_;
    std::memcpy(data_, bytes.data(), size_);
  }
  ~GuardedFrame() { munmap(base_, length_); }
  GuardedFrame(const GuardedFrame&) = delete;
  GuardedFrame& operator=(const GuardedFrame&) = delete;

  std::uint8_t* data() const { return data_; }
  // Whether the frame still holds `bytes`: nobody wrote into it.
  bool Holds(const std::vector<std::uint8_t>& bytes) const {
    return bytes.size() == size_ && std::memcmp(data_, bytes.data(), size_) == 0;
  }

 private:
  std::size_t size_;
  std::size_t length_ = 0;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

}  // namespace norv::test
