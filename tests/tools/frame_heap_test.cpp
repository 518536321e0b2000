#include "tools/norvavi/frame_heap.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/memory/sanitizer.h"

namespace {

// The kernel's flags of the mapping that holds `address`, from /proc/self/smaps.
std::string MappingFlags(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    if (std::istringstream(line) >> std::hex >> from >> dash >> to && dash == '-')
      inside = from <= at && at < to;
    else if (inside && line.rfind("VmFlags:", 0) == 0)
      return line;
  }
  return "(not mapped)";
}

}  // namespace

// Frame-sized blocks, from the main thread and from others, and again after
// being freed, all come from the region advised for huge pages.
TEST(FrameHeap, FrameSizedBlocksFromEveryThreadComeFromTheAdvisedHeap) {
  rlimit as{}, data{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &as) + getrlimit(RLIMIT_DATA, &data), 0);
  const bool limited = as.rlim_cur != RLIM_INFINITY || data.rlim_cur != RLIM_INFINITY;
  const bool prepared = norv::cli::PrepareHeapForFrames();
  ASSERT_EQ(prepared, !norv::platform::kSanitizerAllocator && !limited);
  if (!prepared) return;
  const std::size_t frame = std::size_t{1920} * 1080 * 3;
  auto expectAdvised = [&] {
    auto* block = static_cast<char*>(std::malloc(frame));
    ASSERT_NE(block, nullptr);
    // Its start may lie in the heap as it was before; its end is in the new part.
    const std::string flags = MappingFlags(block + frame - 1);
    EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
    std::free(block);
  };
  expectAdvised();
  expectAdvised();
  std::thread(expectAdvised).join();
}

// Under a data limit the reserve would eat what the run needs later: none is
// made. A child process takes the limit, so this one keeps its own.
TEST(FrameHeap, LeavesTheHeapAloneUnderALimit) {
  const auto underALimit = [] {
    const rlimit limit{rlim_t{8} << 30, rlim_t{8} << 30};
    _exit(setrlimit(RLIMIT_DATA, &limit) == 0 && !norv::cli::PrepareHeapForFrames() ? 0 : 1);
  };
  // Re-run afresh: a forked child would find the heap the test above grew.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(underALimit(), ::testing::ExitedWithCode(0), "");
}
