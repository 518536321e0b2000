// The one message-box service. Where the box goes is the host program's
// choice: a modal box in the GUI, standard error in the command-line host, a
// recording sink in tests.
#pragma once

#include "platform/win32_types.h"

#if !defined(_WIN32)
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Blocks until the box is answered; returns the button pressed.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
#endif

// The dialog framework's message box, through which every message of the
// plug-in goes: `type` as MessageBoxA takes it, the owner and the title the
// framework's. On Windows see ui/win32/framework_message_box_win32.cpp;
// elsewhere it is MessageBoxA with no owner and no title.
int FrameworkMessageBox(const char* text, UINT type);

extern "C" {
// A sink receives every box and returns the button pressed. Null restores
// the default, which prints the text on standard error and answers IDOK.
using NorvMessageSink = int (*)(void* context, const char* text, const char* caption, UINT type);
void NorvSetMessageSink(NorvMessageSink sink, void* context);
}
