// The Video for Windows compressor manager: installed drivers are enumerated
// by index, opened by type and handler, and driven by messages. On Windows
// this is msvfw32; here the drivers are backed by libavcodec, and a program
// may install its own driver function (tests do) with ICInstall.
#pragma once

#include "platform/win32_types.h"

#if defined(_WIN32)
#include <vfw.h>
#else

using HIC = struct HIC__*;
using HDRVR = struct HDRVR__*;

#pragma pack(push, 4)
struct ICINFO {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwFlags;
  DWORD dwVersion;
  DWORD dwVersionICM;
  WCHAR szName[16];
  WCHAR szDescription[128];
  WCHAR szDriver[128];
};
#pragma pack(pop)
static_assert(sizeof(ICINFO) == 568);

struct ICCOMPRESS {
  DWORD dwFlags;
  BITMAPINFOHEADER* lpbiOutput;
  void* lpOutput;
  BITMAPINFOHEADER* lpbiInput;
  void* lpInput;
  DWORD* lpckid;
  DWORD* lpdwFlags;
  LONG lFrameNum;
  DWORD dwFrameSize;
  DWORD dwQuality;
  BITMAPINFOHEADER* lpbiPrev;
  void* lpPrev;
};

// What ICM_COMPRESS_FRAMES_INFO tells a compressor about the whole run.
struct ICCOMPRESSFRAMES {
  DWORD dwFlags;
  BITMAPINFOHEADER* lpbiOutput;
  LPARAM lOutput;
  BITMAPINFOHEADER* lpbiInput;
  LPARAM lInput;
  LONG lStartFrame;
  LONG lFrameCount;
  LONG lQuality;
  LONG lDataRate;
  LONG lKeyRate;
  DWORD dwRate;  // frames per second: dwRate / dwScale
  DWORD dwScale;
  DWORD dwOverheadPerFrame;
  DWORD dwReserved2;
  LONG (*GetData)(LPARAM lInput, LONG lFrame, void* lpBits, LONG len);
  LONG (*PutData)(LPARAM lOutput, LONG lFrame, void* lpBits, LONG len);
};

struct ICOPEN {
  DWORD dwSize;
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwVersion;
  DWORD dwFlags;
  LRESULT dwError;
  void* pV1Reserved;
  void* pV2Reserved;
  DWORD dnDevNode;
};

constexpr DWORD ICTYPE_VIDEO = MakeFourCC("vidc");
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;

// dwQuality values of ICCompress; "default" lets the driver pick.
constexpr DWORD ICQUALITY_LOW = 0;
constexpr DWORD ICQUALITY_HIGH = 10000;
constexpr DWORD ICQUALITY_DEFAULT = static_cast<DWORD>(-1);

constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;

constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_USER = 0x4000;

constexpr UINT ICM_USER = DRV_USER;
constexpr UINT ICM_RESERVED_LOW = DRV_USER + 0x1000;
constexpr UINT ICM_GETSTATE = ICM_RESERVED_LOW + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED_LOW + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED_LOW + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED_LOW + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED_LOW + 11;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED_LOW + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED_LOW + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED_LOW + 32;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;

constexpr DWORD ICMF_CONFIGURE_QUERY = 0x00000001;
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr UINT ICINSTALL_FUNCTION = 0x0001;
constexpr UINT ICINSTALL_DRIVER = 0x0002;

// A driver function, as installed with ICINSTALL_FUNCTION. DRV_OPEN gets the
// ICOPEN block as lParam2 and returns the instance id passed back as
// `driverId` with every later message (0 refuses the open). ICClose sends
// DRV_CLOSE. ICInfo with a value below 0x10000 as handler enumerates by index;
// fccType 0 matches every type.
using DRIVERPROC = LRESULT (*)(DWORD_PTR driverId, HDRVR driver, UINT msg, LPARAM lParam1,
                               LPARAM lParam2);

BOOL ICInfo(DWORD fccType, DWORD fccHandlerOrIndex, ICINFO* info);
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode);
LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD cb);
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
DWORD ICCompress(HIC hic, DWORD flags, BITMAPINFOHEADER* outFormat, void* outData,
                 BITMAPINFOHEADER* inFormat, void* inData, DWORD* ckid, DWORD* outFlags,
                 LONG frameNum, DWORD frameSize, DWORD quality, BITMAPINFOHEADER* prevFormat,
                 void* prevData);
LRESULT ICClose(HIC hic);
BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM driverProc, char* description, UINT flags);
BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT flags);

// The message wrappers of the platform's header.
inline bool ICQueryConfigure(HIC hic) {
  return ICSendMessage(hic, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) ==
         ICERR_OK;
}
inline LRESULT ICConfigure(HIC hic, HWND owner) {
  return ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(owner), 0);
}
inline LRESULT ICGetStateSize(HIC hic) {
  return ICSendMessage(hic, ICM_GETSTATE, 0, 0);
}
inline LRESULT ICGetState(HIC hic, void* data, DWORD cb) {
  return ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(data), cb);
}
inline LRESULT ICSetState(HIC hic, void* data, DWORD cb) {
  return ICSendMessage(hic, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(data), cb);
}
inline LRESULT ICCompressGetFormat(HIC hic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressGetFormatSize(HIC hic, BITMAPINFOHEADER* in) {
  return ICCompressGetFormat(hic, in, nullptr);
}
inline LRESULT ICCompressGetSize(HIC hic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressQuery(HIC hic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressBegin(HIC hic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(hic, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressEnd(HIC hic) {
  return ICSendMessage(hic, ICM_COMPRESS_END, 0, 0);
}
inline DWORD ICGetDefaultQuality(HIC hic) {
  DWORD value = 0;
  ICSendMessage(hic, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&value), sizeof value);
  return value;
}
inline DWORD ICGetDefaultKeyFrameRate(HIC hic) {
  DWORD value = 0;
  ICSendMessage(hic, ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&value), sizeof value);
  return value;
}
#endif

// Asked of a compressor before the host's frame is lent to it in place. Only
// a driver that answers kInputReadOnlyAnswer (ours do) promises neither to
// write into its input nor to read past it; a driver that does not know the
// message answers anything else, and is given a copy.
constexpr UINT ICM_NORV_INPUT_READ_ONLY = ICM_USER + 0x3F0;
constexpr LRESULT kInputReadOnlyAnswer = static_cast<LRESULT>(MakeFourCC("rdon"));
