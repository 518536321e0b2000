// Compiled with -m32, and with the MinGW compiler against the real Windows
// headers: the records as the 32-bit host sees them.
#include <cstddef>

#include "platform/win32_types.h"
#include "plugin/host/movie_request.h"
#include "plugin/host/project_settings.h"

static_assert(sizeof(void*) == 4, "compile this check with -m32");

// What the records and files are built from, whichever header defines it.
static_assert(sizeof(HostBlockRef) == 4);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4 && sizeof(PALETTEENTRY) == 4);
static_assert(sizeof(WAVEFORMATEX_PCM) == 16);
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(HWND) == 4);

static_assert(sizeof(AviSettings) == 520);
static_assert(offsetof(AviSettings, paletteFile) == 64);
static_assert(offsetof(AviSettings, audioAvailable) == 324);
static_assert(offsetof(AviSettings, audioFormat) == 332);
static_assert(offsetof(AviSettings, hwAccelOptions) == 412);
static_assert(offsetof(AviSettings, compressorStateSize) == 480);
static_assert(offsetof(AviSettings, compressorState) == 488);
static_assert(offsetof(AviSettings, qrvExport) == 492);
static_assert(offsetof(AviSettings, reserved496) == 496);

static_assert(sizeof(ProjectSettings) == 580);
static_assert(offsetof(ProjectSettings, audioFormat) == 4);
static_assert(offsetof(ProjectSettings, video) == 60);

static_assert(offsetof(MovieRequest, outputPath) == 0);
static_assert(offsetof(MovieRequest, version) == 264);
static_assert(offsetof(MovieRequest, settings) == 268);
static_assert(offsetof(MovieRequest, startTime) == 272);
static_assert(offsetof(MovieRequest, endTime) == 276);
static_assert(offsetof(MovieRequest, frameCallback) == 280);
static_assert(offsetof(MovieRequest, frameCallbackContext) == 284);
static_assert(offsetof(MovieRequest, sameAsProject) == 288);
static_assert(sizeof(MovieRequest) == 292);

static_assert(offsetof(AudioBlock, data) == 0);
static_assert(offsetof(AudioBlock, byteCount) == 4);
static_assert(sizeof(AudioBlock) == 8);

static_assert(sizeof(RenderFrameArgs) == 8);
