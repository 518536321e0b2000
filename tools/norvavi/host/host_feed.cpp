#include "tools/norvavi/host/host_feed.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "plugin/image/bitmap_header.h"

namespace norv::cli {

namespace {

VideoSource* g_paletteSource = nullptr;

std::int32_t NORV_STDCALL RenderForPalette(std::uint32_t code, std::uint32_t, void* args) {
  if (code != 2 || args == nullptr || g_paletteSource == nullptr) return 1;
  auto* a = static_cast<RenderFrameArgs*>(args);
  BITMAPINFOHEADER h;
  std::memcpy(&h, a->sample, sizeof h);
  if (h.biWidth < 1 || h.biHeight < 1 || h.biBitCount != 24) return 1;
  return g_paletteSource->Render(a->timeMs, h.biWidth, h.biHeight, DibRowBytes(h.biWidth, 24),
                                 a->sample + sizeof h)
             ? 0
             : 1;
}

}  // namespace

bool PrepareRequest(const std::string& output, AviSettings* settings, MovieRequest* request) {
  std::memset(request, 0, sizeof *request);
  if (output.size() >= sizeof request->outputPath) return false;
  std::memcpy(request->outputPath, output.c_str(), output.size());
  request->version = 1;
  request->settings = settings;
  return true;
}

void OfferPaletteSource(MovieRequest* request, VideoSource* source) {
  g_paletteSource = source;
  if (request == nullptr) return;
  request->frameCallback = source != nullptr ? &RenderForPalette : nullptr;
  request->frameCallbackContext = source != nullptr ? 1 : 0;
}

bool MovieHasAudio(const AviSettings& settings) {
  return settings.audioAvailable != 0 && settings.audioEnabled != 0 && settings.qrvExport == 0;
}

PcmFormat AudioFormatOf(const AviSettings& settings) {
  PcmFormat pcm;
  pcm.bitsPerSample = static_cast<int>(settings.audioFormat[1]);
  pcm.sampleRate = static_cast<int>(settings.audioFormat[2]);
  pcm.channels = static_cast<int>(settings.audioFormat[3]);
  return pcm;
}

PcmFormat PushedFormat(const PcmFormat& format) {
  PcmFormat pushed = format;
  if (format.sampleRate < 22050) pushed.sampleRate = format.sampleRate * 4;
  return pushed;
}

std::uint64_t AudioBytes(const PcmFormat& format, std::uint64_t spanMs) {
  return spanMs * static_cast<std::uint64_t>(format.sampleRate) / 1000 *
         static_cast<std::uint64_t>(format.BlockAlign());
}

bool PushAudio(const PluginExports& plugin, void* session, AudioSource& source,
               const PcmFormat& format, std::uint64_t bytes) {
  const std::size_t block = static_cast<std::size_t>(format.sampleRate / 10) *
                            static_cast<std::size_t>(format.BlockAlign());
  std::vector<std::uint8_t> buffer(block);
  for (std::uint64_t sent = 0; sent < bytes;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, bytes - sent));
    source.Read(buffer.data(), n);
    AudioBlock b{buffer.data(), static_cast<std::uint32_t>(n)};
    std::uint32_t done = 0;
    if (plugin.MakeMovieCompressAudioFrame(session, &b, &done) != 0) return false;
    sent += n;
  }
  return true;
}

}  // namespace norv::cli
