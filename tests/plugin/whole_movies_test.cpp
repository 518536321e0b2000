// What only a whole movie driven through the exports shows: the frames-done
// count; a full disk at every stage, memory that runs out, bad handles,
// exports out of order (video and audio on two threads: audio_test).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "hoststub/norv_host.h"
#include "platform/files/files.h"
#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

class WholeMovie : public MovieTest {
 protected:
  void SetUp() override {
    SetFields(setup.settings, "size 64x48; interleave 1; audio 1 0 16/44100/2");
    setup.SetSpan(0, 400);  // 10 frames
  }
  void TearDown() override {
    NorvSetDiskBudget(-1);
    NorvFailGlobalAllocAfter(-1);
    NorvHostFailAllocAfter(-1);
  }
  // Ten frames through the exports, with `budget` bytes of disk left from
  // before the headers or once the session exists; each frame's result.
  std::vector<int> RunWithDisk(long long budget, bool beforeHeaders = false) {
    if (beforeHeaders) NorvSetDiskBudget(budget);
    void* session = Plugin().MakeMovieGetContext(&setup.request);
    EXPECT_NE(session, nullptr);
    NorvSetDiskBudget(budget);
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
  std::string TempAudio() const { return host.dir().File("Taltemp101wav.tmp"); }
};

// Frame chunks of 9216 bytes in records: 9236 bytes a frame; headers 240;
// the index 16 bytes an entry. The file is buffered, so a disk that fills
// up shows at the first write that reaches it.
TEST_F(WholeMovie, FullDiskAtEachStageAndUnwritableOutputAreReported) {
  // The disk is full before anything is written: every frame fails.
  EXPECT_EQ(RunWithDisk(0, true), std::vector<int>(10, 1));
  EXPECT_EQ(std::filesystem::file_size(setup.path), 0u);
  // Room for the headers and two and a half frames: the two whole ones play.
  EXPECT_EQ(RunWithDisk(240 + 9236 * 2 + 5000), (std::vector<int>{0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_GE(FfprobeFrames(setup.path), 2);
  // Every frame lands but the index does not fit: the frames are all there.
  const long long full = 240 + 12 + 9236ll * 10;
  EXPECT_EQ(RunWithDisk(full), std::vector<int>(10, 0));
  EXPECT_EQ(FfprobeFrames(setup.path), 10);
  // With room to spare the movie is whole.
  EXPECT_EQ(RunWithDisk(full + 20 * 16 + 100), std::vector<int>(10, 0));
  EXPECT_EQ(VerifyMovie(setup.path), "");
  EXPECT_TRUE(messages.texts().empty());

  // An output that cannot be made at all is refused, with its message.
  std::strcpy(setup.request.outputPath, host.dir().File("missing/dir/out.avi").c_str());
  for (const auto& [raw, text] : std::vector<std::pair<int, std::string>>{
           {0, "Fail to create new avi file!"}, {1, "Fail to create new DV file!"}}) {
    setup.settings.qrvExport = raw;
    messages.clear();
    EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{text});
  }
}

TEST_F(WholeMovie, RunningOutOfMemoryGivesNoSessionAndLeaksNothing) {
  NorvHostSetHardware(1);
  SetFields(setup.settings, "audio 1 1 16/44100/2; colour 80; state 16/1000");
  setup.settings.compressorState = HostAlloc(1000, 1);
  const long blocks = NorvGlobalBlocksInUse(), hostBlocks = NorvHostBlocksInUse();
  int refused = 0;
  for (int n = 0; n < 12; ++n) {
    NorvFailGlobalAllocAfter(n);
    void* session = Plugin().MakeMovieGetContext(&setup.request);
    NorvFailGlobalAllocAfter(-1);
    refused += session == nullptr;
    if (session != nullptr) Plugin().MakeMovieDeleteContext(&session);
    EXPECT_EQ(NorvGlobalBlocksInUse(), blocks) << "failing allocation " << n;
  }
  EXPECT_GE(refused, 4);      // the frame buffers, the formats; the index is the writer's vector
  NorvHostFailAllocAfter(0);  // the session's copy of the compressor state
  EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr);
  EXPECT_EQ(NorvHostBlocksInUse(), hostBlocks);
  HostFree(&setup.settings.compressorState);
}

TEST_F(WholeMovie, HandlesTheHostShouldNotPassAreRefused) {
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

  // A video-only session asks for no audio and reports no frames done; once
  // deleted (which clears the variable, so a second delete does nothing), it
  // is passed again through a copy of the handle.
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  std::uint32_t limit = 0;
  EXPECT_EQ(Plugin().MakeMovieInitCompression(session, 0, 1, &limit), 0);
  EXPECT_EQ(limit, 0x7FFFFFFFu);
  for (int i = 0; i < 2; ++i) {
    done = 99;
    EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(session, f.data(), &done), 0);
    EXPECT_EQ(done, 0u);
  }
  Plugin().MakeMovieCloseCompression(session, 0);
  void* copy = session;
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_EQ(session, nullptr);
  Plugin().MakeMovieDeleteContext(&session);
  Plugin().MakeMovieDeleteContext(nullptr);
  EXPECT_EQ(Plugin().MakeMovieCompressVideoFrame(copy, f.data(), &done), -1);
  Plugin().MakeMovieDeleteContext(&copy);
  EXPECT_EQ(VerifyMovie(setup.path), "");
}

TEST_F(WholeMovie, ExportsOutOfOrderLeaveASoundFile) {
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
  EXPECT_EQ(VerifyMovie(setup.path), "");
  EXPECT_EQ(FfprobeFrames(setup.path), 3);

  // A disk that fills up under the temporary audio fails the audio call;
  // deleting without closing the capture still removes the file.
  session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_EQ(Plugin().MakeMovieInitCompression(session, 0, 0, nullptr), 0);
  EXPECT_TRUE(std::filesystem::exists(TempAudio()));
  std::vector<std::uint8_t> more(4000, 7);
  AudioBlock big{more.data(), 4000};
  NorvSetDiskBudget(6000);
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &big, &done), 0);
  EXPECT_EQ(Plugin().MakeMovieCompressAudioFrame(session, &big, &done), 1);
  NorvSetDiskBudget(-1);
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_FALSE(std::filesystem::exists(TempAudio()));
}

}  // namespace
