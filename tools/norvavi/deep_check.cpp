#include "tools/norvavi/deep_check.h"

#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "tools/avicheck/riff_reader.h"
#include "tools/norvavi/key_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace norv::cli {

namespace {

constexpr std::size_t kKeptFindings = 20;

struct Input {
  AVFormatContext* format = nullptr;
  ~Input() { avformat_close_input(&format); }
};

struct Decoder {
  AVCodecContext* context = nullptr;
  AVFrame* frame = av_frame_alloc();
  ~Decoder() {
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
};

void Add(DeepReport& r, DeepFinding f) {
  ++(f.note ? r.noteCount : r.findingCount);
  if (r.findings.size() < kKeptFindings) r.findings.push_back(std::move(f));
}

// What a PCM stream's format promises about its data.
void CheckAudioFormat(DeepReport& r, int index, const AVCodecParameters* p) {
  if (p->block_align <= 0) {
    Add(r, {"audio format", index, -1, -1, "nBlockAlign is 0: a reader cannot cut the data"});
    return;
  }
  const int bits = av_get_bits_per_sample(p->codec_id);
  if (bits == 0) return;  // compressed audio: the block size is the codec's
  const int channels = p->ch_layout.nb_channels;
  if (p->block_align != channels * bits / 8)
    Add(r, {"audio format", index, -1, -1,
            "nBlockAlign " + std::to_string(p->block_align) + " is not " +
                std::to_string(channels) + " channels of " + std::to_string(bits) + " bits"});
  if (p->bit_rate != 0 && p->bit_rate != std::int64_t{p->sample_rate} * p->block_align * 8)
    Add(r, {"audio format", index, -1, -1,
            "nAvgBytesPerSec " + std::to_string(p->bit_rate / 8) + " is not " +
                std::to_string(p->sample_rate) + " x " + std::to_string(p->block_align)});
}

// The idx1 key flags by where each chunk's data starts in the file (as
// libavformat reports packets); empty when the file has no idx1. The
// demuxer's own packet flags will not do: for some codecs it takes them
// from its parser, not from the index.
std::map<std::int64_t, bool> IndexKeyFlags(const std::string& path) {
  std::map<std::int64_t, bool> flags;
  FileReader f;
  std::string error;
  std::uint8_t h[12];
  if (!f.Open(path, &error) || !f.ReadAt(0, h, 12) || Le32(h) != kRiff) return flags;
  const std::uint64_t riffEnd = std::min<std::uint64_t>(f.size(), 8 + std::uint64_t{Le32(h + 4)});
  std::uint64_t at = 12, moviCode = 0;
  while (at + 8 <= riffEnd && f.ReadAt(at, h, 12)) {
    const std::uint32_t id = Le32(h), n = Le32(h + 4);
    if (id == kList && Le32(h + 8) == FourCCValue("movi")) moviCode = at + 8;
    if (id == FourCCValue("idx1") && moviCode != 0) {
      std::vector<std::uint8_t> index(std::min<std::uint64_t>(n, riffEnd - at - 8));
      if (!f.ReadAt(at + 8, index.data(), index.size())) return flags;
      // Offsets from the 'movi' code, or from the file's start: the first
      // entry tells which, by landing on its own chunk id.
      std::uint64_t base = moviCode;
      if (index.size() >= 16 &&
          (!f.ReadAt(moviCode + Le32(&index[8]), h, 4) || Le32(h) != Le32(&index[0])))
        base = 0;
      for (std::size_t e = 0; e + 16 <= index.size(); e += 16)
        flags[static_cast<std::int64_t>(base + Le32(&index[e + 8]) + 8)] =
            (Le32(&index[e + 4]) & 0x10) != 0;
      return flags;
    }
    at += 8 + std::uint64_t{n} + (n & 1);
  }
  return flags;
}

// A decoder for the stream, on one thread so each chunk's errors are its own.
AVCodecContext* OpenDecoder(const AVCodecParameters* p) {
  const AVCodec* codec = avcodec_find_decoder(p->codec_id);
  AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  if (context == nullptr) return nullptr;
  context->thread_count = 1;
  if (avcodec_parameters_to_context(context, p) < 0 || avcodec_open2(context, codec, nullptr) < 0)
    avcodec_free_context(&context);
  return context;
}

}  // namespace

DeepReport DeepCheck(const std::string& path) {
  DeepReport r;
  Input in;
  if (avformat_open_input(&in.format, path.c_str(), nullptr, nullptr) != 0 ||
      avformat_find_stream_info(in.format, nullptr) < 0) {
    r.error = "libavformat cannot read " + path + " as a movie";
    return r;
  }
  r.opened = true;
  std::map<int, std::unique_ptr<Decoder>> decoders;
  std::map<int, std::int64_t> chunks;
  for (unsigned i = 0; i < in.format->nb_streams; ++i) {
    const AVCodecParameters* p = in.format->streams[i]->codecpar;
    const int index = static_cast<int>(i);
    if (p->codec_type == AVMEDIA_TYPE_AUDIO) CheckAudioFormat(r, index, p);
    if (p->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    auto d = std::make_unique<Decoder>();
    d->context = OpenDecoder(p);
    if (d->context == nullptr) {
      Add(r, {"video format", index, -1, -1,
              "no decoder opens the format the stream names (" +
                  std::string(avcodec_get_name(p->codec_id)) + ")"});
      continue;
    }
    decoders[index] = std::move(d);
  }
  KeyFrames keys;
  const std::map<std::int64_t, bool> indexFlags = IndexKeyFlags(path);
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(in.format, packet) >= 0) {
    const int index = packet->stream_index;
    const AVCodecParameters* p = in.format->streams[index]->codecpar;
    const std::int64_t n = chunks[index]++;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
      ++r.audioChunks;
      if (p->block_align > 0 && packet->size % p->block_align != 0)
        Add(r, {"audio block", index, n, packet->pos,
                std::to_string(packet->size) + " bytes: not whole blocks of " +
                    std::to_string(p->block_align)});
    }
    auto found = decoders.find(index);
    if (found != decoders.end() && packet->size > 0) {
      Decoder& d = *found->second;
      // The key flag the index gives against the one the data gives.
      const std::optional<bool> key =
          keys(index, p->codec_tag, packet->data, static_cast<std::size_t>(packet->size));
      const auto entry = indexFlags.find(packet->pos);
      const bool flagged = entry != indexFlags.end() && entry->second;
      ++r.framesChecked;
      if (key && entry != indexFlags.end() && *key != flagged)
        Add(r, {"key flag", index, n, packet->pos,
                flagged ? "indexed as a key frame, but the data is a delta frame"
                        : "a key frame in the data, not flagged as one in the index (it "
                          "cannot be seeked to)",
                !flagged});
      // Each chunk decodes on its own turn: a decoder that refuses it, or
      // reports it corrupt, names the frame.
      // A decoder refuses a chunk when it is sent, or when its frame is
      // asked for; "no frame yet" and "no more frames" are not refusals.
      int status = avcodec_send_packet(d.context, packet);
      while (status >= 0) {
        status = avcodec_receive_frame(d.context, d.frame);
        if (status < 0) break;
        if ((d.frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || d.frame->decode_error_flags != 0)
          Add(r, {"undecodable frame", index, n, packet->pos, "decoded with errors"});
        ++r.framesDecoded;
      }
      if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_EOF)
        Add(r, {"undecodable frame", index, n, packet->pos, "no decoder reads it"});
    }
    av_packet_unref(packet);
  }
  // What the decoders still hold.
  for (auto& [index, d] : decoders) {
    avcodec_send_packet(d->context, nullptr);
    while (avcodec_receive_frame(d->context, d->frame) >= 0) ++r.framesDecoded;
  }
  av_packet_free(&packet);
  return r;
}

std::string FormatDeepJson(const DeepReport& r) {
  nlohmann::ordered_json j;
  j["opened"] = r.opened;
  if (!r.opened) j["error"] = r.error;
  j["videoChunksChecked"] = r.framesChecked;
  j["framesDecoded"] = r.framesDecoded;
  j["audioChunks"] = r.audioChunks;
  j["problemCount"] = r.findingCount;
  j["noteCount"] = r.noteCount;
  j["problems"] = nlohmann::ordered_json::array();
  for (const DeepFinding& f : r.findings)
    j["problems"].push_back({{"what", f.what},
                             {"stream", f.stream},
                             {"chunk", f.frame},
                             {"offset", f.offset},
                             {"message", f.message},
                             {"note", f.note}});
  return j.dump(2);
}

std::string FormatDeep(const DeepReport& r) {
  if (!r.opened) return "deep: " + r.error + "\n";
  std::string text = "deep: " + std::to_string(r.framesChecked) + " video chunks checked, " +
                     std::to_string(r.framesDecoded) + " frames decoded, " +
                     std::to_string(r.audioChunks) + " audio chunks\n";
  for (const DeepFinding& f : r.findings) {
    text +=
        std::string(f.note ? "  note: " : "  ") + f.what + ": stream " + std::to_string(f.stream);
    if (f.frame >= 0) text += " chunk " + std::to_string(f.frame);
    if (f.offset >= 0) text += " (at " + std::to_string(f.offset) + ")";
    text += ": " + f.message + "\n";
  }
  if (r.findingCount + r.noteCount > r.findings.size())
    text +=
        "  ... and " + std::to_string(r.findingCount + r.noteCount - r.findings.size()) + " more\n";
  if (r.findingCount != 0)
    text += "deep: " + std::to_string(r.findingCount) + " problems\n";
  else if (r.noteCount != 0)
    text += "deep: no problems, " + std::to_string(r.noteCount) + " notes\n";
  else
    text += "deep: the data agrees with the headers and the index\n";
  return text;
}

}  // namespace norv::cli
