// Encoders run slice threads: still one frame out of every ICCompress, the
// same bytes on every run with the same thread count, and bytes that change
// with the count only for the codecs that cut a picture into one slice per
// thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/vfw/drivers/driver.h"
#include "tests/platform/vfw_test_util.h"

namespace norv::test {
namespace {

// Sets NORV_ENCODER_THREADS for one scope and puts the old value back.
class ThreadsVariable {
 public:
  explicit ThreadsVariable(const char* value) {
    if (const char* old = std::getenv(kName); old != nullptr) old_ = old;
    if (value != nullptr)
      ::setenv(kName, value, 1);
    else
      ::unsetenv(kName);
  }
  ~ThreadsVariable() {
    if (old_)
      ::setenv(kName, old_->c_str(), 1);
    else
      ::unsetenv(kName);
  }
  ThreadsVariable(const ThreadsVariable&) = delete;
  ThreadsVariable& operator=(const ThreadsVariable&) = delete;

 private:
  static constexpr const char* kName = "NORV_ENCODER_THREADS";
  std::optional<std::string> old_;
};

TEST(EncoderThreads, CountComesFromTheVariableOrTheCores) {
  const unsigned cores = std::thread::hardware_concurrency();
  const int all = cores == 0 ? 1 : std::min<int>(static_cast<int>(cores), vfw::kMaxEncoderThreads);
  const struct {
    const char* value;
    int expected;
  } cases[] = {{nullptr, all}, {"1", 1},    {"3", 3},  {"16", 16},  {"17", all},
               {"0", all},     {"-2", all}, {"", all}, {"4x", all}, {"two", all}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "(unset)" : c.value);
    ThreadsVariable v(c.value);
    EXPECT_EQ(vfw::EncoderThreads(), c.expected);
  }
}

struct Codec {
  const char* handler;
  LONG width, height;
  bool bytesFollowCount;  // the bitstream holds one slice per thread
  double minPsnr;
};

void PrintTo(const Codec& c, std::ostream* os) {
  *os << c.handler;
}

class ThreadedDriver : public testing::TestWithParam<Codec> {};

TEST_P(ThreadedDriver, SameBytesForTheSameCountAndEveryFrameDecodes) {
  const Codec& c = GetParam();
  const DWORD handler = Fcc(c.handler);
  ICINFO info{};
  if (!ICInfo(ICTYPE_VIDEO, handler, &info)) GTEST_SKIP() << c.handler << " is not available";

  constexpr int kFrames = 6;
  InputFormat in = MakeInput(c.width, c.height, 24);
  std::vector<std::vector<std::uint8_t>> pictures, dibs;
  for (int t = 0; t < kFrames; ++t) {
    pictures.push_back(Gradient(c.width, c.height, t));
    dibs.push_back(ToDib(pictures.back(), c.width, c.height, 24));
  }
  auto encode = [&](const char* threads) {
    ThreadsVariable v(threads);
    return EncodeAll(handler, in, dibs, 3);
  };
  const Encoded one = encode("1");
  const Encoded three = encode("3");
  const Encoded again = encode("3");
  ASSERT_EQ(three.frames.size(), static_cast<std::size_t>(kFrames));
  EXPECT_EQ(three.frames, again.frames);
  EXPECT_EQ(three.keys, one.keys);
  if (c.bytesFollowCount)
    EXPECT_NE(three.frames, one.frames) << "the thread count never reached the encoder";
  else
    EXPECT_EQ(three.frames, one.frames);

  // Each call returned its own frame: decoded in order, every picture
  // matches the one that went into that call.
  TempDir dir;
  const std::string file = dir.File("threads.avi");
  WriteFileBytes(file, WrapAvi(three, handler));
  const auto decoded = DecodeWithFfmpeg(file, c.width, c.height);
  ASSERT_EQ(decoded.size(), static_cast<std::size_t>(kFrames));
  for (std::size_t i = 0; i < decoded.size(); ++i)
    EXPECT_GE(Psnr(decoded[i].data(), pictures[i].data(), pictures[i].size()), c.minPsnr) << i;
}

INSTANTIATE_TEST_SUITE_P(
    SliceThreaded, ThreadedDriver,
    testing::Values(Codec{"MJPG", 320, 240, true, 35}, Codec{"FMP4", 320, 240, true, 32},
                    Codec{"H264", 320, 240, true, 36}, Codec{"dvsd", 720, 576, false, 38},
                    Codec{"FFV1", 321, 241, false, 99}),
    [](const testing::TestParamInfo<Codec>& p) { return std::string(p.param.handler); });

}  // namespace
}  // namespace norv::test
