// The five dialogs as they stand on screen, walked through their widgets
// with QTest: every control of the template at its converted place (also
// where the model reports it on the screen), inside the window, its text
// fitting, none over another; a picture of each (NORV_SCREENSHOT_DIR, else
// the working folder's "screenshots").
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QStyleOptionButton>
#include <string>
#include <tuple>

#include "hoststub/norv_host.h"
#include "hoststub/qt/qt_host_dialogs.h"
#include "platform/ui/qt/qt_binding.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "tests/qt/qt_driver.h"
#include "tests/support/plugin_fixture.h"
#include "tools/norvavi/settings_command.h"

namespace {

using namespace norv::test;
using norv::ui::ControlKind;

// Where a control draws: a label only where its text stands (the template
// lets the ":" label's rectangle run under the edit beside it).
QRect Drawn(const QWidget* w) {
  const auto* label = qobject_cast<const QLabel*>(w);
  if (label == nullptr) return w->geometry();
  return QFontMetrics(label->font())
             .boundingRect(w->rect(), static_cast<int>(label->alignment()), label->text())
             .translated(w->pos()) &
         w->geometry();
}

// Checks the layout, then saves the picture.
void Shoot(QtUser& user, const char* name) {
  const norv::ui::DialogTemplate& t = user.dialog().dialogTemplate();
  SCOPED_TRACE("dialog " + std::to_string(t.id));
  QDialog* window = user.window();
  window->move(130, 70);  // the screen place is not the place in the window
  const QPoint origin = window->mapToGlobal(QPoint(0, 0));
  const norv::ui::DialogUnits units = norv::ui::DialogUnitsOf(window->font());
  EXPECT_EQ(window->size(), QSize(units.X(t.width), units.Y(t.height)));
  // The window's own widgets are the template's controls, in its order.
  const QList<QWidget*> widgets = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(widgets.size(), static_cast<qsizetype>(t.controls.size()));
  for (qsizetype i = 0; i < widgets.size(); ++i) {
    const norv::ui::ControlTemplate& c = t.controls[static_cast<std::size_t>(i)];
    const QWidget* w = widgets[i];
    SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.caption + "\"");
    const norv::ui::ScreenRect p = units.ToPixels(c.rect);
    QRect place(p.left, p.top, p.right - p.left, p.bottom - p.top);
    // A drop-down list's template height is the dropped list's; the closed box is less.
    if (c.kind == ControlKind::kDropDownList && w->height() < place.height())
      place.setHeight(w->height());
    EXPECT_EQ(w->geometry(), place);
    const norv::ui::ScreenRect s = user.dialog().ControlScreenRect(c.id);
    if (c.id != norv::ui::kNoId) {
      EXPECT_EQ(QRect(s.left, s.top, s.right - s.left, s.bottom - s.top), place.translated(origin));
    }
    EXPECT_TRUE(window->rect().contains(w->geometry())) << "outside the window";
    const QFontMetrics metrics(w->font());
    int text = metrics.horizontalAdvance(QString::fromStdString(c.caption));
    for (const std::string& item : c.items)
      text = std::max(text, metrics.horizontalAdvance(QString::fromStdString(item)));
    // Besides its text: a box and its gap, a button's frame, a list's arrow, a frame's inset.
    int chrome = qobject_cast<const QComboBox*>(w)         ? 24
                 : qobject_cast<const QGroupBox*>(w)       ? 12
                 : qobject_cast<const QAbstractButton*>(w) ? 4
                                                           : 0;
    if (auto* box = qobject_cast<const QCheckBox*>(w)) {
      QStyleOptionButton option;
      option.initFrom(box);
      chrome = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).left();
    }
    EXPECT_LE(text + chrome, w->width()) << "text clipped";
    EXPECT_LE(metrics.height(), w->height()) << "text clipped";
    if (c.kind == ControlKind::kGroupBox || !w->isVisibleTo(window)) continue;
    for (qsizetype j = i + 1; j < widgets.size(); ++j) {
      const norv::ui::ControlTemplate& o = t.controls[static_cast<std::size_t>(j)];
      if (o.kind == ControlKind::kGroupBox || !widgets[j]->isVisibleTo(window)) continue;
      EXPECT_FALSE(Drawn(w).intersects(Drawn(widgets[j])))
          << "overlaps control " << o.id << " \"" << o.caption << "\"";
    }
  }
  const QString folder = qEnvironmentVariable("NORV_SCREENSHOT_DIR", QStringLiteral("screenshots"));
  QDir().mkpath(folder);
  const QString path = folder + QStringLiteral("/%1.png").arg(QString::fromLatin1(name));
  EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
}

// `norvavi settings` walked through every dialog and the host's own forms:
// the pictures first, then each dialog's OK reaches the preset it saves.
TEST(Screenshots, EveryDialogStandsInPlaceAndNorvaviSettingsSavesWhatItsOkTook) {
  HostScope host;
  norv::ui::QtBinding binding;
  norv::host::QtHostDialogs hostDialogs;
  DialogScripts ui;
  norv::cli::MakeOptions options{.project = "720x576@25", .compressor = "MJPG", .size = "320x240"};
  const std::string preset = host.dir().File("edited.ostavi"),
                    mine = host.dir().File("mine.ostavi");
  ui.Expect(kAviSettingsTemplate, [&](QtUser& user) {
    norv::ui::Dialog& d = user.dialog();
    EXPECT_EQ(d.ItemText(kCompressorList, d.Selection(kCompressorList)),
              "Motion JPEG (libavcodec)");
    Shoot(user, "avi-settings-5000");
    EXPECT_EQ(d.ItemText(kFrameRateList, 0), "25");  // the project's rate bounds the hardware's
    user.Click(kHardwareEnable);                     // off: cropping is offered
    const auto* crop = norv::host::kCropFieldNames;
    AnswerNextForm("Cropping", {{crop[0], 1}, {crop[1], 2}, {crop[2], 3}, {crop[3], 4}});
    user.Click(kCropping);
    user.Click(kHardwareEnable);
    AnswerNextForm("Hardware Options", {{"option16", 77}});
    user.Click(kHardwareOptions);
    user.Type(kWidthEdit, "400");
    AnswerNextChooser(mine);
    user.Click(kSavePreset);
    user.Type(kWidthEdit, "100");
    AnswerNextChooser(mine);
    user.Click(kLoadPreset);  // nothing listed in SAMPLES: straight to the chooser
    EXPECT_EQ(d.Text(kWidthEdit), "400");
    user.Select(kFrameRateList, "24");
    user.Click(kCompressionOptions);
    user.Click(kAudioSettingsButton);
    user.Click(kAudioOptionsButton);
    user.Select(kDataRateList, "Custom Option");
    user.Click(kPlaybackOptions);
    user.Click(kIdOk);
  });
  const std::tuple<int, const char*, int> nested[] = {
      {kCompressionOptionsTemplate, "compression-options-107", kQualityTrack},
      {kAudioSettingsTemplate, "audio-settings-6000", 0},
      {kAudioOptionsTemplate, "audio-options-108", kInterleaveTrack},
      {kPlaybackOptionsTemplate, "playback-options-6003", kDataRateTrack}};
  for (const auto& [id, picture, track] : nested) {
    ui.Expect(id, [id = id, picture = picture, track = track](QtUser& user) {
      EXPECT_EQ(user.window()->windowTitle().toStdString(), FindDialogTemplate(id)->caption);
      Shoot(user, picture);
      if (track != 0) user.Slide(track, 12);
      if (id == kAudioSettingsTemplate) user.Select(kSampleRateList, "22050");
      user.Click(kIdOk);
    });
  }
  char previous[260] = {};
  GetHostFolder(previous);
  NorvHostSetFolder((host.dir().path().string() + "/").c_str());
  int argc = 1;
  char name[] = "norvavi";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(norv::cli::RunSettingsCommand(options, preset, argc, argv), norv::cli::kSettingsSaved);
  AviSettings saved{};
  ASSERT_EQ(LoadPresetFile(1, &saved, preset.c_str()), 1);
  // What each dialog's OK took, in one comparison.
  EXPECT_EQ(std::tuple(saved.frameRate, saved.quality, saved.audioFormat[2], saved.interleaveFrames,
                       saved.dataRateChoice, saved.dataRate, saved.width, saved.hwAccel,
                       saved.hwAccelOptions[16], saved.hwAccelOptions[2], saved.cropRect[0],
                       saved.cropRect[1], saved.cropRect[2], saved.cropRect[3]),
            std::tuple(24.0f, 1200, 22050u, 12, 8, 12, 400, 1, 77, 64, 1, 2, 3, 4));
  HostFree(&saved.compressorState);

  // The second run starts from the file; Cancel leaves it alone.
  const auto before = ReadFileBytes(preset);
  options = {};
  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.dialog().Text(kWidthEdit), "400");
    user.Type(kWidthEdit, "320");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(norv::cli::RunSettingsCommand(options, preset, argc, argv),
            norv::cli::kSettingsCancelled);
  EXPECT_EQ(ReadFileBytes(preset), before);
  NorvHostSetFolder(previous);
}

}  // namespace
