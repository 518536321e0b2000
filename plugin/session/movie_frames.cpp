// One host frame into the AVI file: the encoder takes it (or the frame-rate
// conversion drops it), the audio ahead of the first frame goes in, the
// encoder makes the video chunk, and the audio feed puts it in the file
// with the audio the interleave rule places after it.
#include "plugin/session/movie_session.h"

int MovieSession::CompressAviFrame(const std::uint8_t* frame, std::uint32_t* framesDone) {
  std::uint32_t scratch = 0;
  if (framesDone == nullptr) framesDone = &scratch;
  if (video.TakeFrame(frame, ntsc, dvReverse)) {
    const auto report = [this](AviStatus s) { return ReportChunks(s); };
    (void)audio.WriteInitialAudio(aviWriter, report);
    if (video.EncodeFrame() != 0) return -1;
    // A frame that did not reach the file (disk full, size limit, more frames
    // than announced) is reported, and not counted as done. Each frame goes
    // to the disk before the call returns, so the report is about this frame.
    if (audio.WriteFrameChunks(aviWriter, video.framesCompressed, video.isKeyFrame != 0,
                               {video.videoChunkData, video.videoChunkSize}, report) != 0 ||
        aviWriter.Flush() != AviStatus::kOk)
      return 1;
  }

  if (streamCount == 2) ++videoFramesDone;
  *framesDone = videoFramesDone;
  return 0;
}
