// The host stand-in's own controls: what a host program (norvavi, the tests)
// sets so that the host functions answer as a given host would. The same
// state can be set at load time from the environment:
//   NORV_HOST_NTSC, NORV_HOST_HARDWARE   0 or 1
//   NORV_HOST_PROJECT                    WIDTHxHEIGHT@RATE, e.g. 720x480@29.97
//   NORV_HOST_FOLDER                     the host folder (holds SAMPLES/)
//   NORV_HOST_PROFILE                    path of the profile file (INI text)
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

extern "C" {

void NorvHostSetNtsc(int ntsc);
void NorvHostSetHardware(int hardware);
void NorvHostSetProject(int width, int height, int rateX100);
void NorvHostSetFolder(const char* folder);
void NorvHostSetProfilePath(const char* path);
void NorvHostSetConfirm(int answer);  // what ConfirmMovieRequest answers (default 1)
int NorvHostConfirmRequests();        // how often ConfirmMovieRequest has been asked
void NorvHostSetDvReverseAvailable(int available);
// The path AskPresetPath answers with, for scripted runs; null or empty makes
// it report a cancelled chooser (the default).
void NorvHostSetPresetPathAnswer(const char* path);

// The host's own dialogs, as a host program with windows shows them. Without
// them (the default) the cropping and hardware dialogs leave the values as
// they are, PositionWindow does nothing, and the preset chooser is cancelled.
// A path set with NorvHostSetPresetPathAnswer is answered before any chooser
// is shown. The functions run on the thread that called the host.
struct NorvHostDialogs {
  void* context;
  // Edits the four crop values in place.
  void (*cropping)(void* context, std::int32_t* left, std::int32_t* top, std::int32_t* right,
                   std::int32_t* bottom, HWND owner);
  // Edits the 17-word hardware option block in place.
  void (*hardwareOptions)(void* context, std::int32_t* options);
  // Mode 1 chooses a file to load, 0 one to save; fills the 260-byte buffer
  // and returns non-zero when a path was chosen.
  std::int32_t (*presetPath)(void* context, std::int32_t mode, char* path, const char* extension,
                             HWND owner);
  void (*positionWindow)(void* context, HWND window);
};
// Copies the table; null takes the dialogs away again.
void NorvHostSetDialogs(const NorvHostDialogs* dialogs);

// Parses WIDTHxHEIGHT@RATE; 1 on success.
int NorvHostParseProject(const char* text, int* width, int* height, int* rateX100);

// Blocks from HostAlloc not yet freed, for leak checks.
long NorvHostBlocksInUse();
// The next `afterCount` HostAlloc calls succeed, the one after fails.
void NorvHostFailAllocAfter(int afterCount);
// Non-zero: the image library's ImagePalette gives no palette, as a library
// short of GDI objects does.
void NorvHostImagesWithoutPalette(int on);
}
