// ReplaceFile: the target changes only on Commit, and the copy beside it
// goes on every way out.
#include "tools/avicheck/replace_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "tests/support/test_support.h"

namespace norv::cli {
namespace {

using norv::test::Listing;
using norv::test::ReadFileBytes;
using norv::test::TempDir;
using norv::test::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

TEST(ReplaceFile, ReplacesOnCommitOnlyAndLeavesNothingBehind) {
  TempDir dir;
  const std::string target = dir.File("movie.avi");
  const Bytes old = {'o', 'l', 'd'}, replaced = {'n', 'e', 'w'};
  std::string error;
  // Given up while open, given up once closed, committed.
  for (int wayOut = 0; wayOut < 3; ++wayOut) {
    WriteFileBytes(target, old);
    {
      ReplaceFile file(target);
      ASSERT_TRUE(file.Create(0640, &error)) << error;
      EXPECT_EQ(std::filesystem::path(file.path()).parent_path(), dir.path());
      ASSERT_EQ(::write(file.fd(), replaced.data(), replaced.size()), 3);
      if (wayOut >= 1) {
        ASSERT_TRUE(file.Close(&error)) << error;
      }
      if (wayOut == 2) {
        ASSERT_TRUE(file.Commit(&error)) << error;
      }
    }
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"movie.avi"}) << wayOut;
    EXPECT_EQ(ReadFileBytes(target), wayOut == 2 ? replaced : old) << wayOut;
  }
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0640));

  ReplaceFile open(target);
  ASSERT_TRUE(open.Create(0600, &error));
  EXPECT_FALSE(open.Commit(&error)) << "a copy still open is not whole";
  ReplaceFile nowhere(dir.File("missing/movie.avi"));
  EXPECT_FALSE(nowhere.Create(0600, &error));
  EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
}

}  // namespace
}  // namespace norv::cli
