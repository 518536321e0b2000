// Faults a host can run into or cause: a full disk at every stage, memory
// that runs out while a session is made, and a host that passes handles it
// should not or calls the exports out of order. Nothing crashes, nothing
// leaks, and the file left behind is what the stage allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "hoststub/norv_host.h"
#include "platform/files/files.h"
#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

// Whole video frames ffprobe decodes from a file, -1 when it cannot open it.
int FramesFfprobeReads(const std::string& path) {
  int status = 0;
  const std::string out = RunCommand(
      "ffprobe -v quiet -count_frames -select_streams v "
      "-show_entries stream=nb_read_frames -of csv=p=0 " +
          path,
      &status);
  return status == 0 && !out.empty() && out[0] != 'N' ? std::stoi(out) : -1;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    setup.settings.audioEnabled = 0;
    setup.settings.width = 64;
    setup.settings.height = 48;
    setup.settings.interleaveFrames = 1;
    setup.SetSpan(0, 400);  // 10 frames
  }
  void TearDown() override {
    NorvSetDiskBudget(-1);
    NorvFailGlobalAllocAfter(-1);
    NorvHostFailAllocAfter(-1);
  }
  // Runs the movie with `budget` bytes of disk left once the session exists.
  std::vector<int> RunWithDisk(long long budget, bool budgetBeforeHeaders = false) {
    if (budgetBeforeHeaders) NorvSetDiskBudget(budget);
    void* session = Plugin().MakeMovieGetContext(&setup.request);
    EXPECT_NE(session, nullptr);
    if (!budgetBeforeHeaders) NorvSetDiskBudget(budget);
    std::vector<int> results;
    Plugin().MakeMovieInitCompression(session, 0, 0, nullptr);
    for (std::uint32_t i = 0; i < 10; ++i) {
      const auto f = PatternFrame(64, 48, i);
      std::uint32_t done = 0;
      results.push_back(Plugin().MakeMovieCompressVideoFrame(session, f.data(), &done));
    }
    Plugin().MakeMovieCloseCompression(session, 0);
    Plugin().MakeMovieDeleteContext(&session);
    NorvSetDiskBudget(-1);
    return results;
  }

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
};

// Frame chunks of 9216 bytes in records: 9236 bytes a frame; headers 240;
// the index 16 bytes an entry. The file is buffered, so a disk that fills
// up shows at the first write that reaches it.
TEST_F(Faults, FullDiskAtEachStageReportsTheFramesThatDidNotLand) {
  // The disk is full before anything is written: every frame fails.
  auto results = RunWithDisk(0, true);
  EXPECT_EQ(results, std::vector<int>(10, 1));
  EXPECT_EQ(std::filesystem::file_size(setup.path), 0u);

  // Room for the headers and two and a half frames: frames 3 on fail, the
  // two whole frames stay readable.
  results = RunWithDisk(240 + 9236 * 2 + 5000);
  EXPECT_EQ(results, (std::vector<int>{0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_GE(FramesFfprobeReads(setup.path), 2);
  // Every frame lands but the index does not fit: the frames are all there.
  const std::uint64_t full = 240 + 12 + 9236ull * 10;
  results = RunWithDisk(static_cast<long long>(full));
  EXPECT_EQ(results, std::vector<int>(10, 0));
  EXPECT_EQ(FramesFfprobeReads(setup.path), 10);

  // With room to spare the movie is whole.
  results = RunWithDisk(static_cast<long long>(full + 20 * 16 + 100));
  EXPECT_EQ(results, std::vector<int>(10, 0));
  EXPECT_EQ(CheckIndexAgainstChunks(ReadFileBytes(setup.path)), "");
  EXPECT_TRUE(messages.texts().empty());
}

TEST_F(Faults, FullDiskForTheTemporaryAudioFailsTheAudioCalls) {
  NorvHostSetHardware(1);
  setup.settings.audioEnabled = 1;
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(Plugin().MakeMovieInitCompression(session, 0, 0, nullptr), 0);
  std::vector<std::uint8_t> pcm(4000, 7);
  AudioBlock block{pcm.data(), 4000};
  std::uint32_t done = 0;
  NorvSetDiskBudget(6000);
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &block, &done), 0);
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &block, &done), 1);
  NorvSetDiskBudget(-1);
  Plugin().MakeMovieCloseCompression(session, 0);
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_FALSE(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")));
}

TEST_F(Faults, RunningOutOfMemoryGivesNoSessionAndLeaksNothing) {
  NorvHostSetHardware(1);
  setup.settings.audioEnabled = 1;
  setup.settings.colorFormat = 80;
  setup.settings.compressorStateSize = 16;
  setup.settings.compressorStateCapacity = 1000;
  setup.settings.compressorState = HostAlloc(1000, 1);
  const long blocks = NorvGlobalBlocksInUse();
  const long hostBlocks = NorvHostBlocksInUse();
  int refused = 0;
  for (int n = 0; n < 12; ++n) {
    NorvFailGlobalAllocAfter(n);
    void* session = Plugin().MakeMovieGetContext(&setup.request);
    NorvFailGlobalAllocAfter(-1);
    if (session == nullptr) {
      ++refused;
    } else {
      Plugin().MakeMovieDeleteContext(&session);
    }
    EXPECT_EQ(NorvGlobalBlocksInUse(), blocks) << "failing allocation " << n;
  }
  EXPECT_GE(refused, 4);      // the frame buffers, the formats; the index is the writer's vector
  NorvHostFailAllocAfter(0);  // the session's copy of the compressor state
  EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr);
  NorvHostFailAllocAfter(-1);
  EXPECT_EQ(NorvHostBlocksInUse(), hostBlocks);
  HostFree(&setup.settings.compressorState);
}

TEST_F(Faults, HandlesTheHostShouldNotPassAreRefused) {
  int notASession = 0;
  void* foreign = &notASession;
  std::uint32_t done = 0;
  const auto f = PatternFrame(64, 48, 0);
  AudioBlock block{f.data(), 16};
  for (void* handle : {static_cast<void*>(nullptr), foreign}) {
    EXPECT_EQ(Plugin().MakeMovieInitCompression(handle, 0, 0, nullptr), 1);
    EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(handle, f.data(), &done), -1);
    EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(handle, &block, &done), 1);
    EXPECT_EQ(Plugin().MakeMovieCloseCompression(handle, 0), 0);
    Plugin().MakeMovieDeleteContext(&handle);
  }
  EXPECT_EQ(notASession, 0);
  EXPECT_EQ(foreign, static_cast<void*>(&notASession)) << "a foreign handle is left alone";

  // A deleted session, passed again through a copy of the handle.
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  void* copy = session;
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(copy, f.data(), &done), -1);
  Plugin().MakeMovieDeleteContext(&copy);
  EXPECT_EQ(CheckIndexAgainstChunks(ReadFileBytes(setup.path)), "");
}

TEST_F(Faults, ExportsOutOfOrderLeaveASoundFile) {
  NorvHostSetHardware(1);
  setup.settings.audioEnabled = 1;
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  std::uint32_t done = 0;
  // Frames before the capture starts: the audio they need is not there.
  for (std::uint32_t i = 0; i < 3; ++i) {
    const auto f = PatternFrame(64, 48, i);
    EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(session, f.data(), &done), 0);
    EXPECT_EQ(done, i + 1);
  }
  EXPECT_EQ(Plugin().MakeMovieInitCompression(session, 0, 0, nullptr), 0);
  EXPECT_EQ(Plugin().MakeMovieInitCompression(session, 0, 0, nullptr), 0) << "twice is harmless";
  // The capture's start counts the frames done anew.
  std::vector<std::uint8_t> pcm(400, 1);
  AudioBlock block{pcm.data(), 400};
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &block, &done), 0);
  EXPECT_EQ(done, 0u);
  Plugin().MakeMovieCloseCompression(session, 0);
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &block, &done), 1)
      << "after the capture closed";
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_EQ(CheckIndexAgainstChunks(ReadFileBytes(setup.path)), "");
  EXPECT_EQ(FramesFfprobeReads(setup.path), 3);

  // Deleting without closing the capture still removes the temporary file.
  session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_EQ(Plugin().MakeMovieInitCompression(session, 0, 0, nullptr), 0);
  EXPECT_TRUE(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")));
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_FALSE(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")));
}

}  // namespace
