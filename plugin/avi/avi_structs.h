// The published AVI header records, as they stand in the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_types.h"

struct AviMainHeader {
  std::uint32_t microSecPerFrame;     // 1000000 / frame rate
  std::uint32_t maxBytesPerSec;       // peak data rate
  std::uint32_t paddingGranularity;   // 0
  std::uint32_t flags;                // kAvifHasIndex, kAvifIsInterleaved
  std::uint32_t totalFrames;          // video frames
  std::uint32_t initialFrames;        // audio lead
  std::uint32_t streams;              // 1 or 2
  std::uint32_t suggestedBufferSize;  // largest chunk expected
  std::uint32_t width;                // frame width
  std::uint32_t height;               // frame height
  std::uint32_t reserved[4];          // 0
};
static_assert(sizeof(AviMainHeader) == 56);
static_assert(offsetof(AviMainHeader, flags) == 12);
static_assert(offsetof(AviMainHeader, totalFrames) == 16);
static_assert(offsetof(AviMainHeader, suggestedBufferSize) == 28);
static_assert(offsetof(AviMainHeader, reserved) == 40);

struct AviStreamHeader {
  std::uint32_t type;           // 'vids' or 'auds'
  std::uint32_t handler;        // compressor FOURCC, 0 for none
  std::uint32_t flags;          // 0
  std::uint16_t priority;       // 0
  std::uint16_t language;       // 0
  std::uint32_t initialFrames;  // audio lead
  std::uint32_t scale;          // rate / scale = samples per second
  std::uint32_t rate;
  std::uint32_t start;                // 0
  std::uint32_t length;               // in scale units
  std::uint32_t suggestedBufferSize;  // largest chunk expected
  std::uint32_t quality;              // compressor quality
  std::uint32_t sampleSize;           // 0 for video, block size for audio
  std::int32_t frame[4];              // left, top, right, bottom
};
static_assert(sizeof(AviStreamHeader) == 64);
static_assert(offsetof(AviStreamHeader, initialFrames) == 16);
static_assert(offsetof(AviStreamHeader, rate) == 24);
static_assert(offsetof(AviStreamHeader, length) == 32);
static_assert(offsetof(AviStreamHeader, sampleSize) == 44);
static_assert(offsetof(AviStreamHeader, frame) == 48);

struct AviIndexEntry {
  std::uint32_t chunkId;  // '00db', '00dc', '01wb' or 'rec '
  std::uint32_t flags;    // kIndexKeyFrame, kIndexList
  std::uint32_t offset;   // header offset minus the offset of the 'movi' code
  std::uint32_t length;   // data size (a record: its list size)
};
static_assert(sizeof(AviIndexEntry) == 16);

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kIndexList = 0x01;
constexpr std::uint32_t kIndexKeyFrame = 0x10;

constexpr std::uint32_t kFourccAvi = MakeFourCC("AVI ");
constexpr std::uint32_t kFourccHdrl = MakeFourCC("hdrl");
constexpr std::uint32_t kFourccAvih = MakeFourCC("avih");
constexpr std::uint32_t kFourccStrl = MakeFourCC("strl");
constexpr std::uint32_t kFourccStrh = MakeFourCC("strh");
constexpr std::uint32_t kFourccStrf = MakeFourCC("strf");
constexpr std::uint32_t kFourccMovi = MakeFourCC("movi");
constexpr std::uint32_t kFourccRec = MakeFourCC("rec ");
constexpr std::uint32_t kFourccIdx1 = MakeFourCC("idx1");
constexpr std::uint32_t kFourccVids = MakeFourCC("vids");
constexpr std::uint32_t kFourccAuds = MakeFourCC("auds");
constexpr std::uint32_t kFourccKeyVideo = MakeFourCC("00db");
constexpr std::uint32_t kFourccDeltaVideo = MakeFourCC("00dc");
constexpr std::uint32_t kFourccAudio = MakeFourCC("01wb");
constexpr std::uint32_t kFourccDvsd = MakeFourCC("dvsd");
