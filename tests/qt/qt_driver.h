// A user's hands on the real widgets: each dialog that opens under the Qt
// binding runs the next queued script, which clicks, types and chooses
// through QTest; what the dialog holds is read from its model. Choosers and
// forms are answered by watchers that wait for them to appear. A dialog
// without a script, or one its script left open, fails the test and is
// cancelled, so that a broken test ends instead of waiting for a user.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/qt/qt_binding.h"

namespace norv::test {

class QtUser {
 public:
  explicit QtUser(norv::ui::Dialog& dialog) : dialog_(dialog) {}

  // Actions; each fails the test when a user could not do it.
  void Click(int id);
  // Clicks into the edit, selects its text and types over it.
  void Type(int id, const std::string& text);
  // Opens the list and takes the item with that text.
  void Select(int id, const std::string& text);
  // Tabs onto the track bar, then Home and Right arrows to `position`.
  void Slide(int id, int position);

  QWidget* Widget(int id) const { return norv::ui::QtBinding::ControlWidget(dialog_, id); }
  QDialog* window() const { return norv::ui::QtBinding::WindowOf(dialog_); }
  norv::ui::Dialog& dialog() { return dialog_; }

 private:
  QWidget* Usable(int id) const;
  norv::ui::Dialog& dialog_;
};

// Installs the watcher of opening dialogs; the destructor checks that every
// queued script ran.
class DialogScripts {
 public:
  using Script = std::function<void(QtUser&)>;
  DialogScripts();
  ~DialogScripts();
  DialogScripts(const DialogScripts&) = delete;
  DialogScripts& operator=(const DialogScripts&) = delete;
  void Expect(int templateId, Script script);
};

// Runs `action` on the first widget `find` returns; polled from fresh
// timers, so it fires inside nested modal loops too. Fails after 10 s.
void WhenFound(const std::string& what, std::function<QWidget*()> find,
               std::function<void(QWidget*)> action,
               QDeadlineTimer deadline = QDeadlineTimer(10000));

// WhenFound for the active modal window, once it is a T.
template <class T>
void WhenModal(const std::string& what, std::function<void(T*)> action) {
  WhenFound(
      what, [] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
      [=](QWidget* w) { action(static_cast<T*>(w)); });
}

// The next file chooser: types `path` and confirms it.
void AnswerNextChooser(const std::string& path);
// The next modal form with that title: each value is typed into the spin
// box of that name, then its OK button is pressed.
void AnswerNextForm(const std::string& title, std::vector<std::pair<const char*, int>> values);

}  // namespace norv::test
