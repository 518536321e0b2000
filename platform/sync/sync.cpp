#include "platform/sync/sync.h"

#include <chrono>
#include <condition_variable>

namespace {

struct Event final : norv::platform::KernelObject {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
  bool manualReset = true;
};

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
  cs->mutex = new std::recursive_mutex;
}
void EnterCriticalSection(CRITICAL_SECTION* cs) {
  cs->mutex->lock();
}
void LeaveCriticalSection(CRITICAL_SECTION* cs) {
  cs->mutex->unlock();
}
void DeleteCriticalSection(CRITICAL_SECTION* cs) {
  delete cs->mutex;
  cs->mutex = nullptr;
}

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*) {
  auto* e = new (std::nothrow) Event;
  if (e == nullptr) return nullptr;
  e->manualReset = manualReset != FALSE;
  e->signalled = initialState != FALSE;
  return static_cast<norv::platform::KernelObject*>(e);
}

BOOL SetEvent(HANDLE h) {
  auto* e = norv::platform::As<Event>(h);
  if (e == nullptr) return FALSE;
  {
    std::lock_guard lock(e->mutex);
    e->signalled = true;
  }
  e->changed.notify_all();
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  auto* e = norv::platform::As<Event>(h);
  if (e == nullptr) return FALSE;
  std::lock_guard lock(e->mutex);
  e->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  auto* e = norv::platform::As<Event>(h);
  if (e == nullptr) return WAIT_FAILED;
  std::unique_lock lock(e->mutex);
  auto ready = [e] { return e->signalled; };
  if (milliseconds == INFINITE) {
    e->changed.wait(lock, ready);
  } else if (!e->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!e->manualReset) e->signalled = false;
  return WAIT_OBJECT_0;
}
