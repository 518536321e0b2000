#include "tools/norvavi/movie_sources.h"

#include <cmath>

#include "hoststub/norv_host.h"

namespace norv::cli {

namespace {

// Standard input by its name, not the name of its copy.
bool Named(bool ok, const std::string& name, const std::string& path, std::string* error) {
  if (ok || name != "-" || path.empty()) return ok;
  for (std::size_t at; (at = error->find(path)) != std::string::npos;)
    error->replace(at, path.size(), "standard input");
  return false;
}

// Opened on its first frame: only some colour formats ask for frames of
// their own, and opening a file decodes the start of it.
class VideoOpenedWhenAsked final : public VideoSource {
 public:
  explicit VideoOpenedWhenAsked(const MovieSources& sources) : sources_(sources) {}
  bool Render(std::uint32_t timeMs, int width, int height, std::uint32_t rowBytes,
              std::uint8_t* pixels) override {
    if (!opened_) {
      opened_ = true;
      std::string error;
      source_ = OpenVideo(sources_, &error);
    }
    return source_ != nullptr && source_->Render(timeMs, width, height, rowBytes, pixels);
  }

 private:
  const MovieSources& sources_;
  bool opened_ = false;
  std::unique_ptr<VideoSource> source_;
};

}  // namespace

bool ResolveSources(const MakeOptions& o, StdinSpool* spool, MovieSources* s, std::string* error) {
  s->facts.audioTrack = o.audioTrack;
  if (o.video != "pattern") {
    if (!spool->Resolve(o.video, &s->videoPath, error)) return false;
    s->opened.Add(s->videoPath);
    if (!Named(ProbeVideoSource(s->videoPath, &s->facts, error), o.video, s->videoPath, error))
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
    if (!spool->Resolve(o.audio, &s->audioPath, error)) return false;
    // The video's own file was probed with its sound (whose length only a
    // movie without a video file takes).
    const bool probed = s->facts.hasVideo && s->audioPath == s->videoPath;
    s->opened.Add(s->audioPath);
    if (!Named(probed ? AudioFound(s->audioPath, s->facts, error)
                      : ProbeAudioSource(s->audioPath, &s->facts, error),
               o.audio, s->audioPath, error))
      return false;
  } else if (s->facts.hasAudio) {
    s->audioPath = s->videoPath;
    s->opened.Add(s->audioPath);
  } else if (o.audioTrack > 0 && s->facts.hasVideo) {
    return AudioFound(o.video, s->facts, error);
  }
  return true;
}

std::unique_ptr<VideoSource> OpenVideo(const MovieSources& s, std::string* error,
                                       DecodeErrors* errors, int threads) {
  if (s.videoPath.empty()) return MakePatternSource();
  return OpenVideoFile(s.videoPath, error, errors, &s.opened, threads);
}

std::unique_ptr<VideoSource> OpenVideoWhenAsked(const MovieSources& s) {
  return std::make_unique<VideoOpenedWhenAsked>(s);
}

std::unique_ptr<AudioSource> OpenAudio(const MovieSources& s, const PcmFormat& format,
                                       std::uint32_t startMs, std::string* error,
                                       DecodeErrors* errors) {
  if (s.audioPath.empty()) return MakeToneSource(format, startMs);
  return OpenAudioFile(s.audioPath, format, startMs, error, errors, s.facts.audioTrack, &s.opened);
}

}  // namespace norv::cli
