#include "tools/norvavi/frame_heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace norv::cli {

namespace {

// Address space only: a page of it costs memory once written.
constexpr std::size_t kReserve = std::size_t{512} << 20;
// glibc's largest threshold; a 4K frame in 24 bits stays below it.
constexpr int kHeapBlocksUpTo = 32 << 20;
// glibc's own top pad, for growth past the reserve.
constexpr int kDefaultTopPad = 128 << 10;

bool Limited(int resource) {
  rlimit limit{};
  return getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY;
}

}  // namespace

bool PrepareHeapForFrames() {
  // Under a limit on address space or data the reserve would take what the
  // decoders' threads and the plug-in's blocks need later.
  if (Limited(RLIMIT_AS) || Limited(RLIMIT_DATA)) return false;
  // One arena, so that the decoder's and encoders' threads all allocate from
  // the region advised below.
  if (mallopt(M_ARENA_MAX, 1) == 0) return false;
  // Frame-sized blocks come from the heap, and what is freed is kept.
  mallopt(M_MMAP_THRESHOLD, kHeapBlocksUpTo);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  // A block larger than the heap's top grows it by the block and the pad.
  mallopt(M_TOP_PAD, static_cast<int>(kReserve));
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  void* volatile probe = std::malloc(std::size_t{16} << 20);  // volatile: kept by the optimiser
  std::free(probe);
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  mallopt(M_TOP_PAD, kDefaultTopPad);
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t start = (before + page - 1) & ~(page - 1);
  // The heap could not grow in place, or it is not glibc's (a sanitizer's).
  if (after <= start) return false;
  // Only advice: a system without huge pages says no, and works as before.
  return madvise(reinterpret_cast<void*>(start), after - start, MADV_HUGEPAGE) == 0;
}

}  // namespace norv::cli
