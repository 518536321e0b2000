// The two colour conversions of an HD `norvavi make` to MJPG, one 1280x720
// frame at a time: the host's decoded 4:2:0 to bottom-up BGR, and the
// compressor's bottom-up BGR to full-range 4:2:0; each with libswscale as
// configured before libyuv took them over, and with libyuv. One thread each,
// so the ratio is the CPU time saved.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kStride = kWidth * 3;  // a multiple of four already

// Colour bars under a diagonal ramp, bottom-up BGR: content with edges and
// smooth runs, as a rendered frame has.
const std::vector<std::uint8_t>& Bgr() {
  static const std::vector<std::uint8_t> bgr = [] {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(kStride) * kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        std::uint8_t* px = &p[static_cast<std::size_t>(y) * kStride + 3 * x];
        const int bar = x * 7 / kWidth;
        const auto ramp = static_cast<std::uint8_t>((x + y) & 0xFF);
        px[0] = (bar & 1) != 0 ? 0xC0 : ramp;
        px[1] = (bar & 2) != 0 ? 0xC0 : static_cast<std::uint8_t>(y / 3);
        px[2] = (bar & 4) != 0 ? 0xC0 : static_cast<std::uint8_t>(255 - ramp);
      }
    return p;
  }();
  return bgr;
}

struct Planes {
  std::vector<std::uint8_t> y, u, v;
  Planes()
      : y(static_cast<std::size_t>(kWidth) * kHeight),
        u(static_cast<std::size_t>(kWidth / 2) * (kHeight / 2)),
        v(u.size()) {}
};

// The same picture as limited-range BT.601 4:2:0, as an unmarked H.264 clip
// decodes (limited BT.709 stays with libswscale).
const Planes& Yuv() {
  static const Planes planes = [] {
    Planes p;
    libyuv::RGB24ToI420(Bgr().data(), kStride, p.y.data(), kWidth, p.u.data(), kWidth / 2,
                        p.v.data(), kWidth / 2, kWidth, -kHeight);
    return p;
  }();
  return planes;
}

void Report(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_HostYuvToBgrSwscale(benchmark::State& state) {
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_ITU601), 0,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  const Planes& in = Yuv();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kStride) * kHeight);
  const std::uint8_t* src[4] = {in.y.data(), in.u.data(), in.v.data()};
  const int srcStride[4] = {kWidth, kWidth / 2, kWidth / 2};
  std::uint8_t* dst[4] = {out.data() + static_cast<std::size_t>(kHeight - 1) * kStride};
  const int dstStride[4] = {-kStride};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
  }
  sws_freeContext(sws);
  Report(state);
}
BENCHMARK(BM_HostYuvToBgrSwscale)->Unit(benchmark::kMicrosecond);

void BM_HostYuvToBgrLibyuv(benchmark::State& state) {
  const Planes& in = Yuv();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kStride) * kHeight);
  for (auto _ : state) {
    libyuv::I420ToRGB24Matrix(in.y.data(), kWidth, in.u.data(), kWidth / 2, in.v.data(), kWidth / 2,
                              out.data(), kStride, &libyuv::kYuvI601Constants, kWidth, -kHeight);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state);
}
BENCHMARK(BM_HostYuvToBgrLibyuv)->Unit(benchmark::kMicrosecond);

void BM_EncoderBgrToYuvSwscale(benchmark::State& state) {
  av_log_set_level(AV_LOG_FATAL);  // YUVJ420P is "deprecated"; the drivers quiet it too
  SwsContext* sws = sws_alloc_context();
  av_opt_set_int(sws, "srcw", kWidth, 0);
  av_opt_set_int(sws, "srch", kHeight, 0);
  av_opt_set_int(sws, "src_format", AV_PIX_FMT_BGR24, 0);
  av_opt_set_int(sws, "dstw", kWidth, 0);
  av_opt_set_int(sws, "dsth", kHeight, 0);
  av_opt_set_int(sws, "dst_format", AV_PIX_FMT_YUVJ420P, 0);
  av_opt_set_int(sws, "sws_flags", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 0);
  av_opt_set_int(sws, "threads", 1, 0);
  if (sws_init_context(sws, nullptr, nullptr) < 0) {
    sws_freeContext(sws);
    state.SkipWithError("libswscale refused the conversion");
    return;
  }
  const std::vector<std::uint8_t>& in = Bgr();
  Planes out;
  const std::uint8_t* src[4] = {in.data() + static_cast<std::size_t>(kHeight - 1) * kStride};
  const int srcStride[4] = {-kStride};
  std::uint8_t* dst[4] = {out.y.data(), out.u.data(), out.v.data()};
  const int dstStride[4] = {kWidth, kWidth / 2, kWidth / 2};
  for (auto _ : state) {
    sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
    benchmark::DoNotOptimize(out.y.data());
  }
  sws_freeContext(sws);
  Report(state);
}
BENCHMARK(BM_EncoderBgrToYuvSwscale)->Unit(benchmark::kMicrosecond);

void BM_EncoderBgrToYuvLibyuv(benchmark::State& state) {
  const std::vector<std::uint8_t>& in = Bgr();
  Planes out;
  for (auto _ : state) {
    libyuv::RGB24ToJ420(in.data(), kStride, out.y.data(), kWidth, out.u.data(), kWidth / 2,
                        out.v.data(), kWidth / 2, kWidth, -kHeight);
    benchmark::DoNotOptimize(out.y.data());
  }
  Report(state);
}
BENCHMARK(BM_EncoderBgrToYuvLibyuv)->Unit(benchmark::kMicrosecond);

}  // namespace
