// Movable, zero-filled global memory, locked for its whole life: the form
// of the buffers that hold bitmaps and stream formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// A block that frees itself, used where its bytes are wanted (it converts
// to a pointer to them). Empty until one is allocated; empty too when the
// allocation failed.
class LockedBlock {
 public:
  LockedBlock() = default;
  explicit LockedBlock(std::size_t bytes);
  ~LockedBlock() { Reset(); }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  LockedBlock(LockedBlock&& other) noexcept : bytes_(std::exchange(other.bytes_, nullptr)) {}
  LockedBlock& operator=(LockedBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      bytes_ = std::exchange(other.bytes_, nullptr);
    }
    return *this;
  }

  operator std::uint8_t*() const { return bytes_; }  // NOLINT: stands for its bytes
  std::uint8_t* get() const { return bytes_; }
  void Reset();

 private:
  std::uint8_t* bytes_ = nullptr;
};
