// Placeholder manager: no drivers yet.
#include "platform/vfw/vfw.h"

BOOL ICInfo(DWORD, DWORD, ICINFO*) {
  return FALSE;
}
HIC ICOpen(DWORD, DWORD, UINT) {
  return nullptr;
}
LRESULT ICGetInfo(HIC, ICINFO*, DWORD) {
  return 0;
}
LRESULT ICSendMessage(HIC, UINT, DWORD_PTR, DWORD_PTR) {
  return ICERR_BADHANDLE;
}
DWORD ICCompress(HIC, DWORD, BITMAPINFOHEADER*, void*, BITMAPINFOHEADER*, void*, DWORD*, DWORD*,
                 LONG, DWORD, DWORD, BITMAPINFOHEADER*, void*) {
  return static_cast<DWORD>(ICERR_BADHANDLE);
}
LRESULT ICClose(HIC) {
  return ICERR_BADHANDLE;
}
BOOL ICInstall(DWORD, DWORD, LPARAM, char*, UINT) {
  return FALSE;
}
BOOL ICRemove(DWORD, DWORD, UINT) {
  return FALSE;
}
