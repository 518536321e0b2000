// Compiled with -m32, and with the MinGW compiler against the real Windows
// headers: the records as the 32-bit host sees them. Their headers assert
// each layout where pointers are 32 bits wide; this makes them compile so.
#include "platform/win32_types.h"
#include "plugin/host/movie_request.h"
#include "plugin/host/project_settings.h"

static_assert(sizeof(void*) == 4, "compile this check with -m32");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(HWND) == 4);
