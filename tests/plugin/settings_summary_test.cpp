#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "hoststub/norv_host.h"
#include "plugin/resources/narrow_text.h"
#include "plugin/resources/resource_module.h"
#include "plugin/resources/string_table.h"
#include "plugin/settings/default_settings.h"
#include "plugin/settings/settings_summary.h"
#include "tests/support/test_support.h"

namespace {

class SettingsSummary : public ::testing::Test {
 protected:
  SettingsSummary() {
    FillDefaultSettings(&settings);  // PAL host: 25 fps
    std::memset(&project, 0, sizeof project);
    project.kind = 1;
    FillDefaultSettings(&project.video);
    std::memcpy(project.audioFormat, settings.audioFormat, sizeof project.audioFormat);
  }

  norv::test::HostScope host;
  AviSettings settings;
  ProjectSettings project;
};

const char* const kDefaultLines =
    "No Compression\r\n"
    "Video ON\r\n"
    "25 FPS, 160 x 120, 24 Bits\r\n"
    "Frame\r\n"
    "SubPixel OFF, Cropping OFF\r\n"
    "Audio ON\r\n"
    "16 / 44100 / Stereo";

TEST_F(SettingsSummary, DefaultRecordWithoutProjectIsSevenLines) {
  EXPECT_EQ(BuildSettingsSummary(&settings, nullptr), kDefaultLines);
  // Hardware is offered only beside a project.
  NorvHostSetHardware(1);
  settings.hwAccel = 1;
  EXPECT_EQ(BuildSettingsSummary(&settings, nullptr), kDefaultLines);
}

TEST_F(SettingsSummary, HardwareLineReplacesSubPixelLineAndProjectIsCompared) {
  NorvHostSetHardware(1);
  settings.hwAccel = 1;
  project.video.hwAccel = 1;
  EXPECT_EQ(BuildSettingsSummary(&settings, &project),
            "No Compression\r\nHardware Acceleration ON\r\nVideo ON\r\n"
            "25 FPS, 160 x 120, 24 Bits\r\nFrame\r\nAudio ON\r\n16 / 44100 / Stereo\r\n"
            "Same As Project");

  settings.width = 320;
  settings.hwAccel = 0;
  EXPECT_EQ(BuildSettingsSummary(&settings, &project),
            "No Compression\r\nHardware Acceleration OFF\r\nVideo ON\r\n"
            "25 FPS, 320 x 120, 24 Bits\r\nFrame\r\nSubPixel OFF, Cropping OFF\r\nAudio ON\r\n"
            "16 / 44100 / Stereo\r\nNot Same As Project");
}

TEST_F(SettingsSummary, ProjectOfAnotherKindIsNotComparedButStillAllowsHardware) {
  NorvHostSetHardware(1);
  project.kind = 2;
  const std::string text = BuildSettingsSummary(&settings, &project);
  EXPECT_EQ(text.find("Same As Project"), std::string::npos);
  EXPECT_NE(text.find("\r\nHardware Acceleration OFF\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 19), "16 / 44100 / Stereo");
}

TEST_F(SettingsSummary, FormatLineShowsRateSizeAndBitCount) {
  settings.frameRate = 29.97f;
  // Codes the export refuses (32, 85) are still summarised with their own value.
  const std::pair<std::int32_t, const char*> codes[] = {
      {kColorOptimum, "8"}, {kColor332, "8"}, {kColor16, "16"}, {32, "32"}, {85, "85"}};
  for (const auto& [code, bits] : codes) {
    settings.colorFormat = code;
    EXPECT_NE(BuildSettingsSummary(&settings, nullptr)
                  .find(std::string("\r\n29.97 FPS, 160 x 120, ") + bits + " Bits\r\n"),
              std::string::npos)
        << code;
  }
}

TEST_F(SettingsSummary, FieldHandlingNamesAndOutOfRangeGivesEmptyText) {
  const char* names[] = {"Frame", "Interlaced, Fld Order A", "Interlaced, Fld Order B", "Field 1",
                         "Field 2"};
  for (int i = 0; i < 5; ++i) {
    settings.fieldHandling = i;
    EXPECT_NE(
        BuildSettingsSummary(&settings, nullptr).find(std::string("\r\n") + names[i] + "\r\n"),
        std::string::npos)
        << i;
  }
  for (int outside : {5, -1}) {
    settings.fieldHandling = outside;
    EXPECT_EQ(BuildSettingsSummary(&settings, &project), "") << outside;
  }
}

TEST_F(SettingsSummary, CroppingIsActiveWhenAnyWordIsSet) {
  settings.cropRect[3] = 1;
  settings.subPixel = 1;
  EXPECT_NE(BuildSettingsSummary(&settings, nullptr).find("\r\nSubPixel ON, Cropping ON\r\n"),
            std::string::npos);
}

TEST_F(SettingsSummary, AudioLines) {
  settings.audioFormat[1] = 8;
  settings.audioFormat[2] = 22050;
  settings.audioFormat[3] = 1;
  settings.audioEnabled = 0;
  std::string text = BuildSettingsSummary(&settings, nullptr);
  EXPECT_EQ(text.substr(text.find("Audio")), "Audio OFF\r\n8 / 22050 / Mono");

  settings.audioFormat[3] = 6;
  text = BuildSettingsSummary(&settings, nullptr);
  EXPECT_EQ(text.substr(text.rfind("\r\n")), "\r\n8 / 22050 / 6");

  // Without audio neither line appears, whatever audioEnabled holds.
  settings.audioAvailable = 0;
  settings.audioEnabled = 1;
  text = BuildSettingsSummary(&settings, nullptr);
  EXPECT_EQ(text.find("Audio"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 26), "SubPixel OFF, Cropping OFF");
}

TEST_F(SettingsSummary, CompressorThatCannotBeOpenedLeavesFirstLineEmpty) {
  settings.compressorHandler = MakeFourCC("zzzz");
  const std::string text = BuildSettingsSummary(&settings, nullptr);
  EXPECT_EQ(text, std::string("\r\n") + (std::strchr(kDefaultLines, '\n') + 1));
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
  EXPECT_STREQ(text, kDefaultLines);
  EXPECT_EQ(text[std::strlen(kDefaultLines) + 1], 'x');
  EXPECT_EQ(CurrentResourceModule(), hostModule);

  settings.fieldHandling = 9;
  EXPECT_EQ(WriteSettingsInfo(1, text, &settings, nullptr), 1);
  EXPECT_STREQ(text, "");
  SetResourceModule(nullptr);
}

// The export as the host reaches it: kind refusal touches nothing.
TEST(SettingsInfo, ExportOfTheLoadedModule) {
  norv::test::HostScope host;
  void* module = dlopen(NORV_BUILD_DIR "/NorvAvi.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  using Export = std::int32_t (*)(std::uint32_t, char*, std::uint32_t, const AviSettings*,
                                  const ProjectSettings*);
  auto getInfo = reinterpret_cast<Export>(dlsym(module, "FileTypeGetSettingsInfo"));
  ASSERT_NE(getInfo, nullptr);
  AviSettings settings;
  FillDefaultSettings(&settings);
  char text[1024];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(getInfo(0, text, 0, &settings, nullptr), 0);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(getInfo(1, text, 0, &settings, nullptr), 1);
  EXPECT_STREQ(text, kDefaultLines);
  dlclose(module);
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

TEST(StringTable, HoldsTheNumberedEntries) {
  EXPECT_STREQ(LoadStringEntry(1), "Bits");
  EXPECT_STREQ(LoadStringEntry(6), "Failed to load.");
  EXPECT_STREQ(LoadStringEntry(12), "8 Bits, User Select Palette");
  EXPECT_STREQ(LoadStringEntry(13), "No Compression");
  EXPECT_STREQ(LoadStringEntry(30), "Browse");
  for (int id : {0, 2, 31, -1}) EXPECT_EQ(LoadStringEntry(id), nullptr) << id;
  for (int id = 3; id <= 30; ++id) EXPECT_NE(LoadStringEntry(id), nullptr) << id;
}

}  // namespace
