// HostAlloc / HostFree and the deep copy of settings records. A record owns
// at most one block; every copy gets its own. On 32-bit targets a block's
// reference is its address, as the host's is; elsewhere an id from a table.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "hoststub/norv_host.h"
#include "plugin/host/avi_settings.h"
#include "plugin/host/host_api.h"

namespace {

struct Block {
  std::uint8_t* data;
  std::uint32_t size;
};

std::mutex g_mutex;
std::unordered_map<HostBlockRef, Block> g_blocks;
#if UINTPTR_MAX != 0xFFFFFFFFu
HostBlockRef g_nextId = 0x1000;
#endif
std::atomic<int> g_failAfter{-1};

bool ShouldFail() {
  int n = g_failAfter.load();
  while (n >= 0) {
    if (g_failAfter.compare_exchange_weak(n, n - 1)) return n == 0;
  }
  return false;
}

HostBlockRef NewBlock(std::uint32_t bytes) {
  if (ShouldFail()) return 0;
  auto* data = static_cast<std::uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
  if (data == nullptr) return 0;
  std::lock_guard lock(g_mutex);
  HostBlockRef id;
#if UINTPTR_MAX == 0xFFFFFFFFu
  id = static_cast<HostBlockRef>(reinterpret_cast<std::uintptr_t>(data));
#else
  do {
    id = g_nextId++;
  } while (id == 0 || g_blocks.count(id) != 0);
#endif
  g_blocks.emplace(id, Block{data, bytes});
  return id;
}

// Removes the block from the table; the caller frees its data.
bool TakeBlock(HostBlockRef id, Block* out) {
  std::lock_guard lock(g_mutex);
  auto it = g_blocks.find(id);
  if (it == g_blocks.end()) return false;
  *out = it->second;
  g_blocks.erase(it);
  return true;
}

bool FindBlock(HostBlockRef id, Block* out) {
  std::lock_guard lock(g_mutex);
  auto it = g_blocks.find(id);
  if (it == g_blocks.end()) return false;
  *out = it->second;
  return true;
}

}  // namespace

extern "C" {

HostBlockRef HostAlloc(std::uint32_t bytes, std::uint32_t) {
  return NewBlock(bytes);
}

void HostFree(HostBlockRef* block) {
  if (block == nullptr) return;
  Block b{};
  if (*block != 0 && TakeBlock(*block, &b)) std::free(b.data);
  *block = 0;
}

#if UINTPTR_MAX != 0xFFFFFFFFu
void* HostBlockAddress(HostBlockRef block) {
  Block b{};
  return FindBlock(block, &b) ? b.data : nullptr;
}
#endif

void CopyFileTypeSettings(AviSettings* destination, const AviSettings* source) {
  if (destination == nullptr || source == nullptr || destination == source) return;
  Block from{};
  const bool sourceOwns = source->compressorState != 0 && FindBlock(source->compressorState, &from);
  // The destination's own block would be orphaned by the copy: give it back
  // first, unless it is the very block the source names.
  if (destination->compressorState != 0 && destination->compressorState != source->compressorState)
    HostFree(&destination->compressorState);
  std::memcpy(destination, source, sizeof(AviSettings));
  destination->compressorState = 0;
  if (!sourceOwns) return;
  HostBlockRef copy = NewBlock(from.size);
  Block to{};
  if (copy != 0 && FindBlock(copy, &to)) std::memcpy(to.data, from.data, from.size);
  destination->compressorState = copy;
}

long NorvHostBlocksInUse() {
  std::lock_guard lock(g_mutex);
  return static_cast<long>(g_blocks.size());
}

void NorvHostFailAllocAfter(int afterCount) {
  g_failAfter = afterCount;
}
}
