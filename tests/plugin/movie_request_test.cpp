// What MakeMovieGetContext accepts and how it derives the movie from the
// request: refusals are silent and leave nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>

#include "hoststub/norv_host.h"
#include "platform/memory/global_memory.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

class MovieRequestTest : public ::testing::Test {
 protected:
  // Video only, unless a test says otherwise: audio would need a source.
  void SetUp() override { setup.settings.audioEnabled = 0; }
  void SetPath(const std::string& name) {
    path = host.dir().File(name);
    std::memset(setup.request.outputPath, 0, sizeof setup.request.outputPath);
    std::memcpy(setup.request.outputPath, path.c_str(), path.size());
  }
  // A session made by the plug-in's core, so its fields can be read.
  MovieSession* Create() { return CreateMovieSession(&setup.request); }
  bool Accepted() {
    MovieSession* s = Create();
    delete s;
    return s != nullptr;
  }

  HostScope host;
  RecordedMessages messages;
  MovieSetup setup{host.dir()};
  std::string path;
};

TEST_F(MovieRequestTest, ExtensionIsCheckedCaseInsensitivelyOnTheLastDot) {
  for (const char* name : {"a.avi", "B.AVI", "c.d.Avi"}) {
    SetPath(name);
    EXPECT_TRUE(Accepted()) << name;
  }
  for (const char* name : {"a.avi.bak", "a.av", "noext", "a.avi2", "a.tmp"}) {
    SetPath(name);
    EXPECT_FALSE(Accepted()) << name;
    EXPECT_FALSE(std::filesystem::exists(path)) << name;
  }
  EXPECT_TRUE(messages.texts().empty()) << "refusals are silent";
}

TEST_F(MovieRequestTest, RefusalsAllocateNothing) {
  const long blocks = NorvGlobalBlocksInUse();
  const long hostBlocks = NorvHostBlocksInUse();
  const int asked = NorvHostConfirmRequests();
  EXPECT_EQ(Plugin().MakeMovieGetContext(nullptr), nullptr);
  auto refused = [&](auto change) {
    MovieRequest r = setup.request;
    change(r);
    return Plugin().MakeMovieGetContext(&r) == nullptr;
  };
  EXPECT_TRUE(refused([](MovieRequest& r) { r.settings = nullptr; }));
  EXPECT_TRUE(refused([](MovieRequest& r) { r.version = 2; }));
  EXPECT_TRUE(refused([](MovieRequest& r) { r.startTime = r.endTime; }));
  EXPECT_TRUE(refused([](MovieRequest& r) { r.startTime = 5000; }));  // after the end
  // A request that cannot be made is refused before the host asks its user.
  EXPECT_EQ(NorvHostConfirmRequests(), asked);
  NorvHostSetConfirm(0);
  EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr);
  EXPECT_EQ(NorvHostConfirmRequests(), asked + 1);
  NorvHostSetConfirm(1);
  for (int code : {0, 8, 15, 17, 23, 25, 32, 79, 85, -1}) {
    setup.settings.colorFormat = code;
    EXPECT_EQ(Plugin().MakeMovieGetContext(&setup.request), nullptr) << code;
  }
  EXPECT_EQ(NorvGlobalBlocksInUse(), blocks);
  EXPECT_EQ(NorvHostBlocksInUse(), hostBlocks);
  EXPECT_FALSE(std::filesystem::exists(setup.path));
  EXPECT_TRUE(messages.texts().empty());
}

TEST_F(MovieRequestTest, FrameCountRoundsTheSpanAtTheSettingsRate) {
  setup.settings.frameRate = 25.0f;
  setup.SetSpan(0, 10);  // 0.25 + 0.5 truncates to 0
  EXPECT_FALSE(Accepted());
  MovieSession* s = nullptr;
  for (std::uint32_t start : {0u, 4000u}) {
    setup.SetSpan(start, start + 20);
    s = Create();
    ASSERT_NE(s, nullptr) << start;
    EXPECT_EQ(s->frameCount, 1u) << start;
    delete s;
  }

  // The settings' rate counts even when frames come at the project's rate.
  setup.settings.frameRate = 15.0f;
  NorvHostSetProject(720, 480, 2997);
  setup.request.sameAsProject = 1;
  setup.SetSpan(0, 10000);
  s = Create();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->frameCount, 150u);
  EXPECT_EQ(s->rateMismatch, 1u);
  EXPECT_FLOAT_EQ(s->outputFrameRate, 29.97f);
  EXPECT_FLOAT_EQ(s->frameRate, 15.0f);
  delete s;

  for (float rate : {0.0f, -25.0f, std::numeric_limits<float>::quiet_NaN()}) {
    setup.settings.frameRate = rate;
    setup.request.sameAsProject = 0;
    EXPECT_FALSE(Accepted()) << rate;
  }
}

TEST_F(MovieRequestTest, RatesCompareAtHundredths) {
  setup.request.sameAsProject = 1;
  NorvHostSetProject(720, 480, 2997);
  auto mismatch = [&](float rate) {
    setup.settings.frameRate = rate;
    MovieSession* s = Create();
    EXPECT_NE(s, nullptr);
    std::uint32_t m = s != nullptr ? s->rateMismatch : 99;
    delete s;
    return m;
  };
  EXPECT_EQ(mismatch(29.97f), 0u);
  EXPECT_EQ(mismatch(29.97002f), 0u);
  EXPECT_EQ(mismatch(29.98f), 1u);
  setup.request.sameAsProject = 0;
  EXPECT_EQ(mismatch(15.0f), 0u) << "without same-as-project the rates are never compared";
}

TEST_F(MovieRequestTest, ColourFormatsGiveDepthAndPaletteMode) {
  struct Case {
    int code;
    std::uint32_t depth, mode;
  };
  for (Case c :
       {Case{16, 24, 0}, Case{24, 24, 0}, Case{80, 8, 1}, Case{81, 8, 2}, Case{82, 8, 3}}) {
    setup.settings.colorFormat = c.code;
    MovieSession* s = Create();
    ASSERT_NE(s, nullptr) << c.code;
    EXPECT_EQ(s->video.bitDepth, c.depth);
    if (c.depth == 8) {
      EXPECT_EQ(s->video.paletteMode, c.mode);
    }
    EXPECT_EQ(s->video.paletteFile[0], '\0');
    delete s;
  }
}

TEST_F(MovieRequestTest, AudioStreamOnlyWhenAvailableEnabledAndNotRaw) {
  NorvHostSetHardware(1);
  auto streams = [&](int available, int enabled, int raw) {
    setup.settings.audioAvailable = available;
    setup.settings.audioEnabled = enabled;
    setup.settings.qrvExport = raw;
    MovieSession* s = Create();
    std::uint32_t n = s != nullptr ? s->streamCount : 0;
    delete s;
    return n;
  };
  EXPECT_EQ(streams(1, 1, 0), 2u);
  EXPECT_EQ(streams(0, 1, 0), 1u);
  EXPECT_EQ(streams(1, 0, 0), 1u);
  EXPECT_EQ(streams(1, 1, 1), 1u);
}

TEST_F(MovieRequestTest, TemporaryAudioFileSitsBesideTheOutput) {
  MovieSession* s = Create();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->audio.tempAudioPath), host.dir().File("Taltemp101wav.tmp"));
  EXPECT_EQ(std::string(s->audio.waveFilePath), host.dir().File("out.wav"));
  delete s;

  // No folder in the output path: the file goes to the current folder.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(host.dir().path());
  SetPath("");
  std::memset(setup.request.outputPath, 0, sizeof setup.request.outputPath);
  std::strcpy(setup.request.outputPath, "bare.avi");
  s = Create();
  std::filesystem::current_path(cwd);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->audio.tempAudioPath, "Taltemp101wav.tmp");
  delete s;
}

TEST_F(MovieRequestTest, DeleteContextActsOnceAndIgnoresNull) {
  void* session = Plugin().MakeMovieGetContext(&setup.request);
  ASSERT_NE(session, nullptr);
  Plugin().MakeMovieDeleteContext(&session);
  EXPECT_EQ(session, nullptr);
  Plugin().MakeMovieDeleteContext(&session);  // the variable is null now: nothing happens
  Plugin().MakeMovieDeleteContext(nullptr);
  EXPECT_TRUE(std::filesystem::exists(setup.path));
}

TEST_F(MovieRequestTest, CompressorStateIsCopiedIntoTheSession) {
  const long base = NorvHostBlocksInUse();
  setup.settings.compressorStateSize = 10;
  setup.settings.compressorStateCapacity = 1000;
  setup.settings.compressorState = HostAlloc(1000, 1);
  std::memset(HostBlockAddress(setup.settings.compressorState), 7, 10);
  MovieSession* s = Create();
  ASSERT_NE(s, nullptr);
  EXPECT_NE(s->video.compressorState, setup.settings.compressorState);
  EXPECT_EQ(static_cast<std::uint8_t*>(HostBlockAddress(s->video.compressorState))[9], 7);
  delete s;
  HostFree(&setup.settings.compressorState);
  EXPECT_EQ(NorvHostBlocksInUse(), base);
}

}  // namespace
