// What MakeMovieGetContext accepts and how it derives the movie from the
// request: refusals are silent and leave nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>

#include "hoststub/norv_host.h"
#include "platform/memory/global_memory.h"
#include "plugin/session/movie_context.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

class MovieRequestTest : public MovieTest {
 protected:
  // Video only, unless a test says otherwise: audio would need a source.
  void SetUp() override { setup.settings.audioEnabled = 0; }
};

TEST_F(MovieRequestTest, RefusalsAllocateNothing) {
  const long blocks = NorvGlobalBlocksInUse(), hostBlocks = NorvHostBlocksInUse();
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

// What the session takes from the request, in one line per case: the
// frame count (the span at the settings' rate, rounded), the rates and
// whether they differ at hundredths, the depth of the colour format (the
// 8-bit ones and their palettes: eight_bit_movie_test), and the streams;
// or "refused".
TEST_F(MovieRequestTest, TheSessionDerivesTheMovieFromTheRequest) {
  NorvHostSetHardware(1);
  NorvHostSetProject(720, 480, 2997);
  struct Case {
    const char* what;
    std::function<void(AviSettings&, MovieRequest&)> change;
    std::string derived;
  };
  const auto span = [](std::uint32_t from, std::uint32_t to) {
    return [=](AviSettings&, MovieRequest& r) { r.startTime = from, r.endTime = to; };
  };
  const auto rate = [](float fps, std::uint32_t same) {
    return [=](AviSettings& s, MovieRequest& r) { s.frameRate = fps, r.sameAsProject = same; };
  };
  const auto named = [&](const char* name) {
    return [path = host.dir().File(name)](AviSettings&, MovieRequest& r) {
      std::strncpy(r.outputPath, path.c_str(), sizeof r.outputPath - 1);
    };
  };
  const auto audio = [](int available, int enabled, int raw) {
    return [=](AviSettings& s, MovieRequest&) {
      s.audioAvailable = available, s.audioEnabled = enabled, s.qrvExport = raw;
    };
  };
  const std::string plain = "25 frames 25/25 same, 24 bits, 2 streams";
  const Case cases[] = {
      {"the defaults", [](AviSettings&, MovieRequest&) {}, plain},
      {"upper case", named("B.AVI"), plain},
      {"the last dot counts", named("c.d.Avi"), plain},
      {"a.avi.bak", named("a.avi.bak"), "refused"},
      {"a.av", named("a.av"), "refused"},
      {"noext", named("noext"), "refused"},
      {"a.avi2", named("a.avi2"), "refused"},
      {"10 ms: 0.25 + 0.5 frames", span(0, 10), "refused"},
      {"20 ms at the start", span(0, 20), "1 frames 25/25 same, 24 bits, 2 streams"},
      {"20 ms later on", span(4000, 4020), "1 frames 25/25 same, 24 bits, 2 streams"},
      {"the settings' rate counts under the project's", rate(15, 1),
       "15 frames 15/29.97 differ, 24 bits, 2 streams"},
      {"29.97 is the project's", rate(29.97f, 1), "30 frames 29.97/29.97 same, 24 bits, 2 streams"},
      {"so is 29.97002, at hundredths", rate(29.97002f, 1),
       "30 frames 29.97/29.97 same, 24 bits, 2 streams"},
      {"29.98 is not", rate(29.98f, 1), "30 frames 29.98/29.97 differ, 24 bits, 2 streams"},
      {"without same-as-project no comparison", rate(15, 0),
       "15 frames 15/15 same, 24 bits, 2 streams"},
      {"rate 0", rate(0, 0), "refused"},
      {"rate -25", rate(-25, 0), "refused"},
      {"rate NaN", rate(std::numeric_limits<float>::quiet_NaN(), 0), "refused"},
      {"16 bits", [](AviSettings& s, MovieRequest&) { s.colorFormat = 16; }, plain},
      {"no audio available", audio(0, 1, 0), "25 frames 25/25 same, 24 bits, 1 streams"},
      {"audio off", audio(1, 0, 0), "25 frames 25/25 same, 24 bits, 1 streams"},
      {"the raw stream", audio(1, 1, 1), "25 frames 25/25 same, 24 bits, 1 streams"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MovieSetup fresh{host.dir(), std::string(c.what) + ".avi"};  // a refusal leaves no file
    c.change(fresh.settings, fresh.request);
    std::unique_ptr<MovieSession> s(CreateMovieSession(&fresh.request));
    std::string derived = "refused";
    if (s != nullptr) {
      std::ostringstream line;
      line << s->frameCount << " frames " << s->frameRate << "/" << s->outputFrameRate << " "
           << (s->rateMismatch != 0 ? "differ" : "same") << ", " << s->video.bitDepth << " bits, "
           << s->streamCount << " streams";
      derived = line.str();
      EXPECT_EQ(s->video.paletteFile[0], '\0');
    }
    EXPECT_EQ(derived, c.derived);
    EXPECT_EQ(std::filesystem::exists(fresh.request.outputPath), s != nullptr);
  }
  EXPECT_TRUE(messages.texts().empty()) << "refusals are silent";

  // The temporary audio sits beside the output (the layout model finds it
  // there); with no folder in its path, in the current folder.
  MovieSetup bare{host.dir()};
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(host.dir().path());
  std::strcpy(bare.request.outputPath, "bare.avi");
  std::unique_ptr<MovieSession> s(CreateMovieSession(&bare.request));
  std::filesystem::current_path(cwd);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->audio.tempAudioPath, "Taltemp101wav.tmp");
}

}  // namespace
