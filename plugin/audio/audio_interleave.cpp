// Where the audio goes: a burst of audio-only chunks ahead of the first
// frame, then after each frame as much audio as keeps it a fixed lead ahead
// of the video. The rule is a target fraction of the whole audio
// (audioProgress); AdvanceAudioChunk turns it into the next slice.
#include <algorithm>
#include <cstring>
#include <new>

#include "plugin/audio/audio_feed.h"
#include "plugin/audio/audio_format.h"
#include "plugin/host/host_api.h"
#include "plugin/io/locked_block.h"

std::uint32_t AudioBlockAlign(const std::uint8_t* waveFormat) {
  WAVEFORMATEX_PCM f;
  std::memcpy(&f, waveFormat, sizeof f);
  return f.nBlockAlign;
}

std::uint32_t AudioTarget(std::uint32_t totalBytes, float progress, std::uint32_t blockAlign) {
  const double fraction = progress < 1.0f ? static_cast<double>(progress) : 1.0;
  auto end = static_cast<std::uint32_t>(static_cast<double>(static_cast<float>(totalBytes)) *
                                        (fraction > 0.0 ? fraction : 0.0));
  end = std::min(end, totalBytes);
  return end - end % blockAlign;
}

float InterleaveBytes(std::uint32_t totalBytes, std::uint32_t frameCount,
                      std::uint32_t interleaveFrames) {
  return static_cast<float>(totalBytes) /
         (static_cast<float>(frameCount) / static_cast<float>(interleaveFrames));
}

int AudioFeed::InitializeAudio() {
  if (interleaveFrames < 1)
    return 0;  // the settings never hold 0; a record that does gets no audio
  audioFormatSize = 16;
  if (audioFormat == nullptr) audioFormat = LockedBlock(16);
  if (audioFormat == nullptr) return 0;
  const std::uint32_t bytesPerSample = static_cast<std::uint32_t>(bitsPerSample) / 8;
  WAVEFORMATEX_PCM f{};
  f.wFormatTag = 1;
  f.nChannels = static_cast<WORD>(channels);
  f.nSamplesPerSec = static_cast<DWORD>(sampleRate);
  f.wBitsPerSample = static_cast<WORD>(bitsPerSample);
  f.nBlockAlign = static_cast<WORD>(bytesPerSample * channels);
  f.nAvgBytesPerSec = bytesPerSample * channels * static_cast<std::uint32_t>(sampleRate);
  std::memcpy(audioFormat, &f, sizeof f);
  if (f.nBlockAlign == 0) return 0;

  const double total = static_cast<double>(endTime - startTime) * f.nAvgBytesPerSec / 1000.0 + 0.5;
  if (!(total < 4294967296.0)) return 0;
  audioTotalBytes = static_cast<std::uint32_t>(total);
  audioTotalBytes -= audioTotalBytes % f.nBlockAlign;
  audioBytesPerInterleave = InterleaveBytes(audioTotalBytes, frameCount, interleaveFrames);

  const std::uint32_t size = audioBytesPerInterleave > 500000.0f
                                 ? static_cast<std::uint32_t>(audioBytesPerInterleave) + 10000
                                 : 600000;
  // Zeroed: a slice the audio caller never delivered must not carry stale memory.
  audioBuffer.reset(new (std::nothrow) std::uint8_t[size]());
  if (audioBuffer == nullptr) return 0;
  audioBufferSize = size;
  audioChunkData = audioBuffer.get();
  audioChunkStart = audioChunkEnd = 0;
  return 1;
}

void AudioFeed::AdvanceAudioChunk() {
  if (HostHasHardware() != 0) {
    (void)ReadPushedAudio();
    return;
  }
  if (audioChunkData == nullptr || audioFormat == nullptr) return;
  audioChunkData += audioChunkEnd - audioChunkStart;
  audioChunkStart = audioChunkEnd;
  audioChunkEnd = std::max(
      AudioTarget(audioTotalBytes, audioProgress, AudioBlockAlign(audioFormat)), audioChunkStart);
}

int AudioFeed::WriteInitialAudio(AviWriter& writer, const Report& report) {
  if (initialAudioPending != 0 && interleaveFrames == 1 && initialAudioChunks >= 1) {
    for (std::uint32_t i = 1; i <= initialAudioChunks; ++i) {
      audioProgress =
          std::min(static_cast<float>(i * interleaveFrames) / static_cast<float>(frameCount), 1.0f);
      (void)report(writer.WriteAudioOnlyChunk([this] {
        AdvanceAudioChunk();
        return std::optional<AviWriter::Chunk>({audioChunkData, audioChunkEnd - audioChunkStart});
      }));
    }
  }
  initialAudioPending = 0;
  return 1;
}

int AudioFeed::WriteFrameChunks(AviWriter& writer, std::uint32_t framesCompressed, bool key,
                                AviWriter::Chunk video, const Report& report) {
  auto videoAlone = [&] { return report(writer.WriteVideoChunk(key, video)); };
  auto videoAndAudio = [&] {
    // The slice the record will carry: up to the target just set.
    std::optional<std::uint32_t> planned;
    if (audioChunkData != nullptr && audioFormat != nullptr)
      planned = std::max(AudioTarget(audioTotalBytes, audioProgress, AudioBlockAlign(audioFormat)),
                         audioChunkEnd) -
                audioChunkEnd;
    return report(writer.WriteVideoAndAudioChunks(
        key, video, planned, [this]() -> std::optional<AviWriter::Chunk> {
          AdvanceAudioChunk();
          if (audioChunkData == nullptr) return std::nullopt;
          return AviWriter::Chunk{audioChunkData, audioChunkEnd - audioChunkStart};
        }));
  };
  const std::uint32_t n = framesCompressed;
  const std::uint32_t lead = AudioLead();
  const std::uint32_t every = interleaveFrames;
  if (streamCount == 2 && frameCount - n > lead && every >= 1) {
    audioProgress = static_cast<float>(n + lead + 1) / static_cast<float>(frameCount);
    if ((n + 1) % every == 0 || (n + 1 == frameCount && every != 1)) return videoAndAudio();
    return videoAlone();
  }
  if (n + 1 == frameCount && every != 1 && streamCount == 2) {
    audioProgress = 1.0f;
    return videoAndAudio();
  }
  return videoAlone();
}

std::uint32_t AudioFeed::AudioLead() const {
  if (interleaveFrames != 1 || noInterleave != 0) return 0;
  return static_cast<std::uint32_t>(static_cast<double>(outputFrameRate) * 0.75);
}

std::uint32_t AudioFeed::ComputeIndexCapacity() const {
  if (streamCount == 1) return 2 * frameCount;
  if (interleaveFrames == 1 && noInterleave == 0) return 3 * frameCount + initialAudioChunks;
  return static_cast<std::uint32_t>(static_cast<float>(frameCount) /
                                        static_cast<float>(interleaveFrames) +
                                    static_cast<float>(frameCount) + 1.0f);
}
