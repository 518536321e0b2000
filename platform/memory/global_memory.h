// Movable global memory blocks. A handle names a block; locking gives its
// address. Blocks here never actually move, so a lock is a count, but the
// calls keep the discipline the plug-in relies on: zero-filled on request,
// freed only through their handle.
#pragma once

#include "platform/win32_types.h"

#if !defined(_WIN32)
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
// Returns null on success, the block itself when it could not be freed.
HGLOBAL GlobalFree(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);
// The handle of a block from the address a lock gave.
HGLOBAL GlobalHandle(const void* address);
#endif

// Test hook: the next `afterCount` allocations succeed, the one after fails
// (and only that one). A negative count switches the failure off.
void NorvFailGlobalAllocAfter(int afterCount);
// Blocks currently allocated, for leak checks in tests.
long NorvGlobalBlocksInUse();
