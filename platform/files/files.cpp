#include "platform/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>

namespace {

using norv::platform::As;
using norv::platform::KernelObject;

thread_local DWORD t_lastError = NO_ERROR;
std::atomic<long long> g_diskBudget{-1};

DWORD FromErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

BOOL Fail(DWORD error) {
  t_lastError = error;
  return FALSE;
}

struct File final : KernelObject {
  int fd = -1;
  ~File() override {
    if (fd >= 0) ::close(fd);
  }
};

struct Mapping final : KernelObject {
  int fd = -1;
  std::size_t size = 0;
  bool writable = false;
  ~Mapping() override {
    if (fd >= 0) ::close(fd);
  }
};

struct Finder final : KernelObject {
  DIR* dir = nullptr;
  std::string folder;
  std::string pattern;
  ~Finder() override {
    if (dir != nullptr) ::closedir(dir);
  }
};

std::mutex g_viewsMutex;
std::map<const void*, std::size_t> g_views;

// Bytes the disk budget still allows for a write of `count`.
DWORD Budgeted(DWORD count) {
  long long b = g_diskBudget.load();
  while (b >= 0) {
    long long take = b < static_cast<long long>(count) ? b : count;
    if (g_diskBudget.compare_exchange_weak(b, b - take)) return static_cast<DWORD>(take);
  }
  return count;
}

}  // namespace

DWORD GetLastError() {
  return t_lastError;
}

void NorvSetDiskBudget(long long bytes) {
  g_diskBudget = bytes < 0 ? -1 : bytes;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
  if (path == nullptr || *path == '\0') {
    t_lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  const bool wantWrite = (access & GENERIC_WRITE) != 0;
  const bool wantRead = (access & GENERIC_READ) != 0;
  int flags = O_CLOEXEC;
  flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      flags |= O_TRUNC;
      break;
    default:
      t_lastError = ERROR_INVALID_PARAMETER;
      return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  if (::stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      t_lastError = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
    // The read-only attribute: no write bit at all refuses writing, even to root.
    if (wantWrite && (st.st_mode & 0222) == 0) {
      t_lastError = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
  }
  int fd = ::open(path, flags, 0666);
  if (fd < 0) {
    t_lastError = FromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  auto* f = new File;
  f->fd = fd;
  t_lastError = NO_ERROR;
  return static_cast<KernelObject*>(f);
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read, void*) {
  if (read != nullptr) *read = 0;
  auto* f = As<File>(h);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  DWORD total = 0;
  while (total < count) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (read != nullptr) *read = total;
      return Fail(FromErrno(errno));
    }
    if (n == 0) break;  // end of file: success with fewer bytes
    total += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = total;
  return TRUE;
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written, void*) {
  if (written != nullptr) *written = 0;
  auto* f = As<File>(h);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  const DWORD allowed = Budgeted(count);
  DWORD total = 0;
  while (total < allowed) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + total, allowed - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written != nullptr) *written = total;
      return Fail(FromErrno(errno));
    }
    total += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = total;
  if (allowed < count) return Fail(ERROR_DISK_FULL);
  return TRUE;
}

DWORD SetFilePointer(HANDLE h, LONG low, LONG* high, DWORD method) {
  auto* f = As<File>(h);
  if (f == nullptr) {
    t_lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  long long distance =
      high == nullptr
          ? static_cast<long long>(low)
          : static_cast<long long>(
                (static_cast<unsigned long long>(static_cast<std::uint32_t>(*high)) << 32) |
                static_cast<std::uint32_t>(low));
  int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
  off_t base = 0;
  if (whence != SEEK_SET) {
    base = ::lseek(f->fd, 0, whence);
    if (base < 0) {
      t_lastError = FromErrno(errno);
      return INVALID_SET_FILE_POINTER;
    }
  }
  long long target = static_cast<long long>(base) + distance;
  if (target < 0) {
    t_lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  off_t r = ::lseek(f->fd, static_cast<off_t>(target), SEEK_SET);
  if (r < 0) {
    t_lastError = FromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (high != nullptr) *high = static_cast<LONG>(static_cast<unsigned long long>(r) >> 32);
  t_lastError = NO_ERROR;
  return static_cast<DWORD>(static_cast<unsigned long long>(r) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE h, DWORD* sizeHigh) {
  auto* f = As<File>(h);
  struct stat st {};
  if (f == nullptr || ::fstat(f->fd, &st) != 0) {
    t_lastError = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<unsigned long long>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL DeleteFileA(const char* path) {
  if (path == nullptr || ::unlink(path) != 0) return Fail(FromErrno(errno));
  return TRUE;
}

HANDLE CreateFileMappingA(HANDLE file, void*, DWORD protect, DWORD maxHigh, DWORD maxLow,
                          const char*) {
  auto* f = As<File>(file);
  struct stat st {};
  if (f == nullptr || ::fstat(f->fd, &st) != 0) {
    t_lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  unsigned long long size = (static_cast<unsigned long long>(maxHigh) << 32) | maxLow;
  if (size == 0) size = static_cast<unsigned long long>(st.st_size);
  if (size == 0) {  // an empty file cannot be mapped
    t_lastError = ERROR_FILE_INVALID;
    return nullptr;
  }
  int fd = ::dup(f->fd);
  if (fd < 0) {
    t_lastError = FromErrno(errno);
    return nullptr;
  }
  auto* m = new Mapping;
  m->fd = fd;
  m->size = static_cast<std::size_t>(size);
  m->writable = protect == PAGE_READWRITE;
  return static_cast<KernelObject*>(m);
}

void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  auto* m = As<Mapping>(mapping);
  if (m == nullptr) {
    t_lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  unsigned long long offset = (static_cast<unsigned long long>(offsetHigh) << 32) | offsetLow;
  if (offset > m->size || (offset % static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)))) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::size_t length = bytes == 0 ? m->size - static_cast<std::size_t>(offset) : bytes;
  const bool write = (access & FILE_MAP_WRITE) != 0;
  if (write && !m->writable) {
    t_lastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  void* p = ::mmap(nullptr, length, PROT_READ | (write ? PROT_WRITE : 0), MAP_SHARED, m->fd,
                   static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    t_lastError = FromErrno(errno);
    return nullptr;
  }
  std::lock_guard lock(g_viewsMutex);
  g_views[p] = length;
  return p;
}

BOOL UnmapViewOfFile(const void* view) {
  std::size_t length = 0;
  {
    std::lock_guard lock(g_viewsMutex);
    auto it = g_views.find(view);
    if (it == g_views.end()) return Fail(ERROR_INVALID_PARAMETER);
    length = it->second;
    g_views.erase(it);
  }
  ::munmap(const_cast<void*>(view), length);
  return TRUE;
}

namespace {

bool NextMatch(Finder* f, WIN32_FIND_DATAA* found) {
  while (dirent* e = ::readdir(f->dir)) {
    if (::fnmatch(f->pattern.c_str(), e->d_name, 0) != 0) continue;
    std::string full = f->folder;
    full.append(1, '/').append(e->d_name);
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0) continue;
    *found = {};
    found->dwFileAttributes =
        S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & 0222) == 0) found->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    auto size = static_cast<unsigned long long>(st.st_size);
    found->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    found->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::size_t n = std::string_view(e->d_name).copy(found->cFileName, MAX_PATH - 1);
    found->cFileName[n] = '\0';
    return true;
  }
  return false;
}

}  // namespace

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  std::string p = pattern == nullptr ? "" : pattern;
  auto cut = p.find_last_of("/\\");
  auto* f = new Finder;
  if (cut == std::string::npos) {
    f->folder.assign(1, '.');
    f->pattern = p;
  } else {
    f->folder = p.substr(0, cut);
    f->pattern = p.substr(cut + 1);
  }
  if (f->folder.empty()) f->folder.assign(1, '/');
  f->dir = ::opendir(f->folder.c_str());
  if (f->dir == nullptr || !NextMatch(f, found)) {
    t_lastError = f->dir == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_NO_MORE_FILES;
    delete f;
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<KernelObject*>(f);
}

BOOL FindNextFileA(HANDLE h, WIN32_FIND_DATAA* found) {
  auto* f = As<Finder>(h);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!NextMatch(f, found)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE h) {
  return CloseHandle(h);
}
