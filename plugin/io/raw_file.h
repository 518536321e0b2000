// The plug-in's thin class around one platform file handle.
#pragma once

#include <cstdint>

#include "platform/files/files.h"

class RawFile {
 public:
  RawFile() = default;
  virtual ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  // Non-zero when the handle obtained is valid; the handle is stored either way.
  BOOL Create(const char* path, DWORD access, DWORD shareMode, void* security, DWORD disposition,
              DWORD flagsAndAttributes, HANDLE templateFile);
  BOOL Close();
  // With both pointers null, success also requires the whole count.
  BOOL Read(void* buffer, DWORD count, DWORD* read, void* overlapped);
  BOOL Write(const void* buffer, DWORD count, DWORD* written, void* overlapped);
  // The new position, or -1 when the platform reports an error.
  std::int64_t Seek(LONG low, LONG high, DWORD origin);

  HANDLE handle = INVALID_HANDLE_VALUE;
};
