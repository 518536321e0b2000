// The command-line host's audio: a test tone, or the audio of any file
// libavformat reads, as PCM in the movie's format.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace norv::cli {

struct PcmFormat {
  int bitsPerSample = 16;  // 8 (unsigned) or 16 (signed)
  int sampleRate = 44100;
  int channels = 2;
  int BlockAlign() const { return bitsPerSample / 8 * channels; }
  bool Usable() const { return BlockAlign() > 0 && sampleRate > 0; }
};

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Fills `bytes` bytes (whole sample frames) with the next audio; silence
  // once the source has ended.
  virtual void Read(std::uint8_t* out, std::size_t bytes) = 0;
};

// Both start `startMs` into their own time line, so that a span cut from a
// file keeps its sound where its picture is: the tone as if it had played
// from 0, a file's audio from that instant on the clock of the file's time
// stamps (silence where the file has none yet, its own gaps kept).
std::unique_ptr<AudioSource> MakeToneSource(const PcmFormat& format, std::uint32_t startMs = 0);
class DecodeErrors;
class FilesOpenedAhead;
std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, const PcmFormat& format,
                                           std::uint32_t startMs, std::string* error,
                                           DecodeErrors* errors = nullptr, int track = 0,
                                           FilesOpenedAhead* ahead = nullptr);

// Writes a PCM wave file of `bytes` bytes from the source.
bool WriteWaveFile(const std::string& path, const PcmFormat& format, AudioSource& source,
                   std::uint64_t bytes, std::string* error);

}  // namespace norv::cli
