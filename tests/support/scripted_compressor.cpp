#include "tests/support/scripted_compressor.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace norv::test {
std::uint64_t Fnv1a(const std::uint8_t* p, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

namespace {

// Driver functions get no context of their own: the instance is found by the
// handler the manager passes at open.
std::mutex registryMutex;
std::map<DWORD, ScriptedCompressor*> registry;

DWORD ImageBytes(const BITMAPINFOHEADER* f) {
  return static_cast<DWORD>(((static_cast<std::size_t>(f->biWidth) * f->biBitCount + 31) / 32) * 4 *
                            static_cast<std::size_t>(f->biHeight));
}

// The hash of the pixels of a packed bitmap; what a call was given.
std::uint64_t HashPixels(const BITMAPINFOHEADER* format, const void* bits) {
  return Fnv1a(static_cast<const std::uint8_t*>(bits), ImageBytes(format));
}

bool Accepted(const BITMAPINFOHEADER* in, WORD bits) {
  return in != nullptr && in->biCompression == BI_RGB && in->biBitCount == bits &&
         in->biWidth > 0 && in->biHeight > 0;
}

}  // namespace

ScriptedCompressor::ScriptedCompressor(DWORD handler, SizeFunction size)
    : handler_(handler), size_(std::move(size)) {
  if (!size_) size_ = [](DWORD quality, bool key) { return (quality / 10 + 100) * (key ? 2 : 1); };
  SetState(kStateSize, kStateSize);
  char description[] = "Scripted test compressor";
  ICInstall(ICTYPE_VIDEO, handler, reinterpret_cast<LPARAM>(&ScriptedCompressor::DriverProc),
            description, ICINSTALL_FUNCTION);
  std::lock_guard lock(registryMutex);
  registry[handler] = this;
}

ScriptedCompressor::~ScriptedCompressor() {
  ICRemove(ICTYPE_VIDEO, handler_, 0);
  std::lock_guard lock(registryMutex);
  registry.erase(handler_);
}

void ScriptedCompressor::SetState(DWORD bytes, LRESULT handOver) {
  std::lock_guard lock(mutex_);
  state_.clear();
  for (DWORD i = 0; i < bytes; ++i) state_.push_back(static_cast<std::uint8_t>(i + 1));
  stateHandOver_ = handOver;
}

LRESULT ScriptedCompressor::DriverProc(DWORD_PTR id, HDRVR, UINT msg, LPARAM p1, LPARAM p2) {
  if (msg == DRV_OPEN) {
    const auto* open = reinterpret_cast<const ICOPEN*>(p2);
    if (open == nullptr) return 0;
    std::lock_guard lock(registryMutex);
    auto it = registry.find(open->fccHandler);
    if (it == registry.end()) return 0;
    std::lock_guard instanceLock(it->second->mutex_);
    if (open->dwFlags == it->second->script_.refusedMode) return 0;
    it->second->lastOpenMode_ = open->dwFlags;
    return reinterpret_cast<LRESULT>(it->second);
  }
  if (id == 0) return msg == DRV_CLOSE ? 1 : ICERR_BADHANDLE;
  return reinterpret_cast<ScriptedCompressor*>(id)->Message(msg, p1, p2);
}

LRESULT ScriptedCompressor::Message(UINT msg, LPARAM p1, LPARAM p2) {
  std::lock_guard lock(mutex_);
  const Script& script = script_;
  const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
  const WORD inBits = script.eightBitInput ? 8 : 24;
  const std::map<Hostile, UINT> failures = {
      {Hostile::kFailQuery, ICM_COMPRESS_QUERY}, {Hostile::kFailSize, ICM_COMPRESS_GET_SIZE},
      {Hostile::kFailBegin, ICM_COMPRESS_BEGIN}, {Hostile::kFailEnd, ICM_COMPRESS_END},
      {Hostile::kFailGetState, ICM_GETSTATE},    {Hostile::kFailSetState, ICM_SETSTATE}};
  if (auto it = failures.find(script.hostile); it != failures.end() && it->second == msg)
    return ICERR_ERROR;
  switch (msg) {
    case DRV_CLOSE:
      return script.hostile == Hostile::kFailClose ? 0 : 1;
    case ICM_GETINFO: {
      auto* info = reinterpret_cast<ICINFO*>(p1);
      if (info == nullptr) return sizeof(ICINFO);
      ICINFO out{sizeof(ICINFO), ICTYPE_VIDEO, handler_, script.flags};
      std::ranges::copy(std::u16string_view(u"Scripted"), out.szName);
      // Told apart by their handler, as a user tells them apart by name.
      std::u16string description = u"Scripted test compressor ";
      for (int i = 0; i < 4; ++i)
        description += static_cast<char16_t>((handler_ >> (8 * i)) & 0xFF);
      std::ranges::copy(description, out.szDescription);
      const auto n = std::min<DWORD>(static_cast<DWORD>(p2), sizeof out);
      std::memcpy(info, &out, n);
      return n;
    }
    case ICM_CONFIGURE:
      if (p1 == -1 && (static_cast<DWORD>(p2) & ICMF_CONFIGURE_QUERY) != 0)
        return script.configurable ? ICERR_OK : ICERR_UNSUPPORTED;
      return ICERR_OK;
    case ICM_GETSTATE:
      if (p1 == 0) return static_cast<LRESULT>(state_.size());
      if (static_cast<DWORD>(p2) < state_.size()) return ICERR_BADSIZE;
      std::memcpy(reinterpret_cast<void*>(p1), state_.data(), state_.size());
      return stateHandOver_;
    case ICM_SETSTATE:
      if (p1 == 0) return 0;
      // Recorded even when refused: what was handed over is the question.
      lastStateSet_.assign(reinterpret_cast<const std::uint8_t*>(p1),
                           reinterpret_cast<const std::uint8_t*>(p1) + static_cast<DWORD>(p2));
      if (static_cast<DWORD>(p2) != state_.size()) return ICERR_BADSIZE;
      state_ = lastStateSet_;
      return static_cast<LRESULT>(state_.size());
    case ICM_GETDEFAULTQUALITY:
    case ICM_GETDEFAULTKEYFRAMERATE:
      if (p1 == 0) return ICERR_BADPARAM;
      *reinterpret_cast<DWORD*>(p1) =
          msg == ICM_GETDEFAULTQUALITY ? script.defaultQuality : script.defaultKeyFrameRate;
      return ICERR_OK;
    case ICM_COMPRESS_FRAMES_INFO: {
      const auto* info = reinterpret_cast<const ICCOMPRESSFRAMES*>(p1);
      if (info == nullptr) return ICERR_BADPARAM;
      ratesTold_ += std::to_string(info->dwRate) + "/" + std::to_string(info->dwScale);
      return ICERR_OK;
    }
    case ICM_NORV_INPUT_READ_ONLY:
      return script.readOnly ? kInputReadOnlyAnswer : ICERR_UNSUPPORTED;
    case ICM_COMPRESS_QUERY:
      return Accepted(in, inBits) ? ICERR_OK : ICERR_BADFORMAT;
    case ICM_COMPRESS_GET_FORMAT: {
      if (!Accepted(in, inBits)) return ICERR_BADFORMAT;
      if (script.formatsOnlyWhenCompressing && lastOpenMode_ != ICMODE_COMPRESS)
        return ICERR_BADFORMAT;
      const std::size_t colours = script.eightBitInput ? 256 * sizeof(RGBQUAD) : 0;
      if (p2 == 0) {
        if (script.hostile == Hostile::kFailFormatSize) return ICERR_ERROR;
        if (script.hostile == Hostile::kFormatSizeZero) return 0;
        if (script.hostile == Hostile::kFormatBelowHeader) return 20;
        return static_cast<LRESULT>(sizeof(BITMAPINFOHEADER) + colours);
      }
      BITMAPINFOHEADER out = *in;
      out.biSize = script.hostile == Hostile::kFormatPastSize ? 2 * sizeof out : sizeof out;
      out.biCompression = script.copies                ? BI_RGB
                          : script.outCompression != 0 ? script.outCompression
                                                       : handler_;
      out.biSizeImage = script.copies              ? ImageBytes(in)
                        : script.outImageSize != 0 ? script.outImageSize
                                                   : script.maxFrameBytes;
      if (script.outBits != 0) out.biBitCount = script.outBits;
      std::memcpy(reinterpret_cast<void*>(p2), &out, sizeof out);
      std::memset(reinterpret_cast<std::uint8_t*>(p2) + sizeof out, 0, colours);
      // A failure after the format was written: only the answer tells.
      return script.hostile == Hostile::kFailFormat ? ICERR_ERROR : ICERR_OK;
    }
    case ICM_COMPRESS_GET_SIZE:
      if (!Accepted(in, inBits)) return ICERR_BADFORMAT;
      if (script.copies) return static_cast<LRESULT>(ImageBytes(in));
      return script.sizeAnswer.value_or(static_cast<LRESULT>(script.maxFrameBytes));
    case ICM_COMPRESS_BEGIN:
      if (!Accepted(in, inBits)) return ICERR_BADFORMAT;
      ++begins_;
      return ICERR_OK;
    case ICM_COMPRESS_END:
      ++ends_;
      return ICERR_OK;
    case ICM_COMPRESS: {
      auto* ic = reinterpret_cast<ICCOMPRESS*>(p1);
      if (ic == nullptr) return ICERR_BADPARAM;
      const bool key = (ic->dwFlags & ICCOMPRESS_KEYFRAME) != 0;
      ScriptedCall call{ic->dwFlags, ic->lFrameNum, ic->dwQuality, ic->lpbiPrev != nullptr, 0, 0};
      if (ic->lpbiInput != nullptr && ic->lpInput != nullptr) {
        call.inputHash = HashPixels(ic->lpbiInput, ic->lpInput);
        call.inputBits = ic->lpbiInput->biBitCount;
        call.inputEnd = reinterpret_cast<std::uintptr_t>(ic->lpInput) + ImageBytes(ic->lpbiInput);
      }
      if (ic->lpbiPrev != nullptr && ic->lpPrev != nullptr) {
        call.prevHash = HashPixels(ic->lpbiPrev, ic->lpPrev);
        call.prevBits = ic->lpbiPrev->biBitCount;
        call.prevImageSize = ic->lpbiPrev->biSizeImage;
      }
      calls_.push_back(call);
      if (script.failFrames.count(ic->lFrameNum) != 0) return ICERR_ERROR;
      const bool copy = script.copies && ic->lpbiInput != nullptr && ic->lpInput != nullptr &&
                        ic->lpOutput != nullptr && ic->lpbiOutput != nullptr;
      const DWORD size = copy ? ImageBytes(ic->lpbiInput) : size_(ic->dwQuality, key);
      if (copy) {
        std::memcpy(ic->lpOutput, ic->lpInput, size);
        if (script.hostile == Hostile::kWritesPastOutput)
          static_cast<std::uint8_t*>(ic->lpOutput)[size] = 0x5A;
        if (script.hostile == Hostile::kWritesInput) std::memset(ic->lpInput, 0x33, size);
      } else if (size > script.maxFrameBytes) {
        return ICERR_BADSIZE;
      } else if (ic->lpOutput != nullptr) {
        std::memset(ic->lpOutput, key ? 0x4B : 0x44, size);
      }
      const DWORD told =
          size + script.overstated + (script.hostile == Hostile::kSizeBeyondBuffer ? 4096 : 0);
      if (ic->lpbiOutput != nullptr) ic->lpbiOutput->biSizeImage = told;
      if (ic->lpdwFlags != nullptr) *ic->lpdwFlags = key ? AVIIF_KEYFRAME : 0;
      return ICERR_OK;
    }
    default:
      return ICERR_UNSUPPORTED;
  }
}

}  // namespace norv::test
