// The product's dialogs in real Qt windows, driven through their widgets
// with QTest: each opens from its template and its OK or Cancel is what the
// export returns; the host's own dialogs and `norvavi settings` work on
// screen. How each control kind is carried is qt_binding_test's business,
// the rules behind the controls the scripted tests'.
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
using norv::test::HostScope;
using norv::test::Plugin;
using norv::test::QtUser;
using norv::test::ScriptedCompressor;

const DWORD kHandlerA = MakeFourCC("SCRA");

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

TEST_F(QtDialogs, EachDialogOpensFromItsTemplateAndItsOkReachesTheRecord) {
  ScriptedCompressor a(kHandlerA);
  settings.compressorHandler = kHandlerA;
  // Cancel from each of them is the screenshots' walk.
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.Caption(), "AVI Settings");
    user.SelectText(kFrameRateList, "24");
    user.Click(kCompressionOptions);
    user.Click(kAudioSettingsButton);
    user.Click(kAudioOptionsButton);
    user.SelectText(kDataRateList, "Custom Option");
    user.Click(kPlaybackOptions);
    user.Click(kIdOk);
  });
  const std::pair<int, int> slid[] = {{kCompressionOptionsTemplate, kQualityTrack},
                                      {kAudioSettingsTemplate, 0},
                                      {kAudioOptionsTemplate, kInterleaveTrack},
                                      {kPlaybackOptionsTemplate, kDataRateTrack}};
  for (const auto& [id, track] : slid) {
    ui.Expect(id, [id = id, track = track](QtUser& user) {
      EXPECT_EQ(user.Caption(), FindDialogTemplate(id)->caption);
      if (track != 0) user.Slide(track, 12);
      if (id == kAudioSettingsTemplate) user.SelectText(kSampleRateList, "22050");
      user.Click(kIdOk);
    });
  }
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(settings.frameRate, 24.0f);
  EXPECT_EQ(settings.quality, 1200);
  EXPECT_EQ(settings.audioFormat[2], 22050u);
  EXPECT_EQ(settings.interleaveFrames, 12);
  EXPECT_EQ(settings.dataRateChoice, 8);
  EXPECT_EQ(settings.dataRate, 12);
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
