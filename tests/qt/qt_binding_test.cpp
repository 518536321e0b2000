// The Qt binding over a dialog of the test's own with one control of every
// kind the templates use: a user's action on each widget reaches the model
// as its notification with the control's new state, the model's state shows
// on every widget, and message boxes, menus, the file chooser and nested
// dialogs work as the model asks.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_binding.h"
#include "tests/qt/qt_driver.h"
#include "tests/support/plugin_fixture.h"

namespace {

using namespace norv::test;
using namespace norv::ui;

enum : int { kTestTemplate = 9000, kInnerTemplate };
enum : int { kFrame = 10, kLabel, kDigits, kEdit, kCheck, kPushLike, kList, kTrack, kAct, kHidden };

DialogTemplate TestTemplate(int id) {
  DialogTemplate t{id, "Binding", 200, 120, "MS Sans Serif", 8, 0, {}};
  t.controls = {
      {kFrame, ControlKind::kGroupBox, "Frame", {4, 4, 192, 90}},
      {kLabel, ControlKind::kLabel, "Label", {10, 16, 36, 8}, kStyleCentred},
      {kDigits, ControlKind::kEdit, "", {50, 14, 40, 12}, kStyleDigitsOnly},
      {kEdit, ControlKind::kEdit, "", {100, 14, 60, 12}},
      {kCheck, ControlKind::kCheckBox, "Check", {10, 32, 50, 10}},
      {kPushLike, ControlKind::kCheckBox, "Push", {70, 30, 40, 14}, kStylePushLike},
      {kList, ControlKind::kDropDownList, "", {10, 50, 80, 60}, 0, {"zero", "one", "two"}},
      {kTrack, ControlKind::kTrackBar, "", {100, 50, 90, 14}, kStyleHorizontal | kStyleNoTicks},
      {kAct, ControlKind::kPushButton, "Act", {10, 72, 40, 14}},
      {kHidden, ControlKind::kPushButton, "Hidden", {60, 72, 40, 14}, kStyleHidden},
      {Dialog::kOk, ControlKind::kDefaultPushButton, "OK", {100, 100, 44, 14}},
      {Dialog::kCancel, ControlKind::kPushButton, "Cancel", {150, 100, 44, 14}},
  };
  return t;
}

using Log = std::vector<std::string>;

// Every way a widget differs from its control in the model.
Log Differences(Dialog& model) {
  QDialog* window = QtBinding::WindowOf(model);
  Log out;
  if (window->windowTitle().toStdString() != model.caption()) out.push_back("caption");
  for (const Control& c : model.controls()) {
    QWidget* w = QtBinding::ControlWidget(model, c.id());
    if (w == nullptr) continue;
    auto* button = qobject_cast<QAbstractButton*>(w);
    auto* edit = qobject_cast<QLineEdit*>(w);
    auto* list = qobject_cast<QComboBox*>(w);
    auto* track = qobject_cast<QSlider*>(w);
    const QString text = w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString();
    QStringList items, shown;
    for (const ListItem& item : c.items) items << QString::fromStdString(item.text);
    for (int i = 0; list != nullptr && i < list->count(); ++i) shown << list->itemText(i);
    const std::pair<const char*, bool> same[] = {
        {"enabled", w->isEnabled() == c.enabled},
        {"visible", w->isVisibleTo(window) == c.visible},
        {"text", text.toStdString() == c.text},
        {"check", button == nullptr || !button->isCheckable() || button->isChecked() == c.checked},
        {"limit", edit == nullptr || edit->maxLength() == (c.textLimit > 0 ? c.textLimit : 32767)},
        {"items", shown == items},
        {"selection", list == nullptr || list->currentIndex() == c.selection},
        {"range",
         track == nullptr || (track->minimum() == c.rangeMin && track->maximum() == c.rangeMax)},
        {"position", track == nullptr || track->value() == c.position}};
    for (const auto& [what, ok] : same)
      if (!ok) out.push_back(std::to_string(c.id()) + " " + what);
  }
  return out;
}

// Records each notification with the state its control has in the model.
// Its logic sets the controls up at the start, refuses to be cancelled, and
// on Act writes every control anew, then opens a nested dialog.
class Recorder : public Dialog {
 public:
  explicit Recorder(int id = kTestTemplate, HWND owner = nullptr)
      : Dialog(TestTemplate(id), owner) {}
  Log log;
  int nestedResult = 0;

 protected:
  void BindControls() override {
    static const char* const kNames[] = {"clicked", "selected", "text", "focus-lost", "scrolled"};
    for (const Control& c : controls()) {
      if (c.id() == kNoId || c.id() == kOk || c.id() == kCancel) continue;
      for (int n = 0; n < 5; ++n)
        Bind(c.id(), static_cast<Notification>(n), [this, id = c.id(), n] {
          const Control& x = *Find(id);
          std::string state;
          if (x.kind() == ControlKind::kEdit) state = " " + x.text;
          if (x.kind() == ControlKind::kCheckBox) state = x.checked ? " on" : " off";
          if (x.kind() == ControlKind::kDropDownList)
            state = " " + std::to_string(x.selection) + " data " +
                    std::to_string(ItemData(id, x.selection));
          if (x.kind() == ControlKind::kTrackBar) state = " " + std::to_string(x.position);
          log.push_back(std::to_string(id) + " " + kNames[n] + state);
          if (id == kAct && n == 0) Act();
        });
    }
  }
  void OnInitDialog() override {
    SetCaption("Before");
    SetTextLimit(kEdit, 3);
    SetItemData(kList, 2, 77);
    SetRange(kTrack, 2, 9);
    EnableControl(kLabel, false);
    ShowControl(kHidden, true);
  }
  void Act() {
    SetText(kFrame, "New frame");
    SetText(kLabel, "New label");
    SetText(kAct, "Done");
    SetText(kDigits, "345");
    SetCheck(kCheck, true);
    SetCheck(kPushLike, false);
    ResetContent(kList);
    AddItem(kList, "a");
    AddItem(kList, "b");
    Select(kList, 1);
    SetRange(kTrack, 0, 3);
    SetPosition(kTrack, 3);
    EnableControl(kCheck, false);
    ShowControl(kLabel, false);
    Recorder inner(kInnerTemplate, window());
    nestedResult = inner.DoModal();
  }
  void OnOK() override {
    log.push_back("ok");
    EndDialog(kOk);
  }
  void OnCancel() override { log.push_back("cancel"); }
};

class QtBindingTest : public ::testing::Test {
 protected:
  HostScope host;
  QtBinding binding;
  DialogScripts ui;
};

TEST_F(QtBindingTest, TheWidgetsShowTheModelAndCarryEachUserActionBack) {
  Recorder d;
  ui.Expect(kTestTemplate, [&](QtUser& user) {
    EXPECT_EQ(Differences(d), Log{});
    user.Type(kDigits, "4a2");  // the letter is not taken
    user.Type(kEdit, "abcdef");
    EXPECT_EQ(d.log, (Log{"12 text 4", "12 text 42", "12 focus-lost 42", "13 text a", "13 text ab",
                          "13 text abc"}));
    d.log.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(d.focus(), kCheck);  // the next stop in the template's order
    user.Click(kCheck);
    user.Click(kCheck);
    user.Click(kPushLike);
    user.Select(kList, "two");
    user.Slide(kTrack, 4);
    user.Click(kAct);  // the logic writes every control, then opens a nested dialog
    EXPECT_EQ(d.nestedResult, Dialog::kOk);
    // Where the focus goes after the nested window is the platform's affair; the
    // logic's writes are not reported back as the user's, bar an edit's text.
    EXPECT_EQ(d.log, (Log{"13 focus-lost abc", "14 clicked on", "14 clicked off",
                          "14 focus-lost off", "15 clicked on", "15 focus-lost on",
                          "16 selected 2 data 77", "16 focus-lost 2 data 77", "17 scrolled 3",
                          "17 scrolled 4", "17 focus-lost 4", "18 clicked", "12 text 345"}));
    EXPECT_EQ(Differences(d), Log{});
    d.log.clear();
    // Escape asks to cancel and the logic may refuse; Enter in an edit is the default button.
    QTest::keyClick(user.window(), Qt::Key_Escape);
    EXPECT_FALSE(d.ended());
    user.Widget(kDigits)->setFocus();
    QTest::keyClick(user.Widget(kDigits), Qt::Key_Return);
  });
  ui.Expect(kInnerTemplate, [&](QtUser& user) {
    EXPECT_EQ(user.window()->parentWidget(), QtBinding::WindowOf(d));
    EXPECT_TRUE(user.window()->isModal());
    user.Click(Dialog::kOk);
  });
  EXPECT_EQ(d.DoModal(), Dialog::kOk);
  std::erase_if(d.log, [](const std::string& e) { return e.find("focus") != e.npos; });
  EXPECT_EQ(d.log, (Log{"cancel", "ok"}));
}

TEST_F(QtBindingTest, MessageBoxesOfferTheButtonsAskedForAndReturnThePressedOne) {
  using Box = QMessageBox;
  const std::tuple<UINT, Box::Icon, Box::StandardButtons, Box::StandardButton, int> cases[] = {
      {MB_OK | MB_ICONERROR, Box::Critical, Box::Ok, Box::Ok, IDOK},
      {MB_OKCANCEL, Box::NoIcon, Box::Ok | Box::Cancel, Box::Cancel, IDCANCEL},
      {MB_OKCANCEL, Box::NoIcon, Box::Ok | Box::Cancel, Box::Ok, IDOK},
      {MB_YESNO | 0x20, Box::Question, Box::Yes | Box::No, Box::Yes, IDYES},
      {MB_YESNO | 0x30, Box::Warning, Box::Yes | Box::No, Box::No, IDNO},
  };
  for (const auto& [type, icon, buttons, press, answer] : cases) {
    std::string shown;  // what the box shows, then its button is pressed
    WhenModal<Box>("message box", [&, press = press](Box* box) {
      shown = box->windowTitle().toStdString() + "|" + box->text().toStdString() + "|" +
              std::to_string(box->icon()) + "|" + std::to_string(box->standardButtons().toInt());
      QTest::mouseClick(box->button(press), Qt::LeftButton);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "text", "T", type), answer) << type;
    EXPECT_EQ(shown, "T|text|" + std::to_string(icon) + "|" + std::to_string(buttons.toInt()));
  }
}

TEST_F(QtBindingTest, APopUpMenuShowsItsItemsWhereAskedAndReturnsTheChosenCommand) {
  Recorder owner;
  PopupMenu menu;
  menu.Append(31, "First");
  menu.Append(32, "Second", /*checked=*/true);
  menu.AppendSeparator();
  menu.Append(33, "Third");
  const std::pair<const char*, int> answers[] = {{"Third", 33}, {"First", 31}, {"none", 0}};
  for (const auto& [choose, command] : answers) {
    // What the menu shows (a checked item with a leading "*") and where.
    Log shown;
    WhenFound(
        "pop-up menu", [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
        [&, choose = std::string(choose)](QWidget* w) {
          auto* popup = static_cast<QMenu*>(w);
          shown.push_back(std::to_string(w->x()) + "," + std::to_string(w->y()));
          QAction* chosen = nullptr;
          for (QAction* action : popup->actions()) {
            if (action->isSeparator()) continue;
            shown.push_back((action->isChecked() ? "*" : "") + action->text().toStdString());
            if (action->text().toStdString() == choose) chosen = action;
          }
          if (chosen == nullptr) return popup->hide();
          QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(chosen).center());
        });
    EXPECT_EQ(binding.TrackPopupMenu(owner, menu, {40, 50}, kTrackRightButton), command);
    EXPECT_EQ(shown, (Log{"40,50", "First", "*Second", "Third"}));
  }
}

TEST_F(QtBindingTest, TheFileChooserTakesTheRequestAndReturnsTheChosenPath) {
  Recorder owner;
  OpenFileRequest request{"Pick", "Palettes", "*.pal", "pal", host.dir().File("start.pal")};
  request.fileMustExist = true;
  QFileDialog* seen = nullptr;
  request.onInit = [&](HWND frame, HWND self) {
    EXPECT_EQ(frame, self);
    seen = qobject_cast<QFileDialog*>(QtBinding::WidgetOf(self));
  };
  WhenModal<QFileDialog>("file chooser", [&](QFileDialog* chooser) {
    EXPECT_EQ(chooser, seen);
    EXPECT_EQ((QStringList{chooser->windowTitle(), chooser->nameFilters().join(";"),
                           chooser->defaultSuffix(), chooser->directory().absolutePath()}),
              (QStringList{"Pick", "Palettes (*.pal)", "pal",
                           QString::fromStdString(host.dir().path().string())}));
    EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
    chooser->reject();
  });
  EXPECT_FALSE(binding.ChooseOpenFile(owner, request));
  EXPECT_EQ(request.path, host.dir().File("start.pal"));

  request.fileMustExist = false;
  AnswerNextChooser(host.dir().File("new"));
  EXPECT_TRUE(binding.ChooseOpenFile(owner, request));
  EXPECT_EQ(request.path, host.dir().File("new.pal"));  // the default extension added
  request.maxPath = request.path.size() - 1;            // too long for the caller's buffer
  AnswerNextChooser(request.path);
  EXPECT_FALSE(binding.ChooseOpenFile(owner, request));
}

}  // namespace
