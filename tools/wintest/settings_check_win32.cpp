#include "tools/wintest/settings_check.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/dialogs/dialog_templates.h"

namespace norv::cli {
namespace {

using norv::ui::ControlKind;
using norv::ui::ControlTemplate;
using norv::ui::DialogTemplate;

struct Check {
  HWND dialog = nullptr;
  int controls = 0;
  int mismatches = 0;
};
Check g_check;

const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kGroupBox:
    case ControlKind::kCheckBox:
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      return "button";
    case ControlKind::kLabel:
      return "static";
    case ControlKind::kEdit:
      return "edit";
    case ControlKind::kDropDownList:
      return "combobox";
    case ControlKind::kTrackBar:
      return "msctls_trackbar32";
  }
  return "";
}

void Mismatch(const ControlTemplate& c, const std::string& what) {
  std::fprintf(stderr, "norvtest: control %d \"%s\": %s\n", c.id, c.caption.c_str(), what.c_str());
  ++g_check.mismatches;
}

// Every control of the template that has an identifier: its window class,
// and its rectangle in dialog units converted by the dialog's own font. A
// closed drop-down list is one line high, so only its left, top and width
// are compared; its items must be the template's.
void CheckDialog(HWND dialog, const DialogTemplate& t) {
  for (const ControlTemplate& c : t.controls) {
    if (c.id == norv::ui::kNoId) continue;
    ++g_check.controls;
    HWND control = GetDlgItem(dialog, c.id);
    if (control == nullptr) {
      Mismatch(c, "missing");
      continue;
    }
    char name[64] = {};
    GetClassNameA(control, name, sizeof name);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (std::strcmp(name, ClassOf(c.kind)) != 0) Mismatch(c, std::string("class ") + name);

    // The dialog manager converts the position and the size each on its own.
    RECT want{c.rect.x, c.rect.y, c.rect.width, c.rect.height};
    MapDialogRect(dialog, &want);
    want.right += want.left;
    want.bottom += want.top;
    RECT got{};
    GetWindowRect(control, &got);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
    const bool list = c.kind == ControlKind::kDropDownList;
    if (got.left != want.left || got.top != want.top || got.right != want.right ||
        (!list && got.bottom != want.bottom)) {
      char where[128];
      std::snprintf(where, sizeof where, "at (%ld,%ld)-(%ld,%ld), template (%ld,%ld)-(%ld,%ld)",
                    static_cast<long>(got.left), static_cast<long>(got.top),
                    static_cast<long>(got.right), static_cast<long>(got.bottom),
                    static_cast<long>(want.left), static_cast<long>(want.top),
                    static_cast<long>(want.right), static_cast<long>(want.bottom));
      Mismatch(c, where);
    }
    if (list && !c.items.empty() &&
        SendMessageA(control, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(c.items.size()))
      Mismatch(c, "items differ from the template's");
  }
}

// What a user does, as the controls report it: lock the aspect, type a width
// too small and leave the field (it is corrected), type a new width (the
// locked height follows), pick 15 frames a second, switch audio off, press OK. The record must come
// back with all of it.
void Interact(HWND dialog) {
  auto click = [dialog](int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
  click(kLockAspect);
  HWND width = GetDlgItem(dialog, kWidthEdit);
  HWND height = GetDlgItem(dialog, kHeightEdit);
  SetFocus(width);
  SetWindowTextA(width, "1");
  SetFocus(height);  // leaving the field brings the width into range
  char shown[8] = {};
  GetWindowTextA(width, shown, sizeof shown);
  if (std::strcmp(shown, "1") == 0) {
    std::fprintf(stderr, "norvtest: leaving the width field left 1 in it\n");
    ++g_check.mismatches;
  }
  SetFocus(width);
  SetWindowTextA(width, "320");
  SetFocus(height);
  if (SendMessageA(width, EM_GETLIMITTEXT, 0, 0) != 4) {
    std::fprintf(stderr, "norvtest: the width takes more than 4 digits\n");
    ++g_check.mismatches;
  }
  HWND rates = GetDlgItem(dialog, kFrameRateList);
  const LRESULT fifteen = SendMessageA(rates, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>("15"));
  SendMessageA(rates, CB_SETCURSEL, static_cast<WPARAM>(fifteen), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFrameRateList, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(rates));
  click(kAudioEnable);
  click(IDOK);
}

BOOL CALLBACK FindSettingsWindow(HWND window, LPARAM) {
  char caption[64] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (std::strcmp(caption, FindDialogTemplate(kAviSettingsTemplate)->caption.c_str()) != 0)
    return TRUE;
  g_check.dialog = window;
  return FALSE;
}

// Runs inside the dialog's modal loop: once the window is up, checks it and
// presses OK.
void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &FindSettingsWindow, 0);
  if (g_check.dialog == nullptr) return;
  KillTimer(nullptr, timer);
  CheckDialog(g_check.dialog, *FindDialogTemplate(kAviSettingsTemplate));
  Interact(g_check.dialog);
}

}  // namespace

int RunSettingsCheck(const PluginExports& plugin) {
  AviSettings settings;
  std::memset(&settings, 0, sizeof settings);
  ProjectSettings project;
  std::memset(&project, 0, sizeof project);
  if (plugin.FileTypeDefaultSettings(1, &settings, 0) == 0 ||
      plugin.FileTypeDefaultSettings(1, &project.video, 0) == 0) {
    std::fprintf(stderr, "norvtest: the plug-in gave no default settings\n");
    return 1;
  }
  project.kind = 1;
  g_check = {};
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, &Tick);
  const std::int32_t result = plugin.FileTypeLaunchSettings(1, &settings, &project, nullptr);
  KillTimer(nullptr, timer);
  if (g_check.dialog == nullptr) {
    std::fprintf(stderr, "norvtest: no \"AVI Settings\" window appeared (result %d)\n",
                 static_cast<int>(result));
    return 1;
  }
  std::fprintf(stderr,
               "norvtest: AVI Settings: %d of %d controls as the template places them; OK "
               "returned %d\n",
               g_check.controls - g_check.mismatches, g_check.controls, static_cast<int>(result));
  const bool kept = settings.width == 320 && settings.height == 240 && settings.lockAspect != 0 &&
                    settings.frameRate == 15.0f && settings.audioEnabled == 0;
  std::fprintf(stderr,
               "norvtest: the record came back %dx%d, aspect %s, %g frames a second, audio %s%s\n",
               static_cast<int>(settings.width), static_cast<int>(settings.height),
               settings.lockAspect != 0 ? "locked" : "free",
               static_cast<double>(settings.frameRate), settings.audioEnabled != 0 ? "on" : "off",
               kept ? "" : " (expected 320x240, locked, 15, off)");
  return g_check.mismatches == 0 && result == 1 && kept ? 0 : 1;
}

}  // namespace norv::cli
