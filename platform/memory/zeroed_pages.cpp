#include "platform/memory/zeroed_pages.h"

#include <sys/mman.h>

#include <cstdlib>

#include "platform/memory/sanitizer.h"

namespace norv::platform {

void* AllocateZeroedPages(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  // Under a sanitizer the blocks come from its allocator, which watches
  // them (AddressSanitizer guards their ends); a mapping of their own would
  // take them out of its sight.
  if (kSanitizerAllocator) return std::calloc(bytes, 1);
  void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  // Only advice: a system without huge pages, or with them off, says no.
  (void)::madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}

void FreeZeroedPages(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  if (kSanitizerAllocator)
    std::free(block);
  else
    ::munmap(block, bytes == 0 ? 1 : bytes);
}

ZeroedPages MakeZeroedPages(std::size_t bytes) {
  return ZeroedPages(static_cast<std::uint8_t*>(AllocateZeroedPages(bytes)),
                     ZeroedPagesDeleter{bytes});
}

}  // namespace norv::platform
