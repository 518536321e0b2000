// The settings dialogs walked as a user would, through FileTypeLaunchSettings
// of the loaded module and the scripted binding: normalisation, size and
// aspect rules, hardware limits, the compressor rows, the smaller dialogs
// and the presets.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "hoststub/norv_host.h"
#include "platform/ui/scripted_binding.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

using namespace norv::test;
using norv::ui::ScriptedBinding;
using norv::ui::ScriptedUser;

const DWORD kHandlerA = MakeFourCC("SCRA");
const DWORD kHandlerB = MakeFourCC("SCRB");
const DWORD kHandlerC = MakeFourCC("SCRC");

std::string CompressorName(DWORD handler) {
  std::string name = "Scripted test compressor ";
  for (int i = 0; i < 4; ++i) name.push_back(static_cast<char>((handler >> (8 * i)) & 0xFF));
  return name;
}

std::vector<std::uint8_t> StateBytes(const AviSettings& s) {
  const auto* p = static_cast<const std::uint8_t*>(HostBlockAddress(s.compressorState));
  return p == nullptr ? std::vector<std::uint8_t>{}
                      : std::vector<std::uint8_t>(p, p + s.compressorStateSize);
}

class SettingsDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    blocksBefore_ = NorvHostBlocksInUse();
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &settings, 0), 1);
    project.kind = 1;
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &project.video, 0), 1);
    const std::uint32_t audio[14] = {1, 16, 48000, 2};
    std::memcpy(project.audioFormat, audio, sizeof audio);
  }
  void TearDown() override {
    HostFree(&settings.compressorState);
    for (const std::string& e : ui.errors()) ADD_FAILURE() << e;
    EXPECT_EQ(ui.pendingScripts(), 0u);
    EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore_);
  }
  int Launch(bool withProject = true) {
    return Plugin().FileTypeLaunchSettings(1, &settings, withProject ? &project : nullptr, nullptr);
  }
  // The main dialog as a user who clicks `button`, then closes it with `close`.
  void Press(int button, int close) {
    ui.Expect(kAviSettingsTemplate, [=](ScriptedUser& user) {
      user.Click(button);
      user.Click(close);
    });
  }
  // Picks `handler`'s row in the main dialog, runs `check`, closes with `close`.
  int Choose(
      DWORD handler, int close = kIdOk,
      std::function<void(ScriptedUser&)> check = [](ScriptedUser&) {}) {
    ui.Expect(kAviSettingsTemplate, [=](ScriptedUser& user) {
      user.SelectText(kCompressorList, CompressorName(handler));
      check(user);
      user.Click(close);
    });
    return Launch();
  }
  void Hardware(int width, int height, int rateX100) {
    NorvHostSetHardware(1);
    NorvHostSetProject(width, height, rateX100);
    settings.hwAccel = 1;
  }
  void GiveState(const std::vector<std::uint8_t>& bytes) {
    settings.compressorState = HostAlloc(1000, 1);
    settings.compressorStateCapacity = 1000;
    settings.compressorStateSize = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(HostBlockAddress(settings.compressorState), bytes.data(), bytes.size());
  }

  HostScope host;
  ScriptedBinding ui;
  AviSettings settings{};
  ProjectSettings project{};

 private:
  long blocksBefore_ = 0;
};

TEST_F(SettingsDialogs, CancelStillNormalisesTheHostsRecordAndOkReturnsOne) {
  settings.frameRate = 7.0f;
  settings.width = 5;
  settings.height = 20000;
  settings.fieldHandling = 9;
  settings.aspectX = 0;
  settings.aspectY = 150;
  settings.lockAspect = 5;
  settings.hwAccel = 1;  // the host has no hardware
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.Caption(), "AVI Settings");
    EXPECT_EQ(user.SelectedText(kFrameRateList), "15");
    EXPECT_EQ(user.Text(kWidthEdit), "32");
    EXPECT_EQ(user.SelectedText(kFieldHandlingList), "Field 2");
    EXPECT_EQ(user.Text(kAspectXEdit), "1");
    EXPECT_EQ(user.Text(kAspectYEdit), "99");
    EXPECT_TRUE(user.Checked(kLockAspect));
    EXPECT_FALSE(user.Visible(kHardwareGroup));
    EXPECT_FALSE(user.Visible(kHardwareEnable));
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(settings.frameRate, 15.0f);
  EXPECT_EQ(settings.width, 32);
  EXPECT_EQ(settings.height, 9999);
  EXPECT_EQ(settings.fieldHandling, 4);
  EXPECT_EQ(settings.aspectX, 1);
  EXPECT_EQ(settings.aspectY, 99);
  EXPECT_EQ(settings.lockAspect, 1);
  EXPECT_EQ(settings.hwAccel, 0);

  // Without audio the hidden Enable box is not read back: the record's choice stays.
  settings.audioAvailable = 0;
  settings.audioEnabled = 1;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_FALSE(user.Visible(kAudioEnable));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(/*withProject=*/false), 1);
  EXPECT_EQ(settings.audioEnabled, 1);
}

TEST_F(SettingsDialogs, WithoutABindingTheRecordIsNormalisedAndZeroReturned) {
  ScriptedBinding* installed = &ui;
  norv::ui::SetDialogBinding(nullptr);
  settings.frameRate = 7.0f;
  settings.width = 5;
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(Plugin().FileTypeLaunchSettings(2, &settings, nullptr, nullptr), 0);
  norv::ui::SetDialogBinding(installed);
  EXPECT_EQ(settings.frameRate, 15.0f);
  EXPECT_EQ(settings.width, 32);
}

// With the aspect locked, typing one size edit shows the other: rounded to
// the nearest pixel, then clamped like a typed one.
struct LockedEdit {
  int typed;
  const char* text;
  int other;
  const char* shown;
};

void TypeLocked(ScriptedUser& user, std::initializer_list<LockedEdit> edits) {
  for (const LockedEdit& e : edits) {
    user.Type(e.typed, e.text);
    EXPECT_EQ(user.Text(e.other), e.shown) << "after typing " << e.text;
  }
}

TEST_F(SettingsDialogs, SizeEditsClampOnLeavingAndFollowTheAspectLock) {
  settings.lockAspect = 1;  // 4:3
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    user.Type(kWidthEdit, "5");
    user.TabAway();
    EXPECT_EQ(user.Text(kWidthEdit), "32");
    EXPECT_EQ(user.Text(kHeightEdit), "32");  // 24 before clamping
    user.Type(kAspectXEdit, "16");
    user.Type(kAspectYEdit, "9");
    EXPECT_FALSE(user.Type(kWidthEdit, "72000"));  // four characters at most
    EXPECT_EQ(user.Text(kWidthEdit), "7200");
    TypeLocked(user, {{kWidthEdit, "641", kHeightEdit, "361"},  // 360.56
                      {kHeightEdit, "361", kWidthEdit, "642"},  // 641.78
                      {kHeightEdit, "9000", kWidthEdit, "9999"},
                      {kHeightEdit, "10", kWidthEdit, "32"},
                      {kWidthEdit, "720", kHeightEdit, "405"}});
    user.Click(kLockAspect);  // unlocked: the aspect edits go grey
    EXPECT_FALSE(user.Enabled(kAspectXEdit));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.width, 720);
  EXPECT_EQ(settings.height, 405);
  EXPECT_EQ(settings.aspectX, 16);
  EXPECT_EQ(settings.aspectY, 9);
  EXPECT_EQ(settings.lockAspect, 0);

  // With hardware acceleration the project's size is the largest and heights are even.
  Hardware(720, 576, 2500);
  settings.lockAspect = 1;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_TRUE(user.Visible(kHardwareEnable));
    TypeLocked(user, {{kWidthEdit, "720", kHeightEdit, "404"},
                      {kHeightEdit, "500", kWidthEdit, "720"}});  // 889
    user.Click(kLockAspect);
    user.Type(kWidthEdit, "1000");
    user.TabAway();
    EXPECT_EQ(user.Text(kWidthEdit), "720");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
}

TEST_F(SettingsDialogs, HardwareFieldModesHalveTheHeight) {
  for (const auto& [projectHeight, field, shown] :
       {std::tuple{480, 3, "240"}, std::tuple{486, 4, "242"}}) {
    Hardware(720, projectHeight, 2997);
    settings.width = 720;
    settings.height = projectHeight;
    settings.fieldHandling = 0;
    ui.Expect(kAviSettingsTemplate, [&](ScriptedUser& user) {
      EXPECT_EQ(user.Text(kHeightEdit), std::to_string(projectHeight));
      user.Select(kFieldHandlingList, field);
      EXPECT_EQ(user.Text(kHeightEdit), shown);
      user.Click(kIdOk);
    });
    EXPECT_EQ(Launch(), 1);
    EXPECT_EQ(std::to_string(settings.height), shown);
    EXPECT_EQ(settings.fieldHandling, field);
  }
}

TEST_F(SettingsDialogs, HardwareKeepsRatesAtOrBelowTheProjects) {
  Hardware(720, 576, 2500);
  settings.frameRate = 29.97f;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    const std::vector<std::string> slower = {"25", "24", "15", "12", "10", "8",
                                             "6",  "5",  "4",  "3",  "2",  "1"};
    EXPECT_EQ(user.Items(kFrameRateList), slower);
    EXPECT_EQ(user.SelectedText(kFrameRateList), "15");
    EXPECT_FALSE(user.Enabled(kSubPixel));
    EXPECT_FALSE(user.Enabled(kCropping));
    user.Click(kHardwareEnable);  // off: every rate again, sub pixel and cropping back
    EXPECT_EQ(user.Items(kFrameRateList).size(), 14u);
    EXPECT_TRUE(user.Enabled(kSubPixel));
    EXPECT_TRUE(user.Enabled(kCropping));
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(settings.frameRate, 15.0f);
  EXPECT_EQ(settings.hwAccel, 1);  // the toggle was cancelled
}

TEST_F(SettingsDialogs, QrvExportLocksCompressorAndColourAndChecksFieldOrder) {
  settings.qrvExport = 1;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.Caption(), "Export QRV File");
    EXPECT_FALSE(user.Enabled(kCompressorList));
    EXPECT_FALSE(user.Enabled(kColourList));
    EXPECT_FALSE(user.Visible(kAudioOptionsButton));
    EXPECT_TRUE(user.Checked(kDvReverse));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
}

TEST_F(SettingsDialogs, UserPaletteNeedsAnExistingFileBeforeOkCloses) {
  const std::string palette = host.dir().File("mine.pal");
  norv::test::WriteFileBytes(palette, {'R', 'I', 'F', 'F'});
  settings.colorFormat = kColorPaletteFile;
  std::strcpy(settings.paletteFile, "/no/such/file.pal");
  ui.AnswerChooser(palette);
  ui.Expect(kAviSettingsTemplate, [&](ScriptedUser& user) {
    EXPECT_TRUE(user.Enabled(kPaletteButton));
    user.Click(kDvReverse);
    user.Click(kIdOk);
    EXPECT_TRUE(user.IsOpen());
    EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
    user.Click(kPaletteButton);
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Select a valid palette file."});
  EXPECT_EQ(std::string(settings.paletteFile), palette);
  ASSERT_EQ(ui.choosers().size(), 1u);
  EXPECT_EQ(ui.choosers()[0].title, "Select palette file");
  EXPECT_EQ(ui.choosers()[0].filterDescription, "Palette File (pal)");
  EXPECT_EQ(ui.choosers()[0].filterPattern, "*.pal");
  EXPECT_EQ(ui.choosers()[0].defaultExtension, "pal");  // a typed "mine" becomes mine.pal
  EXPECT_EQ(ui.choosers()[0].maxPath, sizeof settings.paletteFile - 1);
  EXPECT_EQ(ui.choosers()[0].path, "/no/such/file.pal");
  EXPECT_FALSE(ui.choosers()[0].fileMustExist);
}

TEST_F(SettingsDialogs, EachCompressorRowRemembersQualityKeyFramesAndState) {
  ScriptedCompressor a(kHandlerA), b(kHandlerB);
  b.SetDefaults(5000, 8);
  const std::vector<std::uint8_t> saved(ScriptedCompressor::kStateSize, 0xA5);
  settings.compressorHandler = kHandlerA;
  settings.quality = 6000;
  settings.keyFrameEvery = 7;
  GiveState(saved);
  auto options = [this](int quality, int keyFrames, int newQuality, int newKeyFrames) {
    ui.Expect(kCompressionOptionsTemplate, [=](ScriptedUser& user) {
      EXPECT_EQ(user.Position(kQualityTrack), quality);
      EXPECT_EQ(user.Text(kQualityLabel), std::to_string(quality));
      EXPECT_EQ(user.Position(kKeyFrameTrack), keyFrames);
      if (newQuality < 0) {
        user.Click(kIdCancel);
        return;
      }
      user.Scroll(kQualityTrack, newQuality);
      EXPECT_EQ(user.Text(kQualityLabel), std::to_string(newQuality));
      user.Scroll(kKeyFrameTrack, newKeyFrames);
      user.Click(kIdOk);
    });
  };
  ui.Expect(kAviSettingsTemplate, [&](ScriptedUser& user) {
    EXPECT_EQ(user.SelectedText(kCompressorList), CompressorName(kHandlerA));
    EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"24 Bits"});
    options(60, 7, 33, 10);
    user.Click(kCompressionOptions);
    user.SelectText(kCompressorList, CompressorName(kHandlerB));
    options(50, 8, -1, -1);
    user.Click(kCompressionOptions);
    user.SelectText(kCompressorList, CompressorName(kHandlerA));
    options(33, 10, -1, -1);
    user.Click(kCompressionOptions);
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.compressorHandler, kHandlerA);
  EXPECT_EQ(settings.quality, 3300);
  EXPECT_EQ(settings.keyFrameEvery, 10);
  EXPECT_EQ(StateBytes(settings), saved);
  EXPECT_EQ(a.lastStateSet(), saved);  // the compressor started from the saved state
  EXPECT_EQ(settings.keyFramesOnly, 0);
}

// Compression Options over a record without state: OK takes the rounded
// quality and the state the compressor confirms, Cancel takes nothing.
TEST_F(SettingsDialogs, CompressionOptionsOkTakesQualityAndConfirmedStateCancelNothing) {
  constexpr DWORD kSmall = ScriptedCompressor::kStateSize;
  struct Case {
    DWORD stateSize;
    LRESULT handOver;  // what the compressor answers when it copies its state out
    int button;
    std::int32_t quality;
    std::uint32_t keptSize;
    std::uint32_t capacity;  // whole thousands with room to spare, even at a multiple
  };
  const Case cases[] = {
      {kSmall, kSmall, kIdOk, 7500, kSmall, 1000},
      {kSmall, kSmall, kIdCancel, 7550, 0, 0},
      {1000, 1000, kIdOk, 7500, 1000, 2000},
      {kSmall, kSmall - 12, kIdOk, 7500, 0, 1000},  // an unconfirmed state is dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stateSize << " bytes, answer " << c.handOver
                                    << (c.button == kIdOk ? ", OK" : ", Cancel"));
    ScriptedCompressor a(kHandlerA);
    a.SetState(c.stateSize, c.handOver);
    HostFree(&settings.compressorState);
    settings.compressorStateSize = 0;
    settings.compressorStateCapacity = 0;
    settings.compressorHandler = kHandlerA;
    settings.quality = 7550;
    Press(kCompressionOptions, kIdOk);
    ui.Expect(kCompressionOptionsTemplate, [&](ScriptedUser& user) {
      EXPECT_EQ(user.Position(kQualityTrack), 75);
      EXPECT_EQ(user.Text(kQualityLabel), "75");
      EXPECT_TRUE(user.Enabled(kConfigure));
      if (c.button == kIdCancel) user.Scroll(kQualityTrack, 20);
      user.Click(c.button);
    });
    EXPECT_EQ(Launch(), 1);
    EXPECT_EQ(settings.quality, c.quality);
    EXPECT_EQ(settings.compressorStateSize, c.keptSize);
    EXPECT_EQ(settings.compressorStateCapacity, c.capacity);
    const std::vector<std::uint8_t> state = a.state();
    EXPECT_EQ(StateBytes(settings),
              std::vector<std::uint8_t>(state.begin(), state.begin() + c.keptSize));
  }
}

TEST_F(SettingsDialogs, CompressorWithoutTemporalCompressionMakesEveryFrameAKey) {
  ScriptedCompressor c(kHandlerC);
  c.SetFlags(VIDCF_QUALITY);
  settings.colorFormat = kColor666;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    // "No Compression" offers the five palettes and 24 bits, no data rate, no options.
    EXPECT_EQ(user.ItemData(kColourList), (std::vector<std::uint32_t>{80, 81, 82, 83, 84, 24}));
    EXPECT_EQ(user.SelectedText(kColourList), "8 Bits, 6-6-6 Levels");
    EXPECT_FALSE(user.Enabled(kDataRateList));
    EXPECT_FALSE(user.Enabled(kCompressionOptions));
    user.SelectText(kCompressorList, CompressorName(kHandlerC));
    EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"24 Bits"});
    EXPECT_TRUE(user.Enabled(kDataRateList));
    EXPECT_TRUE(user.Enabled(kCompressionOptions));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.compressorHandler, kHandlerC);
  EXPECT_EQ(settings.keyFrameEvery, 1);
  EXPECT_EQ(settings.keyFramesOnly, 1);
  EXPECT_EQ(settings.colorFormat, 24);

  // Opening on a record that already names it keeps the record's interval.
  settings.keyFrameEvery = 5;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) { user.Click(kIdOk); });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.keyFrameEvery, 5);

  // ZQKM is taken as intra-only whatever flags it describes itself with.
  ScriptedCompressor zqkm(MakeFourCC("ZQKM"));
  settings.keyFrameEvery = 5;
  EXPECT_EQ(Choose(MakeFourCC("ZQKM")), 1);
  EXPECT_EQ(settings.compressorHandler, MakeFourCC("ZQKM"));
  EXPECT_EQ(settings.keyFramesOnly, 1);
  EXPECT_EQ(settings.keyFrameEvery, 1);
}

TEST_F(SettingsDialogs, MotionJpegIsProbedOpenForCompressingAndListedEvenWhenItWillNotOpenSo) {
  // Replaces the built-in MJPG for this test's process.
  ScriptedCompressor m(MakeFourCC("MJPG"));
  m.RefuseOpens(ICMODE_COMPRESS);
  EXPECT_EQ(Choose(MakeFourCC("MJPG"), kIdOk,
                   [](ScriptedUser& user) {
                     EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"24 Bits"});
                   }),
            1);
  EXPECT_EQ(settings.compressorHandler, MakeFourCC("MJPG"));

  // One that tells its formats only when opened for compressing is probed so.
  ScriptedCompressor sixteen(MakeFourCC("MJPG"));
  sixteen.FormatsOnlyWhenCompressing(16);
  EXPECT_EQ(Choose(MakeFourCC("MJPG"), kIdOk,
                   [](ScriptedUser& user) {
                     EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"16 Bits"});
                   }),
            1);
  // Depths up to 27 bits have rows of their own; beyond, 24 bits stands in.
  for (const auto& [bits, row] : {std::pair<WORD, std::uint32_t>{27, 27}, {32, 24}}) {
    ScriptedCompressor deep(MakeFourCC("MJPG"));
    deep.FormatsOnlyWhenCompressing(bits);
    EXPECT_EQ(Choose(MakeFourCC("MJPG"), kIdCancel,
                     [row = row](ScriptedUser& user) {
                       EXPECT_EQ(user.ItemData(kColourList), std::vector<std::uint32_t>{row});
                     }),
              0);
  }
}

// An 8-bit compressor answers the palettised probe with a 1064-byte format
// (header and 256 colours) and offers the five 8-bit rows, no 24 bits. Newly
// chosen, it starts from its first row, not from the colour chosen before.
TEST_F(SettingsDialogs, EightBitCompressorOffersTheEightBitRowsOnly) {
  settings.colorFormat = kColor666;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.SelectedText(kColourList), "8 Bits, 6-6-6 Levels");
    user.SelectText(kCompressorList, "Microsoft RLE 8-bit");
    EXPECT_EQ(user.SelectedText(kColourList), "8 Bits, 3-3-2 Bits");
    EXPECT_EQ(user.Items(kColourList),
              (std::vector<std::string>{"8 Bits, 3-3-2 Bits", "8 Bits, 6-6-6 Levels",
                                        "8 Bits, 6-7-6 Levels", "8 Bits, Common Optimum",
                                        "8 Bits, User Select Palette"}));
    EXPECT_EQ(user.ItemData(kColourList), (std::vector<std::uint32_t>{80, 81, 82, 83, 84}));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.compressorHandler, MakeFourCC("MRLE"));
  EXPECT_EQ(settings.colorFormat, 80);

  // One that takes 8-bit frames but answers another depth offers none of them.
  ScriptedCompressor odd(kHandlerA);
  odd.TakesEightBitsOnly(16);
  EXPECT_EQ(Choose(kHandlerA, kIdCancel,
                   [](ScriptedUser& user) {
                     EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"24 Bits"});
                   }),
            0);
}

TEST_F(SettingsDialogs, CompressorRowsFollowTheirRulesAndPlaybackRowsCarryTheirRates) {
  ScriptedCompressor a(kHandlerA), msvc(MakeFourCC("msvc")), loud(kHandlerB),
      hidden(MakeFourCC("iv31"));
  msvc.SetDefaults(7000, 9);  // its key frames come from the rule, not from it
  loud.SetDefaults(20000, 6);
  settings.compressorHandler = kHandlerA;
  settings.quality = 1234;
  settings.dataRateChoice = 3;
  settings.dataRate = 600;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.ItemData(kDataRateList),
              (std::vector<std::uint32_t>{0, 800, 700, 600, 500, 400, 300, 150, 0}));
    EXPECT_EQ(user.Selection(kDataRateList), 3);
    const auto rows = user.Items(kCompressorList);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), CompressorName(MakeFourCC("iv31"))), 0);
    user.SelectText(kCompressorList, CompressorName(kHandlerA));  // the same one: no change
    EXPECT_EQ(user.Selection(kDataRateList), 3);
    user.Select(kDataRateList, 7);
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.quality, 1234);
  EXPECT_EQ(settings.dataRateChoice, 7);
  EXPECT_EQ(settings.dataRate, 150);

  // Another compressor starts from its own defaults and the Default rate.
  EXPECT_EQ(Choose(MakeFourCC("msvc"), kIdOk,
                   [](ScriptedUser& user) { EXPECT_EQ(user.Selection(kDataRateList), 0); }),
            1);
  EXPECT_EQ(settings.quality, 7000);
  EXPECT_EQ(settings.keyFrameEvery, 4);
  EXPECT_EQ(settings.dataRate, -1);
  EXPECT_EQ(Choose(kHandlerB), 1);
  EXPECT_EQ(settings.quality, 10000);
  EXPECT_EQ(settings.keyFrameEvery, 6);
}

TEST_F(SettingsDialogs, AudioSettingsNormaliseTheBlockEvenOnCancel) {
  const std::uint32_t odd[14] = {99, 12, 8000, 6, 5, 6, 7};
  std::memcpy(settings.audioFormat, odd, sizeof odd);
  Press(kAudioSettingsButton, kIdOk);
  ui.Expect(kAudioSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.SelectedText(kSampleSizeList), "8");
    EXPECT_EQ(user.SelectedText(kSampleRateList), "11025");
    EXPECT_EQ(user.SelectedText(kChannelsList), "Mono, 1 Channel");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 1);
  const std::uint32_t normalised[14] = {99, 8, 11025, 1, 5, 6, 7};
  EXPECT_EQ(std::memcmp(settings.audioFormat, normalised, sizeof normalised), 0);
}

TEST_F(SettingsDialogs, AudioPresetMenuOffersSameAsProjectWhenThereIsOne) {
  ui.AnswerMenu(kPresetSameAsProject);
  Press(kAudioSettingsButton, kIdOk);
  ui.Expect(kAudioSettingsTemplate, [this](ScriptedUser& user) {
    user.Click(kAudioPresetButton);
    EXPECT_EQ(user.SelectedText(kSampleRateList), "48000");
    const norv::ui::ScreenRect button = user.dialog().ControlScreenRect(kAudioPresetButton);
    EXPECT_EQ(ui.menus().back().at.x, button.right + 5);
    EXPECT_EQ(ui.menus().back().at.y, button.top);
    user.Click(kAudioPresetButton);  // now equal: the entry is checked
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(std::memcmp(settings.audioFormat, project.audioFormat, sizeof project.audioFormat), 0);
  ASSERT_EQ(ui.menus().size(), 2u);
  const auto& first = ui.menus()[0].items;
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].text, "Load");
  EXPECT_EQ(first[1].text, "Save");
  EXPECT_EQ(first[2].text, "Same As Project");
  EXPECT_FALSE(first[2].checked);
  EXPECT_TRUE(ui.menus()[1].items[2].checked);

  // Without a project there is no such entry.
  Press(kAudioSettingsButton, kIdCancel);
  ui.Expect(kAudioSettingsTemplate, [](ScriptedUser& user) {
    user.Click(kAudioPresetButton);
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(/*withProject=*/false), 0);
  EXPECT_EQ(ui.menus().back().items.size(), 2u);
}

// The host's preset chooser as a host with windows shows it: it answers one
// path and keeps how it was asked (mode 0 saves, 1 loads).
struct PresetChooser {
  std::string answer;
  std::vector<std::pair<int, std::string>> asked;

  PresetChooser() {
    NorvHostDialogs dialogs{};
    dialogs.context = this;
    dialogs.presetPath = [](void* self, std::int32_t mode, char* path, const char* extension,
                            HWND) -> std::int32_t {
      auto* chooser = static_cast<PresetChooser*>(self);
      chooser->asked.emplace_back(mode, extension);
      std::strcpy(path, chooser->answer.c_str());
      return 1;
    };
    NorvHostSetDialogs(&dialogs);
  }
  ~PresetChooser() { NorvHostSetDialogs(nullptr); }
  PresetChooser(const PresetChooser&) = delete;
  PresetChooser& operator=(const PresetChooser&) = delete;
};

// Save stores the lists as shown, Load brings them back; the host is asked
// for a file to write, then for one to read.
TEST_F(SettingsDialogs, AudioPresetsSaveTheListsAndLoadThemBack) {
  PresetChooser chooser;
  chooser.answer = host.dir().File("voice.ostwav");
  ui.AnswerMenu(kPresetSave);
  ui.AnswerMenu(kPresetLoad);
  Press(kAudioSettingsButton, kIdOk);
  ui.Expect(kAudioSettingsTemplate, [](ScriptedUser& user) {
    user.SelectText(kSampleRateList, "22050");
    user.Select(kChannelsList, 0);
    user.Click(kAudioPresetButton);
    user.SelectText(kSampleSizeList, "8");
    user.SelectText(kSampleRateList, "48000");
    user.Select(kChannelsList, 1);
    user.Click(kAudioPresetButton);
    EXPECT_EQ(user.SelectedText(kSampleSizeList), "16");
    EXPECT_EQ(user.SelectedText(kSampleRateList), "22050");
    EXPECT_EQ(user.SelectedText(kChannelsList), "Mono, 1 Channel");
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(chooser.asked,
            (std::vector<std::pair<int, std::string>>{{0, ".ostwav"}, {1, ".ostwav"}}));
  EXPECT_EQ(settings.audioFormat[1], 16u);
  EXPECT_EQ(settings.audioFormat[2], 22050u);
  EXPECT_EQ(settings.audioFormat[3], 1u);
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(SettingsDialogs, InterleaveAndCustomDataRateComeFromTheirSliders) {
  ScriptedCompressor a(kHandlerA);
  settings.compressorHandler = kHandlerA;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    user.Click(kAudioOptionsButton);
    EXPECT_FALSE(user.Enabled(kPlaybackOptions));
    user.Select(kDataRateList, 8);
    user.Click(kPlaybackOptions);
    user.Click(kIdOk);
  });
  ui.Expect(kAudioOptionsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.Text(kInterleaveLabel), "30");
    user.Scroll(kInterleaveTrack, -5);
    EXPECT_EQ(user.Text(kInterleaveLabel), "1");
    user.Click(kIdOk);
  });
  ui.Expect(kPlaybackOptionsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.Text(kDataRateLabel), "1");  // -1 from "Default" shows at the low end
    user.Scroll(kDataRateTrack, 12);
    EXPECT_EQ(user.Text(kDataRateLabel), "12");
    user.Scroll(kDataRateTrack, 9000);  // the top end is kept, the excess is not
    EXPECT_EQ(user.Text(kDataRateLabel), "8000");
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.interleaveFrames, 1);
  EXPECT_EQ(settings.dataRateChoice, 8);
  EXPECT_EQ(settings.dataRate, 8000);
}

class VideoPresets : public SettingsDialogs {
 protected:
  void SetUp() override {
    SettingsDialogs::SetUp();
    char folder[260] = {};
    GetHostFolder(folder);
    previousFolder_ = folder;
    NorvHostSetFolder((host.dir().path().string() + "/").c_str());
    samples_ = host.dir().path() / "SAMPLES";
    std::filesystem::create_directory(samples_);
  }
  void TearDown() override {
    NorvHostSetFolder(previousFolder_.c_str());
    NorvHostSetPresetPathAnswer(nullptr);
    SettingsDialogs::TearDown();
  }
  std::filesystem::path samples_;

 private:
  std::string previousFolder_;
};

// Each listed file is a preset of its own width (pNNN is NNN + 300 pixels
// wide), so the width shows which one was loaded. Its audio (8000 Hz, every
// 3 frames, off) arrives only when both the dialog and the preset have audio.
TEST_F(VideoPresets, TwentyOfTwentyFiveAreListedAndTheAudioRuleApplies) {
  struct Case {
    std::int32_t dialogAudio;
    std::int32_t presetAudio;
    int chosen;  // which listed file
  };
  for (const Case& c : {Case{1, 0, 4}, Case{0, 1, 19}, Case{1, 1, 12}}) {
    SCOPED_TRACE(testing::Message()
                 << "dialog audio " << c.dialogAudio << ", preset audio " << c.presetAudio);
    settings.audioAvailable = c.dialogAudio;
    settings.audioEnabled = 1;
    settings.audioFormat[2] = 44100;
    settings.interleaveFrames = 30;
    AviSettings preset = settings;
    preset.audioAvailable = c.presetAudio;
    preset.audioEnabled = 0;
    preset.audioFormat[2] = 8000;
    preset.interleaveFrames = 3;
    for (int i = 0; i < 25; ++i) {
      const std::string name = "p" + std::to_string(100 + i) + ".ostavi";
      preset.width = 400 + i;
      ASSERT_NE(SavePresetFile(1, &preset, (samples_ / name).c_str()), 0);
    }
    ASSERT_NE(SavePresetFile(1, &preset, (samples_ / ".hidden.ostavi").c_str()), 0);
    std::filesystem::create_directories(samples_ / "folder.ostavi");
    ui.AnswerMenu(kPresetListedFirst + c.chosen);
    int width = 0;
    ui.Expect(kAviSettingsTemplate, [&](ScriptedUser& user) {
      user.Click(kLoadPreset);
      ASSERT_GT(ui.menus().back().items.size(), static_cast<std::size_t>(c.chosen));
      width = 300 + std::stoi(ui.menus().back().items[c.chosen].text.substr(1, 3));
      EXPECT_EQ(user.Text(kWidthEdit), std::to_string(width));
      const norv::ui::ScreenRect button = user.dialog().ControlScreenRect(kLoadPreset);
      EXPECT_EQ(ui.menus().back().at.x, button.right + 5);
      user.Click(kIdOk);
    });
    EXPECT_EQ(Launch(), 1);
    const auto& items = ui.menus().back().items;
    ASSERT_EQ(items.size(), 22u);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(items[i].id, kPresetListedFirst + i);
      EXPECT_EQ(items[i].text.substr(0, 1), "p");
    }
    EXPECT_TRUE(items[20].separator);
    EXPECT_EQ(items[21].id, kPresetBrowse);
    EXPECT_EQ(items[21].text, "Browse");
    EXPECT_EQ(ui.menus().back().flags, norv::ui::kTrackRightButton);
    EXPECT_EQ(settings.width, width);
    const bool presetsAudio = c.dialogAudio != 0 && c.presetAudio != 0;
    EXPECT_EQ(settings.audioAvailable, c.dialogAudio);
    EXPECT_EQ(settings.audioEnabled, presetsAudio ? 0 : 1);
    EXPECT_EQ(settings.audioFormat[2], presetsAudio ? 8000u : 44100u);
    EXPECT_EQ(settings.interleaveFrames, presetsAudio ? 3 : 30);
  }
  EXPECT_EQ(ui.menus().size(), 3u);
}

// A loaded preset is shown within the limits in force when it arrives: after
// "Field 2" under hardware acceleration on a 486-line project that is 242
// lines (243 made even), though the preset turns the acceleration off.
TEST_F(VideoPresets, ALoadedPresetIsClampedWithTheLimitsInForce) {
  AviSettings preset = settings;
  preset.width = 720;
  preset.height = 486;
  preset.fieldHandling = 4;
  preset.hwAccel = 0;
  const std::string path = host.dir().File("tall.ostavi");
  ASSERT_NE(SavePresetFile(1, &preset, path.c_str()), 0);
  NorvHostSetPresetPathAnswer(path.c_str());
  Hardware(720, 486, 2997);
  settings.width = 720;
  settings.height = 486;
  settings.fieldHandling = 4;
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    EXPECT_EQ(user.Text(kHeightEdit), "242");
    user.Click(kLoadPreset);  // no listed file: the chooser answers at once
    EXPECT_FALSE(user.Checked(kHardwareEnable));
    EXPECT_EQ(user.Text(kHeightEdit), "242");
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.hwAccel, 0);
  EXPECT_EQ(settings.height, 242);
}

TEST_F(VideoPresets, AnEmptyFolderBrowsesAndSaveReadsTheControlsFirst) {
  const std::string path = host.dir().File("chosen.ostavi");
  NorvHostSetPresetPathAnswer(path.c_str());
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    user.Type(kWidthEdit, "640");
    user.Click(kSavePreset);
    user.Type(kWidthEdit, "100");
    user.Click(kLoadPreset);  // no listed file: the chooser answers at once
    EXPECT_EQ(user.Text(kWidthEdit), "640");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
  EXPECT_TRUE(ui.menus().empty());
  EXPECT_TRUE(ui.messages().empty());

  NorvHostSetPresetPathAnswer("/no/such/folder/x.ostavi");
  ui.Expect(kAviSettingsTemplate, [](ScriptedUser& user) {
    user.Click(kSavePreset);
    user.Click(kLoadPreset);
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(ui.messages(), (std::vector<std::string>{"Failed to save.", "Failed to load."}));
}

}  // namespace
