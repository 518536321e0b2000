// The built-in test tone and the wave-file writer: plain C++, shared with the
// Windows test host.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "tools/norvavi/sources/audio_source.h"

namespace norv::cli {

namespace {

// 440 Hz on the left, 660 Hz on the right, with a short click every second
// so that audio drift against the picture can be heard and measured.
class ToneSource final : public AudioSource {
 public:
  ToneSource(const PcmFormat& f, std::uint32_t startMs)
      : format_(f),
        sample_(static_cast<std::uint64_t>(startMs) * static_cast<std::uint64_t>(f.sampleRate) /
                1000) {}
  void Read(std::uint8_t* out, std::size_t bytes) override {
    const std::size_t frames = bytes / static_cast<std::size_t>(format_.BlockAlign());
    for (std::size_t i = 0; i < frames; ++i, ++sample_) {
      const double t = static_cast<double>(sample_) / format_.sampleRate;
      const bool click = (sample_ % static_cast<std::uint64_t>(format_.sampleRate)) < 64;
      for (int c = 0; c < format_.channels; ++c) {
        const double hz = c == 0 ? 440.0 : 660.0;
        double v = click ? 0.9 : 0.3 * std::sin(2.0 * std::numbers::pi * hz * t);
        if (format_.bitsPerSample == 8) {
          *out++ = static_cast<std::uint8_t>(128 + std::lround(v * 127));
        } else {
          auto s = static_cast<std::int16_t>(std::lround(v * 32767));
          *out++ = static_cast<std::uint8_t>(s & 0xFF);
          *out++ = static_cast<std::uint8_t>((s >> 8) & 0xFF);
        }
      }
    }
  }

 private:
  PcmFormat format_;
  std::uint64_t sample_ = 0;
};

void PutLe(std::FILE* f, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

}  // namespace

std::unique_ptr<AudioSource> MakeToneSource(const PcmFormat& format, std::uint32_t startMs) {
  return std::make_unique<ToneSource>(format, startMs);
}

bool WriteWaveFile(const std::string& path, const PcmFormat& format, AudioSource& source,
                   std::uint64_t bytes, std::string* error) {
  if (bytes > 0xFFFFFFFFull - 36) {
    *error = "the audio is too long for a wave file";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write " + path;
    return false;
  }
  std::fwrite("RIFF", 1, 4, f);
  PutLe(f, static_cast<std::uint32_t>(36 + bytes), 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  PutLe(f, 16, 4);
  PutLe(f, 1, 2);
  PutLe(f, static_cast<std::uint32_t>(format.channels), 2);
  PutLe(f, static_cast<std::uint32_t>(format.sampleRate), 4);
  PutLe(f, static_cast<std::uint32_t>(format.sampleRate * format.BlockAlign()), 4);
  PutLe(f, static_cast<std::uint32_t>(format.BlockAlign()), 2);
  PutLe(f, static_cast<std::uint32_t>(format.bitsPerSample), 2);
  std::fwrite("data", 1, 4, f);
  PutLe(f, static_cast<std::uint32_t>(bytes), 4);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(format.BlockAlign()) * 4096);
  std::uint64_t left = bytes;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    source.Read(block.data(), n);
    std::fwrite(block.data(), 1, n, f);
    left -= n;
  }
  if (bytes & 1) std::fputc(0, f);
  const bool ok = std::fclose(f) == 0;
  if (!ok) *error = "cannot write " + path;
  return ok;
}

}  // namespace norv::cli
