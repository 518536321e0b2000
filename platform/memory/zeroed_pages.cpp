#include "platform/memory/zeroed_pages.h"

#include <sys/mman.h>

namespace norv::platform {

void* AllocateZeroedPages(std::size_t bytes) {
  void* block = ::mmap(nullptr, bytes == 0 ? 1 : bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  // Only advice: a system without huge pages, or with them off, says no.
  (void)::madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}

void FreeZeroedPages(void* block, std::size_t bytes) {
  if (block != nullptr) ::munmap(block, bytes == 0 ? 1 : bytes);
}

ZeroedPages MakeZeroedPages(std::size_t bytes) {
  return ZeroedPages(static_cast<std::uint8_t*>(AllocateZeroedPages(bytes)),
                     ZeroedPagesDeleter{bytes});
}

}  // namespace norv::platform
