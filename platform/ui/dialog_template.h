// A dialog as data: its caption, size and font, and every control with its
// kind, caption, rectangle in dialog units, style and initial list items.
// Bindings lay real windows out from this; the control model starts from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norv::ui {

// Controls without an identifier of their own (labels, frames).
inline constexpr int kNoId = -1;

enum class ControlKind {
  kGroupBox,
  kLabel,
  kCheckBox,
  kPushButton,
  kDefaultPushButton,
  kEdit,
  kDropDownList,
  kTrackBar,
};

// Style bits; only those the dialogs need.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kStyleHidden = 1u << 0,      // created invisible
  kStyleDigitsOnly = 1u << 1,  // edit: only the digits 0..9 can be typed
  kStylePushLike = 1u << 2,    // check box drawn as a push button
  kStyleCentred = 1u << 3,     // label text centred
  kStyleNoTicks = 1u << 4,     // track bar without tick marks
  kStyleHorizontal = 1u << 5,  // track bar laid out left to right
  kStyleUnsorted = 1u << 6,    // list keeps insertion order
};

enum DialogStyle : std::uint32_t {
  kDialogModalFrame = 1u << 0,
  kDialogCaption = 1u << 1,
  kDialogSystemMenu = 1u << 2,
};

struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ControlTemplate {
  int id = kNoId;
  ControlKind kind = ControlKind::kLabel;
  std::string caption;
  DialogRect rect;
  std::uint32_t style = kStyleNone;
  std::vector<std::string> items;  // initial items of a drop-down list
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int width = 0;  // dialog units
  int height = 0;
  std::string fontName;
  int fontSize = 0;
  std::uint32_t style = 0;
  std::vector<ControlTemplate> controls;

  const ControlTemplate* Find(int controlId) const {
    for (const ControlTemplate& c : controls)
      if (c.id == controlId && controlId != kNoId) return &c;
    return nullptr;
  }
};

}  // namespace norv::ui
