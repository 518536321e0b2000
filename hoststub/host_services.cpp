// The host's answers about itself: video standard, hardware, project format,
// folder, and the checks and formatting it offers the plug-in.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "hoststub/host_state.h"
#include "plugin/host/host_api.h"

using norv::host::HostState;
using norv::host::LockState;

extern "C" {

std::int32_t HostIsNtsc() {
  HostState* s;
  auto lock = LockState(&s);
  return s->ntsc;
}

std::int32_t HostHasHardware() {
  HostState* s;
  auto lock = LockState(&s);
  return s->hardware;
}

std::int32_t ConfirmMovieRequest(const MovieRequest* request, std::int32_t) {
  HostState* s;
  auto lock = LockState(&s);
  ++s->confirmRequests;
  return request != nullptr ? s->confirm : 0;
}

// The text of the frame-rate list: at most two decimals, no trailing zeros
// ("30", "29.97", "25", "7.5").
std::int32_t FormatFrameRate(char* text, float rate) {
  long hundredths = std::lround(static_cast<double>(rate) * 100.0);
  if (hundredths % 100 == 0) {
    std::snprintf(text, 100, "%ld", hundredths / 100);
  } else if (hundredths % 10 == 0) {
    std::snprintf(text, 100, "%.1f", static_cast<double>(hundredths) / 100.0);
  } else {
    std::snprintf(text, 100, "%.2f", static_cast<double>(hundredths) / 100.0);
  }
  return 1;
}

std::int32_t ProjectWidth() {
  HostState* s;
  auto lock = LockState(&s);
  return s->projectWidth;
}

std::int32_t ProjectHeight() {
  HostState* s;
  auto lock = LockState(&s);
  return s->projectHeight;
}

std::int32_t ProjectFrameRateX100() {
  HostState* s;
  auto lock = LockState(&s);
  return s->projectRateX100;
}

std::int32_t IsDvReverseAvailable() {
  HostState* s;
  auto lock = LockState(&s);
  return s->dvReverseAvailable;
}

std::int32_t GetHostFolder(char* folder) {
  HostState* s;
  auto lock = LockState(&s);
  std::size_t n = s->folder.copy(folder, 259);
  folder[n] = '\0';
  return 1;
}
}
