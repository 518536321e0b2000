#include "plugin/io/locked_block.h"

#include "platform/memory/global_memory.h"

std::uint8_t* AllocLockedBlock(std::size_t bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (h == nullptr) return nullptr;
  auto* p = static_cast<std::uint8_t*>(GlobalLock(h));
  if (p == nullptr) GlobalFree(h);
  return p;
}

void FreeLockedBlock(std::uint8_t*& block) {
  if (block == nullptr) return;
  HGLOBAL h = GlobalHandle(block);
  GlobalUnlock(h);
  GlobalFree(h);
  block = nullptr;
}
