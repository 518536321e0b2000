// Wave files as the movie's audio source: parsed, mapped and sliced to the
// end, as a movie would.
#include <cstring>

#include "fuzz/fuzz_file.h"
#include "plugin/session/movie_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SilenceMessages();
  const std::string& path = FuzzPath(".wav");
  if (!WriteFuzzFile(path, data, size)) return 0;
  MovieSession session;
  std::strcpy(session.audio.waveFilePath, path.c_str());
  session.audio.frameCount = 10;
  session.audio.interleaveFrames = 1 + (size % 3);
  if (session.audio.OpenWaveFile() == 0) {
    // Read every slice once, summing bytes so the reads are not optimised away.
    unsigned sum = 0;
    for (int i = 1; i <= 10; ++i) {
      session.audio.audioProgress = static_cast<float>(i) / 10.0f;
      session.audio.AdvanceAudioChunk();
      for (std::uint32_t b = session.audio.audioChunkStart; b < session.audio.audioChunkEnd; ++b)
        sum += session.audio.waveDataStart[b];
    }
    if (sum == 0xFFFFFFFFu) std::abort();
  }
  return 0;
}
