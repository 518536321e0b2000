// The session's side of the movie chunks: whether frames go in 'rec '
// records, and the message a full file shows. The AVI writer writes the
// chunks; the audio feed decides where the audio goes.
#include "plugin/session/movie_session.h"

bool MovieSession::RecordsInUse() const {
  return interleaveFrames == 1 && noInterleave == 0;
}

int MovieSession::ReportChunks(AviStatus status) {
  // Once, when a chunk would carry the file past its largest size; the
  // file stays whole and readable.
  if (status == AviStatus::kFileFull)
    ShowMessage("The movie has reached the largest size of an AVI file; the rest is not written.");
  return status == AviStatus::kOk ? 0 : -1;
}
