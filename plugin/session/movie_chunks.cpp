// The session's side of the movie chunks: how many index entries the
// interleave rule may need, whether frames go in 'rec ' records, and the
// message a full file shows. The AVI writer writes the chunks themselves.
#include "plugin/session/movie_session.h"

std::uint32_t MovieSession::ComputeIndexCapacity() const {
  if (streamCount == 1) return 2 * frameCount;
  if (interleaveFrames == 1 && noInterleave == 0) return 3 * frameCount + initialAudioChunks;
  return static_cast<std::uint32_t>(static_cast<float>(frameCount) /
                                        static_cast<float>(interleaveFrames) +
                                    static_cast<float>(frameCount) + 1.0f);
}

bool MovieSession::RecordsInUse() const {
  return interleaveFrames == 1 && noInterleave == 0;
}

int MovieSession::ChunksWritten(AviStatus status) {
  // Once, when a chunk would carry the file past its largest size; the
  // file stays whole and readable.
  if (status == AviStatus::kFileFull)
    ShowMessage("The movie has reached the largest size of an AVI file; the rest is not written.");
  return status == AviStatus::kOk ? 0 : -1;
}
