// Large zero-filled blocks mapped from the kernel on their own, in pages it
// may back with huge pages where the system grants them on request. A
// frame-sized block is then faulted in a few times as it is first written,
// not once per 4 KiB page; in a virtual machine those faults cost more than
// the writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace norv::platform {

// Blocks from this size on are worth a mapping of their own.
constexpr std::size_t kZeroedPagesFrom = std::size_t{2} << 20;

// Null when the system has no room. Its pages cost nothing until written.
void* AllocateZeroedPages(std::size_t bytes);
// `bytes` as allocated.
void FreeZeroedPages(void* block, std::size_t bytes);

// An owning pointer to such a block.
struct ZeroedPagesDeleter {
  std::size_t bytes = 0;
  void operator()(std::uint8_t* block) const { FreeZeroedPages(block, bytes); }
};
using ZeroedPages = std::unique_ptr<std::uint8_t, ZeroedPagesDeleter>;
// Null when the system has no room.
ZeroedPages MakeZeroedPages(std::size_t bytes);

}  // namespace norv::platform
