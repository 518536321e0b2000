// A user's hands on the real widgets: each dialog that opens under the Qt
// binding runs the next queued script, which clicks, types, tabs and chooses
// through QTest and reads what the widgets show. Menus, message boxes and
// choosers are answered by watchers that wait for them to appear. A dialog
// without a script, or one its script left open, fails the test and is
// cancelled, so that a broken test ends instead of waiting for a user.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"

class QDialog;
class QWidget;

namespace norv::test {

class QtUser {
 public:
  explicit QtUser(norv::ui::Dialog& dialog);

  // Actions; each fails the test when a user could not do it.
  void Click(int id);
  // Clicks into the edit, selects its text and types over it.
  void Type(int id, const std::string& text);
  // Tab to the next control.
  void TabAway();
  // Opens the list and clicks the item.
  void Select(int id, int index);
  void SelectText(int id, const std::string& text);
  // Tabs onto the track bar, then Home and Right arrows to `position`.
  void Slide(int id, int position);

  int templateId() const { return dialog_.dialogTemplate().id; }
  bool IsOpen() const { return !dialog_.ended(); }
  std::string Caption() const;
  std::string Text(int id) const;
  bool Checked(int id) const;
  std::string SelectedText(int id) const;
  std::vector<std::string> Items(int id) const;
  QWidget* Widget(int id) const;
  QDialog* window() const;
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
  const std::vector<int>& opened() const;
};

// Runs `action` on the first widget `find` returns; polled from fresh
// timers, so it fires inside nested modal loops too. Fails after 10 s.
void WhenFound(const std::string& what, std::function<QWidget*()> find,
               std::function<void(QWidget*)> action);

// The next pop-up menu: records its item texts (a checked one with a
// leading "*"), then chooses the item with `choose`.
void AnswerNextMenu(const std::string& choose, std::vector<std::string>* items = nullptr);
// The next file chooser: records its title, types `path` and confirms it.
void AnswerNextChooser(const std::string& path, std::string* title = nullptr);
// The next modal window with that title: `fill` acts on it, then its OK
// button is pressed.
void AnswerNextForm(const std::string& title, std::function<void(QDialog&)> fill);

}  // namespace norv::test
