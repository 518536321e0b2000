// The settings exports through the loaded library: defaults byte for byte,
// refusals that leave the record alone, and "same as project".
#include <gtest/gtest.h>

#include <cstring>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/settings/project_match.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;

std::vector<std::uint8_t> Bytes(const AviSettings& s) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
  return {p, p + sizeof s};
}

// The default record written out field by field from the table of defaults.
std::vector<std::uint8_t> ExpectedDefaults(bool ntsc, std::uint32_t hardware) {
  std::vector<std::uint8_t> b(520, 0);
  Put32(b, 4, ntsc ? 0x41EFC28F : 0x41C80000);  // the frame rate's float bits
  const std::uint32_t fields[][2] = {
      // offset, value
      {8, 160},      {12, 120},       {20, 4},          {24, 3},       {32, 24},
      {40, 7500},    {44, 4},         {48, 0xFFFFFFFF}, {56, 30},      {324, 1},
      {328, 1},      {332 + 4, 16},   {332 + 8, 44100}, {332 + 12, 2}, {408, hardware},
      {412 + 8, 64}, {412 + 12, 128}, {412 + 16, 64}};
  for (const auto& [at, v] : fields) Put32(b, at, v);
  return b;
}

// Both video standards, with and without hardware; other kinds and a
// reserved argument are refused and leave the record alone.
TEST(DefaultSettings, WritesExactlyTheDefaultBytesForBothVideoStandards) {
  HostScope host;
  for (int ntsc : {0, 1})
    for (int hardware : {0, 1}) {
      NorvHostSetNtsc(ntsc);
      NorvHostSetHardware(hardware);
      AviSettings s;
      std::memset(&s, 0xAB, sizeof s);
      const auto before = Bytes(s);  // a refusal touches nothing, not even a stray state
      EXPECT_EQ(Plugin().FileTypeDefaultSettings(1, &s, 5), 0);
      EXPECT_EQ(Plugin().FileTypeDefaultSettings(2, &s, 0), 0);
      EXPECT_EQ(Plugin().FileTypeDefaultSettings(0, &s, 0), 0);
      EXPECT_EQ(Bytes(s), before);
      s.compressorState = 0;
      ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &s, 0), 1);
      EXPECT_EQ(Bytes(s), ExpectedDefaults(ntsc != 0, static_cast<std::uint32_t>(hardware)))
          << "ntsc " << ntsc << " hardware " << hardware;
    }
  EXPECT_EQ(Plugin().FileTypeEnsureToInit(), 1);
}

class SameAsProject : public ::testing::Test {
 protected:
  void SetUp() override {
    NorvHostSetHardware(1);
    Plugin().FileTypeDefaultSettings(1, &settings, 0);
    project.kind = 1;
    Plugin().FileTypeDefaultSettings(1, &project.video, 0);
    SetFields(project.video, "size 720x576; rate 29.97; compressor MJPG; interleave 1; hw 0");
    project.video.hwAccelOptions[0] = 99;
    const std::uint32_t audio[14] = {7, 8, 22050, 1};
    std::memcpy(project.audioFormat, audio, sizeof audio);
  }
  void TearDown() override {
    HostFree(&settings.compressorState);
    HostFree(&project.video.compressorState);
  }
  HostScope host;
  AviSettings settings{};
  ProjectSettings project{};
};

// The project's record, but this one's interleave, audio switches and
// hardware settings; another kind is refused, the record left alone. The
// match ignores only the state's capacity and address, the raw mode, the
// interleave and the reserved words after the audio block.
TEST_F(SameAsProject, TakesTheProjectButKeepsInterleaveAudioSwitchesAndHardware) {
  SetFields(settings, "interleave 12; audio 0 0 16/44100/2; hw 1");
  settings.hwAccelOptions[5] = 42;
  AviSettings expected = project.video;
  SetFields(expected, "interleave 12; audio 0 0 8/22050/1; hw 1");
  std::memcpy(expected.hwAccelOptions, settings.hwAccelOptions, sizeof expected.hwAccelOptions);
  expected.audioFormat[0] = 7;
  ASSERT_EQ(Plugin().FileTypeMakeSameAsPrj(1, &settings, &project), 1);
  EXPECT_EQ(Bytes(settings), Bytes(expected));
  ASSERT_TRUE(MatchesProject(&settings, &project));

  EXPECT_EQ(Plugin().FileTypeMakeSameAsPrj(2, &settings, &project), 0);
  EXPECT_EQ(Bytes(settings), Bytes(expected));

  auto differs = [&](auto change) {
    AviSettings copy = settings;  // no state block to share
    change(copy);
    return !MatchesProject(&copy, &project);
  };
  EXPECT_FALSE(differs([](AviSettings& s) { s.qrvExport = 1; }));
  EXPECT_FALSE(differs([](AviSettings& s) { s.compressorStateCapacity = 4000; }));
  EXPECT_FALSE(differs([](AviSettings& s) { s.reserved496[3] = 9; }));
  EXPECT_FALSE(differs([](AviSettings& s) { s.interleaveFrames = 7; }));
  EXPECT_TRUE(differs([](AviSettings& s) { s.cropRect[2] = 1; }));
  EXPECT_TRUE(differs([](AviSettings& s) { s.reserved60 = 1; }));
  EXPECT_TRUE(differs([](AviSettings& s) {
    s.audioAvailable = 0;
    s.audioFormat[2] = 48000;
  }));
}

TEST_F(SameAsProject, CompressorStateCountsBySizeAndBytesNotByBlock) {
  SetFields(project.video, "state 3000/4000");
  project.video.compressorState = HostAlloc(4000, 1);
  std::memset(HostBlockAddress(project.video.compressorState), 0x11, 4000);
  const long blocksBefore = NorvHostBlocksInUse();

  ApplyProjectSettings(&settings, &project);
  ASSERT_NE(settings.compressorState, 0u);
  EXPECT_NE(settings.compressorState, project.video.compressorState);
  EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore + 1);
  EXPECT_TRUE(MatchesProject(&settings, &project));
  EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore + 1) << "the scratch copy must be released";

  static_cast<std::uint8_t*>(HostBlockAddress(settings.compressorState))[2999] = 0x12;
  EXPECT_FALSE(MatchesProject(&settings, &project));
  static_cast<std::uint8_t*>(HostBlockAddress(settings.compressorState))[2999] = 0x11;
  static_cast<std::uint8_t*>(HostBlockAddress(settings.compressorState))[3000] = 0x99;
  EXPECT_TRUE(MatchesProject(&settings, &project)) << "bytes past the size never count";
  settings.compressorStateSize = 2999;
  EXPECT_FALSE(MatchesProject(&settings, &project));
}

TEST(SettingsCopy, EveryCopyOwnsItsOwnBlockAndOldBlocksAreReturned) {
  HostScope host;
  const long base = NorvHostBlocksInUse();
  AviSettings source{}, copy{};
  SetFields(source, "state 3000/4000");
  source.compressorState = HostAlloc(4000, 1);
  std::memset(HostBlockAddress(source.compressorState), 0x42, 4000);

  CopyFileTypeSettings(&copy, &source);
  ASSERT_NE(copy.compressorState, source.compressorState);
  EXPECT_EQ(0, std::memcmp(HostBlockAddress(copy.compressorState),
                           HostBlockAddress(source.compressorState), 3000));
  // A destination that owns a block already gets a fresh copy; its old block is returned.
  CopyFileTypeSettings(&copy, &source);
  EXPECT_EQ(NorvHostBlocksInUse(), base + 2);
  HostFree(&copy.compressorState);
  EXPECT_EQ(copy.compressorState, 0u);
  EXPECT_EQ(static_cast<std::uint8_t*>(HostBlockAddress(source.compressorState))[0], 0x42);
  CopyFileTypeSettings(&source, &source);  // a copy onto itself changes nothing
  EXPECT_EQ(NorvHostBlocksInUse(), base + 1);
  HostFree(&source.compressorState);
  HostFree(&source.compressorState);  // freeing twice is harmless: the field is null
  EXPECT_EQ(NorvHostBlocksInUse(), base);
}

}  // namespace
