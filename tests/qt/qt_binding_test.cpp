// The Qt binding over a dialog of the test's own with one control of every
// kind the templates use: a user's action on each widget reaches the model
// as its notification with the control's new state, the model's state shows
// on every widget, and message boxes, menus, the file chooser, nested dialogs
// and control placement work as the model asks. The dialogs' own rules are
// the scripted tests' business.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_binding.h"
#include "tests/qt/qt_driver.h"
#include "tests/support/plugin_fixture.h"

namespace {

using norv::test::QtUser;
using norv::test::WhenFound;
using norv::ui::ControlKind;
using norv::ui::Dialog;
using norv::ui::Notification;
using norv::ui::QtBinding;

enum : int {
  kTestTemplate = 9000,
  kInnerTemplate = 9001,
  kFrame = 10,
  kLabel = 11,
  kDigits = 12,
  kEdit = 13,
  kCheck = 14,
  kPushLike = 15,
  kList = 16,
  kTrack = 17,
  kAct = 18,
  kHidden = 19,
};

norv::ui::DialogTemplate TestTemplate(int id) {
  using norv::ui::kStyleHorizontal, norv::ui::kStyleNoTicks;
  norv::ui::DialogTemplate t{id, "Binding", 200, 120, "MS Sans Serif", 8, 0, {}};
  t.controls = {
      {kFrame, ControlKind::kGroupBox, "Frame", {4, 4, 192, 90}},
      {kLabel, ControlKind::kLabel, "Label", {10, 16, 36, 8}, norv::ui::kStyleCentred},
      {kDigits, ControlKind::kEdit, "", {50, 14, 40, 12}, norv::ui::kStyleDigitsOnly},
      {kEdit, ControlKind::kEdit, "", {100, 14, 60, 12}},
      {kCheck, ControlKind::kCheckBox, "Check", {10, 32, 50, 10}},
      {kPushLike, ControlKind::kCheckBox, "Push", {70, 30, 40, 14}, norv::ui::kStylePushLike},
      {kList, ControlKind::kDropDownList, "", {10, 50, 80, 60}, 0, {"zero", "one", "two"}},
      {kTrack, ControlKind::kTrackBar, "", {100, 50, 90, 14}, kStyleHorizontal | kStyleNoTicks},
      {kAct, ControlKind::kPushButton, "Act", {10, 72, 40, 14}},
      {kHidden, ControlKind::kPushButton, "Hidden", {60, 72, 40, 14}, norv::ui::kStyleHidden},
      {Dialog::kOk, ControlKind::kDefaultPushButton, "OK", {100, 100, 44, 14}},
      {Dialog::kCancel, ControlKind::kPushButton, "Cancel", {150, 100, 44, 14}},
  };
  return t;
}

// Records each notification with the state its control has in the model.
class Recorder : public Dialog {
 public:
  explicit Recorder(int id = kTestTemplate, HWND owner = nullptr)
      : Dialog(TestTemplate(id), owner) {}
  std::vector<std::string> log;
  std::function<void(Recorder&)> onInit, onAct;
  bool refuseCancel = false;

 protected:
  void BindControls() override {
    static const char* const kNames[] = {"clicked", "selected", "text", "focus-lost", "scrolled"};
    for (const norv::ui::Control& c : controls()) {
      if (c.id() == norv::ui::kNoId || c.id() == kOk || c.id() == kCancel) continue;
      for (int n = 0; n < 5; ++n)
        Bind(c.id(), static_cast<Notification>(n), [this, id = c.id(), n] {
          const norv::ui::Control& x = *Find(id);
          std::string state;
          if (x.kind() == ControlKind::kEdit) state = " " + x.text;
          if (x.kind() == ControlKind::kCheckBox) state = x.checked ? " on" : " off";
          if (x.kind() == ControlKind::kDropDownList)
            state = " " + std::to_string(x.selection) + " data " +
                    std::to_string(ItemData(id, x.selection));
          if (x.kind() == ControlKind::kTrackBar) state = " " + std::to_string(x.position);
          log.push_back(std::to_string(id) + " " + kNames[n] + state);
          if (id == kAct && n == 0 && onAct) onAct(*this);
        });
    }
  }
  void OnInitDialog() override {
    if (onInit) onInit(*this);
  }
  void OnOK() override {
    log.push_back("ok");
    EndDialog(kOk);
  }
  void OnCancel() override {
    log.push_back("cancel");
    if (!refuseCancel) EndDialog(kCancel);
  }
};

// Every way a widget differs from its control in the model.
std::vector<std::string> Differences(Dialog& model) {
  std::vector<std::string> out;
  QDialog* window = QtBinding::WindowOf(model);
  auto expect = [&](bool same, const norv::ui::Control& c, const char* what) {
    if (!same) out.push_back(std::to_string(c.id()) + " " + what);
  };
  if (window->windowTitle().toStdString() != model.caption()) out.push_back("caption");
  for (const norv::ui::Control& c : model.controls()) {
    QWidget* w = QtBinding::ControlWidget(model, c.id());
    if (w == nullptr) continue;
    const QString text = QString::fromStdString(c.text);
    expect(w->isEnabled() == c.enabled, c, "enabled");
    expect(w->isVisibleTo(window) == c.visible, c, "visible");
    if (auto* box = qobject_cast<QGroupBox*>(w)) expect(box->title() == text, c, "title");
    if (auto* label = qobject_cast<QLabel*>(w)) expect(label->text() == text, c, "text");
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      expect(button->text() == text, c, "text");
      expect(!button->isCheckable() || button->isChecked() == c.checked, c, "check");
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      expect(edit->text() == text, c, "text");
      expect(edit->maxLength() == (c.textLimit > 0 ? c.textLimit : 32767), c, "limit");
    }
    if (auto* list = qobject_cast<QComboBox*>(w)) {
      QStringList items;
      for (const norv::ui::ListItem& item : c.items) items << QString::fromStdString(item.text);
      QStringList shown;
      for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
      expect(shown == items, c, "items");
      expect(list->currentIndex() == c.selection, c, "selection");
    }
    if (auto* track = qobject_cast<QSlider*>(w)) {
      expect(track->minimum() == c.rangeMin && track->maximum() == c.rangeMax, c, "range");
      expect(track->value() == c.position, c, "position");
    }
  }
  return out;
}

using Log = std::vector<std::string>;

class QtBindingTest : public ::testing::Test {
 protected:
  norv::test::HostScope host;
  QtBinding binding;
  norv::test::DialogScripts ui;
};

TEST_F(QtBindingTest, EachUserActionReachesTheModelWithTheControlsNewState) {
  Recorder d;
  d.refuseCancel = true;
  d.onInit = [](Recorder& r) {
    r.SetTextLimit(kEdit, 3);
    r.SetItemData(kList, 2, 77);
    r.SetRange(kTrack, 2, 9);
  };
  ui.Expect(kTestTemplate, [&](QtUser& user) {
    user.Type(kDigits, "4a2");  // the letter is not taken
    user.Type(kEdit, "abcdef");
    EXPECT_EQ(d.log, (Log{"12 text 4", "12 text 42", "12 focus-lost 42", "13 text a", "13 text ab",
                          "13 text abc"}));
    d.log.clear();
    user.TabAway();
    EXPECT_EQ(d.focus(), kCheck);  // the next stop in the template's order
    user.Click(kCheck);
    user.Click(kCheck);
    user.Click(kPushLike);
    user.Select(kList, 2);
    user.Slide(kTrack, 4);
    user.Click(kAct);
    EXPECT_EQ(d.log, (Log{"13 focus-lost abc", "14 clicked on", "14 clicked off",
                          "14 focus-lost off", "15 clicked on", "15 focus-lost on",
                          "16 selected 2 data 77", "16 focus-lost 2 data 77", "17 scrolled 3",
                          "17 scrolled 4", "17 focus-lost 4", "18 clicked"}));
    EXPECT_EQ(Differences(d), Log{});
    d.log.clear();
    // Escape asks to cancel and the logic may refuse; Enter in an edit is the default button.
    QTest::keyClick(user.window(), Qt::Key_Escape);
    EXPECT_TRUE(user.IsOpen());
    user.Widget(kDigits)->setFocus();
    QTest::keyClick(user.Widget(kDigits), Qt::Key_Return);
  });
  EXPECT_EQ(d.DoModal(), Dialog::kOk);
  EXPECT_EQ(d.log, (Log{"cancel", "18 focus-lost", "ok"}));
}

TEST_F(QtBindingTest, TheModelsStateShowsOnEveryWidget) {
  Recorder d;
  d.onInit = [](Recorder& r) {
    r.SetCaption("Before");
    r.SetText(kDigits, "12");
    r.SetTextLimit(kDigits, 4);
    r.SetCheck(kCheck, true);
    r.Select(kList, 1);
    r.SetRange(kTrack, 2, 9);
    r.SetPosition(kTrack, 5);
    r.EnableControl(kEdit, false);
    r.ShowControl(kHidden, true);
  };
  d.onAct = [](Recorder& r) {
    r.SetCaption("After");
    r.SetText(kFrame, "New frame");
    r.SetText(kLabel, "New label");
    r.SetText(kAct, "Done");
    r.SetText(kDigits, "345");
    r.SetCheck(kCheck, false);
    r.SetCheck(kPushLike, true);
    r.ResetContent(kList);
    r.AddItem(kList, "a");
    r.AddItem(kList, "b");
    r.Select(kList, 1);
    r.SetRange(kTrack, 0, 3);
    r.SetPosition(kTrack, 3);
    r.EnableControl(kEdit, true);
    r.EnableControl(kCheck, false);
    r.ShowControl(kHidden, false);
    r.ShowControl(kLabel, false);
  };
  ui.Expect(kTestTemplate, [&](QtUser& user) {
    EXPECT_EQ(Differences(d), Log{});
    user.Click(kAct);
    EXPECT_EQ(Differences(d), Log{});
    user.Click(Dialog::kCancel);
  });
  EXPECT_EQ(d.DoModal(), Dialog::kCancel);
  // The logic's writes are not reported back as the user's, bar an edit's text.
  EXPECT_EQ(d.log, (Log{"12 text 12", "12 focus-lost 12", "18 clicked", "12 text 345",
                        "18 focus-lost", "cancel"}));
}

TEST_F(QtBindingTest, ANestedDialogIsOwnedByItsOpenerWhichGoesOnAfterIt) {
  Recorder outer;
  int innerResult = 0;
  outer.onAct = [&](Recorder& r) {
    Recorder inner(kInnerTemplate, r.window());
    innerResult = inner.DoModal();
  };
  ui.Expect(kTestTemplate, [](QtUser& user) {
    user.Click(kAct);
    user.Click(kCheck);
    user.Click(Dialog::kOk);
  });
  ui.Expect(kInnerTemplate, [&](QtUser& user) {
    EXPECT_EQ(user.window()->parentWidget(), QtBinding::WindowOf(outer));
    EXPECT_TRUE(user.window()->isModal());
    user.Click(Dialog::kOk);
  });
  EXPECT_EQ(outer.DoModal(), Dialog::kOk);
  EXPECT_EQ(innerResult, Dialog::kOk);
  // Where the focus goes back to after the nested window is the platform's affair.
  std::erase_if(outer.log, [](const std::string& e) { return e.find("focus") != e.npos; });
  EXPECT_EQ(outer.log, (Log{"18 clicked", "14 clicked on", "ok"}));
}

// Presses the button of the next message box after noting what it shows.
void AnswerMessage(QMessageBox::StandardButton press, std::string* shown) {
  WhenFound(
      "message box", [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [=](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        *shown = box->windowTitle().toStdString() + "|" + box->text().toStdString() + "|" +
                 std::to_string(box->icon()) + "|" + std::to_string(box->standardButtons().toInt());
        QAbstractButton* button = box->button(press);
        if (button == nullptr) return box->reject();
        QTest::mouseClick(button, Qt::LeftButton);
      });
}

TEST_F(QtBindingTest, MessageBoxesOfferTheButtonsAskedForAndReturnThePressedOne) {
  using Box = QMessageBox;
  const Box::StandardButtons okCancel = Box::Ok | Box::Cancel, yesNo = Box::Yes | Box::No;
  const std::tuple<UINT, Box::Icon, Box::StandardButtons, Box::StandardButton, int> cases[] = {
      {MB_OK | MB_ICONERROR, Box::Critical, Box::Ok, Box::Ok, IDOK},
      {MB_OKCANCEL, Box::NoIcon, okCancel, Box::Cancel, IDCANCEL},
      {MB_OKCANCEL, Box::NoIcon, okCancel, Box::Ok, IDOK},
      {MB_YESNO | 0x20, Box::Question, yesNo, Box::Yes, IDYES},
      {MB_YESNO | 0x30, Box::Warning, yesNo, Box::No, IDNO},
  };
  for (const auto& [type, icon, buttons, press, answer] : cases) {
    std::string shown;
    AnswerMessage(press, &shown);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "T", type), answer) << type;
    EXPECT_EQ(shown, "T|text|" + std::to_string(icon) + "|" + std::to_string(buttons.toInt()));
  }
}

TEST_F(QtBindingTest, APopUpMenuShowsItsItemsWhereAskedAndReturnsTheChosenCommand) {
  Recorder owner;
  norv::ui::PopupMenu menu;
  menu.Append(31, "First");
  menu.Append(32, "Second", /*checked=*/true);
  menu.AppendSeparator();
  menu.Append(33, "Third");
  const std::pair<const char*, int> answers[] = {{"Third", 33}, {"First", 31}, {"none", 0}};
  for (const auto& [choose, command] : answers) {
    std::vector<std::string> items;
    QPoint at;
    WhenFound(
        "menu position", [] { return QApplication::activePopupWidget(); },
        [&](QWidget* w) { at = w->pos(); });
    norv::test::AnswerNextMenu(choose, &items);
    EXPECT_EQ(binding.TrackPopupMenu(owner, menu, {40, 50}, norv::ui::kTrackRightButton), command);
    EXPECT_EQ(items, (Log{"First", "*Second", "Third"}));
    EXPECT_EQ(at, QPoint(40, 50));
  }
}

TEST_F(QtBindingTest, TheFileChooserTakesTheRequestAndReturnsTheChosenPath) {
  Recorder owner;
  norv::ui::OpenFileRequest request;
  request.title = "Pick";
  request.filterDescription = "Palettes";
  request.filterPattern = "*.pal";
  request.defaultExtension = "pal";
  request.path = host.dir().File("start.pal");
  QFileDialog* seen = nullptr;
  request.onInit = [&](HWND frame, HWND self) {
    EXPECT_EQ(frame, self);
    seen = qobject_cast<QFileDialog*>(QtBinding::WidgetOf(self));
  };
  request.fileMustExist = true;
  WhenFound(
      "file chooser", [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
      [&](QWidget* w) {
        auto* chooser = static_cast<QFileDialog*>(w);
        EXPECT_EQ(chooser, seen);
        EXPECT_EQ(chooser->windowTitle(), "Pick");
        EXPECT_EQ(chooser->nameFilters(), QStringList{"Palettes (*.pal)"});
        EXPECT_EQ(chooser->defaultSuffix(), "pal");
        EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(chooser->directory().absolutePath().toStdString(), host.dir().path().string());
        chooser->reject();
      });
  EXPECT_FALSE(binding.ChooseOpenFile(owner, request));
  EXPECT_EQ(request.path, host.dir().File("start.pal"));

  request.fileMustExist = false;
  norv::test::AnswerNextChooser(host.dir().File("new"));
  EXPECT_TRUE(binding.ChooseOpenFile(owner, request));
  EXPECT_EQ(request.path, host.dir().File("new.pal"));  // the default extension added
  request.maxPath = request.path.size() - 1;            // too long for the caller's buffer
  norv::test::AnswerNextChooser(request.path);
  EXPECT_FALSE(binding.ChooseOpenFile(owner, request));
}

TEST_F(QtBindingTest, ControlsStandWhereTheirDialogUnitsPutThemOnTheScreen) {
  Recorder d;
  ui.Expect(kTestTemplate, [&](QtUser& user) {
    user.window()->move(130, 70);
    const norv::ui::DialogUnits units = norv::ui::DialogUnitsOf(user.window()->font());
    const QPoint origin = user.window()->mapToGlobal(QPoint(0, 0));
    for (const norv::ui::ControlTemplate& c : d.dialogTemplate().controls) {
      const norv::ui::ScreenRect place = units.ToPixels(c.rect);
      const norv::ui::ScreenRect shown = d.ControlScreenRect(c.id);
      EXPECT_EQ(shown.left, origin.x() + place.left) << c.id;
      EXPECT_EQ(shown.top, origin.y() + place.top) << c.id;
      EXPECT_EQ(shown.right, origin.x() + place.right) << c.id;
      // A drop-down list's template height is the dropped list's; the closed box is less.
      if (c.kind != ControlKind::kDropDownList) {
        EXPECT_EQ(shown.bottom, origin.y() + place.bottom);
      }
    }
    const norv::ui::ScreenRect none = d.ControlScreenRect(99);
    EXPECT_EQ(none.right - none.left, 0);
    user.Click(Dialog::kCancel);
  });
  EXPECT_EQ(d.DoModal(), Dialog::kCancel);
}

}  // namespace
