// The repair over any bytes, to another file and in place. It either
// refuses, leaving the input as it was and writing nothing, or writes a file
// that the checker calls sound, holding what the repair says it kept, and
// that a second repair takes for finished; in place it does exactly what it
// does to another file, and no scratch file is left behind either way.
#include <unistd.h>

#include <filesystem>

#include "fuzz/avi_fuzz.h"
#include "tools/avicheck/avi_repair.h"
#include "tools/avicheck/avi_verify.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStillUnsound = "would still not be sound: ";

// Made for each input and removed after it (libFuzzer does not always run
// exit handlers); a failing input leaves its files there to look at.
const fs::path& Folder() {
  static const fs::path folder = "/dev/shm/norv-fuzz-repair-" + std::to_string(::getpid());
  return folder;
}

std::size_t FilesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  AVI_FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0,
                 "cannot write %s", path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using norv::cli::RepairAvi;
  const fs::path& folder = Folder();
  fs::create_directories(folder);
  const std::string in = folder / "in.avi", out = folder / "out.avi", again = folder / "again.avi";
  Write(in, data, size);
  const std::vector<std::uint8_t> input(data, data + size);

  const norv::cli::RepairResult copy = RepairAvi({in, out, false});
  AVI_FUZZ_CHECK(ReadWholeFile(in) == input, "the input changed (status %d: %s)", copy.status,
                 copy.message.c_str());
  std::vector<std::uint8_t> fixed;
  if (copy.status != 0) {
    AVI_FUZZ_CHECK(copy.status == 1, "status %d: %s", copy.status, copy.message.c_str());
    AVI_FUZZ_CHECK(copy.message.find("nothing changed") != std::string::npos, "%s",
                   copy.message.c_str());
    AVI_FUZZ_CHECK(FilesIn(folder) == 1, "a refusal left files behind: %s", copy.message.c_str());
    // A finished file refused as unsound: the fault came with the input,
    // the repair did not make it.
    const std::size_t unsound = copy.message.find(kStillUnsound);
    if (unsound != std::string::npos) {
      BoundedReader reader(data, size);
      const norv::cli::VerifyReport before = norv::cli::VerifyAvi(reader, in);
      const std::string problem = copy.message.substr(unsound + std::strlen(kStillUnsound));
      bool found = before.problemCount > before.problems.size();
      for (const norv::cli::VerifyFinding& p : before.problems)
        found = found || problem.rfind(p.field + " (at " + std::to_string(p.offset) + ")", 0) == 0;
      AVI_FUZZ_CHECK(found, "the repair made a fault the input did not have: %s\ninput:\n%s",
                     problem.c_str(), norv::cli::FormatReport(before).c_str());
    }
  } else {
    fixed = ReadWholeFile(out);
    BoundedReader reader(fixed.data(), fixed.size());
    const norv::cli::VerifyReport report = norv::cli::VerifyAvi(reader, out);
    AVI_FUZZ_CHECK(report.sound(), "%s\nthe repaired file:\n%s", copy.message.c_str(),
                   norv::cli::FormatReport(report).c_str());
    std::uint64_t frames = 0, audioBytes = 0, chunks = 0;
    bool firstVideo = true;
    for (const norv::cli::VerifiedStream& s : report.streams) {
      chunks += s.chunks;
      if (s.type == "vids" && firstVideo) frames = s.chunks, firstVideo = false;
      if (s.type == "auds") audioBytes += s.bytes;
    }
    AVI_FUZZ_CHECK(chunks == copy.chunksKept && frames == copy.videoFrames &&
                       audioBytes == copy.audioBytes && report.records == copy.recordsKept,
                   "%s\nthe repaired file:\n%s", copy.message.c_str(),
                   norv::cli::FormatReport(report).c_str());
    AVI_FUZZ_CHECK(copy.bytesDropped <= size, "%s", copy.message.c_str());
    const norv::cli::RepairResult second = RepairAvi({out, again, false});
    AVI_FUZZ_CHECK(second.status == 1 && second.message.find("finished") != std::string::npos,
                   "a repaired file repaired again: %s", second.message.c_str());
    AVI_FUZZ_CHECK(FilesIn(folder) == 2, "files left behind: %s", copy.message.c_str());
  }

  const norv::cli::RepairResult inPlace = RepairAvi({in, "", true});
  AVI_FUZZ_CHECK(inPlace.status == copy.status, "in place %d (%s), to another file %d (%s)",
                 inPlace.status, inPlace.message.c_str(), copy.status, copy.message.c_str());
  AVI_FUZZ_CHECK(ReadWholeFile(in) == (copy.status == 0 ? fixed : input),
                 "in place differs from to another file: %s", inPlace.message.c_str());
  AVI_FUZZ_CHECK(FilesIn(folder) == (copy.status == 0 ? 2u : 1u), "files left behind: %s",
                 inPlace.message.c_str());
  fs::remove_all(folder);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max, unsigned seed) {
  return MutateWithWrappingSizes(data, size, max, seed);
}
