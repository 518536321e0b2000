// The settings dialogs in real Qt windows, driven through their widgets
// with QTest: each kind of control (edit, check box, list, track bar,
// button, menu, message box, chooser) carries the user's action into the
// dialog and shows its state back; the host's own dialogs and `norvavi
// settings` work on screen. The rules behind the controls are the scripted
// tests' business.
#include <gtest/gtest.h>

#include <QDialog>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <string>
#include <vector>

#include "hoststub/norv_host.h"
#include "hoststub/qt/qt_host_dialogs.h"
#include "platform/ui/qt/qt_binding.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "tests/qt/qt_driver.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"
#include "tools/norvavi/settings_command.h"

namespace {

using norv::test::AnswerNextChooser;
using norv::test::AnswerNextForm;
using norv::test::AnswerNextMenu;
using norv::test::AnswerNextMessage;
using norv::test::HostScope;
using norv::test::Plugin;
using norv::test::QtUser;
using norv::test::ScriptedCompressor;

const DWORD kHandlerC = MakeFourCC("SCRC");

std::string CompressorName(DWORD handler) {
  std::string name = "Scripted test compressor ";
  for (int i = 0; i < 4; ++i) name.push_back(static_cast<char>((handler >> (8 * i)) & 0xFF));
  return name;
}

class QtDialogs : public ::testing::Test {
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
    EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore_);
  }
  int Launch(bool withProject = true) {
    return Plugin().FileTypeLaunchSettings(1, &settings, withProject ? &project : nullptr, nullptr);
  }

  HostScope host;
  norv::ui::QtBinding binding;
  norv::host::QtHostDialogs hostDialogs;
  norv::test::DialogScripts ui;
  AviSettings settings{};
  ProjectSettings project{};

 private:
  long blocksBefore_ = 0;
};

TEST_F(QtDialogs, OkReturnsOneCancelZeroAndCancelStillNormalises) {
  settings.frameRate = 7.0f;
  settings.width = 5;
  settings.fieldHandling = 9;
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Caption(), "AVI Settings");
    EXPECT_EQ(user.SelectedText(kFrameRateList), "15");
    EXPECT_EQ(user.Text(kWidthEdit), "32");
    EXPECT_EQ(user.SelectedText(kFieldHandlingList), "Field 2");
    EXPECT_FALSE(user.Visible(kHardwareGroup));
    EXPECT_FALSE(user.Visible(kUnusedPresetButton));
    user.Click(kIdCancel);
  });
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(settings.frameRate, 15.0f);
  EXPECT_EQ(settings.width, 32);
  EXPECT_EQ(settings.fieldHandling, 4);

  // Escape is Cancel too; OK through the default button's click returns 1.
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    QTest::keyClick(user.window(), Qt::Key_Escape);
    EXPECT_FALSE(user.IsOpen());
  });
  EXPECT_EQ(Launch(), 0);
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    user.SelectText(kFrameRateList, "24");
    user.Select(kFieldHandlingList, 1);
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(/*withProject=*/false), 1);
  EXPECT_EQ(settings.frameRate, 24.0f);
  EXPECT_EQ(settings.fieldHandling, 1);
}

TEST_F(QtDialogs, SizeEditsClampOnTabbingAwayAndFollowTheAspectLock) {
  settings.lockAspect = 1;  // 4:3
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_TRUE(user.Checked(kLockAspect));
    user.Type(kWidthEdit, "5");
    user.TabAway();
    EXPECT_EQ(user.Text(kWidthEdit), "32");
    EXPECT_EQ(user.Text(kHeightEdit), "32");  // 24 before clamping
    user.Type(kAspectXEdit, "16x");           // the letter is not taken
    EXPECT_EQ(user.Text(kAspectXEdit), "16");
    user.Type(kAspectYEdit, "9");
    user.Type(kWidthEdit, "72000");  // four characters at most
    EXPECT_EQ(user.Text(kWidthEdit), "7200");
    user.Type(kWidthEdit, "720");
    EXPECT_EQ(user.Text(kHeightEdit), "405");
    user.Click(kLockAspect);  // unlocked: the aspect edits go grey
    EXPECT_FALSE(user.Checked(kLockAspect));
    EXPECT_FALSE(user.Enabled(kAspectXEdit));
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.width, 720);
  EXPECT_EQ(settings.height, 405);
  EXPECT_EQ(settings.aspectX, 16);
  EXPECT_EQ(settings.aspectY, 9);
  EXPECT_EQ(settings.lockAspect, 0);
}

TEST_F(QtDialogs, ChoosingACompressorRefillsColourAndPlaybackRows) {
  ScriptedCompressor c(kHandlerC);
  c.SetFlags(VIDCF_QUALITY);
  settings.colorFormat = kColor666;
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Items(kColourList).size(), 6u);
    EXPECT_EQ(user.SelectedText(kColourList), "8 Bits, 6-6-6 Levels");
    EXPECT_FALSE(user.Enabled(kDataRateList));
    EXPECT_FALSE(user.Enabled(kCompressionOptions));
    user.SelectText(kCompressorList, CompressorName(kHandlerC));
    EXPECT_EQ(user.Items(kColourList), std::vector<std::string>{"24 Bits"});
    EXPECT_EQ(user.SelectedText(kColourList), "24 Bits");
    EXPECT_TRUE(user.Enabled(kDataRateList));
    EXPECT_TRUE(user.Enabled(kCompressionOptions));
    EXPECT_FALSE(user.Enabled(kPlaybackOptions));
    user.SelectText(kDataRateList, "Custom Option");
    EXPECT_TRUE(user.Enabled(kPlaybackOptions));
    user.Click(kPlaybackOptions);
    user.Click(kIdOk);
  });
  ui.Expect(kPlaybackOptionsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Text(kDataRateLabel), "1");  // -1 from "Default" shows at the low end
    user.Slide(kDataRateTrack, 12);
    EXPECT_EQ(user.Text(kDataRateLabel), "12");
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.compressorHandler, kHandlerC);
  EXPECT_EQ(settings.colorFormat, 24);
  EXPECT_EQ(settings.keyFrameEvery, 1);
  EXPECT_EQ(settings.keyFramesOnly, 1);
  EXPECT_EQ(settings.dataRateChoice, 8);
  EXPECT_EQ(settings.dataRate, 12);
}

TEST_F(QtDialogs, AudioSettingsNormaliseOnCancelAndTakeTheProjectFromTheMenu) {
  const std::uint32_t odd[14] = {99, 12, 8000, 6, 5, 6, 7};
  std::memcpy(settings.audioFormat, odd, sizeof odd);
  std::vector<std::string> menu;
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    user.Click(kAudioSettingsButton);
    user.Click(kAudioSettingsButton);
    user.Click(kAudioOptionsButton);
    user.Click(kIdOk);
  });
  ui.Expect(kAudioSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.SelectedText(kSampleSizeList), "8");
    EXPECT_EQ(user.SelectedText(kSampleRateList), "11025");
    EXPECT_EQ(user.SelectedText(kChannelsList), "Mono, 1 Channel");
    user.Click(kIdCancel);
  });
  ui.Expect(kAudioSettingsTemplate, [&](QtUser& user) {
    AnswerNextMenu("Same As Project", &menu);
    user.Click(kAudioPresetButton);
    EXPECT_EQ(user.SelectedText(kSampleSizeList), "16");
    EXPECT_EQ(user.SelectedText(kSampleRateList), "48000");
    EXPECT_EQ(user.SelectedText(kChannelsList), "Stereo, 2 Channels");
    user.SelectText(kSampleRateList, "22050");
    user.Click(kIdOk);
  });
  ui.Expect(kAudioOptionsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Text(kInterleaveLabel), "30");
    EXPECT_EQ(user.Position(kInterleaveTrack), 30);
    user.Slide(kInterleaveTrack, 1);  // the left end
    EXPECT_EQ(user.Text(kInterleaveLabel), "1");
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(menu, (std::vector<std::string>{"Load", "Save", "Same As Project"}));
  // The project's block, all fourteen words, with the rate chosen after it.
  const std::uint32_t chosen[14] = {1, 16, 22050, 2};
  EXPECT_EQ(std::memcmp(settings.audioFormat, chosen, sizeof chosen), 0);
  EXPECT_EQ(settings.interleaveFrames, 1);
}

TEST_F(QtDialogs, InvalidPaletteShowsAMessageBoxAndTheChooserFixesIt) {
  const std::string palette = host.dir().File("mine.pal");
  norv::test::WriteFileBytes(palette, {'R', 'I', 'F', 'F'});
  settings.colorFormat = kColorPaletteFile;
  std::strcpy(settings.paletteFile, "/no/such/file.pal");
  std::string message, title;
  ui.Expect(kAviSettingsTemplate, [&](QtUser& user) {
    AnswerNextMessage(&message);
    user.Click(kIdOk);
    EXPECT_TRUE(user.IsOpen());
    AnswerNextChooser(palette, &title);
    user.Click(kPaletteButton);
    user.Click(kIdOk);
  });
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(message, "Select a valid palette file.");
  EXPECT_EQ(title, "Select palette file");
  EXPECT_EQ(std::string(settings.paletteFile), palette);
}

TEST_F(QtDialogs, HostDialogsEditCroppingHardwareOptionsAndChoosePresets) {
  NorvHostSetHardware(1);
  NorvHostSetProject(720, 576, 2500);
  settings.hwAccel = 1;
  const std::string preset = host.dir().File("mine.ostavi");
  ui.Expect(kAviSettingsTemplate, [&](QtUser& user) {
    user.Click(kHardwareEnable);  // off: cropping is offered
    AnswerNextForm("Cropping", [](QDialog& d) {
      const std::int32_t values[4] = {1, 2, 3, 4};
      for (int i = 0; i < 4; ++i) {
        auto* field = d.findChild<QSpinBox*>(norv::host::kCropFieldNames[i]);
        field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, QString::number(values[i]));
      }
    });
    user.Click(kCropping);
    user.Click(kHardwareEnable);
    AnswerNextForm("Hardware Options", [](QDialog& d) {
      auto* field = d.findChild<QSpinBox*>("option16");
      field->setFocus(Qt::TabFocusReason);
      QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(field, "77");
    });
    user.Click(kHardwareOptions);
    user.Type(kWidthEdit, "400");
    AnswerNextChooser(preset);
    user.Click(kSavePreset);
    user.Type(kWidthEdit, "100");
    AnswerNextChooser(preset);
    user.Click(kLoadPreset);  // nothing listed in SAMPLES: straight to the chooser
    EXPECT_EQ(user.Text(kWidthEdit), "400");
    user.Click(kIdOk);
  });
  char previous[260] = {};
  GetHostFolder(previous);
  const std::string folder = host.dir().path().string() + "/";
  NorvHostSetFolder(folder.c_str());
  EXPECT_EQ(Launch(), 1);
  NorvHostSetFolder(previous);
  const std::int32_t crop[4] = {1, 2, 3, 4};
  EXPECT_EQ(std::memcmp(settings.cropRect, crop, sizeof crop), 0);
  EXPECT_EQ(settings.hwAccelOptions[16], 77);
  EXPECT_EQ(settings.hwAccelOptions[2], 64);
  EXPECT_EQ(settings.width, 400);
}

TEST_F(QtDialogs, NorvaviSettingsWritesThePresetOnOkOnly) {
  const std::string preset = host.dir().File("edited.ostavi");
  norv::cli::MakeOptions options;
  options.hardware = 1;
  options.project = "720x480@25";
  options.sets = {"hwAccel=1", "frameRate=29.97"};
  int argc = 1;
  char name[] = "norvavi";
  char* argv[] = {name, nullptr};
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    // The project's 25 frames bound the rates the hardware can take.
    EXPECT_TRUE(user.Checked(kHardwareEnable));
    EXPECT_EQ(user.Items(kFrameRateList).front(), "25");
    EXPECT_EQ(user.SelectedText(kFrameRateList), "15");
    user.Type(kWidthEdit, "640");
    user.Click(kIdOk);
  });
  EXPECT_EQ(norv::cli::RunSettingsCommand(options, preset, argc, argv), norv::cli::kSettingsSaved);
  AviSettings saved{};
  ASSERT_NE(LoadPresetFile(1, &saved, preset.c_str()), 0);
  EXPECT_EQ(saved.width, 640);
  EXPECT_EQ(saved.frameRate, 15.0f);
  EXPECT_EQ(saved.hwAccel, 1);
  HostFree(&saved.compressorState);

  // The second run starts from the file; Cancel leaves it alone.
  const auto before = norv::test::ReadFileBytes(preset);
  options.sets.clear();
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Text(kWidthEdit), "640");
    user.Type(kWidthEdit, "320");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(norv::cli::RunSettingsCommand(options, preset, argc, argv),
            norv::cli::kSettingsCancelled);
  EXPECT_EQ(norv::test::ReadFileBytes(preset), before);
}

}  // namespace
