// Creating a movie session from the host's request.
#pragma once

#include "plugin/session/movie_session.h"

// Validates the request (silently: null, nothing allocated), creates the
// session and initialises it. Null when any step fails.
MovieSession* CreateMovieSession(const MovieRequest* request, SessionLimits limits = {});
inline MovieSession* CreateMovieSession(const MovieRequest* request, AudioWaitLimits waits) {
  return CreateMovieSession(request, SessionLimits{waits});
}

// Frames a span of `endTime - startTime` ms holds at `rate`, as the export
// counts them; also what a host must deliver.
std::uint32_t MovieFrameCount(std::uint32_t startTime, std::uint32_t endTime, float rate);
