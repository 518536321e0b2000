#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "hoststub/norv_host.h"
#include "plugin/resources/narrow_text.h"
#include "plugin/resources/resource_module.h"
#include "plugin/settings/default_settings.h"
#include "plugin/settings/settings_summary.h"
#include "tests/support/test_support.h"

namespace {

// The default record's lines; each case below changes a few of them.
const std::vector<std::string> kDefault = {"No Compression",
                                           "Video ON",
                                           "25 FPS, 160 x 120, 24 Bits",
                                           "Frame",
                                           "SubPixel OFF, Cropping OFF",
                                           "Audio ON",
                                           "16 / 44100 / Stereo"};
std::string Lines(std::vector<std::string> lines, const std::map<int, std::string>& changed = {}) {
  for (const auto& [at, text] : changed) lines[static_cast<std::size_t>(at)] = text;
  std::string out;
  for (const std::string& line : lines)
    if (line != "-") out += (&line == &lines.front() ? "" : "\r\n") + line;
  return out;
}
const std::string kDefaultLines = Lines(kDefault);

// Each case: what changes in the record (and the host), whether the project
// is passed, and the whole text expected. "-" drops a line.
TEST(SettingsSummary, EveryLineFollowsTheRecord) {
  struct Case {
    const char* what;
    std::function<void(AviSettings&, ProjectSettings&)> change;
    bool withProject;
    std::string text;
  };
  auto hardware = [](AviSettings& s, ProjectSettings& p) {
    NorvHostSetHardware(1);
    s.hwAccel = p.video.hwAccel = 1;
  };
  const std::vector<std::string> withHw = {"No Compression",
                                           "Hardware Acceleration ON",
                                           "Video ON",
                                           "25 FPS, 160 x 120, 24 Bits",
                                           "Frame",
                                           "Audio ON",
                                           "16 / 44100 / Stereo"};
  const Case cases[] = {
      {"defaults", [](AviSettings&, ProjectSettings&) {}, false, kDefaultLines},
      {"hardware without a project", hardware, false, kDefaultLines},
      {"hardware, same as project", hardware, true, Lines(withHw) + "\r\nSame As Project"},
      {"hardware off, another width",
       [&](AviSettings& s, ProjectSettings& p) {
         hardware(s, p);
         s.width = 320;
         s.hwAccel = 0;
       },
       true,
       Lines({"No Compression", "Hardware Acceleration OFF", "Video ON",
              "25 FPS, 320 x 120, 24 Bits", "Frame", "SubPixel OFF, Cropping OFF", "Audio ON",
              "16 / 44100 / Stereo", "Not Same As Project"})},
      {"a project of another kind",
       [](AviSettings&, ProjectSettings& p) {
         NorvHostSetHardware(1);
         p.kind = 2;
       },
       true,
       Lines({"No Compression", "Hardware Acceleration OFF", "Video ON",
              "25 FPS, 160 x 120, 24 Bits", "Frame", "SubPixel OFF, Cropping OFF", "Audio ON",
              "16 / 44100 / Stereo"})},
      {"optimum palette",
       [](AviSettings& s, ProjectSettings&) {
         s.frameRate = 29.97f;
         s.colorFormat = kColorOptimum;
       },
       false, Lines(kDefault, {{2, "29.97 FPS, 160 x 120, 8 Bits"}})},
      {"16 bits", [](AviSettings& s, ProjectSettings&) { s.colorFormat = kColor16; }, false,
       Lines(kDefault, {{2, "25 FPS, 160 x 120, 16 Bits"}})},
      {"a refused code keeps its value",
       [](AviSettings& s, ProjectSettings&) { s.colorFormat = 85; }, false,
       Lines(kDefault, {{2, "25 FPS, 160 x 120, 85 Bits"}})},
      {"fields A", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = 1; }, false,
       Lines(kDefault, {{3, "Interlaced, Fld Order A"}})},
      {"fields B", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = 2; }, false,
       Lines(kDefault, {{3, "Interlaced, Fld Order B"}})},
      {"field 1", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = 3; }, false,
       Lines(kDefault, {{3, "Field 1"}})},
      {"field 2", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = 4; }, false,
       Lines(kDefault, {{3, "Field 2"}})},
      {"field 5", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = 5; }, true, ""},
      {"field -1", [](AviSettings& s, ProjectSettings&) { s.fieldHandling = -1; }, false, ""},
      {"cropping and sub pixel",
       [](AviSettings& s, ProjectSettings&) {
         s.cropRect[3] = 1;
         s.subPixel = 1;
       },
       false, Lines(kDefault, {{4, "SubPixel ON, Cropping ON"}})},
      {"audio off, mono",
       [](AviSettings& s, ProjectSettings&) {
         s.audioFormat[1] = 8;
         s.audioFormat[2] = 22050;
         s.audioFormat[3] = 1;
         s.audioEnabled = 0;
       },
       false, Lines(kDefault, {{5, "Audio OFF"}, {6, "8 / 22050 / Mono"}})},
      {"six channels", [](AviSettings& s, ProjectSettings&) { s.audioFormat[3] = 6; }, false,
       Lines(kDefault, {{6, "16 / 44100 / 6"}})},
      {"no audio",
       [](AviSettings& s, ProjectSettings&) {
         s.audioAvailable = 0;
         s.audioEnabled = 1;
       },
       false, Lines(kDefault, {{5, "-"}, {6, "-"}})},
      {"a compressor that cannot be opened",
       [](AviSettings& s, ProjectSettings&) { s.compressorHandler = MakeFourCC("zzzz"); }, false,
       "\r\n" + kDefaultLines.substr(kDefaultLines.find('\n') + 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    norv::test::HostScope host;
    AviSettings settings;
    FillDefaultSettings(&settings);  // PAL host: 25 fps
    ProjectSettings project;
    std::memset(&project, 0, sizeof project);
    project.kind = 1;
    FillDefaultSettings(&project.video);
    std::memcpy(project.audioFormat, settings.audioFormat, sizeof project.audioFormat);
    c.change(settings, project);
    EXPECT_EQ(BuildSettingsSummary(&settings, c.withProject ? &project : nullptr), c.text);
  }
}

TEST(NarrowFromWide, LatinOneKeptOthersReplacedNeverPastCapacity) {
  const WCHAR text[] = {u'M', 0xE9, 0x20AC, 0xD83D, 0xDE00, u'x', 0};
  EXPECT_EQ(NarrowFromWide(text, 7), "M\xE9??x");
  const WCHAR unterminated[] = {u'a', u'b', u'c'};
  EXPECT_EQ(NarrowFromWide(unterminated, 3), "abc");
  // A high surrogate in the last unit does not look past the end.
  const WCHAR lone[] = {u'a', 0xD800};
  EXPECT_EQ(NarrowFromWide(lone, 2), "a?");
}

TEST(SettingsInfo, WritesSummaryUnderThisModuleAndRestoresTheHostsModule) {
  norv::test::HostScope host;
  AviSettings settings;
  FillDefaultSettings(&settings);
  const auto hostModule = reinterpret_cast<HINSTANCE>(0x1234);
  SetResourceModule(hostModule);

  char text[1024];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(WriteSettingsInfo(2, text, &settings, nullptr), 0);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(CurrentResourceModule(), hostModule);

  EXPECT_EQ(WriteSettingsInfo(1, text, &settings, nullptr), 1);
  EXPECT_EQ(std::string(text), kDefaultLines);
  EXPECT_EQ(text[kDefaultLines.size() + 1], 'x');
  EXPECT_EQ(CurrentResourceModule(), hostModule);

  settings.fieldHandling = 9;
  EXPECT_EQ(WriteSettingsInfo(1, text, &settings, nullptr), 1);
  EXPECT_STREQ(text, "");
  SetResourceModule(nullptr);
}

TEST(ResourceModule, ScopeSwitchesToThisModuleAndRestoresOnUnwinding) {
  const auto hostModule = reinterpret_cast<HINSTANCE>(0x5678);
  SetResourceModule(hostModule);
  try {
    ResourceModuleScope scope;
    EXPECT_NE(CurrentResourceModule(), hostModule);
    EXPECT_EQ(CurrentResourceModule(), ThisModule());
    throw std::runtime_error("dialog failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(CurrentResourceModule(), hostModule);
  SetResourceModule(nullptr);
}

}  // namespace
