// The text form of preset files (".ostavi" video presets, ".ostwav" audio
// presets), shared by the host functions, the command-line host and the
// fuzzers.
//
//   NorvAvi preset 1                 header; the number is the format version
//   kind=1                           1 = whole settings record, 3 = audio block
//   compressorHandler=0x64737664 (dvsd)
//   frameRate=29.97 (0x41EFC28F)     decimal, and the exact float bits
//   width=720
//   ...
//   paletteFile="C:\\pal\\a \"b\".pal"
//   audioFormat=0 16 44100 2 0 0 0 0 0 0 0 0 0 0
//   compressorState=0A1B...          hex bytes, compressorStateSize of them
//   end
//
// Every field of the kind appears exactly once, by its record name, in any
// order; blank lines and lines starting with '#' are ignored; "\r\n" line
// ends are accepted. A file is refused when the header or version is not
// this one, the kind differs from the one asked for, a field is unknown,
// repeated, missing or malformed, a value is out of its type's range, the
// two spellings of a value disagree, or the closing "end" line is missing
// (a truncated file). The compressor-state reference is never stored, only
// its bytes; the palette file name is stored up to its terminator, and the
// bytes after it read back as zeros.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/host/avi_settings.h"

namespace norv::host {

inline constexpr int kVideoPresetKind = 1;
inline constexpr int kAudioPresetKind = 3;
inline constexpr int kPresetVersion = 1;
// Larger states are refused on reading; no compressor keeps that much.
inline constexpr std::uint32_t kMaxPresetStateBytes = 16u << 20;

using AudioBlock = std::array<std::uint32_t, 14>;

struct VideoPreset {
  AviSettings settings{};           // compressorState is always 0 here
  std::vector<std::uint8_t> state;  // compressorStateSize bytes
};

// Empty when the record cannot be written: an unterminated palette file name,
// or a state of other than `compressorStateSize` bytes.
std::string FormatVideoPreset(const AviSettings& settings, std::span<const std::uint8_t> state);
std::string FormatAudioPreset(const AudioBlock& block);

// On failure `out` is untouched and `why`, when given, says what was wrong.
bool ParseVideoPreset(std::string_view text, VideoPreset* out, std::string* why = nullptr);
bool ParseAudioPreset(std::string_view text, AudioBlock* out, std::string* why = nullptr);

}  // namespace norv::host
