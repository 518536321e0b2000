#include "tools/norvavi/key_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace norv::cli {

struct KeyFrames::Parser {
  AVCodecID codec = AV_CODEC_ID_NONE;
  bool intraOnly = false;
  AVCodecContext* context = nullptr;
  AVCodecParserContext* parser = nullptr;
  ~Parser() {
    if (parser != nullptr) av_parser_close(parser);
    avcodec_free_context(&context);
  }
};

KeyFrames::KeyFrames() = default;
KeyFrames::~KeyFrames() = default;

std::optional<bool> KeyFrames::operator()(int stream, std::uint32_t compression,
                                          const std::uint8_t* data, std::size_t n) {
  auto& slot = parsers_[stream];
  if (!slot) {
    slot = std::make_unique<Parser>();
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    slot->codec = compression == 0 ? AV_CODEC_ID_RAWVIDEO : av_codec_get_id(tags, compression);
    const AVCodecDescriptor* d = avcodec_descriptor_get(slot->codec);
    slot->intraOnly = d != nullptr && (d->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
    if (!slot->intraOnly && slot->codec != AV_CODEC_ID_NONE) {
      slot->parser = av_parser_init(slot->codec);
      slot->context = avcodec_alloc_context3(nullptr);
      if (slot->context != nullptr) slot->context->codec_id = slot->codec;
    }
  }
  Parser& p = *slot;
  if (p.intraOnly) return true;
  if (p.parser == nullptr || p.context == nullptr) return std::nullopt;
  // Parsers read ahead of the data's end: they are handed a copy followed
  // by the zero padding libavcodec asks of its inputs.
  padded_.assign(data, data + n);
  padded_.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::uint8_t* out = nullptr;
  int outSize = 0;
  p.parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
  av_parser_parse2(p.parser, p.context, &out, &outSize, padded_.data(), static_cast<int>(n),
                   AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  // Parsers that mark key frames say so; the others leave the picture type.
  if (p.parser->key_frame >= 0) return p.parser->key_frame == 1;
  return p.parser->pict_type == AV_PICTURE_TYPE_I;
}

}  // namespace norv::cli
