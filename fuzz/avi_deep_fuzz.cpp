// verify --deep and the salvage's key-frame judge over any bytes:
// libavcodec decodes every video chunk the file names and its parsers read
// the picture types. Nothing may crash or hang, the counts must agree with
// one another (not frames against chunks: a chunk may hold two pictures,
// as packed MPEG-4 does), and a salvage judged by the real parsers still writes only
// files the checker calls sound.
#include <unistd.h>

#include <filesystem>

#include "fuzz/avi_fuzz.h"
#include "fuzz/fuzz_file.h"
#include "tools/avicheck/avi_salvage.h"
#include "tools/avicheck/avi_verify.h"
#include "tools/norvavi/deep_check.h"
#include "tools/norvavi/key_frames.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = "/dev/shm/norv-fuzz-deep-" + std::to_string(::getpid());
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  av_log_set_level(AV_LOG_QUIET);  // the decoders' complaints are the point of the input
  // libavformat allocates a LIST 'INFO' tag at its declared size, even past
  // the file's end (ffprobe does the same): capped here so a fuzzed size
  // reads as a failed allocation, not as running out of memory.
  av_max_alloc(64 << 20);
  const fs::path& folder = Folder();
  fs::create_directories(folder);
  const std::string in = folder / "in.avi", out = folder / "out.avi";
  AVI_FUZZ_CHECK(WriteFuzzFile(in, data, size), "cannot write %s", in.c_str());
  const norv::cli::DeepReport deep = norv::cli::DeepCheck(in);
  AVI_FUZZ_CHECK(deep.opened || !deep.error.empty(), "not opened, and no reason given");
  AVI_FUZZ_CHECK(deep.findings.size() <= deep.findingCount + deep.noteCount, "%s",
                 norv::cli::FormatDeep(deep).c_str());

  norv::cli::KeyFrames judge;
  const norv::cli::SalvageReport r = norv::cli::SalvageAvi({in, out, ""}, std::ref(judge));
  if (r.status == 0) {
    const std::vector<std::uint8_t> fixed = ReadWholeFile(out);
    BoundedReader reader(fixed.data(), fixed.size());
    const norv::cli::VerifyReport report = norv::cli::VerifyAvi(reader, out);
    AVI_FUZZ_CHECK(report.sound(), "the salvaged file:\n%s",
                   norv::cli::FormatReport(report).c_str());
  } else {
    AVI_FUZZ_CHECK(r.status == 1 && !fs::exists(out), "status %d: %s", r.status, r.message.c_str());
  }
  fs::remove_all(folder);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max, unsigned seed) {
  return MutateWithWrappingSizes(data, size, max, seed);
}
