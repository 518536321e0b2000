#include "plugin/io/raw_file.h"

RawFile::~RawFile() {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

BOOL RawFile::Create(const char* path, DWORD access, DWORD shareMode, void* security,
                     DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  handle = CreateFileA(path, access, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(security),
                       disposition, flagsAndAttributes, templateFile);
  return handle != INVALID_HANDLE_VALUE ? TRUE : FALSE;
}

BOOL RawFile::Close() {
  BOOL ok = CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  return ok;
}

BOOL RawFile::Read(void* buffer, DWORD count, DWORD* read, void* overlapped) {
  DWORD got = 0;
  BOOL ok = ReadFile(handle, buffer, count, read != nullptr ? read : &got,
                     static_cast<LPOVERLAPPED>(overlapped));
  if (read == nullptr && overlapped == nullptr && ok && got != count) return FALSE;
  return ok;
}

BOOL RawFile::Write(const void* buffer, DWORD count, DWORD* written, void* overlapped) {
  DWORD put = 0;
  BOOL ok = WriteFile(handle, buffer, count, written != nullptr ? written : &put,
                      static_cast<LPOVERLAPPED>(overlapped));
  if (written == nullptr && overlapped == nullptr && ok && put != count) return FALSE;
  return ok;
}

std::int64_t RawFile::Seek(LONG low, LONG high, DWORD origin) {
  LONG h = high;
  DWORD l = SetFilePointer(handle, low, &h, origin);
  if (l == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(static_cast<std::uint32_t>(h)) << 32) | l);
}
