// The host's cropping, hardware options and preset chooser dialogs, and its
// window placement, as Qt windows. A host program that runs a QApplication
// installs them for as long as it shows windows.
#pragma once

class QWidget;

namespace norv::host {

class QtHostDialogs {
 public:
  // Puts the dialogs into the host stand-in; the destructor takes them out.
  QtHostDialogs();
  ~QtHostDialogs();
  QtHostDialogs(const QtHostDialogs&) = delete;
  QtHostDialogs& operator=(const QtHostDialogs&) = delete;
};

// Object names of the dialogs' value fields, for programs that drive them.
inline constexpr const char* kCropFieldNames[4] = {"left", "top", "right", "bottom"};
// The hardware option fields are named "option0" to "option16".

}  // namespace norv::host
