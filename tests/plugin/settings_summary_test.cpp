#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hoststub/norv_host.h"
#include "plugin/resources/narrow_text.h"
#include "plugin/resources/resource_module.h"
#include "plugin/settings/default_settings.h"
#include "plugin/settings/settings_summary.h"
#include "tests/support/plugin_fixture.h"

namespace {

// The summary: the default record's lines with those at the given places
// changed, "-" dropping one; lines 1 (hardware) and 8 (project) only show
// when set.
std::string Summary(const std::map<std::size_t, std::string>& changed = {}) {
  std::vector<std::string> lines;
  std::istringstream in(
      "No Compression|-|Video ON|25 FPS, 160 x 120, 24 Bits|Frame|SubPixel OFF, Cropping OFF|"
      "Audio ON|16 / 44100 / Stereo|-");
  for (std::string line; std::getline(in, line, '|');) lines.push_back(line);
  for (const auto& [at, text] : changed) lines[at] = text;
  std::string out;
  for (const std::string& line : lines)
    if (line != "-") out += (&line == &lines.front() ? "" : "\r\n") + line;
  return out;
}

TEST(SettingsSummary, EveryLineFollowsTheRecordAndIsWrittenUnderThisModule) {
  struct Case {
    const char* changes;  // to the default record
    int hardware;         // the host's, before the defaults are taken
    std::uint32_t kind;   // the project's; 0: no project passed
    std::string text;
  };
  const Case cases[] = {
      {"", 0, 0, Summary()},
      {"", 1, 0, Summary()},
      {"", 1, 1, Summary({{1, "Hardware Acceleration ON"}, {5, "-"}, {8, "Same As Project"}})},
      {"size 320x120; hw 0", 1, 1,
       Summary({{1, "Hardware Acceleration OFF"},
                {3, "25 FPS, 320 x 120, 24 Bits"},
                {8, "Not Same As Project"}})},
      {"hw 0", 1, 2, Summary({{1, "Hardware Acceleration OFF"}})},
      {"rate 29.97; colour 83", 0, 0, Summary({{3, "29.97 FPS, 160 x 120, 8 Bits"}})},
      {"colour 16", 0, 0, Summary({{3, "25 FPS, 160 x 120, 16 Bits"}})},
      {"colour 85", 0, 0, Summary({{3, "25 FPS, 160 x 120, 85 Bits"}})},
      {"field 1", 0, 0, Summary({{4, "Interlaced, Fld Order A"}})},
      {"field 2", 0, 0, Summary({{4, "Interlaced, Fld Order B"}})},
      {"field 3", 0, 0, Summary({{4, "Field 1"}})},
      {"field 4", 0, 0, Summary({{4, "Field 2"}})},
      {"field 5", 0, 1, ""},
      {"field -1", 0, 0, ""},
      {"subPixel 1; crop 1", 0, 0, Summary({{5, "SubPixel ON, Cropping ON"}})},
      {"audio 1 0 8/22050/1", 0, 0, Summary({{6, "Audio OFF"}, {7, "8 / 22050 / Mono"}})},
      {"audio 1 1 16/44100/6", 0, 0, Summary({{7, "16 / 44100 / 6"}})},
      {"audio 0 1 16/44100/2", 0, 0, Summary({{6, "-"}, {7, "-"}})},
      {"compressor zzzz", 0, 0, Summary({{0, ""}})},  // it cannot be opened
  };
  const auto hostModule = reinterpret_cast<HINSTANCE>(0x1234);
  SetResourceModule(hostModule);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.changes << ", hardware " << c.hardware << ", kind " << c.kind);
    norv::test::HostScope host;  // PAL: 25 fps
    NorvHostSetHardware(c.hardware);
    AviSettings settings;
    FillDefaultSettings(&settings);
    ProjectSettings project{};
    project.kind = c.kind;
    FillDefaultSettings(&project.video);
    std::memcpy(project.audioFormat, settings.audioFormat, sizeof project.audioFormat);
    norv::test::SetFields(settings, c.changes);
    const ProjectSettings* passed = c.kind != 0 ? &project : nullptr;
    char text[1024];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(WriteSettingsInfo(2, text, &settings, passed), 0);  // another file type's
    EXPECT_EQ(text[0], 'x');
    // Written under this module, the summary and its terminator only.
    EXPECT_EQ(WriteSettingsInfo(1, text, &settings, passed), 1);
    EXPECT_EQ(std::string(text), c.text);
    EXPECT_EQ(text[c.text.size() + 1], 'x');
    EXPECT_EQ(CurrentResourceModule(), hostModule);
  }

  // The scope gives the host's module back even when a dialog throws.
  try {
    ResourceModuleScope scope;
    EXPECT_EQ(CurrentResourceModule(), ThisModule());
    throw std::runtime_error("dialog failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(CurrentResourceModule(), hostModule);
  SetResourceModule(nullptr);
}

TEST(NarrowFromWide, LatinOneKeptOthersReplacedNeverPastCapacity) {
  const WCHAR text[] = {u'M', 0xFF, 0x100, 0xD83D, 0xDE00, u'x', 0};
  EXPECT_EQ(NarrowFromWide(text, 7), "M\xFF??x");
  const WCHAR unterminated[] = {u'a', u'b', u'c'};
  EXPECT_EQ(NarrowFromWide(unterminated, 3), "abc");
  // A high surrogate in the last unit does not look past the end.
  const WCHAR lone[] = {u'a', 0xD800};
  EXPECT_EQ(NarrowFromWide(lone, 2), "a?");
}

}  // namespace
