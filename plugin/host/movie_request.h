// The host's request for a movie and its audio block. Pointers are native,
// so these layouts are the host's only on 32-bit targets (checked there).
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/host/avi_settings.h"
#include "plugin/host/calling.h"

// Renders a frame of the project on request: code 2, the context value from
// the request, the address of a RenderFrameArgs. 0 means success.
using FrameCallback = std::int32_t(NORV_STDCALL*)(std::uint32_t code, std::uint32_t context,
                                                  void* args);

struct MovieRequest {
  char outputPath[260];         // file to write
  std::uint32_t reserved260;    // not read
  std::uint32_t version;        // must be 1
  AviSettings* settings;        // must not be null
  std::uint32_t startTime;      // ms
  std::uint32_t endTime;        // ms, greater than startTime
  FrameCallback frameCallback;  // may be null; used for the optimum palette
  std::uint32_t frameCallbackContext;
  std::int32_t sameAsProject;  // frames arrive at the project's rate
};

struct AudioBlock {
  const std::uint8_t* data;  // PCM bytes
  std::uint32_t byteCount;
};

// What the render callback receives, by address.
struct RenderFrameArgs {
  std::uint32_t timeMs;
  std::uint8_t* sample;  // packed 24-bit bitmap: header, then pixels
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(MovieRequest, version) == 264);
static_assert(offsetof(MovieRequest, settings) == 268);
static_assert(offsetof(MovieRequest, startTime) == 272);
static_assert(offsetof(MovieRequest, endTime) == 276);
static_assert(offsetof(MovieRequest, frameCallback) == 280);
static_assert(offsetof(MovieRequest, frameCallbackContext) == 284);
static_assert(offsetof(MovieRequest, sameAsProject) == 288);
static_assert(sizeof(MovieRequest) == 292);
static_assert(offsetof(AudioBlock, byteCount) == 4);
static_assert(sizeof(AudioBlock) == 8);
static_assert(sizeof(RenderFrameArgs) == 8);
#endif
