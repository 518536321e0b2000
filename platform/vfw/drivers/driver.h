// The built-in compressors. Every one is described by a CodecProfile (what it
// accepts, what it produces, how quality and effort reach the codec) and does
// its work through a FrameEncoder; CompressorDriver answers the ICM_* messages
// for all of them, so a driver file holds only what makes its codec different.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/vfw/vfw.h"

struct AVCodecContext;
struct AVFrame;

namespace norv::vfw {

// The options a configuration sets: the state blob of ICM_GETSTATE/SETSTATE.
struct DriverState {
  DWORD magic;    // kStateMagic
  DWORD version;  // kStateVersion
  DWORD handler;  // the driver that wrote it
  LONG effort;    // 0 = fastest .. 9 = smallest output
};
static_assert(sizeof(DriverState) == 16);
constexpr DWORD kStateMagic = MakeFourCC("NVst");
constexpr DWORD kStateVersion = 1;
constexpr LONG kDefaultEffort = 5;

// One input picture as the caller hands it over: a packed bottom-up bitmap.
struct Picture {
  const BITMAPINFOHEADER* format;
  const std::uint8_t* bits;
  const RGBQUAD* colours;  // 256 entries for 8-bit input, else null
};

struct EncodedFrame {
  std::size_t size = 0;
  bool key = false;
};

// The codec half of a driver, alive between ICM_COMPRESS_BEGIN and END.
class FrameEncoder {
 public:
  virtual ~FrameEncoder() = default;
  // Compresses one picture into `out`; fails (ICERR_*) rather than write past it.
  virtual LRESULT Encode(const Picture& picture, bool forceKey, DWORD quality,
                         std::span<std::uint8_t> out, EncodedFrame* result) = 0;
};

// The movie's frame rate, rate / scale, as ICM_COMPRESS_FRAMES_INFO gives it;
// 25 when the host does not say. Codecs that write a rate into their
// stream write this one.
struct FrameRate {
  DWORD rate = 25;
  DWORD scale = 1;
};

struct CodecProfile;
using EncoderFactory = std::unique_ptr<FrameEncoder> (*)(const CodecProfile& profile,
                                                         const BITMAPINFOHEADER& input,
                                                         const DriverState& state, FrameRate rate);

// What sets one codec apart; a driver names only what differs from these defaults.
struct CodecProfile {
  DWORD handler = 0;
  const char16_t* name = nullptr;         // short name, under 16 characters
  const char16_t* description = nullptr;  // what the compressor list shows
  const char* encoder = nullptr;          // libavcodec encoder name; null for our own encoders
  DWORD flags = 0;                        // VIDCF_*
  DWORD outCompression = 0;               // biCompression of the output format
  WORD outBitCount = 24;
  bool accepts24 = true;
  bool accepts8 = false;
  int pixelFormat = -1;           // AVPixelFormat the encoder is fed
  DWORD defaultQuality = 10000;   // 0..10000
  DWORD defaultKeyFrameRate = 0;  // 0 for intra-only codecs
  bool honoursForcedKey = true;   // makes an intra frame when the frame asks for one
  bool hasOptions = false;        // effort means something: answers the configure query
  bool needsExtradata = false;    // output format carries the codec's extradata
  int widthMultiple = 1;          // frame sizes the codec can take
  int heightMultiple = 1;
  bool (*sizeAllowed)(LONG width, LONG height) = nullptr;  // extra size rule
  int spareThreads = 0;  // encoder threads beyond one per core (EncoderThreads)
  DWORD (*maxFrameBytes)(const BITMAPINFOHEADER& in) = nullptr;  // null: the generic bound
  // Codec options before opening, from the state and the starting quality.
  void (*setup)(AVCodecContext* context, const DriverState& state, DWORD quality) = nullptr;
  // Per-frame quality; null when the codec has no quality control.
  void (*applyQuality)(AVCodecContext* context, AVFrame* frame, DWORD quality) = nullptr;
  EncoderFactory createEncoder = nullptr;  // null: the libavcodec encoder
  // Converts pictures of 720 lines and more with BT.709, smaller ones with
  // BT.601, and says which in the stream's colour fields.
  bool tagsColour = false;
  // Rewrites a finished packet in place (the room is out's); false when it
  // does not fit.
  bool (*finishPacket)(const AVCodecContext& context, std::span<std::uint8_t> out,
                       std::size_t* size) = nullptr;
  // libswscale's conversion to this pixel format reads up to 16 bytes past
  // the last row it is given: it converts from a copy with room behind it.
  bool scalerReadsPastInput = false;
};

// Row sizes of packed bitmaps.
inline std::size_t RowBytes(LONG width, int bitCount) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
}

// Quality 0..10000 onto a codec scale running from `worst` (quality 0) to
// `best` (quality 10000), rounded to the nearest step.
inline int QualityToScale(DWORD quality, int best, int worst) {
  const long long span = worst - best;
  return worst - static_cast<int>((static_cast<long long>(quality) * span + 5000) / 10000);
}

// The bound that holds for every codec fed from raw frames here.
DWORD GenericMaxFrameBytes(const BITMAPINFOHEADER& in);

// Slice threads each libavcodec encoder runs: NORV_ENCODER_THREADS when it
// holds a number from 1 to kMaxEncoderThreads, else one per core and
// `spare` more (at most kMaxEncoderThreads). MJPEG, MPEG-4 and H.264 cut
// each picture into one slice per thread, so their bytes depend on this
// count; DV and FFV1 bytes do not.
constexpr int kMaxEncoderThreads = 16;
int EncoderThreads(int spare = 0);

// The libavcodec-backed encoder, and its extradata for an input format.
std::unique_ptr<FrameEncoder> CreateLibavEncoder(const CodecProfile& profile,
                                                 const BITMAPINFOHEADER& input,
                                                 const DriverState& state, FrameRate rate);
bool LibavEncoderExists(const char* name);
bool LibavExtradata(const CodecProfile& profile, const BITMAPINFOHEADER& input,
                    const DriverState& state, FrameRate rate, std::vector<std::uint8_t>* extradata);

// One profile per driver file.
const CodecProfile& MjpgProfile();
const CodecProfile& DvsdProfile();
const CodecProfile& MsvcProfile();
const CodecProfile& CvidProfile();
const CodecProfile& MrleProfile();
const CodecProfile& ZmbvProfile();
const CodecProfile& HfyuProfile();
const CodecProfile& Ffv1Profile();
const CodecProfile& Fmp4Profile();
const CodecProfile& H264Profile();

// The profiles whose encoder this build can run, in enumeration order.
const std::vector<const CodecProfile*>& AvailableProfiles();
const CodecProfile* FindProfile(DWORD handler);

// The driver function behind every built-in compressor.
LRESULT BuiltinDriverProc(DWORD_PTR driverId, HDRVR driver, UINT msg, LPARAM lParam1,
                          LPARAM lParam2);

// Case-insensitive FOURCC comparison, as the compressor manager matches handlers.
DWORD FourCCUpper(DWORD fourcc);

}  // namespace norv::vfw
