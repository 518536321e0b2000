// The message side of every built-in compressor: format negotiation, state,
// configuration and the per-frame ICM_COMPRESS, in terms of a CodecProfile.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/vfw/configure_hook.h"
#include "platform/vfw/drivers/driver.h"

namespace norv::vfw {
namespace {

std::mutex hookMutex;
ConfigureHook configureHook = nullptr;
void* configureContext = nullptr;

void CopyWide(WCHAR* to, std::size_t capacity, const char16_t* from) {
  std::size_t i = 0;
  for (; from != nullptr && from[i] != 0 && i + 1 < capacity; ++i) to[i] = from[i];
  to[i] = 0;
}

class CompressorDriver {
 public:
  explicit CompressorDriver(const CodecProfile& profile) : profile_(profile) {
    state_ = {kStateMagic, kStateVersion, profile.handler, kDefaultEffort};
  }

  LRESULT Message(UINT msg, LPARAM p1, LPARAM p2) {
    switch (msg) {
      case ICM_GETINFO:
        return GetInfo(reinterpret_cast<ICINFO*>(p1), static_cast<DWORD>(p2));
      case ICM_COMPRESS_QUERY:
        return Query(Header(p1), Header(p2));
      case ICM_COMPRESS_GET_FORMAT:
        return GetFormat(Header(p1), reinterpret_cast<BITMAPINFOHEADER*>(p2));
      case ICM_COMPRESS_GET_SIZE:
        if (!InputAccepted(Header(p1))) return ICERR_BADFORMAT;
        return static_cast<LRESULT>(MaxFrameBytes(*Header(p1)));
      case ICM_COMPRESS_BEGIN:
        return Begin(Header(p1), Header(p2));
      case ICM_COMPRESS:
        return Compress(reinterpret_cast<ICCOMPRESS*>(p1));
      case ICM_COMPRESS_END:
        encoder_.reset();
        return ICERR_OK;
      case ICM_GETDEFAULTQUALITY:
        if ((profile_.flags & VIDCF_QUALITY) == 0) return ICERR_UNSUPPORTED;
        return Answer(p1, profile_.defaultQuality);
      case ICM_GETDEFAULTKEYFRAMERATE:
        if ((profile_.flags & VIDCF_TEMPORAL) == 0) return ICERR_UNSUPPORTED;
        return Answer(p1, profile_.defaultKeyFrameRate);
      case ICM_GETSTATE:
        return GetState(reinterpret_cast<void*>(p1), static_cast<DWORD>(p2));
      case ICM_SETSTATE:
        return SetState(reinterpret_cast<const void*>(p1), static_cast<DWORD>(p2));
      case ICM_CONFIGURE:
        return Configure(p1, static_cast<DWORD>(p2));
      case ICM_COMPRESS_FRAMES_INFO:
        return FramesInfo(reinterpret_cast<const ICCOMPRESSFRAMES*>(p1));
      case ICM_NORV_INPUT_READ_ONLY:
        // Every encoder here takes its picture as const and converts it with
        // readers that stop at the last row (see LibavEncoder::Convert).
        return kInputReadOnlyAnswer;
      default:
        return ICERR_UNSUPPORTED;
    }
  }

 private:
  static const BITMAPINFOHEADER* Header(LPARAM p) {
    return reinterpret_cast<const BITMAPINFOHEADER*>(p);
  }
  static LRESULT Answer(LPARAM to, DWORD value) {
    if (to == 0) return ICERR_BADPARAM;
    *reinterpret_cast<DWORD*>(to) = value;
    return ICERR_OK;
  }

  LRESULT GetInfo(ICINFO* info, DWORD cb) const {
    if (info == nullptr) return sizeof(ICINFO);
    ICINFO out{};
    out.dwSize = sizeof(ICINFO);
    out.fccType = ICTYPE_VIDEO;
    out.fccHandler = profile_.handler;
    out.dwFlags = profile_.flags;
    out.dwVersion = 0x00010000;
    out.dwVersionICM = 0x0104;
    CopyWide(out.szName, 16, profile_.name);
    CopyWide(out.szDescription, 128, profile_.description);
    CopyWide(out.szDriver, 128, u"norvplatform (libavcodec)");
    const DWORD n = std::min<DWORD>(cb, sizeof(ICINFO));
    std::memcpy(info, &out, n);
    return n;
  }

  bool InputAccepted(const BITMAPINFOHEADER* in) const {
    if (in == nullptr || in->biSize < sizeof(BITMAPINFOHEADER)) return false;
    // Top-down (negative height) and compressed input are not taken.
    if (in->biWidth <= 0 || in->biHeight <= 0 || in->biPlanes != 1) return false;
    if (in->biCompression != BI_RGB) return false;
    if (in->biBitCount == 24) {
      if (!profile_.accepts24) return false;
    } else if (in->biBitCount == 8) {
      if (!profile_.accepts8 || in->biClrUsed > 256) return false;
    } else {
      return false;
    }
    if (in->biWidth > 8192 || in->biHeight > 8192) return false;
    if (in->biWidth % profile_.widthMultiple != 0 || in->biHeight % profile_.heightMultiple != 0)
      return false;
    return profile_.sizeAllowed == nullptr || profile_.sizeAllowed(in->biWidth, in->biHeight);
  }

  DWORD MaxFrameBytes(const BITMAPINFOHEADER& in) const {
    return profile_.maxFrameBytes != nullptr ? profile_.maxFrameBytes(in)
                                             : GenericMaxFrameBytes(in);
  }

  // The output format for an accepted input: header, then extradata or colours.
  bool BuildFormat(const BITMAPINFOHEADER& in, std::vector<std::uint8_t>* format) const {
    std::vector<std::uint8_t> extra;
    if (profile_.needsExtradata && !LibavExtradata(profile_, in, state_, rate_, &extra))
      return false;
    const bool palettised = profile_.outBitCount <= 8;
    const std::size_t tail = palettised ? 256 * sizeof(RGBQUAD) : extra.size();
    format->assign(sizeof(BITMAPINFOHEADER) + tail, 0);
    BITMAPINFOHEADER out{};
    out.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + (palettised ? 0 : extra.size()));
    out.biWidth = in.biWidth;
    out.biHeight = in.biHeight;
    out.biPlanes = 1;
    out.biBitCount = profile_.outBitCount;
    out.biCompression = profile_.outCompression;
    out.biSizeImage = MaxFrameBytes(in);
    if (palettised) {
      out.biClrUsed = 256;
      out.biClrImportant = 256;
      // The input's colours carry over: the decoder shows the same palette.
      if (in.biBitCount == 8) {
        const std::size_t colours = in.biClrUsed == 0 ? 256 : in.biClrUsed;
        std::memcpy(format->data() + sizeof out,
                    reinterpret_cast<const std::uint8_t*>(&in) + in.biSize,
                    colours * sizeof(RGBQUAD));
      }
    } else if (!extra.empty()) {
      std::memcpy(format->data() + sizeof out, extra.data(), extra.size());
    }
    std::memcpy(format->data(), &out, sizeof out);
    return true;
  }

  bool OutputMatches(const BITMAPINFOHEADER& in, const BITMAPINFOHEADER& out) const {
    return out.biCompression == profile_.outCompression && out.biWidth == in.biWidth &&
           out.biHeight == in.biHeight && out.biBitCount == profile_.outBitCount;
  }

  LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
    if (!InputAccepted(in)) return ICERR_BADFORMAT;
    if (out != nullptr && !OutputMatches(*in, *out)) return ICERR_BADFORMAT;
    return ICERR_OK;
  }

  LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const {
    if (!InputAccepted(in)) return ICERR_BADFORMAT;
    std::vector<std::uint8_t> format;
    if (!BuildFormat(*in, &format)) return ICERR_INTERNAL;
    if (out == nullptr) return static_cast<LRESULT>(format.size());
    std::memcpy(out, format.data(), format.size());
    return ICERR_OK;
  }

  LRESULT Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    const LRESULT query = Query(in, out);
    if (query != ICERR_OK) return query;
    encoder_.reset();
    const EncoderFactory create =
        profile_.createEncoder != nullptr ? profile_.createEncoder : &CreateLibavEncoder;
    encoder_ = create(profile_, *in, state_, rate_);
    if (encoder_ == nullptr) return ICERR_INTERNAL;
    input_ = *in;
    restart_ = true;
    return ICERR_OK;
  }

  LRESULT Compress(ICCOMPRESS* ic) {
    if (ic == nullptr || ic->lpbiInput == nullptr || ic->lpInput == nullptr ||
        ic->lpbiOutput == nullptr || ic->lpOutput == nullptr)
      return ICERR_BADPARAM;
    if (encoder_ == nullptr) return ICERR_ERROR;
    const BITMAPINFOHEADER& in = *ic->lpbiInput;
    if (in.biWidth != input_.biWidth || in.biHeight != input_.biHeight ||
        in.biBitCount != input_.biBitCount || in.biCompression != BI_RGB)
      return ICERR_BADFORMAT;
    const DWORD quality = ic->dwQuality == ICQUALITY_DEFAULT
                              ? profile_.defaultQuality
                              : std::min<DWORD>(ic->dwQuality, 10000);
    const auto* colours = in.biBitCount == 8
                              ? reinterpret_cast<const RGBQUAD*>(
                                    reinterpret_cast<const std::uint8_t*>(&in) + in.biSize)
                              : nullptr;
    const Picture picture{&in, static_cast<const std::uint8_t*>(ic->lpInput), colours};
    std::span<std::uint8_t> out(static_cast<std::uint8_t*>(ic->lpOutput), MaxFrameBytes(in));
    EncodedFrame frame;
    // A frame that does not follow the last one starts afresh, and so does
    // the frame after a probe (frame number 0, used to measure sizes): a
    // delta frame must never refer to a picture that is not in the file.
    const bool restart = restart_ || ic->lFrameNum != lastFrame_ + 1;
    const LRESULT result = encoder_->Encode(
        picture, (ic->dwFlags & ICCOMPRESS_KEYFRAME) != 0 || restart, quality, out, &frame);
    if (result != ICERR_OK) return result;
    lastFrame_ = ic->lFrameNum;
    restart_ = ic->lFrameNum == 0;
    ic->lpbiOutput->biSizeImage = static_cast<DWORD>(frame.size);
    if (ic->lpckid != nullptr) *ic->lpckid = MakeFourCC("dc\0\0") & 0xFFFF;
    if (ic->lpdwFlags != nullptr) *ic->lpdwFlags = frame.key ? AVIIF_KEYFRAME : 0;
    return ICERR_OK;
  }

  // The rate the next run's stream states; a rate of 0 says nothing.
  LRESULT FramesInfo(const ICCOMPRESSFRAMES* info) {
    if (info == nullptr) return ICERR_BADPARAM;
    if (info->dwRate == 0 || info->dwScale == 0) return ICERR_BADPARAM;
    rate_ = {info->dwRate, info->dwScale};
    return ICERR_OK;
  }

  LRESULT GetState(void* to, DWORD cb) const {
    if (to == nullptr) return sizeof(DriverState);
    if (cb < sizeof(DriverState)) return ICERR_BADSIZE;
    std::memcpy(to, &state_, sizeof state_);
    return sizeof(DriverState);
  }

  LRESULT SetState(const void* from, DWORD cb) {
    if (from == nullptr) {  // back to the defaults
      state_.effort = kDefaultEffort;
      return 0;
    }
    if (cb != sizeof(DriverState)) return ICERR_BADSIZE;
    DriverState incoming;
    std::memcpy(&incoming, from, sizeof incoming);
    if (incoming.magic != kStateMagic || incoming.version != kStateVersion ||
        FourCCUpper(incoming.handler) != FourCCUpper(profile_.handler) || incoming.effort < 0 ||
        incoming.effort > 9)
      return ICERR_BADFORMAT;
    state_ = incoming;
    state_.handler = profile_.handler;
    return sizeof(DriverState);
  }

  LRESULT Configure(LPARAM owner, DWORD flags) {
    if (owner == -1 && (flags & ICMF_CONFIGURE_QUERY) != 0)
      return profile_.hasOptions ? ICERR_OK : ICERR_UNSUPPORTED;
    if (!profile_.hasOptions) return ICERR_UNSUPPORTED;
    ConfigureHook hook;
    void* context;
    {
      std::lock_guard lock(hookMutex);
      hook = configureHook;
      context = configureContext;
    }
    if (hook == nullptr) return ICERR_OK;
    LONG effort = state_.effort;
    if (!hook(context, reinterpret_cast<HWND>(owner), profile_.handler, &effort))
      return ICERR_ABORT;
    state_.effort = std::clamp<LONG>(effort, 0, 9);
    return ICERR_OK;
  }

  const CodecProfile& profile_;
  DriverState state_;
  FrameRate rate_;
  BITMAPINFOHEADER input_{};
  std::unique_ptr<FrameEncoder> encoder_;
  bool restart_ = true;
  LONG lastFrame_ = 0;
};

}  // namespace

void SetConfigureHook(ConfigureHook hook, void* context) {
  std::lock_guard lock(hookMutex);
  configureHook = hook;
  configureContext = context;
}

DWORD FourCCUpper(DWORD fourcc) {
  DWORD out = 0;
  for (int i = 0; i < 4; ++i) {
    DWORD c = (fourcc >> (8 * i)) & 0xFF;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}

DWORD GenericMaxFrameBytes(const BITMAPINFOHEADER& in) {
  // Twice the raw frame plus room for headers: no codec here expands more.
  const std::size_t raw =
      RowBytes(in.biWidth, in.biBitCount == 8 ? 8 : 24) * static_cast<std::size_t>(in.biHeight);
  return static_cast<DWORD>(raw * 2 + 65536);
}

LRESULT BuiltinDriverProc(DWORD_PTR driverId, HDRVR, UINT msg, LPARAM lParam1, LPARAM lParam2) {
  try {
    switch (msg) {
      case DRV_OPEN: {
        auto* open = reinterpret_cast<ICOPEN*>(lParam2);
        if (open == nullptr) return 0;
        const CodecProfile* profile = FindProfile(open->fccHandler);
        if (open->fccType != ICTYPE_VIDEO || profile == nullptr ||
            (open->dwFlags != ICMODE_COMPRESS && open->dwFlags != ICMODE_QUERY &&
             open->dwFlags != ICMODE_FASTCOMPRESS)) {
          open->dwError = ICERR_UNSUPPORTED;
          return 0;
        }
        open->dwError = ICERR_OK;
        return reinterpret_cast<LRESULT>(new CompressorDriver(*profile));
      }
      case DRV_CLOSE:
        delete reinterpret_cast<CompressorDriver*>(driverId);
        return 1;
      case DRV_LOAD:
      case DRV_FREE:
      case DRV_ENABLE:
      case DRV_DISABLE:
        return 1;
      default:
        if (driverId == 0) return ICERR_BADHANDLE;
        return reinterpret_cast<CompressorDriver*>(driverId)->Message(msg, lParam1, lParam2);
    }
  } catch (const std::bad_alloc&) {
    return msg == DRV_OPEN ? 0 : ICERR_MEMORY;
  } catch (...) {
    return msg == DRV_OPEN ? 0 : ICERR_INTERNAL;
  }
}

}  // namespace norv::vfw
