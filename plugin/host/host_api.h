// The host's closed libraries, under the role names the plug-in calls them
// by. On Windows each is imported by ordinal (noted per function); elsewhere
// the host stand-in provides them by these names.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"
#include "plugin/host/calling.h"
#include "plugin/host/host_block.h"

struct AviSettings;
struct MovieRequest;

extern "C" {

// NorvOpsUtils
void NORV_STDCALL RunCroppingDialog(std::int32_t* left, std::int32_t* top, std::int32_t* right,
                                    std::int32_t* bottom, HWND owner);  // 1
std::int32_t NORV_STDCALL AskPresetPath(std::int32_t mode, char* path, const char* extension,
                                        HWND owner);  // 2
std::int32_t NORV_STDCALL ConfirmMovieRequest(const MovieRequest* request,
                                              std::int32_t constant);  // 3
std::int32_t NORV_STDCALL FormatFrameRate(char* text, float rate);     // 4
std::int32_t NORV_STDCALL HostIsNtsc();                                // 7
std::int32_t NORV_STDCALL HostHasHardware();                           // 8
std::int32_t NORV_STDCALL SavePresetFile(std::int32_t kind, const void* record,
                                         const char* path);  // 9
std::int32_t NORV_STDCALL LoadPresetFile(std::int32_t kind, void* record,
                                         const char* path);  // 10

// QELENTRY
std::int32_t NORV_STDCALL ProjectWidth();                                         // 15
std::int32_t NORV_STDCALL ProjectHeight();                                        // 16
std::int32_t NORV_STDCALL ProjectFrameRateX100();                                 // 17
std::int32_t NORV_STDCALL IsDvReverseAvailable();                                 // 34
void NORV_STDCALL RunHardwareOptionsDialog(std::int32_t* options, std::int32_t);  // 354

// QELUTILS
std::int32_t NORV_STDCALL GetHostFolder(char* folder);                             // 52
HostBlockRef NORV_STDCALL HostAlloc(std::uint32_t bytes, std::uint32_t constant);  // 87
void NORV_STDCALL HostFree(HostBlockRef* block);                                   // 88
void NORV_STDCALL CopyFileTypeSettings(AviSettings* destination,
                                       const AviSettings* source);  // 89
void NORV_STDCALL WriteProfileInt(const char* section, const char* key, std::int32_t value,
                                  std::int32_t);  // 108
std::int32_t NORV_STDCALL ReadProfileInt(const char* section, const char* key,
                                         std::int32_t fallback, std::int32_t);  // 113
void NORV_STDCALL PositionWindow(HWND window, std::int32_t, std::int32_t);      // 131

// brilimg
std::int32_t NORV_STDCALL ImageFromDib(const void* packedDib);  // 13
std::int32_t NORV_STDCALL ReduceColors(std::int32_t image, std::int32_t bits, std::int32_t,
                                       std::int32_t colors);  // 64
HPALETTE NORV_STDCALL ImagePalette(std::int32_t image);       // 86
HGLOBAL NORV_STDCALL ImageToDib(std::int32_t image, std::uint32_t*, std::uint32_t*,
                                std::uint32_t*);             // 6
std::int32_t NORV_STDCALL ReleaseImage(std::int32_t image);  // 4

#if UINTPTR_MAX != 0xFFFFFFFFu
// Where a block reference lives; a stand-in service of 64-bit targets only.
void* NORV_STDCALL HostBlockAddress(HostBlockRef block);
#endif
}

// HostFree for owners that hold the reference itself.
inline void ReleaseHostBlock(HostBlockRef block) {
  HostFree(&block);
}

#if UINTPTR_MAX == 0xFFFFFFFFu
inline void* HostBlockAddress(HostBlockRef block) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(block));
}
#endif
