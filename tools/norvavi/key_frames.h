// Key frames told from the bitstream, for the salvage's rebuilt index:
// libavcodec's parsers read the picture type (MPEG-4 VOPs, H.264 IDR and
// recovery points, ...), and codecs whose every frame stands alone are
// known from their descriptors (JPEG, DV, uncompressed, the lossless ones).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;

namespace norv::cli {

class KeyFrames {
 public:
  KeyFrames();
  ~KeyFrames();
  KeyFrames(const KeyFrames&) = delete;
  KeyFrames& operator=(const KeyFrames&) = delete;

  // Whether the chunk is a key frame; nullopt when the compression (a
  // four-character code, 0 for uncompressed) is one libavcodec cannot
  // judge. Chunks of one stream come in file order.
  std::optional<bool> operator()(int stream, std::uint32_t compression, const std::uint8_t* data,
                                 std::size_t n);

 private:
  struct Parser;
  std::map<int, std::unique_ptr<Parser>> parsers_;
  std::vector<std::uint8_t> padded_;
};

}  // namespace norv::cli
