// The C run-time's path split and path builder, as the plug-in uses them to
// put its temporary audio file next to the output.
#pragma once

#include <cstddef>

namespace norv::platform {

constexpr char kPathSeparator =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

// Buffers may be null. Sizes as the C run-time's: drive 3, dir 256,
// name 256, ext 256. A drive part exists only on Windows.
void SplitPath(const char* path, char* drive, char* dir, char* name, char* ext);
// Writes at most `size` bytes including the terminator; the result is cut to fit.
void MakePath(char* out, std::size_t size, const char* drive, const char* dir, const char* name,
              const char* ext);

}  // namespace norv::platform
