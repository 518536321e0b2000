#include "tools/norvavi/movie_sources.h"

#include <cmath>

#include "hoststub/norv_host.h"

namespace norv::cli {

bool ResolveSources(const MakeOptions& o, StdinSpool* spool, MovieSources* s, std::string* error) {
  if (o.video != "pattern") {
    if (!spool->Resolve(o.video, &s->videoPath, error) ||
        !ProbeVideoSource(s->videoPath, o.WholeVideoFile(), &s->facts, error))
      return false;
    if (o.project.empty()) {
      const double rate = static_cast<double>(s->facts.rateNum) / s->facts.rateDen;
      NorvHostSetProject(s->facts.width, s->facts.height,
                         static_cast<int>(std::lround(rate * 100.0)));
    }
  }
  if (o.audio == "none") {
    s->facts.hasAudio = false;
  } else if (o.audio == "tone") {
    // The tone in the record's default format, even over a silent file.
    s->facts.hasAudio = s->facts.hasVideo;
    s->facts.audio = PcmFormat{};
  } else if (!o.audio.empty()) {
    if (!spool->Resolve(o.audio, &s->audioPath, error) ||
        !ProbeAudioSource(s->audioPath, &s->facts, error))
      return false;
  } else if (s->facts.hasAudio) {
    s->audioPath = s->videoPath;
  }
  return true;
}

std::unique_ptr<VideoSource> OpenVideo(const MovieSources& s, std::string* error) {
  if (s.videoPath.empty()) return MakePatternSource();
  return OpenVideoFile(s.videoPath, error);
}

std::unique_ptr<AudioSource> OpenAudio(const MovieSources& s, const PcmFormat& format,
                                       std::uint32_t startMs, std::string* error) {
  if (s.audioPath.empty()) return MakeToneSource(format, startMs);
  return OpenAudioFile(s.audioPath, format, startMs, error);
}

}  // namespace norv::cli
