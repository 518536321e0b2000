#include "tools/norvavi/sources/source_defaults.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cmath>
#include <cstring>

#include "tools/norvavi/sources/media_decoder.h"

namespace norv::cli {

namespace {

// The rates the settings' audio block offers, lowest first.
constexpr int kRecordRates[] = {11025, 22050, 32000, 44100, 48000};

class InputFile {
 public:
  ~InputFile() { avformat_close_input(&format_); }
  bool Open(const std::string& path, std::string* error) {
    return OpenMediaFile(path, &format_, error);
  }
  AVFormatContext* get() const { return format_; }

 private:
  AVFormatContext* format_ = nullptr;
};

void ReadAudio(AVFormatContext* format, SourceFacts* facts) {
  const int index = FindStream(format, AVMEDIA_TYPE_AUDIO, facts->audioTrack);
  if (index < 0) return;
  const AVCodecParameters* p = format->streams[index]->codecpar;
  if (p->sample_rate <= 0 || p->ch_layout.nb_channels <= 0) return;
  facts->hasAudio = true;
  facts->audio =
      NearestRecordFormat(p->sample_rate, p->ch_layout.nb_channels,
                          p->format == AV_SAMPLE_FMT_U8 || p->format == AV_SAMPLE_FMT_U8P);
}

// The end of the stream's last frame in milliseconds on the clock starting
// at `originUs`, from the packets read on from where the file now is; NaN
// when none of the stream's packets is read. A packet without a duration
// lasts as long as the gap before it (VFR), else one frame at `rate`.
// `packets` counts the stream's packets read.
double LastFrameEndMs(AVFormatContext* format, int index, std::int64_t originUs, AVRational rate,
                      int* packets) {
  const AVStream* s = format->streams[index];
  std::int64_t last = AV_NOPTS_VALUE, before = AV_NOPTS_VALUE, lastDuration = 0;
  *packets = 0;
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return NAN;
  while (av_read_frame(format, packet) >= 0) {
    const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    // A packet cut off by the file's end is no whole frame.
    if (packet->stream_index == index && ts != AV_NOPTS_VALUE &&
        (packet->flags & AV_PKT_FLAG_CORRUPT) == 0) {
      ++*packets;
      if (last == AV_NOPTS_VALUE || ts > last) {
        before = last;
        last = ts;
        lastDuration = packet->duration;
      } else if (before == AV_NOPTS_VALUE || ts > before) {
        before = ts;
      }
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (last == AV_NOPTS_VALUE) return NAN;
  const double tb = av_q2d(s->time_base) * 1000.0;
  double durationMs = static_cast<double>(lastDuration) * tb;
  if (durationMs <= 0 && before != AV_NOPTS_VALUE)
    durationMs = static_cast<double>(last - before) * tb;
  if (durationMs <= 0) durationMs = 1000.0 / av_q2d(rate);
  return static_cast<double>(last) * tb - static_cast<double>(originUs) / 1000.0 + durationMs;
}

// Seeks this far before the announced end find the last frames. The short
// tail first: a raw file's last ten seconds may be all of it, hundreds of
// megabytes. It counts when it holds two of the stream's packets or more
// (the last one and the gap before it); else the long one.
constexpr std::int64_t kTailsUs[] = {1 * AV_TIME_BASE, 10 * AV_TIME_BASE};

// The real span: the tail's packets after a seek near the announced end,
// else every packet from the start.
double MeasureSpanMs(AVFormatContext* format, int index, std::int64_t originUs, AVRational rate) {
  int packets = 0;
  for (const std::int64_t tailUs : kTailsUs) {
    if (format->duration <= 0) break;
    if (av_seek_frame(format, -1, originUs + format->duration - tailUs, AVSEEK_FLAG_BACKWARD) < 0)
      continue;
    const double end = LastFrameEndMs(format, index, originUs, rate, &packets);
    if (!std::isnan(end) && (packets >= 2 || tailUs == kTailsUs[std::size(kTailsUs) - 1]))
      return end;
  }
  if (avformat_seek_file(format, -1, INT64_MIN, 0, INT64_MAX, 0) < 0 &&
      av_seek_frame(format, index, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE) < 0)
    return 0;
  const double end = LastFrameEndMs(format, index, originUs, rate, &packets);
  return std::isnan(end) ? 0 : end;
}

// The length the headers announce from the clock's start, 0 when none does
// (or it is only guessed from the bit rate).
double AnnouncedMs(const AVFormatContext* format, const AVStream* s, std::int64_t originUs) {
  if (format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return 0;
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0)
    return static_cast<double>(s->duration) * av_q2d(s->time_base) * 1000.0;
  if (format->duration <= 0) return 0;
  const std::int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
  return static_cast<double>(format->duration + start - originUs) / 1000.0;
}

}  // namespace

int RotationOf(const std::int32_t matrix[9]) {
  // libavutil reports the matrix's turn counter-clockwise; the frames are
  // turned by the same amount, counted here clockwise.
  const double ccw = av_display_rotation_get(matrix);
  if (std::isnan(ccw)) return 0;
  long cw = -std::lround(ccw / 90.0) * 90;
  cw %= 360;
  if (cw < 0) cw += 360;
  return static_cast<int>(cw);
}

void DisplaySize(int codedWidth, int codedHeight, int sarNum, int sarDen, int rotation, int* width,
                 int* height) {
  int w = codedWidth;
  if (sarNum > 0 && sarDen > 0 && sarNum != sarDen) {
    const double stretched = static_cast<double>(codedWidth) * sarNum / sarDen;
    w = static_cast<int>(std::lround(stretched / 2.0)) * 2;
    if (w < 2) w = 2;
  }
  const bool turned = rotation == 90 || rotation == 270;
  *width = turned ? codedHeight : w;
  *height = turned ? w : codedHeight;
}

PcmFormat NearestRecordFormat(int sampleRate, int channels, bool eightBit) {
  PcmFormat f;
  f.bitsPerSample = eightBit ? 8 : 16;
  f.channels = channels == 1 ? 1 : 2;
  f.sampleRate = kRecordRates[std::size(kRecordRates) - 1];
  for (int rate : kRecordRates) {
    if (rate >= sampleRate) {
      f.sampleRate = rate;
      break;
    }
  }
  return f;
}

bool ProbeVideoSource(const std::string& path, SourceFacts* facts, std::string* error) {
  InputFile file;
  if (!file.Open(path, error)) return false;
  AVFormatContext* format = file.get();
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    *error = path + " has no video stream";
    return false;
  }
  AVStream* s = format->streams[index];
  const AVCodecParameters* p = s->codecpar;
  AVRational rate = s->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = s->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0 || p->width <= 0 || p->height <= 0) {
    *error = path + " gives no picture size or frame rate";
    return false;
  }
  facts->hasVideo = true;
  const auto* matrix = reinterpret_cast<const std::int32_t*>(
      av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
  facts->rotation = matrix != nullptr ? RotationOf(matrix) : 0;
  AVRational sar = av_guess_sample_aspect_ratio(format, s, nullptr);
  DisplaySize(p->width, p->height, sar.num, sar.den, facts->rotation, &facts->width,
              &facts->height);
  facts->rateNum = rate.num;
  facts->rateDen = rate.den;
  ReadAudio(format, facts);
  const std::int64_t origin = ClockOriginUs(format);
  facts->announcedMs = AnnouncedMs(format, s, origin);
  facts->spanMs = MeasureSpanMs(format, index, origin, rate);
  return true;
}

bool ProbeAudioSource(const std::string& path, SourceFacts* facts, std::string* error) {
  InputFile file;
  if (!file.Open(path, error)) return false;
  facts->hasAudio = false;
  ReadAudio(file.get(), facts);
  const AVFormatContext* format = file.get();
  if (format->duration > 0 && format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
    facts->audioSpanMs = static_cast<double>(format->duration) / 1000.0;
  return AudioFound(path, *facts, error);
}

bool AudioFound(const std::string& path, const SourceFacts& facts, std::string* error) {
  if (facts.hasAudio) return true;
  *error = facts.audioTrack > 0 ? path + " has no audio track " + std::to_string(facts.audioTrack)
                                : path + " has no audio stream";
  return false;
}

void ApplySourceDefaults(const SourceFacts& facts, AviSettings* settings) {
  if (facts.hasVideo) {
    settings->width = facts.width;
    settings->height = facts.height;
    // The nearest single-precision value: the rate the file's header then
    // carries (rate x 1000) is the source's to a thousandth.
    settings->frameRate = static_cast<float>(static_cast<double>(facts.rateNum) / facts.rateDen);
    settings->audioEnabled = facts.hasAudio ? 1 : 0;
  }
  if (facts.hasAudio) {
    settings->audioFormat[1] = static_cast<std::uint32_t>(facts.audio.bitsPerSample);
    settings->audioFormat[2] = static_cast<std::uint32_t>(facts.audio.sampleRate);
    settings->audioFormat[3] = static_cast<std::uint32_t>(facts.audio.channels);
  }
}

std::uint32_t SourceSpanMs(const SourceFacts& facts) {
  const double ms = facts.spanMs;
  if (!(ms >= 0.5)) return 0;
  return ms < 4294967295.0 ? static_cast<std::uint32_t>(std::llround(ms)) : 0xFFFFFFFFu;
}

void ApplySourceToProject(const SourceFacts& facts, ProjectSettings* project) {
  ApplySourceDefaults(facts, &project->video);
  if (facts.hasAudio)
    std::memcpy(project->audioFormat, project->video.audioFormat, sizeof project->audioFormat);
}

}  // namespace norv::cli
