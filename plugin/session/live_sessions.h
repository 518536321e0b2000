// The sessions this module handed out and has not yet deleted. The exports
// check every handle against it, so a host that passes a stale, foreign or
// deleted handle gets a refusal instead of a crash.
#pragma once

class MovieSession;

// False when the session could not be recorded (out of memory).
bool RegisterSession(MovieSession* session);
bool IsLiveSession(const void* handle);
// False when the handle was not live.
bool UnregisterSession(const void* handle);
