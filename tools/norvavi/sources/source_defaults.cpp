#include "tools/norvavi/sources/source_defaults.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cmath>
#include <cstring>

namespace norv::cli {

namespace {

// The rates the settings' audio block offers, lowest first.
constexpr int kRecordRates[] = {11025, 22050, 32000, 44100, 48000};

class InputFile {
 public:
  ~InputFile() { avformat_close_input(&format_); }
  bool Open(const std::string& path, std::string* error) {
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0) {
      *error = "cannot read " + path;
      return false;
    }
    return true;
  }
  AVFormatContext* get() const { return format_; }

 private:
  AVFormatContext* format_ = nullptr;
};

void ReadAudio(AVFormatContext* format, SourceFacts* facts) {
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return;
  const AVCodecParameters* p = format->streams[index]->codecpar;
  if (p->sample_rate <= 0 || p->ch_layout.nb_channels <= 0) return;
  facts->hasAudio = true;
  facts->audio =
      NearestRecordFormat(p->sample_rate, p->ch_layout.nb_channels,
                          p->format == AV_SAMPLE_FMT_U8 || p->format == AV_SAMPLE_FMT_U8P);
}

// Frames in the stream: the header's count, else the stream's length at its
// rate; where neither is written (a stream read from a pipe, Matroska), the
// packets are counted when `count` asks for it (0 otherwise), since a file's
// overall length may end at the last frame's start or at another stream's end.
std::int64_t CountFrames(AVFormatContext* format, int index, AVRational rate, bool count) {
  const AVStream* s = format->streams[index];
  if (s->nb_frames > 0) return s->nb_frames;
  const bool guessed = format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  if (!guessed && s->duration != AV_NOPTS_VALUE && s->duration > 0)
    return av_rescale_q_rnd(s->duration, s->time_base, av_inv_q(rate),
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF));
  if (!count) return 0;
  std::int64_t counted = 0;
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return 0;
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index) ++counted;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  return counted;
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

bool ProbeVideoSource(const std::string& path, bool countFrames, SourceFacts* facts,
                      std::string* error) {
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
  facts->frames = CountFrames(format, index, rate, countFrames);
  return true;
}

bool ProbeAudioSource(const std::string& path, SourceFacts* facts, std::string* error) {
  InputFile file;
  if (!file.Open(path, error)) return false;
  facts->hasAudio = false;
  ReadAudio(file.get(), facts);
  if (!facts->hasAudio) {
    *error = path + " has no audio stream";
    return false;
  }
  return true;
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
  if (facts.frames <= 0 || facts.rateNum <= 0 || facts.rateDen <= 0) return 0;
  const double ms = static_cast<double>(facts.frames) * 1000.0 * facts.rateDen / facts.rateNum;
  return ms < 4294967295.0 ? static_cast<std::uint32_t>(std::llround(ms)) : 0xFFFFFFFFu;
}

void ApplySourceToProject(const SourceFacts& facts, ProjectSettings* project) {
  ApplySourceDefaults(facts, &project->video);
  if (facts.hasAudio)
    std::memcpy(project->audioFormat, project->video.audioFormat, sizeof project->audioFormat);
}

}  // namespace norv::cli
