// The five dialogs as they stand on screen: every control of the template
// at its converted place, inside the window, its text fitting, none over
// another; and a picture of each (NORV_SCREENSHOT_DIR, else the working
// folder's "screenshots").
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QStyleOptionButton>
#include <cstring>
#include <string>

#include "hoststub/norv_host.h"
#include "platform/ui/qt/qt_binding.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "tests/qt/qt_driver.h"
#include "tests/support/plugin_fixture.h"

namespace {

using norv::test::QtUser;
using norv::ui::ControlKind;

QString ShotFolder() {
  const QString folder = qEnvironmentVariableIsEmpty("NORV_SCREENSHOT_DIR")
                             ? QStringLiteral("screenshots")
                             : qEnvironmentVariable("NORV_SCREENSHOT_DIR");
  QDir().mkpath(folder);
  return folder;
}

// The widest text a control must show in full.
int TextWidth(const QWidget* w, const norv::ui::ControlTemplate& c) {
  const QFontMetrics metrics(w->font());
  int widest = metrics.horizontalAdvance(QString::fromStdString(c.caption));
  for (const std::string& item : c.items)
    widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(item)));
  return widest;
}

// What a control needs besides its text: a box and its gap, a button's
// frame, a list's arrow, the inset of a frame's caption.
int Chrome(const QWidget* w, ControlKind kind) {
  switch (kind) {
    case ControlKind::kCheckBox: {
      if (auto* box = qobject_cast<const QCheckBox*>(w)) {
        QStyleOptionButton option;
        option.initFrom(box);
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).left();
      }
      return 4;
    }
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      return 4;
    case ControlKind::kDropDownList:
      return 24;
    case ControlKind::kGroupBox:
      return 12;
    default:
      return 0;
  }
}

// Where a control draws: a label only where its text stands (the template
// lets the ":" label's rectangle run under the edit beside it).
QRect Drawn(const QWidget* w) {
  const auto* label = qobject_cast<const QLabel*>(w);
  if (label == nullptr) return w->geometry();
  const QRect text =
      QFontMetrics(label->font())
          .boundingRect(w->rect(), static_cast<int>(label->alignment()), label->text());
  return text.translated(w->pos()) & w->geometry();
}

void CheckLayout(QtUser& user) {
  const norv::ui::DialogTemplate& t = user.dialog().dialogTemplate();
  SCOPED_TRACE("dialog " + std::to_string(t.id));
  QDialog* window = user.window();
  const norv::ui::DialogUnits units = norv::ui::DialogUnitsOf(window->font());
  EXPECT_EQ(window->size(), QSize(units.X(t.width), units.Y(t.height)));
  // The window's own widgets are the template's controls, in its order.
  const QList<QWidget*> widgets = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(widgets.size(), static_cast<qsizetype>(t.controls.size()));
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const norv::ui::ControlTemplate& c = t.controls[i];
    const QWidget* w = widgets[static_cast<qsizetype>(i)];
    SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.caption + "\"");
    const norv::ui::ScreenRect place = units.ToPixels(c.rect);
    EXPECT_EQ(w->pos(), QPoint(place.left, place.top));
    EXPECT_EQ(w->width(), place.right - place.left);
    if (c.kind == ControlKind::kDropDownList) {
      EXPECT_LE(w->height(), place.bottom - place.top);  // the rest is the dropped list
    } else {
      EXPECT_EQ(w->height(), place.bottom - place.top);
    }
    EXPECT_TRUE(window->rect().contains(w->geometry())) << "outside the window";
    EXPECT_LE(TextWidth(w, c) + Chrome(w, c.kind), w->width()) << "text clipped";
    if (c.kind == ControlKind::kLabel) {
      EXPECT_LE(QFontMetrics(w->font()).height(), w->height());
    }
    if (c.kind == ControlKind::kGroupBox || !w->isVisibleTo(window)) continue;
    for (std::size_t j = i + 1; j < t.controls.size(); ++j) {
      const QWidget* other = widgets[static_cast<qsizetype>(j)];
      if (t.controls[j].kind == ControlKind::kGroupBox || !other->isVisibleTo(window)) continue;
      EXPECT_FALSE(Drawn(w).intersects(Drawn(other)))
          << "overlaps control " << t.controls[j].id << " \"" << t.controls[j].caption << "\"";
    }
  }
}

void Shoot(QtUser& user, const char* name) {
  CheckLayout(user);
  const QString path = ShotFolder() + QStringLiteral("/%1.png").arg(QString::fromLatin1(name));
  EXPECT_TRUE(user.window()->grab().save(path)) << path.toStdString();
}

TEST(Screenshots, EveryDialogShowsEachControlInPlaceUnclippedAndApart) {
  norv::test::HostScope host;
  norv::ui::QtBinding binding;
  norv::test::DialogScripts ui;
  NorvHostSetHardware(1);
  NorvHostSetProject(720, 576, 2500);
  AviSettings settings{};
  ASSERT_EQ(norv::test::Plugin().FileTypeDefaultSettings(1, &settings, 0), 1);
  settings.compressorHandler = MakeFourCC("MJPG");
  settings.width = 320;
  settings.height = 240;
  ProjectSettings project{};
  project.kind = 1;
  ASSERT_EQ(norv::test::Plugin().FileTypeDefaultSettings(1, &project.video, 0), 1);

  ui.Expect(kAviSettingsTemplate, [](QtUser& user) {
    EXPECT_EQ(user.SelectedText(kCompressorList), "Motion JPEG (libavcodec)");
    Shoot(user, "avi-settings-5000");
    user.Click(kCompressionOptions);
    user.Click(kAudioSettingsButton);
    user.Click(kAudioOptionsButton);
    user.SelectText(kDataRateList, "Custom Option");
    user.Click(kPlaybackOptions);
    user.Click(kIdCancel);
  });
  ui.Expect(kCompressionOptionsTemplate, [](QtUser& user) {
    Shoot(user, "compression-options-107");
    user.Click(kIdCancel);
  });
  ui.Expect(kAudioSettingsTemplate, [](QtUser& user) {
    Shoot(user, "audio-settings-6000");
    user.Click(kIdCancel);
  });
  ui.Expect(kAudioOptionsTemplate, [](QtUser& user) {
    Shoot(user, "audio-options-108");
    user.Click(kIdCancel);
  });
  ui.Expect(kPlaybackOptionsTemplate, [](QtUser& user) {
    Shoot(user, "playback-options-6003");
    user.Click(kIdCancel);
  });
  EXPECT_EQ(norv::test::Plugin().FileTypeLaunchSettings(1, &settings, &project, nullptr), 0);
  HostFree(&settings.compressorState);
}

}  // namespace
