#include "platform/memory/global_memory.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/memory/zeroed_pages.h"

namespace {

// The header sits in front of the data, so the address a lock returns leads
// straight back to its block.
struct alignas(16) Block {
  std::uint64_t magic;
  SIZE_T size;
  std::atomic<int> locks;
};
constexpr std::uint64_t kMagic = 0x4E6F7276426C6B21ULL;  // "NorvBlk!"

std::atomic<int> g_failAfter{-1};
std::atomic<long> g_inUse{0};

bool ShouldFail() {
  int n = g_failAfter.load();
  while (n >= 0) {
    if (g_failAfter.compare_exchange_weak(n, n - 1)) return n == 0;
  }
  return false;
}

// A block's bytes with its header in front; frame-sized ones map pages of
// their own, which can be huge ones.
std::size_t TotalBytes(SIZE_T bytes) {
  return sizeof(Block) + (bytes == 0 ? 1 : bytes);
}
bool OwnPages(std::size_t total) {
  return total >= norv::platform::kZeroedPagesFrom;
}

Block* FromHandle(HGLOBAL h) {
  auto* b = static_cast<Block*>(h);
  return (b != nullptr && b->magic == kMagic) ? b : nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (ShouldFail() || bytes > (SIZE_T{1} << 40)) return nullptr;
  // calloc, not malloc and memset: a large block comes as fresh pages,
  // zero already, that cost nothing until they are written.
  const std::size_t total = TotalBytes(bytes);
  void* raw = OwnPages(total)                ? norv::platform::AllocateZeroedPages(total)
              : (flags & GMEM_ZEROINIT) != 0 ? std::calloc(total, 1)
                                             : std::malloc(total);
  if (raw == nullptr) return nullptr;
  auto* b = new (raw) Block{kMagic, bytes, {0}};
  ++g_inUse;
  return b;
}

void* GlobalLock(HGLOBAL h) {
  Block* b = FromHandle(h);
  if (b == nullptr) return nullptr;
  ++b->locks;
  return b + 1;
}

BOOL GlobalUnlock(HGLOBAL h) {
  Block* b = FromHandle(h);
  if (b == nullptr || b->locks.load() == 0) return FALSE;
  return --b->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL h) {
  if (h == nullptr) return nullptr;
  Block* b = FromHandle(h);
  if (b == nullptr) return h;
  b->magic = 0;
  const std::size_t total = TotalBytes(b->size);
  b->~Block();
  if (OwnPages(total))
    norv::platform::FreeZeroedPages(b, total);
  else
    std::free(b);
  --g_inUse;
  return nullptr;
}

SIZE_T GlobalSize(HGLOBAL h) {
  Block* b = FromHandle(h);
  return b == nullptr ? 0 : b->size;
}

HGLOBAL GlobalHandle(const void* address) {
  if (address == nullptr) return nullptr;
  auto* b = const_cast<Block*>(static_cast<const Block*>(address) - 1);
  return b->magic == kMagic ? b : nullptr;
}

void NorvFailGlobalAllocAfter(int afterCount) {
  g_failAfter = afterCount;
}
long NorvGlobalBlocksInUse() {
  return g_inUse.load();
}
