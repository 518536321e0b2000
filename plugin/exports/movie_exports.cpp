// The six movie exports. The host calls them in order: GetContext,
// InitCompression, any number of video and audio frames (the two kinds
// possibly on two threads at once), CloseCompression, DeleteContext. No other
// export may overlap a frame call. No exception leaves an export, and a
// handle this module did not hand out (or has deleted) is refused.
#include <memory>
#include <utility>

#include "plugin/host/calling.h"
#include "plugin/session/live_sessions.h"
#include "plugin/session/movie_context.h"

NORV_EXPORT MovieSession* NORV_STDCALL MakeMovieGetContext(const MovieRequest* request) {
  try {
    std::unique_ptr<MovieSession> session(CreateMovieSession(request));
    if (session == nullptr || !RegisterSession(session.get())) return nullptr;
    return session.release();
  } catch (...) {
    return nullptr;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL MakeMovieInitCompression(MovieSession* session, std::uint32_t,
                                                               std::int32_t wantLimit,
                                                               std::uint32_t* limit) {
  if (!IsLiveSession(session)) return 1;
  try {
    ResetEvent(session->audioDataEvent);
    if (session->audio.BeginAudioCapture() != 0) return 1;
    if (wantLimit != 0 && limit != nullptr) *limit = 0x7FFFFFFF;
    session->videoFramesDone = 0;
    return 0;
  } catch (...) {
    return 1;
  }
}

// 0: frame taken (or dropped by the rate conversion); -1: the compressor
// failed; 1: the frame could not be written (raw output or AVI file).
NORV_EXPORT std::int32_t NORV_STDCALL MakeMovieCompressVideoFrame(MovieSession* session,
                                                                  const std::uint8_t* frame,
                                                                  std::uint32_t* framesDone) {
  if (!IsLiveSession(session) || frame == nullptr) return -1;
  try {
    if (session->qrvExport != 0) return session->WriteRawFrame(frame, framesDone);
    return session->CompressAviFrame(frame, framesDone);
  } catch (...) {
    return -1;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL MakeMovieCompressAudioFrame(MovieSession* session,
                                                                  const AudioBlock* block,
                                                                  std::uint32_t* framesDone) {
  if (!IsLiveSession(session) || block == nullptr) return 1;
  try {
    return session->StoreAudioBlock(block, framesDone);
  } catch (...) {
    return 1;
  }
}

NORV_EXPORT std::int32_t NORV_STDCALL MakeMovieCloseCompression(MovieSession* session,
                                                                std::uint32_t) {
  if (!IsLiveSession(session)) return 0;
  try {
    session->CloseCompression();
  } catch (...) {
  }
  return 0;
}

NORV_EXPORT void NORV_STDCALL MakeMovieDeleteContext(MovieSession** sessionSlot) {
  if (sessionSlot == nullptr || *sessionSlot == nullptr) return;
  if (!UnregisterSession(*sessionSlot)) return;  // not ours, or deleted already
  const std::unique_ptr<MovieSession> session(std::exchange(*sessionSlot, nullptr));
  try {
    session->FinishMovie();
  } catch (...) {
  }
}
