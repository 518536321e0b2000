#include "tests/qt/qt_driver.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <deque>

namespace norv::test {

using norv::ui::QtBinding;

namespace {

std::deque<std::pair<int, DialogScripts::Script>> g_scripts;  // template id, script

void RunNextScript(norv::ui::Dialog& dialog) {
  QDialog* window = QtBinding::WindowOf(dialog);
  const int id = dialog.dialogTemplate().id;
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  if (g_scripts.empty() || g_scripts.front().first != id) {
    ADD_FAILURE() << "no script for dialog " << id;
  } else {
    DialogScripts::Script script = std::move(g_scripts.front().second);
    g_scripts.pop_front();
    QtUser user(dialog);
    script(user);
    if (dialog.ended()) return;
    ADD_FAILURE() << "dialog " << id << " left open by its script";
  }
  window->done(norv::ui::Dialog::kCancel);
}

}  // namespace

QWidget* QtUser::Usable(int id) const {
  QWidget* w = Widget(id);
  if (w != nullptr && !dialog_.ended() && w->isEnabled() && w->isVisible()) return w;
  ADD_FAILURE() << "dialog " << dialog_.dialogTemplate().id << " control " << id
                << " is missing, closed, disabled or hidden";
  return nullptr;
}

void QtUser::Click(int id) {
  QWidget* w = Usable(id);
  ASSERT_NE(qobject_cast<QAbstractButton*>(w), nullptr) << "control " << id << " is no button";
  QPoint at = w->rect().center();
  if (auto* box = qobject_cast<QCheckBox*>(w)) {
    // A check box takes clicks on its box and its text, not on the empty rest.
    QStyleOptionButton option;
    option.initFrom(box);
    at = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
  }
  QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

void QtUser::Type(int id, const std::string& text) {
  auto* edit = qobject_cast<QLineEdit*>(Usable(id));
  ASSERT_NE(edit, nullptr) << "control " << id << " is no usable edit";
  QTest::mouseClick(edit, Qt::LeftButton);
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(edit, QString::fromStdString(text));
}

void QtUser::Select(int id, const std::string& text) {
  auto* list = qobject_cast<QComboBox*>(Usable(id));
  ASSERT_NE(list, nullptr) << "control " << id << " is no usable list";
  const int index = list->findText(QString::fromStdString(text), Qt::MatchExactly);
  ASSERT_GE(index, 0) << "list " << id << " has no item \"" << text << "\"";
  QTest::mouseClick(list, Qt::LeftButton);  // the list drops down
  QAbstractItemView* view = list->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  // The dropped list ignores a button release right after it opened, so the
  // item is highlighted and taken with Return, as from the keyboard.
  view->setCurrentIndex(view->model()->index(index, 0));
  QTest::keyClick(view, Qt::Key_Return);
  if (view->window()->isVisible()) ADD_FAILURE() << "list " << id << " stayed dropped down";
}

void QtUser::Slide(int id, int position) {
  auto* track = qobject_cast<QSlider*>(Usable(id));
  ASSERT_NE(track, nullptr) << "control " << id << " is no usable track bar";
  track->setFocus(Qt::TabFocusReason);
  QTest::keyClick(track, Qt::Key_Home);
  for (int p = track->minimum(); p < position && p < track->maximum(); ++p)
    QTest::keyClick(track, Qt::Key_Right);
}

DialogScripts::DialogScripts() {
  QtBinding::SetShownHook(&RunNextScript);
}

DialogScripts::~DialogScripts() {
  QtBinding::SetShownHook(nullptr);
  EXPECT_TRUE(g_scripts.empty()) << g_scripts.size() << " dialog scripts did not run";
  g_scripts.clear();
}

void DialogScripts::Expect(int templateId, Script script) {
  g_scripts.emplace_back(templateId, std::move(script));
}

void WhenFound(const std::string& what, std::function<QWidget*()> find,
               std::function<void(QWidget*)> action, QDeadlineTimer deadline) {
  QTimer::singleShot(5, qApp, [=] {
    if (QWidget* found = find())
      action(found);
    else if (deadline.hasExpired())
      ADD_FAILURE() << "no " << what << " appeared";
    else
      WhenFound(what, find, action, deadline);
  });
}

void AnswerNextChooser(const std::string& path) {
  WhenModal<QFileDialog>("file chooser", [=](QFileDialog* chooser) {
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    // Typed in one go, as the chooser completes names key by key; Return confirms.
    name->setFocus(Qt::TabFocusReason);
    name->setText(QString::fromStdString(path));
    QTest::keyClick(name, Qt::Key_Return);
    if (chooser->isVisible()) {
      ADD_FAILURE() << "the chooser did not take " << path;
      chooser->reject();
    }
  });
}

void AnswerNextForm(const std::string& title, std::vector<std::pair<const char*, int>> values) {
  WhenFound(
      title,
      [=]() -> QWidget* {
        QWidget* w = QApplication::activeModalWidget();
        return w != nullptr && w->windowTitle().toStdString() == title ? w : nullptr;
      },
      [=](QWidget* w) {
        for (const auto& [name, value] : values) {
          auto* field = w->findChild<QSpinBox*>(name);
          ASSERT_NE(field, nullptr) << name;
          field->setFocus(Qt::TabFocusReason);
          QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
          QTest::keyClicks(field, QString::number(value));
        }
        QPushButton* ok = w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTest::mouseClick(ok, Qt::LeftButton);
      });
}

}  // namespace norv::test

// The Qt tests' program: one QApplication for all of them, in Qt's own style
// so that pictures and sizes do not depend on the desktop; without a display,
// on Qt's offscreen platform.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return RUN_ALL_TESTS();
}
