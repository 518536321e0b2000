// Preset files, in the text form of preset_format.h. A load fills the
// destination only when the whole file was read and understood.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "hoststub/preset_format.h"
#include "plugin/host/host_api.h"

namespace {

using norv::host::AudioBlock;
using norv::host::kAudioPresetKind;
using norv::host::kMaxPresetStateBytes;
using norv::host::kVideoPresetKind;

// Far above any real preset: hex state of the largest allowed size, plus the fields.
constexpr std::uintmax_t kMaxFileBytes = 2 * std::uintmax_t{kMaxPresetStateBytes} + 65536;

bool ReadText(const char* path, std::string* text) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

// Written beside the target and renamed over it, so a failed save never
// leaves a half-written preset where a good one was.
bool WriteText(const char* path, const std::string& text) {
  const std::string temp = std::string(path) + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  // std::rename would refuse an existing target on Windows.
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool SaveVideo(const AviSettings& settings, const char* path) {
  const std::uint32_t size = settings.compressorStateSize;
  // A size beyond the capacity means a broken record; its block is not read.
  if (size > settings.compressorStateCapacity) return false;
  const std::uint8_t* state = nullptr;
  if (size != 0) {
    state = static_cast<const std::uint8_t*>(HostBlockAddress(settings.compressorState));
    if (state == nullptr) return false;
  }
  const std::string text = norv::host::FormatVideoPreset(settings, {state, size});
  return !text.empty() && WriteText(path, text);
}

bool LoadVideo(AviSettings* settings, const char* path) {
  std::string text;
  norv::host::VideoPreset preset;
  if (!ReadText(path, &text) || !norv::host::ParseVideoPreset(text, &preset)) return false;

  // The record owns a block of the saved capacity holding the saved bytes;
  // its previous block goes back only once the new one exists.
  HostBlockRef block = 0;
  if (preset.settings.compressorStateCapacity != 0) {
    block = HostAlloc(preset.settings.compressorStateCapacity, 1);
    void* data = HostBlockAddress(block);
    if (data == nullptr) return false;
    if (!preset.state.empty()) std::memcpy(data, preset.state.data(), preset.state.size());
  }
  HostFree(&settings->compressorState);
  *settings = preset.settings;
  settings->compressorState = block;
  return true;
}

bool SaveAudio(const std::uint32_t* words, const char* path) {
  AudioBlock block;
  std::memcpy(block.data(), words, sizeof block);
  return WriteText(path, norv::host::FormatAudioPreset(block));
}

bool LoadAudio(std::uint32_t* words, const char* path) {
  std::string text;
  AudioBlock block;
  if (!ReadText(path, &text) || !norv::host::ParseAudioPreset(text, &block)) return false;
  std::memcpy(words, block.data(), sizeof block);
  return true;
}

}  // namespace

extern "C" {

std::int32_t SavePresetFile(std::int32_t kind, const void* record, const char* path) {
  if (record == nullptr || path == nullptr || *path == '\0') return 0;
  try {
    if (kind == kVideoPresetKind) return SaveVideo(*static_cast<const AviSettings*>(record), path);
    if (kind == kAudioPresetKind) return SaveAudio(static_cast<const std::uint32_t*>(record), path);
  } catch (...) {
  }
  return 0;
}

std::int32_t LoadPresetFile(std::int32_t kind, void* record, const char* path) {
  if (record == nullptr || path == nullptr || *path == '\0') return 0;
  try {
    if (kind == kVideoPresetKind) return LoadVideo(static_cast<AviSettings*>(record), path);
    if (kind == kAudioPresetKind) return LoadAudio(static_cast<std::uint32_t*>(record), path);
  } catch (...) {
  }
  return 0;
}
}
