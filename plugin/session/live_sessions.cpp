#include "plugin/session/live_sessions.h"

#include <mutex>
#include <new>
#include <unordered_set>

namespace {

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_set<const void*>& Live() {
  static std::unordered_set<const void*> live;
  return live;
}

}  // namespace

bool RegisterSession(MovieSession* session) {
  std::lock_guard guard(Lock());
  try {
    return Live().insert(session).second;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool IsLiveSession(const void* handle) {
  if (handle == nullptr) return false;
  std::lock_guard guard(Lock());
  return Live().count(handle) != 0;
}

bool UnregisterSession(const void* handle) {
  std::lock_guard guard(Lock());
  return Live().erase(handle) != 0;
}
