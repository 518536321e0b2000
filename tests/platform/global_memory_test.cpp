// Global blocks small and frame-sized (these map pages of their own): zero
// when asked, writable to their last byte, found again from their address,
// and freed through their handle.
#include "platform/memory/global_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

TEST(GlobalMemory, BlocksOfEverySizeAreZeroWritableAndFreed) {
  const long before = NorvGlobalBlocksInUse();
  for (const SIZE_T bytes : {SIZE_T{100}, SIZE_T{3} << 20}) {
    SCOPED_TRACE(std::to_string(bytes) + " bytes");
    // A block freed with its bytes set, then one asked zero in its place.
    HGLOBAL dirty = GlobalAlloc(GMEM_MOVEABLE, bytes);
    ASSERT_NE(dirty, nullptr);
    std::memset(GlobalLock(dirty), 0x5a, bytes);
    GlobalUnlock(dirty);
    EXPECT_EQ(GlobalFree(dirty), nullptr);
    HGLOBAL block = GlobalAlloc(GHND, bytes);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), bytes);
    auto* data = static_cast<std::uint8_t*>(GlobalLock(block));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(GlobalHandle(data), block);
    EXPECT_TRUE(std::all_of(data, data + bytes, [](std::uint8_t b) { return b == 0; }));
    data[bytes - 1] = 1;
    EXPECT_EQ(GlobalUnlock(block), FALSE);
    EXPECT_EQ(GlobalFree(block), nullptr);
  }
  EXPECT_EQ(NorvGlobalBlocksInUse(), before);
}

}  // namespace
