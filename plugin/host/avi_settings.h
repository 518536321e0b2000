// The settings record of the AVI file type: 520 bytes, little-endian, shared
// byte for byte with the host's libraries and preset files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/host/host_block.h"

struct AviSettings {
  std::uint32_t compressorHandler;        // FOURCC of the compressor; 0 = uncompressed
  float frameRate;                        // frames per second
  std::int32_t width;                     // frame width in pixels
  std::int32_t height;                    // frame height in pixels
  std::int32_t lockAspect;                // dialog keeps aspectX:aspectY
  std::int32_t aspectX;                   // 1..99
  std::int32_t aspectY;                   // 1..99
  std::int32_t subPixel;                  // sub-pixel positioning
  std::int32_t colorFormat;               // 16, 24, 80..84
  std::int32_t fieldHandling;             // 0..4
  std::int32_t quality;                   // 0..10000
  std::int32_t keyFrameEvery;             // 1..999
  std::int32_t dataRate;                  // KB per second; -1 = no target
  std::int32_t dataRateChoice;            // playback-platform list index 0..8
  std::int32_t interleaveFrames;          // 1..999
  std::uint32_t reserved60;               // carried unchanged
  char paletteFile[260];                  // palette file for colour code 84
  std::int32_t audioAvailable;            // this output may carry audio
  std::int32_t audioEnabled;              // audio is to be written
  std::uint32_t audioFormat[14];          // words 1..3: bits, rate, channels
  std::int32_t keyFramesOnly;             // compressor cannot do delta frames
  std::int32_t cropRect[4];               // host's cropping block
  std::int32_t hwAccel;                   // hardware acceleration on
  std::int32_t hwAccelOptions[17];        // host's hardware options block
  std::uint32_t compressorStateSize;      // valid bytes in compressorState
  std::uint32_t compressorStateCapacity;  // allocated bytes of compressorState
  HostBlockRef compressorState;           // the compressor's own state, from HostAlloc
  std::int32_t qrvExport;                 // raw stream instead of AVI
  std::uint32_t reserved496[6];           // carried unchanged
};

static_assert(sizeof(AviSettings) == 520);
static_assert(offsetof(AviSettings, compressorHandler) == 0);
static_assert(offsetof(AviSettings, frameRate) == 4);
static_assert(offsetof(AviSettings, width) == 8);
static_assert(offsetof(AviSettings, height) == 12);
static_assert(offsetof(AviSettings, lockAspect) == 16);
static_assert(offsetof(AviSettings, aspectX) == 20);
static_assert(offsetof(AviSettings, aspectY) == 24);
static_assert(offsetof(AviSettings, subPixel) == 28);
static_assert(offsetof(AviSettings, colorFormat) == 32);
static_assert(offsetof(AviSettings, fieldHandling) == 36);
static_assert(offsetof(AviSettings, quality) == 40);
static_assert(offsetof(AviSettings, keyFrameEvery) == 44);
static_assert(offsetof(AviSettings, dataRate) == 48);
static_assert(offsetof(AviSettings, dataRateChoice) == 52);
static_assert(offsetof(AviSettings, interleaveFrames) == 56);
static_assert(offsetof(AviSettings, reserved60) == 60);
static_assert(offsetof(AviSettings, paletteFile) == 64);
static_assert(offsetof(AviSettings, audioAvailable) == 324);
static_assert(offsetof(AviSettings, audioEnabled) == 328);
static_assert(offsetof(AviSettings, audioFormat) == 332);
static_assert(offsetof(AviSettings, keyFramesOnly) == 388);
static_assert(offsetof(AviSettings, cropRect) == 392);
static_assert(offsetof(AviSettings, hwAccel) == 408);
static_assert(offsetof(AviSettings, hwAccelOptions) == 412);
static_assert(offsetof(AviSettings, compressorStateSize) == 480);
static_assert(offsetof(AviSettings, compressorStateCapacity) == 484);
static_assert(offsetof(AviSettings, compressorState) == 488);
static_assert(offsetof(AviSettings, qrvExport) == 492);
static_assert(offsetof(AviSettings, reserved496) == 496);

// Colour codes of `colorFormat`.
enum ColorFormat : std::int32_t {
  kColor16 = 16,
  kColor24 = 24,
  kColor332 = 80,
  kColor666 = 81,
  kColor676 = 82,
  kColorOptimum = 83,
  kColorPaletteFile = 84,
};
