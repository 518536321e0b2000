// Wide (UTF-16) texts that drivers report, in the module's narrow character
// set, which is Latin-1 here.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win32_types.h"

// Converts up to the first NUL or `capacity` units, whichever comes first.
// A character outside Latin-1 becomes one '?', a surrogate pair included.
std::string NarrowFromWide(const WCHAR* text, std::size_t capacity);
