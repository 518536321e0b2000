#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "hoststub/norv_host.h"
#include "hoststub/preset_format.h"
#include "plugin/host/host_api.h"
#include "tests/support/test_support.h"

namespace {

using norv::host::ParseVideoPreset;
using norv::test::ReadText;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A record with every field away from its default, owning a 3000-byte state.
class Presets : public ::testing::Test {
 protected:
  Presets() {
    auto* bytes = reinterpret_cast<std::uint8_t*>(&source);
    for (std::size_t i = 0; i < sizeof source; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    source.compressorHandler = MakeFourCC("MJPG");
    source.frameRate = 29.97f;
    source.width = -5;
    source.dataRate = -1;
    std::memset(source.paletteFile, 0, sizeof source.paletteFile);
    std::strcpy(source.paletteFile, "C:\\My Palettes\\\"warm\" #1 = 50%\t\xE9t\xE9.pal");
    source.compressorStateSize = 3000;
    source.compressorStateCapacity = 4000;
    source.compressorState = HostAlloc(4000, 1);
    auto* state = static_cast<std::uint8_t*>(HostBlockAddress(source.compressorState));
    for (int i = 0; i < 3000; ++i) state[i] = static_cast<std::uint8_t>(i * 31 + 5);
  }
  ~Presets() override { HostFree(&source.compressorState); }

  // A destination that owns a block of its own, as the dialog's scratch copy does.
  AviSettings Destination() {
    AviSettings d;
    std::memset(&d, 0x5A, sizeof d);
    d.compressorStateSize = 10;
    d.compressorStateCapacity = 1000;
    d.compressorState = HostAlloc(1000, 1);
    return d;
  }

  // The file is refused and the destination keeps every byte and its block.
  void ExpectRefused(const std::string& text, const std::string& what) {
    norv::test::WriteFileBytes(path, {text.begin(), text.end()});
    AviSettings d = Destination();
    AviSettings before = d;
    const long blocks = NorvHostBlocksInUse();
    EXPECT_EQ(LoadPresetFile(1, &d, path.c_str()), 0) << what;
    EXPECT_EQ(std::memcmp(&d, &before, sizeof d), 0) << what;
    EXPECT_EQ(NorvHostBlocksInUse(), blocks) << what;
    HostFree(&d.compressorState);
  }

  norv::test::HostScope host;
  norv::test::TempDir dir;
  AviSettings source;
  std::string path = dir.File("all fields.ostavi");
};

// The saved file loads into a record equal to the source, owning a copy of
// its state; every damaged copy of that file is refused.
TEST_F(Presets, VideoRoundTripRestoresEveryFieldAndMalformedFilesAreRefused) {
  ASSERT_EQ(SavePresetFile(1, &source, path.c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  const std::string good = ReadText(path);

  AviSettings loaded = Destination();
  const long blocksBefore = NorvHostBlocksInUse();
  ASSERT_EQ(LoadPresetFile(1, &loaded, path.c_str()), 1);
  // The destination's previous block went back; its new one replaced it.
  EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore);

  AviSettings same = loaded;  // every byte but the block's reference
  same.compressorState = source.compressorState;
  EXPECT_EQ(std::memcmp(&same, &source, sizeof source), 0);
  ASSERT_NE(loaded.compressorState, 0u);
  EXPECT_NE(loaded.compressorState, source.compressorState);
  EXPECT_EQ(std::memcmp(HostBlockAddress(loaded.compressorState),
                        HostBlockAddress(source.compressorState), 3000),
            0);
  EXPECT_EQ(LoadPresetFile(1, &loaded, dir.File("missing.ostavi").c_str()), 0);
  EXPECT_EQ(LoadPresetFile(2, &loaded, path.c_str()), 0);

  const std::string damaged[][3] = {
      {"NorvAvi preset 1", "NorvAvi preset", "bad header"},
      {"NorvAvi preset 1", "NorvAvi preset 2", "unknown version"},
      {"kind=1", "kind=3", "wrong kind"},
      {"aspectX=", "aspectX=1x", "bad number"},
      {"aspectX=", "aspectX=99999999999", "number out of range"},
      {"qrvExport=", "qrvExport=-", "sign only"},
      {"cropRect=", "cropRect=1 ", "too many words"},
      {"hwAccel=", "width=1\nhwAccel=", "repeated field"},
      {"hwAccel=", "hwAcel=", "unknown field"},
      {"\nlockAspect=", "\nx", "missing field"},
      {"frameRate=29.97 (0x41EFC28F)", "frameRate=25 (0x41EFC28F)", "disagreeing float"},
      {"frameRate=29.97 (0x41EFC28F)", "frameRate=29.97 (0x41EFC2)", "short float bits"},
      {"(MJPG)", "(MJPH)", "disagreeing fourcc"},
      {"compressorStateSize=3000", "compressorStateSize=2999", "state size mismatch"},
      {"compressorStateCapacity=4000", "compressorStateCapacity=2000", "capacity below size"},
      {"compressorState=", "compressorState=0", "odd hex digits"},
      {"compressorState=", "compressorState=G0", "bad hex digit"},
      {"paletteFile=\"", "paletteFile=\"\\x00", "NUL in name"},
      {"paletteFile=\"", "paletteFile=\"\\q", "bad escape"},
      {"paletteFile=\"", "paletteFile=\"\"x", "stray quote"},
      {"paletteFile=\"", "paletteFile=\"" + std::string(230, 'p'), "name too long"},
  };
  for (const auto& [from, to, what] : damaged) ExpectRefused(Replace(good, from, to), what);

  // A state above the limit is refused before anything is allocated.
  const std::string huge = std::to_string(norv::host::kMaxPresetStateBytes + 1);
  std::string oversize = Replace(good, "compressorStateSize=3000", "compressorStateSize=" + huge);
  oversize = Replace(oversize, "compressorStateCapacity=4000", "compressorStateCapacity=" + huge);
  const auto state = oversize.find("compressorState=") + 16;
  oversize.replace(state, 6000, std::string(2 * (norv::host::kMaxPresetStateBytes + 1), 'A'));
  ExpectRefused(oversize, "oversize state");

  // Without a state the record loads without a block; its old one goes back.
  source.compressorStateSize = source.compressorStateCapacity = 0;
  HostFree(&source.compressorState);
  ASSERT_EQ(SavePresetFile(1, &source, path.c_str()), 1);
  ASSERT_EQ(LoadPresetFile(1, &loaded, path.c_str()), 1);
  EXPECT_EQ(loaded.compressorState, 0u);
  EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore - 2);
}

// The parser refuses every file cut short, and takes hand-edited ones with
// comments, CR LF line ends, fields in any order and plain decimals. The
// text keeps any float's bits and a name of every byte filling its field.
TEST_F(Presets, EveryCutShortFileIsRefusedAndHandEditedOnesAreRead) {
  HostFree(&source.compressorState);
  source.compressorStateSize = source.compressorStateCapacity = 0;
  std::string text = norv::host::FormatVideoPreset(source, {});
  norv::host::VideoPreset p;
  for (std::size_t n = 0; n + 1 < text.size(); ++n)
    EXPECT_FALSE(ParseVideoPreset(text.substr(0, n), &p)) << n;
  EXPECT_TRUE(ParseVideoPreset(text.substr(0, text.size() - 1), &p));
  text = Replace(text, "frameRate=29.97 (0x41EFC28F)\n", "");
  text = Replace(text, "kind=1\n", "kind=1\n\n# NTSC rate\n  frameRate = 29.97\n");
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string why;
  ASSERT_TRUE(ParseVideoPreset(crlf, &p, &why)) << why;
  EXPECT_EQ(std::memcmp(&p.settings, &source, offsetof(AviSettings, compressorState)), 0);

  for (int i = 0; i < 259; ++i) source.paletteFile[i] = static_cast<char>(1 + i % 255);
  for (std::uint32_t bits : {0x80000000u, 0x7FC01234u, 0x7F800000u, 0x00000001u, 0x41C80000u}) {
    std::memcpy(&source.frameRate, &bits, 4);
    ASSERT_TRUE(ParseVideoPreset(norv::host::FormatVideoPreset(source, {}), &p))
        << std::hex << bits;
    EXPECT_EQ(std::memcmp(&p.settings, &source, offsetof(AviSettings, compressorState)), 0);
  }
}

// Records the format cannot hold faithfully are not saved; an audio block
// round-trips, and neither kind loads as the other.
TEST_F(Presets, SaveRefusesWhatItCannotWriteAndKindsDoNotMix) {
  AviSettings broken[3] = {source, source, source};
  std::memset(broken[0].paletteFile, 'a', sizeof broken[0].paletteFile);
  broken[1].compressorState = 0;  // a size without a block
  broken[2].compressorStateCapacity = 100;
  for (const AviSettings& b : broken)
    EXPECT_EQ(SavePresetFile(1, &b, path.c_str()), 0) << "record " << &b - broken;
  EXPECT_EQ(SavePresetFile(2, &source, path.c_str()), 0);
  EXPECT_EQ(SavePresetFile(1, &source, dir.File("no/such/folder.ostavi").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));

  std::uint32_t block[14];
  for (std::uint32_t i = 0; i < 14; ++i) block[i] = 0xFFFFFFF0u + i * 0x01010101u;
  const std::string audio = dir.File("a.ostwav");
  ASSERT_EQ(SavePresetFile(3, block, audio.c_str()), 1);
  std::uint32_t loaded[14] = {};
  ASSERT_EQ(LoadPresetFile(3, loaded, audio.c_str()), 1);
  EXPECT_EQ(std::memcmp(loaded, block, sizeof block), 0);

  ASSERT_EQ(SavePresetFile(1, &source, path.c_str()), 1);
  std::uint32_t untouched[14] = {7};
  EXPECT_EQ(LoadPresetFile(3, untouched, path.c_str()), 0);
  EXPECT_EQ(untouched[0], 7u);
  ExpectRefused(ReadText(audio), "audio preset as video");

  const std::string badAudio = Replace(ReadText(audio), "audioFormat=", "audioFormat=1 ");
  norv::test::WriteFileBytes(audio, {badAudio.begin(), badAudio.end()});
  EXPECT_EQ(LoadPresetFile(3, untouched, audio.c_str()), 0);
  EXPECT_EQ(untouched[0], 7u);
}

TEST(SamplePresets, ShippedVideoPresetsAllLoad) {
  norv::test::HostScope host;
  char folder[260] = {};
  GetHostFolder(folder);
  const std::filesystem::path samples = std::string(folder) + "SAMPLES";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(samples)) {
    AviSettings s{};
    EXPECT_EQ(LoadPresetFile(1, &s, entry.path().c_str()), 1) << entry.path();
    EXPECT_EQ(entry.path().extension(), ".ostavi");
    EXPECT_GE(s.width, 32);
    HostFree(&s.compressorState);
    ++count;
  }
  EXPECT_GE(count, 4);
}

TEST(PresetPathAnswer, CopiedIntoTheCallersBufferOrCancelled) {
  const std::string fits(259, 'p'), tooLong(260, 'p');
  const std::pair<const char*, const char*> cases[] = {{"/tmp/x.ostavi", "/tmp/x.ostavi"},
                                                       {fits.c_str(), fits.c_str()},
                                                       {tooLong.c_str(), nullptr},
                                                       {"", nullptr},
                                                       {nullptr, nullptr}};
  for (const auto& [answer, copied] : cases) {
    char path[260] = {};
    NorvHostSetPresetPathAnswer(answer);
    EXPECT_EQ(AskPresetPath(1, path, ".ostavi", nullptr), copied != nullptr ? 1 : 0);
    EXPECT_STREQ(path, copied != nullptr ? copied : "");
  }
}

}  // namespace
