// The control model shown as real Qt Widgets windows. Each template becomes a
// fixed-size modal QDialog laid out from its dialog units with the dialog
// font's metrics; the binding only carries the user's actions into the model
// (clicks, edits, focus moves, list choices, track-bar moves) and the model's
// state back onto the widgets after each of them. Message boxes become
// QMessageBox and the open-file chooser a QFileDialog.
//
// Everything here runs on the thread of the QApplication, which the host
// program creates before installing the binding.
#pragma once

#include <QFont>
#include <functional>

#include "platform/ui/dialog_binding.h"

class QDialog;
class QWidget;

namespace norv::ui {

// The font a template asks for, or the closest one this system has.
QFont DialogFont(const DialogTemplate& dialog);

// Dialog units in pixels for one font, as the platform converts them: the
// base units are the font's average character width (over A-Z and a-z,
// rounded) and its height; x = du * baseX / 4 and y = du * baseY / 8, rounded.
struct DialogUnits {
  int baseX = 0;
  int baseY = 0;
  int X(int du) const;
  int Y(int du) const;
  ScreenRect ToPixels(const DialogRect& rect) const;
};
DialogUnits DialogUnitsOf(const QFont& font);

class QtBinding : public DialogBinding {
 public:
  // Installs itself as the process's binding and message sink; the
  // destructor puts back the previous binding and the default sink.
  QtBinding();
  ~QtBinding() override;
  QtBinding(const QtBinding&) = delete;
  QtBinding& operator=(const QtBinding&) = delete;

  void RunModal(Dialog& dialog) override;
  int TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at,
                     std::uint32_t flags) override;
  bool ChooseOpenFile(Dialog& owner, OpenFileRequest& request) override;
  ScreenRect ControlScreenRect(const Dialog& dialog, int id) const override;

  // The window showing an open dialog and the widget of one of its
  // controls; null when there is none.
  static QDialog* WindowOf(const Dialog& dialog);
  static QWidget* ControlWidget(const Dialog& dialog, int id);
  // The dialog a window shows, or null for any other widget.
  static Dialog* DialogOf(const QWidget* window);
  // The widget behind a window handle the binding gave out (a dialog or a
  // file chooser while it is open), or null.
  static QWidget* WidgetOf(HWND window);
  // The parent for a window owned by `owner`: its widget when the binding
  // knows it, else the topmost modal window, else none.
  static QWidget* ParentFor(HWND owner);
  // Called once each dialog's window is up and its modal loop runs.
  static void SetShownHook(std::function<void(Dialog&)> hook);

 private:
  static int MessageSink(void* self, const char* text, const char* caption, unsigned type);
  DialogBinding* previous_;
};

}  // namespace norv::ui
