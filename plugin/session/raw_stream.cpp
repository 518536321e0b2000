// Raw stream output: each frame compressed (by the frame encoder) and
// appended as it is, with no container, no index and no audio.
#include "plugin/session/movie_session.h"

int MovieSession::WriteRawFrame(const std::uint8_t* frame, std::uint32_t* framesDone) {
  std::uint32_t scratch = 0;
  if (framesDone == nullptr) framesDone = &scratch;
  if (const int result = video.EncodeRawFrame(frame, ntsc, dvReverse); result != 0) return result;
  EnterCriticalSection(&outputLock);
  const BOOL written =
      rawOutputFile.Write(video.videoChunkData, video.videoChunkSize, nullptr, nullptr);
  LeaveCriticalSection(&outputLock);
  if (!written) return 1;

  if (streamCount == 2) ++videoFramesDone;
  *framesDone = videoFramesDone;
  return 0;
}
