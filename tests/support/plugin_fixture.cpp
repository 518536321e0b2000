#include "tests/support/plugin_fixture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace norv::test {
namespace {

// A copy of `bytes` whose last byte is the last byte of a page, with an
// inaccessible page right after it: a reader that strays past the frame
// faults at once instead of reading whatever lies there.
std::shared_ptr<std::uint8_t> GuardedFrame(const std::vector<std::uint8_t>& bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t guard = (bytes.size() + page - 1) / page * page;  // the guard page's offset
  void* map =
      mmap(nullptr, guard + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::runtime_error("cannot map a guarded frame");
  auto* base = static_cast<std::uint8_t*>(map);
  std::shared_ptr<std::uint8_t> frame(
      base + guard - bytes.size(), [base, length = guard + page](auto*) { munmap(base, length); });
  if (mprotect(base + guard, page, PROT_NONE) != 0)
    throw std::runtime_error("cannot guard a frame");
  std::copy(bytes.begin(), bytes.end(), frame.get());
  return frame;
}

}  // namespace

const cli::PluginExports& Plugin() {
  static const cli::PluginExports exports = [] {
    cli::PluginExports e;
    std::string error;
    if (!cli::LoadPlugin(std::string(NORV_BUILD_DIR) + "/NorvAvi.so", &e, &error))
      throw std::runtime_error(error);
    return e;
  }();
  return exports;
}

MovieSetup::MovieSetup(const TempDir& dir, const std::string& name) : path(dir.File(name)) {
  Plugin().FileTypeDefaultSettings(1, &settings, 0);
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.outputPath, path.c_str(), std::min<std::size_t>(path.size(), 259));
  request.version = 1;
  request.settings = &settings;
  SetSpan(0, 1000);
}

void SetFields(AviSettings& s, const std::string& changes) {
  for (std::size_t at = 0; at < changes.size();) {
    const std::size_t end = std::min(changes.find("; ", at), changes.size());
    const std::string line = changes.substr(at, end - at);
    at = end + 2;
    const std::string key = line.substr(0, line.find(' '));
    const char* v = line.c_str() + key.size();
    char fourcc[5] = {};
    if (key == "compressor" && std::sscanf(v, " %4s", fourcc) == 1)
      std::memcpy(&s.compressorHandler, fourcc, 4);
    if (key == "rate") std::sscanf(v, "%f", &s.frameRate);
    if (key == "size") std::sscanf(v, "%dx%d", &s.width, &s.height);
    if (key == "aspect") std::sscanf(v, "%d:%d lock %d", &s.aspectX, &s.aspectY, &s.lockAspect);
    if (key == "colour") std::sscanf(v, "%d", &s.colorFormat);
    if (key == "field") std::sscanf(v, "%d", &s.fieldHandling);
    if (key == "subPixel") std::sscanf(v, "%d", &s.subPixel);
    if (key == "crop") std::sscanf(v, "%d", &s.cropRect[3]);
    if (key == "quality")
      std::sscanf(v, "%d keys %d only %d", &s.quality, &s.keyFrameEvery, &s.keyFramesOnly);
    if (key == "dataRate") std::sscanf(v, "%d %d", &s.dataRateChoice, &s.dataRate);
    if (key == "interleave") std::sscanf(v, "%d", &s.interleaveFrames);
    if (key == "audio")
      std::sscanf(v, "%d %d %u/%u/%u", &s.audioAvailable, &s.audioEnabled, &s.audioFormat[1],
                  &s.audioFormat[2], &s.audioFormat[3]);
    if (key == "hw") std::sscanf(v, "%d", &s.hwAccel);
    if (key == "state") std::sscanf(v, "%u/%u", &s.compressorStateSize, &s.compressorStateCapacity);
  }
}

std::vector<std::uint8_t> PatternFrame(int width, int height, std::uint32_t seed) {
  const std::size_t row = ((static_cast<std::size_t>(width) * 24 + 31) / 8) & ~std::size_t{3};
  std::vector<std::uint8_t> f(row * static_cast<std::size_t>(height));
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : f) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return f;
}

bool RunMovie(MovieSetup& setup, std::uint32_t frames, std::vector<int>* results,
              const FrameSource& frame) {
  const auto& p = Plugin();
  void* session = p.MakeMovieGetContext(&setup.request);
  if (session == nullptr) return false;
  std::uint32_t limit = 0;
  p.MakeMovieInitCompression(session, 0, 0, &limit);
  for (std::uint32_t i = 0; i < frames; ++i) {
    // The frame is the host's: nothing may read past it or write into it.
    const auto bytes =
        frame ? frame(i) : PatternFrame(setup.settings.width, setup.settings.height, i);
    const auto guarded = GuardedFrame(bytes);
    std::uint32_t done = 0;
    int r = p.MakeMovieCompressVideoFrame(session, guarded.get(), &done);
    if (results != nullptr) results->push_back(r);
    if (!std::equal(bytes.begin(), bytes.end(), guarded.get()))
      ADD_FAILURE() << "frame " << i << " was written to";
  }
  p.MakeMovieCloseCompression(session, 0);
  p.MakeMovieDeleteContext(&session);
  // Every AVI file the suite makes must pass the checker (raw streams have no RIFF).
  char magic[4] = {};
  std::ifstream(setup.path, std::ios::binary).read(magic, 4);
  if (std::string_view(magic, 4) == "RIFF") {
    const std::string report = VerifyMovie(setup.path);
    if (!report.empty()) ADD_FAILURE() << "norvavi verify " << setup.path << ":\n" << report;
  }
  return true;
}

}  // namespace norv::test
