// The AVI writer on its own, over a stream in memory and over streams that
// fail: the file-size limit to the byte, the index's capacity, and every
// failed write reported. The chunk tree and the index it writes are compared
// with a model in layout_model_test.
#include "plugin/avi/avi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/avi_walk.h"
#include "tests/support/test_support.h"

namespace {

using norv::riff::MemoryStream;
using norv::riff::RiffFile;
using namespace norv::test;

// A stream in memory that fails its `failAt`-th write (from 0) and every
// one after it.
class FailingStream final : public norv::riff::Stream {
 public:
  FailingStream(std::vector<std::uint8_t>* bytes, int failAt) : memory_(bytes), failAt_(failAt) {}
  bool Read(void* data, std::size_t n, std::size_t* got) override {
    return memory_.Read(data, n, got);
  }
  bool Write(const void* data, std::size_t n) override {
    if (writes_++ >= failAt_) return false;
    return memory_.Write(data, n);
  }
  bool Seek(std::uint64_t position) override { return memory_.Seek(position); }
  int writes() const { return writes_; }

 private:
  MemoryStream memory_;
  int failAt_;
  int writes_ = 0;
};

// A frame: its video chunk, and the audio that follows it (-1: none).
struct Frame {
  std::uint32_t videoBytes;
  bool key;
  int audioBytes;
};

struct Movie {
  bool audio = true;
  bool records = true;
  std::uint32_t capacity = 30;
  int leadAudio = 0;  // audio-only chunks of 8 bytes before the first frame
  std::vector<Frame> frames;
};

const std::uint8_t kVideoFormat[40] = {40, 0, 0, 0, 16, 0, 0, 0, 8};
const std::uint8_t kAudioFormat[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16};

AviStreamPlan Plan(const Movie& m) {
  return {.mainHeader = {.totalFrames = static_cast<std::uint32_t>(m.frames.size()),
                         .streams = m.audio ? 2u : 1u},
          .videoHeader = {.type = kFourccVids, .scale = 1, .rate = 25},
          .videoFormat = kVideoFormat,
          .videoFormatSize = sizeof kVideoFormat,
          .audio = m.audio,
          .audioHeader = {.type = kFourccAuds, .scale = 1, .rate = 25},
          .audioFormat = kAudioFormat,
          .audioFormatSize = sizeof kAudioFormat,
          .audioBlockAlign = 4,
          .records = m.records,
          .indexCapacity = m.capacity};
}

// What norvavi verify finds wrong with the file, but for the streams'
// lengths, which the writer leaves to its caller.
std::string Problems(const std::vector<std::uint8_t>& bytes) {
  std::istringstream report(VerifyMovieBytes(bytes));
  std::string problems;
  for (std::string line; std::getline(report, line);)
    if (line.starts_with("problem:") && line.find(" length ") == std::string::npos)
      problems += line + "\n";
  return problems;
}

// Writes the movie; the status of every call, the headers' first.
std::vector<AviStatus> Write(AviWriter& w, std::unique_ptr<RiffFile> file, const Movie& m) {
  static const std::vector<std::uint8_t> payload(4096, 0x5A);
  std::vector<AviStatus> results{w.WriteAviHeaders(std::move(file), Plan(m))};
  if (results[0] != AviStatus::kOk) return results;
  for (int i = 0; i < m.leadAudio; ++i)
    results.push_back(w.WriteAudioOnlyChunk([] {
      return std::optional<AviWriter::Chunk>({payload.data(), 8});
    }));
  for (const Frame& f : m.frames) {
    const AviWriter::Chunk video{payload.data(), f.videoBytes};
    if (f.audioBytes < 0) {
      results.push_back(w.WriteVideoChunk(f.key, video));
    } else {
      const auto size = static_cast<std::uint32_t>(f.audioBytes);
      results.push_back(w.WriteVideoAndAudioChunks(f.key, video, size, [&] {
        return std::optional<AviWriter::Chunk>({payload.data(), size});
      }));
    }
  }
  results.push_back(w.Finish());
  return results;
}

// Writes the movie over a stream that fails from its `failAt`-th write on;
// the results, and in `writes` the writes tried.
std::vector<AviStatus> WriteFailing(const Movie& m, int failAt, std::vector<std::uint8_t>* bytes,
                                    int* writes = nullptr) {
  AviWriter w;
  auto stream = std::make_unique<FailingStream>(bytes, failAt);
  const FailingStream* counter = stream.get();
  const auto results = Write(w, std::make_unique<RiffFile>(std::move(stream), 1), m);
  if (writes != nullptr) *writes = counter->writes();
  return results;
}

std::vector<std::uint8_t> WriteInMemory(const Movie& m, std::vector<AviStatus>* results = nullptr,
                                        std::uint64_t fileLimit = AviWriter::kLargestFile) {
  std::vector<std::uint8_t> bytes;
  {
    AviWriter w(fileLimit);
    const auto r = Write(w, std::make_unique<RiffFile>(std::make_unique<MemoryStream>(&bytes)), m);
    if (results != nullptr) *results = r;
  }
  return bytes;
}

// A chunk beyond the index's capacity is refused and the file stays whole:
// here room for three entries, so the second frame's record does not fit.
TEST(AviWriter, ChunksPastTheIndexCapacityAreRefused) {
  Movie m{false, false, 3, 0, {{10, true, -1}, {11, false, -1}, {12, false, -1}, {13, true, -1}}};
  using S = AviStatus;
  for (const auto& [records, want, entries] :
       {std::tuple{false, std::vector<S>{S::kOk, S::kOk, S::kOk, S::kOk, S::kIndexFull, S::kOk},
                   3u},
        {true, {S::kOk, S::kOk, S::kIndexFull, S::kIndexFull, S::kIndexFull, S::kOk}, 2u}}) {
    m.records = records;
    std::vector<AviStatus> results;
    const auto bytes = WriteInMemory(m, &results);
    EXPECT_EQ(results, want);
    EXPECT_EQ(WalkAvi(bytes).index.size(), entries);
    EXPECT_EQ(Problems(bytes), "");
  }
}

// At the size a file may reach, a frame goes in only while its record, pad
// byte included, and the whole reserved index still fit; the first one
// refused says the file is full, the later ones that it was, and the file
// is finished whole.
TEST(AviWriter, TheFileLimitHoldsToTheByte) {
  Movie m{false, true, 20, 0, {}};
  for (int i = 0; i < 10; ++i) m.frames.push_back({i % 3 == 0 ? 301u : 101u, i % 3 == 0, -1});
  std::vector<std::uint32_t> recordEnds;
  for (const auto& c : WalkAvi(WriteInMemory(m)).chunks)
    if (c.type == "rec ") recordEnds.push_back(c.headerOffset + 8 + c.size);
  ASSERT_EQ(recordEnds.size(), 10u);
  const std::uint64_t reserved = 8 + 16 * 20;
  for (const std::uint32_t frame : {1u, 2u, 5u, 10u}) {
    for (const std::uint32_t under : {0u, 1u}) {
      SCOPED_TRACE("frame " + std::to_string(frame) + ", " + std::to_string(under) + " under");
      const std::uint64_t limit = recordEnds[frame - 1] + reserved - under;
      const std::uint32_t kept = frame - under;
      std::vector<AviStatus> results;
      const auto bytes = WriteInMemory(m, &results, limit);
      std::vector<AviStatus> want(12, AviStatus::kRefused);
      want[0] = want[11] = AviStatus::kOk;
      for (std::uint32_t i = 1; i <= kept; ++i) want[i] = AviStatus::kOk;
      if (kept < 10) want[kept + 1] = AviStatus::kFileFull;
      EXPECT_EQ(results, want);
      EXPECT_LE(bytes.size(), limit);
      if (kept > 0) {
        EXPECT_EQ(bytes.size(), recordEnds[kept - 1] + 8 + 16 * 2 * kept);
      }
      EXPECT_EQ(Problems(bytes), "");
    }
  }
}

// A stream that fails at each write in turn: the failure is reported by the
// call that meets it or, for what was still buffered, by Finish; nothing
// after it is reported written. An index that could not be written whole
// keeps the size of the whole reservation, for a repair to find.
TEST(AviWriter, EveryFailedWriteIsReported) {
  const Movie m = {
      true, true, 30, 2, {{301, true, 40}, {100, false, -1}, {0, false, 0}, {7, true, 13}}};
  std::vector<std::uint8_t> good;
  int writes = 0;
  ASSERT_EQ(WriteFailing(m, 1 << 30, &good, &writes).back(), AviStatus::kOk);
  ASSERT_GT(writes, 20);
  const std::size_t entries = WalkAvi(good).index.size();
  for (int failAt = 0; failAt < writes; ++failAt) {
    SCOPED_TRACE("failing write " + std::to_string(failAt));
    std::vector<std::uint8_t> bytes;
    const auto results = WriteFailing(m, failAt, &bytes);
    ASSERT_NE(results.back(), AviStatus::kOk);
    const auto failed = std::find_if(results.begin(), results.end(),
                                     [](AviStatus s) { return s != AviStatus::kOk; });
    EXPECT_EQ(std::count(failed, results.end(), AviStatus::kOk), 0)
        << "a write after the failure was reported done";
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t idx1 = text.find("idx1");
    if (idx1 != std::string::npos && bytes.size() < idx1 + 8 + 16 * entries) {
      EXPECT_EQ(Le32(bytes, idx1 + 4), 16u * m.capacity);
    }
  }
}

}  // namespace
