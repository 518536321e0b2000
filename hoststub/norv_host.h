// The host stand-in's own controls: what a host program (norvavi, the tests)
// sets so that the host functions answer as a given host would. The same
// state can be set at load time from the environment:
//   NORV_HOST_NTSC, NORV_HOST_HARDWARE   0 or 1
//   NORV_HOST_PROJECT                    WIDTHxHEIGHT@RATE, e.g. 720x480@29.97
//   NORV_HOST_FOLDER                     the host folder (holds SAMPLES/)
//   NORV_HOST_PROFILE                    path of the profile file (INI text)
#pragma once

#include <cstdint>

extern "C" {

void NorvHostSetNtsc(int ntsc);
void NorvHostSetHardware(int hardware);
void NorvHostSetProject(int width, int height, int rateX100);
void NorvHostSetFolder(const char* folder);
void NorvHostSetProfilePath(const char* path);
void NorvHostSetConfirm(int answer);  // what ConfirmMovieRequest answers (default 1)
void NorvHostSetDvReverseAvailable(int available);
// The path AskPresetPath answers with, for scripted runs; null or empty makes
// it report a cancelled chooser (the default).
void NorvHostSetPresetPathAnswer(const char* path);

// Parses WIDTHxHEIGHT@RATE; 1 on success.
int NorvHostParseProject(const char* text, int* width, int* height, int* rateX100);

// Blocks from HostAlloc not yet freed, for leak checks.
long NorvHostBlocksInUse();
// The next `afterCount` HostAlloc calls succeed, the one after fails.
void NorvHostFailAllocAfter(int afterCount);
}
