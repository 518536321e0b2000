// A system handle that closes itself: the compressor instance, the palette
// and the wave file's handles a movie's parts own. Used where the bare
// handle is wanted (it converts to it); Reset closes what it held. Only a
// handle that was opened goes in: failure values stay outside.
#pragma once

#include <utility>

template <typename Handle, auto Close>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }

  operator Handle() const { return handle_; }  // NOLINT: stands for the handle it owns
  Handle get() const { return handle_; }
  void Reset(Handle handle = Handle{}) {
    if (handle_ != Handle{}) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_{};
};
