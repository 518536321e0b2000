#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "tests/support/guarded_frame.h"

namespace norv::test {

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

bool RunMovie(MovieSetup& setup, std::uint32_t frames, std::vector<int>* results) {
  const auto& p = Plugin();
  void* session = p.MakeMovieGetContext(&setup.request);
  if (session == nullptr) return false;
  std::uint32_t limit = 0;
  p.MakeMovieInitCompression(session, 0, 0, &limit);
  for (std::uint32_t i = 0; i < frames; ++i) {
    // The host's frame ends at a page boundary and is the host's: nothing
    // may read past it or write into it.
    const auto bytes = PatternFrame(setup.settings.width, setup.settings.height, i);
    const GuardedFrame frame(bytes);
    std::uint32_t done = 0;
    int r = p.MakeMovieCompressVideoFrame(session, frame.data(), &done);
    if (results != nullptr) results->push_back(r);
    if (!frame.Holds(bytes)) ADD_FAILURE() << "frame " << i << " was written to";
  }
  p.MakeMovieCloseCompression(session, 0);
  p.MakeMovieDeleteContext(&session);
  // Every AVI file the suite makes must pass the checker (raw streams have no RIFF).
  char magic[4] = {};
  std::ifstream(setup.path, std::ios::binary).read(magic, 4);
  if (std::string(magic, 4) == "RIFF") {
    const std::string report = VerifyMovie(setup.path);
    if (!report.empty()) ADD_FAILURE() << "norvavi verify " << setup.path << ":\n" << report;
  }
  return true;
}

}  // namespace norv::test
