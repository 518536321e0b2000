// The RIFF writer's own limit: sizes and offsets are 32 bits, so no chunk
// may begin where its header would reach past them. Everything else of the
// writer is seen through the movies the plug-in writes.
#include "platform/riff/riff_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace norv::riff {
namespace {

TEST(RiffFile, NoChunkBeginsWhereItsHeaderPassesFourGiB) {
  std::vector<std::uint8_t> bytes;
  RiffFile file(std::make_unique<MemoryStream>(&bytes), 64);
  ASSERT_EQ(file.Seek(0xFFFFFFF8ull), 0xFFFFFFF8ll);  // 8 header bytes would end past 2^32 - 1
  ChunkInfo chunk{.id = 0x61746164};                  // 'data'
  EXPECT_EQ(file.CreateChunk(chunk, 0), kTooLarge);
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace norv::riff
