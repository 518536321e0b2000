// The salvage over any bytes. It either refuses, writing nothing, or writes
// a file the checker calls sound that holds what the salvage says it kept;
// the input is never touched and no scratch file is left behind. The key
// frames are judged by a stand-in that reads the first byte, so both flags
// and the "cannot tell" answer occur.
#include <unistd.h>

#include <filesystem>

#include "fuzz/avi_fuzz.h"
#include "fuzz/fuzz_file.h"
#include "tools/avicheck/avi_salvage.h"
#include "tools/avicheck/avi_verify.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = "/dev/shm/norv-fuzz-salvage-" + std::to_string(::getpid());
  return folder;
}

std::optional<bool> FirstByte(int, std::uint32_t, const std::uint8_t* data, std::size_t n) {
  if (n == 0 || data[0] == 0xFF) return std::nullopt;
  return (data[0] & 1) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& folder = Folder();
  fs::create_directories(folder);
  const std::string in = folder / "in.avi", out = folder / "out.avi";
  AVI_FUZZ_CHECK(WriteFuzzFile(in, data, size), "cannot write %s", in.c_str());
  const std::vector<std::uint8_t> input(data, data + size);
  const norv::cli::SalvageReport r = norv::cli::SalvageAvi({in, out, ""}, FirstByte);
  AVI_FUZZ_CHECK(ReadWholeFile(in) == input, "the input changed: %s", r.message.c_str());
  if (r.status != 0) {
    AVI_FUZZ_CHECK(r.status == 1 && !fs::exists(out), "status %d: %s", r.status, r.message.c_str());
  } else {
    const std::vector<std::uint8_t> fixed = ReadWholeFile(out);
    BoundedReader reader(fixed.data(), fixed.size());
    const norv::cli::VerifyReport report = norv::cli::VerifyAvi(reader, out);
    AVI_FUZZ_CHECK(report.sound(), "the salvaged file:\n%s",
                   norv::cli::FormatReport(report).c_str());
    AVI_FUZZ_CHECK(report.streams.size() == r.streams.size(), "%s", r.message.c_str());
    for (std::size_t i = 0; i < r.streams.size(); ++i)
      AVI_FUZZ_CHECK(report.streams[i].chunks == r.streams[i].chunks &&
                         report.streams[i].bytes == r.streams[i].bytes,
                     "stream %zu: %s", i, norv::cli::FormatReport(report).c_str());
    AVI_FUZZ_CHECK(r.bytesDropped <= size, "%s", r.message.c_str());
  }
  AVI_FUZZ_CHECK(std::distance(fs::directory_iterator(folder), fs::directory_iterator()) ==
                     (r.status == 0 ? 2 : 1),
                 "files left behind: %s", r.message.c_str());
  fs::remove_all(folder);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max, unsigned seed) {
  return MutateWithWrappingSizes(data, size, max, seed);
}
