// What the AVI targets share: a reader over the input that stops the run at
// the first request past the end or the first read over a budget set by the
// input's size, and a check that stops it with a message.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/avicheck/riff_reader.h"

#define AVI_FUZZ_CHECK(condition, ...)                                            \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: %s failed: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                          \
      std::fputc('\n', stderr);                                                   \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

// A walker that knows where the file ends never asks for bytes beyond it,
// and one that only moves forward reads each chunk header a few times: a
// chunk takes at least 8 bytes, so a read per byte (and 16 bytes read per
// byte) is far more than a forward walk needs, and far less than one that
// runs backwards or in circles.
class BoundedReader final : public norv::cli::ByteReader {
 public:
  BoundedReader(const std::uint8_t* data, std::size_t size)
      : data_(data),
        size_(size),
        readsLeft_(size + 64),
        bytesLeft_(16 * std::uint64_t{size} + 4096) {}

  std::uint64_t size() const override { return size_; }

  bool ReadAt(std::uint64_t at, void* out, std::size_t n) override {
    AVI_FUZZ_CHECK(at <= size_ && n <= size_ - at,
                   "read of %zu bytes at %" PRIu64 " in a file of %zu bytes", n, at, size_);
    AVI_FUZZ_CHECK(readsLeft_ > 0, "more than %zu reads in a file of %zu bytes", size_ + 64, size_);
    AVI_FUZZ_CHECK(n <= bytesLeft_, "more than %" PRIu64 " bytes read in a file of %zu bytes",
                   16 * std::uint64_t{size_} + 4096, size_);
    --readsLeft_;
    bytesLeft_ -= n;
    if (n > 0) std::memcpy(out, data_ + at, n);
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t readsLeft_;
  std::uint64_t bytesLeft_;
};

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max);

// Sizes just short of 4 GiB make a 32-bit sum wrap around to before the
// chunk, and random mutation seldom makes them: after a usual mutation, one
// in eight inputs gets such a size written over one of its chunks' sizes.
inline std::size_t MutateWithWrappingSizes(std::uint8_t* data, std::size_t size, std::size_t max,
                                           unsigned seed) {
  size = LLVMFuzzerMutate(data, size, max);
  std::minstd_rand random(seed);
  if (random() % 8 != 0) return size;
  std::vector<std::size_t> fields;  // of the chunks a forward walk meets
  for (std::size_t at = 12; at + 8 <= size;) {
    fields.push_back(at + 4);
    const std::uint32_t id = norv::cli::Le32(data + at), n = norv::cli::Le32(data + at + 4);
    at += (id == norv::cli::kList || id == norv::cli::kRiff) ? 12 : 8 + std::size_t{n} + (n & 1);
  }
  if (size >= 8) fields.push_back(4);
  if (fields.empty()) return size;
  const std::size_t field = fields[random() % fields.size()];
  norv::cli::PutLe32(data + field, 0xFFFFFFFFu - static_cast<std::uint32_t>(random() % 4096));
  return size;
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;)
      bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}
