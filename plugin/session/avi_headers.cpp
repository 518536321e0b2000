// Everything in front of the movie data: the stream format (the frame
// encoder's), the audio source, and the plan of the streams from which the
// AVI writer writes the headers. Every value rests on what is
// known before the first frame; only chunk sizes are fixed later.
#include <algorithm>
#include <cstring>

#include "plugin/audio/audio_format.h"
#include "plugin/host/host_api.h"
#include "plugin/image/bitmap_header.h"
#include "plugin/session/movie_session.h"

namespace {

// The message of a header the writer could not write; none for a failure
// the user is not told about.
const char* HeaderMessage(AviStatus status, int stream) {
  const bool first = stream == 0;
  switch (status) {
    case AviStatus::kCannotCreate:
      return "Fail to create new avi file!";
    case AviStatus::kMainHeaderChunk:
      return "Fail to create main header chunk";
    case AviStatus::kMainHeaderData:
      return "Fail to write main header!";
    case AviStatus::kStreamList:
      return first ? "Fail to create first stream list chunk"
                   : "Fail to create second stream list chunk";
    case AviStatus::kStreamHeaderChunk:
      return first ? "Fail to create first stream header chunk"
                   : "Fail to create second stream header chunk";
    case AviStatus::kStreamHeaderData:
      return first ? "Fail to write first stream header!" : "Fail to write second stream header!";
    case AviStatus::kStreamFormatChunk:
      return first ? "Fail to create first stream format chunk"
                   : "Fail to create second stream format chunk";
    case AviStatus::kStreamFormatData:
      return first ? "Fail to write first stream format!" : "Fail to write second stream format!";
    case AviStatus::kMovieList:
      return "Fail to create movie list chunk";
    default:
      return nullptr;
  }
}

}  // namespace

int MovieSession::BuildStreamHeaders(AviStreamPlan* plan) {
  if (streamCount == 2) {
    if (HostHasHardware() != 0) {
      if (audio.InitializeAudio() == 0) {
        ShowMessage("Error InitializeAudio!");
        return -1;
      }
    } else if (audio.OpenWaveFile() != 0) {
      ShowMessage("Error reading wave file format!");
      return -1;
    }
  }
  const std::uint32_t lead = streamCount == 2 ? std::min(audio.AudioLead(), frameCount) : 0;
  const float peakChunk = static_cast<float>(video.maxFrameBytes) + audio.audioBytesPerInterleave;

  AviMainHeader& mainHeader = plan->mainHeader;
  mainHeader = AviMainHeader{};
  mainHeader.microSecPerFrame = static_cast<std::uint32_t>(1000000.0 / frameRate);
  if (dataRate != -1) {
    mainHeader.maxBytesPerSec = static_cast<std::uint32_t>(dataRate) * 1024u;
  } else {
    mainHeader.maxBytesPerSec = static_cast<std::uint32_t>(peakChunk * frameRate);
    dataRate = static_cast<std::int32_t>(peakChunk / 1024.0);
  }
  mainHeader.paddingGranularity = 0;
  mainHeader.flags = streamCount == 2 && interleaveFrames == 1 && noInterleave == 0
                         ? kAvifHasIndex | kAvifIsInterleaved
                         : kAvifHasIndex;
  mainHeader.totalFrames = frameCount;
  mainHeader.initialFrames = lead;
  mainHeader.streams = streamCount;
  mainHeader.suggestedBufferSize =
      streamCount == 2 ? static_cast<std::uint32_t>(peakChunk) : video.maxFrameBytes;
  mainHeader.width = static_cast<std::uint32_t>(width);
  mainHeader.height = static_cast<std::uint32_t>(height);

  AviStreamHeader& videoStreamHeader = plan->videoHeader;
  videoStreamHeader = AviStreamHeader{};
  videoStreamHeader.type = kFourccVids;
  videoStreamHeader.handler = video.compressorHandler;
  videoStreamHeader.scale = 1000;
  videoStreamHeader.rate = static_cast<std::uint32_t>(frameRate * 1000.0 + 0.5);
  videoStreamHeader.length = frameCount;
  videoStreamHeader.suggestedBufferSize = video.maxFrameBytes;
  videoStreamHeader.quality = video.quality;
  videoStreamHeader.frame[2] = width;
  videoStreamHeader.frame[3] = height;

  AviStreamHeader& audioStreamHeader = plan->audioHeader;
  audioStreamHeader = AviStreamHeader{};
  if (streamCount == 2) {
    audioStreamHeader.type = kFourccAuds;
    audioStreamHeader.initialFrames = lead;
    audioStreamHeader.scale = 1;
    audioStreamHeader.rate = static_cast<std::uint32_t>(audio.sampleRate);
    audioStreamHeader.length = audio.audioTotalBytes / AudioBlockAlign(audio.audioFormat);
    audioStreamHeader.suggestedBufferSize =
        static_cast<std::uint32_t>(audio.audioBytesPerInterleave + 0.5);
    audioStreamHeader.sampleSize =
        (audio.channels * static_cast<std::uint32_t>(audio.bitsPerSample)) / 8;
  }
  return 0;
}

int MovieSession::WriteAviHeaders() {
  if (video.PrepareStreamFormat() != 0) return -1;

  if (qrvExport != 0) {
    if (!rawOutputFile.Create(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr)) {
      ShowMessage("Fail to create new DV file!");
      return -1;
    }
    return 0;
  }

  AviStreamPlan plan;
  if (BuildStreamHeaders(&plan) != 0) return -1;
  plan.videoFormat = video.videoFormat;
  plan.videoFormatSize = video.videoFormatSize;
  plan.audio = streamCount == 2;
  if (plan.audio) {
    plan.audioFormat = audio.audioFormat;
    plan.audioFormatSize = audio.audioFormatSize;
    plan.audioBlockAlign = AudioBlockAlign(audio.audioFormat);
  }
  plan.records = RecordsInUse();
  plan.indexCapacity = audio.ComputeIndexCapacity();
  plan.openDml = openDmlWanted;
  const AviStatus status = aviWriter.WriteAviHeaders(outputPath, plan);
  if (status == AviStatus::kOk) return 0;
  if (const char* message = HeaderMessage(status, aviWriter.failedStream())) ShowMessage(message);
  return -1;
}
