#include "plugin/audio/audio_feed.h"

#include "plugin/io/locked_block.h"

AudioFeed::AudioFeed(CRITICAL_SECTION& outputLock, const HANDLE& audioDataEvent,
                     const std::atomic<std::uint32_t>& videoFramesDone, AudioWaitLimits limits)
    : waits(limits),
      outputLock_(outputLock),
      audioDataEvent_(audioDataEvent),
      videoFramesDone_(videoFramesDone) {}

AudioFeed::~AudioFeed() {
  // A host that deletes the session without closing the capture still gets
  // its temporary audio file closed and, when it streamed the audio, removed.
  if (CaptureOpen()) EndAudioCapture();
}
