#include "plugin/io/locked_block.h"

#include "platform/memory/global_memory.h"

LockedBlock::LockedBlock(std::size_t bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (h == nullptr) return;
  bytes_ = static_cast<std::uint8_t*>(GlobalLock(h));
  if (bytes_ == nullptr) GlobalFree(h);
}

void LockedBlock::Reset() {
  if (bytes_ == nullptr) return;
  HGLOBAL h = GlobalHandle(bytes_);
  GlobalUnlock(h);
  GlobalFree(h);
  bytes_ = nullptr;
}
