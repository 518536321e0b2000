// The compressor manager: one process-wide list of drivers (the built-in ones,
// then whatever ICInstall adds) and the table of open instances. A handle is
// an opaque number looked up in that table, so a stale or foreign handle is
// refused rather than followed.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/vfw/drivers/driver.h"
#include "platform/vfw/vfw.h"

namespace {

using norv::vfw::FourCCUpper;

struct Entry {
  DWORD type;
  DWORD handler;
  DRIVERPROC proc;
  std::u16string description;
  bool builtin;
};

struct Instance {
  DRIVERPROC proc = nullptr;
  DWORD_PTR driverId = 0;
  std::uintptr_t handle = 0;
  std::mutex mutex;  // one message at a time per instance, and none after close
  bool closed = false;
};

class Registry {
 public:
  Registry() {
    for (const norv::vfw::CodecProfile* p : norv::vfw::AvailableProfiles())
      entries_.push_back(
          {ICTYPE_VIDEO, p->handler, &norv::vfw::BuiltinDriverProc, p->description, true});
  }

  static bool TypeMatches(DWORD wanted, DWORD type) {
    return wanted == 0 || FourCCUpper(wanted) == FourCCUpper(type);
  }

  bool Find(DWORD type, DWORD handlerOrIndex, Entry* out) {
    std::lock_guard lock(mutex_);
    if (handlerOrIndex < 0x10000) {
      DWORD index = 0;
      for (const Entry& e : entries_)
        if (TypeMatches(type, e.type) && index++ == handlerOrIndex) return *out = e, true;
      return false;
    }
    for (const Entry& e : entries_)
      if (TypeMatches(type, e.type) && FourCCUpper(e.handler) == FourCCUpper(handlerOrIndex))
        return *out = e, true;
    return false;
  }

  void Install(const Entry& entry) {
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_)
      if (FourCCUpper(e.type) == FourCCUpper(entry.type) &&
          FourCCUpper(e.handler) == FourCCUpper(entry.handler)) {
        e = entry;
        return;
      }
    entries_.push_back(entry);
  }

  bool Remove(DWORD type, DWORD handler) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (TypeMatches(type, it->type) && FourCCUpper(it->handler) == FourCCUpper(handler)) {
        entries_.erase(it);
        return true;
      }
    return false;
  }

  std::uintptr_t NewHandle() {
    std::lock_guard lock(mutex_);
    nextHandle_ += 0x10;
    return nextHandle_;
  }
  void Add(const std::shared_ptr<Instance>& instance) {
    std::lock_guard lock(mutex_);
    instances_[instance->handle] = instance;
  }
  std::shared_ptr<Instance> Get(HIC hic) {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(reinterpret_cast<std::uintptr_t>(hic));
    return it == instances_.end() ? nullptr : it->second;
  }
  std::shared_ptr<Instance> Take(HIC hic) {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(reinterpret_cast<std::uintptr_t>(hic));
    if (it == instances_.end()) return nullptr;
    auto instance = it->second;
    instances_.erase(it);
    return instance;
  }

 private:
  std::mutex mutex_;
  std::vector<Entry> entries_;
  std::map<std::uintptr_t, std::shared_ptr<Instance>> instances_;
  std::uintptr_t nextHandle_ = 0x4E560000;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// A driver function is foreign code: nothing it throws may leave the manager.
LRESULT CallDriver(DRIVERPROC proc, DWORD_PTR id, std::uintptr_t handle, UINT msg, LPARAM p1,
                   LPARAM p2) {
  try {
    return proc(id, reinterpret_cast<HDRVR>(handle), msg, p1, p2);
  } catch (...) {
    return msg == DRV_OPEN ? 0 : ICERR_INTERNAL;
  }
}

void CopyWide(WCHAR* to, std::size_t capacity, const std::u16string& from) {
  std::size_t i = 0;
  for (; i < from.size() && i + 1 < capacity; ++i) to[i] = from[i];
  to[i] = 0;
}

std::u16string HandlerText(DWORD handler) {
  std::u16string text;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<char16_t>((handler >> (8 * i)) & 0xFF);
    if (c != 0 && c != u' ') text.push_back(c);
  }
  return text;
}

const char16_t kBuiltinDriver[] = u"norvplatform";
const char16_t kFunctionDriver[] = u"(installed function)";

}  // namespace

BOOL ICInfo(DWORD fccType, DWORD fccHandlerOrIndex, ICINFO* info) {
  if (info == nullptr) return FALSE;
  try {
    Entry e;
    if (!TheRegistry().Find(fccType, fccHandlerOrIndex, &e)) return FALSE;
    *info = ICINFO{};
    info->dwSize = sizeof(ICINFO);
    info->fccType = e.type;
    info->fccHandler = e.handler;
    CopyWide(info->szName, 16, HandlerText(e.handler));
    CopyWide(info->szDescription, 128, e.description);
    CopyWide(info->szDriver, 128, e.builtin ? kBuiltinDriver : kFunctionDriver);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode) {
  try {
    Entry e;
    if (fccType == 0 || fccHandler < 0x10000 || !TheRegistry().Find(fccType, fccHandler, &e))
      return nullptr;
    auto instance = std::make_shared<Instance>();
    instance->proc = e.proc;
    instance->handle = TheRegistry().NewHandle();
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = e.type;
    open.fccHandler = e.handler;
    open.dwVersion = 0x0104;
    open.dwFlags = mode;
    const LRESULT id =
        CallDriver(e.proc, 0, instance->handle, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open));
    if (id == 0) return nullptr;
    instance->driverId = static_cast<DWORD_PTR>(id);
    TheRegistry().Add(instance);
    return reinterpret_cast<HIC>(instance->handle);
  } catch (...) {
    return nullptr;
  }
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  // Opening and closing go through ICOpen and ICClose only.
  if (msg == DRV_OPEN || msg == DRV_CLOSE) return ICERR_UNSUPPORTED;
  try {
    const auto instance = TheRegistry().Get(hic);
    if (instance == nullptr) return ICERR_BADHANDLE;
    std::lock_guard lock(instance->mutex);
    if (instance->closed) return ICERR_BADHANDLE;
    return CallDriver(instance->proc, instance->driverId, instance->handle, msg,
                      static_cast<LPARAM>(dw1), static_cast<LPARAM>(dw2));
  } catch (...) {
    return ICERR_INTERNAL;
  }
}

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb) {
  if (info == nullptr) return 0;
  const LRESULT copied = ICSendMessage(hic, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(info), cb);
  if (copied <= 0) return 0;
  return copied;
}

DWORD ICCompress(HIC hic, DWORD flags, BITMAPINFOHEADER* outFormat, void* outData,
                 BITMAPINFOHEADER* inFormat, void* inData, DWORD* ckid, DWORD* outFlags,
                 LONG frameNum, DWORD frameSize, DWORD quality, BITMAPINFOHEADER* prevFormat,
                 void* prevData) {
  ICCOMPRESS ic{flags,    outFormat, outData,   inFormat, inData,     ckid,
                outFlags, frameNum,  frameSize, quality,  prevFormat, prevData};
  return static_cast<DWORD>(
      ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&ic), sizeof ic));
}

LRESULT ICClose(HIC hic) {
  try {
    const auto instance = TheRegistry().Take(hic);
    if (instance == nullptr) return ICERR_BADHANDLE;
    std::lock_guard lock(instance->mutex);
    instance->closed = true;
    CallDriver(instance->proc, instance->driverId, instance->handle, DRV_CLOSE, 0, 0);
    return ICERR_OK;
  } catch (...) {
    return ICERR_INTERNAL;
  }
}

BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM driverProc, char* description, UINT flags) {
  if ((flags & ICINSTALL_FUNCTION) == 0 || driverProc == 0 || fccType == 0 || fccHandler < 0x10000)
    return FALSE;
  try {
    Entry e{fccType, fccHandler, reinterpret_cast<DRIVERPROC>(driverProc), {}, false};
    for (const char* c = description; c != nullptr && *c != 0; ++c)
      e.description.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
    TheRegistry().Install(e);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT) {
  try {
    return TheRegistry().Remove(fccType, fccHandler) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}
