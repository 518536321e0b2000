// A compressor driver for tests, installed with ICInstall under a chosen
// FOURCC while the object lives. Its frame sizes follow a caller's function of
// (quality, key flag), it fails the frames it is told to, and it records
// every compression call it receives.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/vfw/vfw.h"

namespace norv::test {

struct ScriptedCall {
  DWORD flags;                  // ICCOMPRESS flags
  LONG frameNum;                // lFrameNum as passed
  DWORD quality;                // dwQuality as passed
  bool hadPrev;                 // lpbiPrev was given
  std::uint64_t inputHash;      // of the input pixels
  std::uint64_t prevHash;       // of the previous frame's pixels, 0 without one
  WORD prevBits = 0;            // the previous frame's header: bits per pixel
  DWORD prevImageSize = 0;      // and image size
  WORD inputBits = 0;           // the input's header: bits per pixel
  std::uintptr_t inputEnd = 0;  // the address just past the input's pixels
};

// FNV-1a over bytes, as the driver hashes the pixels it is given.
std::uint64_t Fnv1a(const std::uint8_t* p, std::size_t n);

// Ways a driver misbehaves, one at a time, for the hostile-compressor tests.
enum class Hostile {
  kNone,
  kFailQuery,          // ICM_COMPRESS_QUERY answers ICERR_ERROR
  kFailFormatSize,     // ICM_COMPRESS_GET_FORMAT without a buffer fails
  kFailFormat,         // ICM_COMPRESS_GET_FORMAT with a buffer fills it, then fails
  kFailSize,           // ICM_COMPRESS_GET_SIZE fails
  kFailBegin,          // ICM_COMPRESS_BEGIN fails
  kFailEnd,            // ICM_COMPRESS_END fails
  kFailGetState,       // ICM_GETSTATE fails
  kFailSetState,       // ICM_SETSTATE fails
  kFailClose,          // DRV_CLOSE answers 0
  kFormatSizeZero,     // the format is said to be 0 bytes long
  kFormatBelowHeader,  // the format is said to be 20 bytes long
  kFormatPastSize,     // the format's header claims 80 of the 40 bytes announced
  kSizeBeyondBuffer,   // reports frames larger than its bound (and writes none of it)
  kWritesInput,        // scribbles over the picture it was handed
  kWritesPastOutput,   // writes one byte past its bound, reports the bound
};

class ScriptedCompressor {
 public:
  using SizeFunction = std::function<DWORD(DWORD quality, bool key)>;
  static constexpr DWORD kStateSize = 24;

  // How the driver behaves; tests change it through Edit().
  struct Script {
    std::set<LONG> failFrames;  // ICM_COMPRESS fails with ICERR_ERROR for these lFrameNum values
    DWORD maxFrameBytes = 1 << 20;  // the answer to ICM_COMPRESS_GET_SIZE; larger frames fail
    DWORD defaultQuality = 7500, defaultKeyFrameRate = 4;
    // What ICM_COMPRESS_GET_FORMAT puts in biCompression and biSizeImage
    // (0: the handler and the ICM_COMPRESS_GET_SIZE answer).
    DWORD outCompression = 0, outImageSize = 0;
    bool configurable = true;                      // the configure query says there is a dialog
    DWORD flags = VIDCF_QUALITY | VIDCF_TEMPORAL;  // the VIDCF_ flags it describes itself with
    DWORD refusedMode = ~0u;                       // opens in this ICMODE_ fail
    // Output formats only for an instance opened last in compress mode.
    bool formatsOnlyWhenCompressing = false;
    bool eightBitInput = false;         // takes 8-bit input only, with 256 colours in its format
    WORD outBits = 0;                   // the output format's bits per pixel (0: the input's)
    std::optional<LRESULT> sizeAnswer;  // what ICM_COMPRESS_GET_SIZE answers instead of the bound
    DWORD overstated = 0;               // ICM_COMPRESS reports this many bytes more than it writes
    // Compresses by copying: each frame is the input's pixels under a BI_RGB format,
    // filling its bound (the input's image size) exactly; ffmpeg decodes it as raw frames.
    bool copies = false;
    bool readOnly = false;  // says it only reads its input, as ours do
    Hostile hostile = Hostile::kNone;
  };

  // The default size function gives quality / 10 + 100 bytes, double for key frames.
  explicit ScriptedCompressor(DWORD handler, SizeFunction size = nullptr);
  ~ScriptedCompressor();  // the mutex already forbids copies of a registered driver

  DWORD handler() const { return handler_; }
  // The script under the driver's lock, for as long as the expression lasts:
  // the export may call the driver from its own threads.
  auto Edit() { return Locked<Script>{std::lock_guard<std::mutex>(mutex_), &script_}; }
  // Keeps a state of `bytes` bytes (byte i is i + 1) instead of kStateSize,
  // and answers `handOver` when it copies the state out instead of its size.
  void SetState(DWORD bytes, LRESULT handOver);

  std::vector<ScriptedCall> calls() const { return Lock()->calls_; }
  int begins() const { return Lock()->begins_; }
  int ends() const { return Lock()->ends_; }
  // The last state handed over with ICM_SETSTATE, taken or not (empty if none).
  std::vector<std::uint8_t> lastStateSet() const { return Lock()->lastStateSet_; }
  // What ICM_GETSTATE reports; byte i is i + 1 until SETSTATE changes it.
  std::vector<std::uint8_t> state() const { return Lock()->state_; }
  // The rate ICM_COMPRESS_FRAMES_INFO told it, as rate/scale ("" if none).
  std::string ratesTold() const { return Lock()->ratesTold_; }

 private:
  template <typename T>
  struct Locked {
    std::lock_guard<std::mutex> lock;
    T* self;
    T* operator->() const { return self; }
  };
  Locked<const ScriptedCompressor> Lock() const {
    return {std::lock_guard<std::mutex>(mutex_), this};
  }
  static LRESULT DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2);
  LRESULT Message(UINT msg, LPARAM p1, LPARAM p2);

  DWORD handler_;
  SizeFunction size_;
  mutable std::mutex mutex_;
  Script script_;
  DWORD lastOpenMode_ = 0;
  std::string ratesTold_;
  std::vector<ScriptedCall> calls_;
  int begins_ = 0, ends_ = 0;
  std::vector<std::uint8_t> lastStateSet_;
  std::vector<std::uint8_t> state_;
  LRESULT stateHandOver_ = kStateSize;
};

}  // namespace norv::test
