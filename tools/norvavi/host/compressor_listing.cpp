#include "tools/norvavi/host/compressor_listing.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/vfw/vfw.h"

namespace norv::cli {

namespace {

constexpr DWORD kIndeo31 = MakeFourCC("iv31");  // never listed by the settings dialog
constexpr DWORD kDv = MakeFourCC("dvsd");

// An open compressor instance, closed on every way out.
class Instance {
 public:
  Instance(DWORD handler, UINT mode) : hic_(ICOpen(ICTYPE_VIDEO, handler, mode)) {}
  ~Instance() {
    if (hic_ != nullptr) ICClose(hic_);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  HIC get() const { return hic_; }

 private:
  HIC hic_;
};

// An uncompressed bottom-up input format as the movie hands it over: the
// header, and for 8 bits a colour table of 256 entries.
std::vector<std::uint8_t> InputFormat(int width, int height, int bits) {
  std::vector<std::uint8_t> block(sizeof(BITMAPINFOHEADER) + (bits == 8 ? 256 * 4 : 0), 0);
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biSizeImage = static_cast<DWORD>(((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4 *
                                     static_cast<std::uint64_t>(height));
  if (bits == 8) h.biClrUsed = h.biClrImportant = 256;
  std::memcpy(block.data(), &h, sizeof h);
  return block;
}

struct Answer {
  bool takes = false;
  BITMAPINFOHEADER output{};
  std::uint64_t maxBytes = 0;
};

// Asks the compressor for its output format for such frames and whether it
// can compress them into it.
Answer Ask(HIC hic, int width, int height, int bits) {
  Answer a;
  std::vector<std::uint8_t> in = InputFormat(width, height, bits);
  auto* inHeader = reinterpret_cast<BITMAPINFOHEADER*>(in.data());
  const LRESULT size = ICCompressGetFormatSize(hic, inHeader);
  if (size < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) || size > (1 << 20)) return a;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(size), 0);
  if (bits == 8) std::memcpy(out.data(), in.data(), std::min(out.size(), in.size()));
  auto* outHeader = reinterpret_cast<BITMAPINFOHEADER*>(out.data());
  if (ICCompressGetFormat(hic, inHeader, outHeader) != ICERR_OK) return a;
  if (ICCompressQuery(hic, inHeader, outHeader) != ICERR_OK) return a;
  a.takes = true;
  a.output = *outHeader;
  const LRESULT most = ICCompressGetSize(hic, inHeader, outHeader);
  a.maxBytes = most > 0 ? static_cast<std::uint64_t>(most) : 0;
  return a;
}

std::string LowBytes(const WCHAR* text, std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count && text[i] != 0; ++i) s += static_cast<char>(text[i] & 0xFF);
  return s;
}

}  // namespace

std::string FourccString(std::uint32_t handler) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((handler >> (8 * i)) & 0xFF);
    s += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return s;
}

const std::vector<std::pair<int, int>>& ProbeSizes() {
  static const std::vector<std::pair<int, int>> sizes = {{160, 120}, {320, 240}, {640, 480},
                                                         {752, 480}, {720, 480}, {720, 576}};
  return sizes;
}

bool MakesKeyFramesOnly(std::uint32_t handler) {
  Instance query(handler, ICMODE_QUERY);
  ICINFO info{};
  return query.get() != nullptr && ICGetInfo(query.get(), &info, sizeof info) != 0 &&
         (info.dwFlags & VIDCF_TEMPORAL) == 0;
}

bool DescribeCompressor(std::uint32_t handler, CompressorDescription* d) {
  ICINFO info{};
  {
    Instance query(handler, ICMODE_QUERY);
    if (query.get() == nullptr || ICGetInfo(query.get(), &info, sizeof info) == 0 ||
        info.fccType != ICTYPE_VIDEO)
      return false;
  }
  *d = CompressorDescription{};
  d->handler = info.fccHandler;
  d->handlerText = FourccString(info.fccHandler);
  d->name = LowBytes(info.szName, std::size(info.szName));
  d->description = LowBytes(info.szDescription, std::size(info.szDescription));
  d->quality = (info.dwFlags & VIDCF_QUALITY) != 0;
  d->temporal = (info.dwFlags & VIDCF_TEMPORAL) != 0;
  Instance hic(d->handler, ICMODE_COMPRESS);
  if (hic.get() == nullptr) return false;
  d->configures = ICQueryConfigure(hic.get());
  d->defaultQuality = static_cast<int>(ICGetDefaultQuality(hic.get()));
  d->defaultKeyFrameEvery = static_cast<int>(ICGetDefaultKeyFrameRate(hic.get()));
  for (const auto& [w, h] : ProbeSizes()) {
    const Answer eight = Ask(hic.get(), w, h, 8);
    const Answer full = Ask(hic.get(), w, h, 24);
    d->takes8 = d->takes8 || (eight.takes && eight.output.biBitCount == 8);
    d->takes24 = d->takes24 || full.takes;
    if (full.takes && d->outputBits == 0) d->outputBits = full.output.biBitCount;
    if (eight.takes || full.takes) d->sizes.emplace_back(w, h);
  }
  return true;
}

std::vector<CompressorDescription> ListCompressors() {
  std::vector<CompressorDescription> list;
  for (DWORD index = 0;; ++index) {
    ICINFO enumerated{};
    if (!ICInfo(0, index, &enumerated)) break;
    if (enumerated.fccType != ICTYPE_VIDEO || enumerated.fccHandler == kIndeo31) continue;
    CompressorDescription d;
    if (DescribeCompressor(enumerated.fccHandler, &d)) list.push_back(std::move(d));
  }
  return list;
}

CompressorFit CheckCompressorInput(std::uint32_t handler, int width, int height, int bits,
                                   std::uint64_t* frameBytes, bool* fixedFrameBytes) {
  Instance hic(handler, ICMODE_COMPRESS);
  if (hic.get() == nullptr) return CompressorFit::kNotInstalled;
  const Answer a = Ask(hic.get(), width, height, bits);
  if (!a.takes) return CompressorFit::kRefused;
  // DV frames all have the size its format names; others are bounded only.
  const bool fixed = a.output.biCompression == kDv && bits == 24;
  if (frameBytes != nullptr) *frameBytes = fixed ? a.output.biSizeImage : a.maxBytes;
  if (fixedFrameBytes != nullptr) *fixedFrameBytes = fixed;
  return CompressorFit::kTakes;
}

}  // namespace norv::cli
