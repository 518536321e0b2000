// Calling convention of everything that crosses a module boundary: the
// callee removes the arguments on 32-bit Windows.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define NORV_STDCALL __stdcall
#else
#define NORV_STDCALL
#endif

#if defined(_WIN32)
// The module definition file lists the exports with their ordinals.
#define NORV_EXPORT extern "C"
#else
#define NORV_EXPORT extern "C" __attribute__((visibility("default")))
#endif
