// Wide (UTF-16) texts that drivers and resources hold, in the module's
// narrow character set: the system's ANSI code page on Windows (as the
// narrow Windows calls convert), Latin-1 elsewhere.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win32_types.h"

// Converts up to the first NUL or `capacity` units, whichever comes first.
// A character the narrow set lacks becomes one '?', a surrogate pair
// included (on Windows, the code page's own default character).
std::string NarrowFromWide(const WCHAR* text, std::size_t capacity);
