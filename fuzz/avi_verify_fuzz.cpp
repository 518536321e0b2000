// The AVI checker over any bytes. Besides not crashing: it reads only inside
// the file and within a budget set by its size (so sizes that point
// backwards or wrap around cannot make it loop), the file reader gives it
// the same bytes as memory does (the same report), and its report is
// consistent and valid JSON.
#include <nlohmann/json.hpp>

#include "fuzz/avi_fuzz.h"
#include "fuzz/fuzz_file.h"
#include "tools/avicheck/avi_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = FuzzPath(".avi");
  BoundedReader memory(data, size);
  const norv::cli::VerifyReport report = norv::cli::VerifyAvi(memory, path);
  AVI_FUZZ_CHECK(report.readable && report.fileSize == size, "a readable file of %zu bytes", size);
  AVI_FUZZ_CHECK(report.problems.size() <= report.problemCount, "%zu problems kept of %" PRIu64,
                 report.problems.size(), report.problemCount);
  AVI_FUZZ_CHECK(report.sound() == report.problems.empty(), "sound with problems listed");

  const std::string text = norv::cli::FormatReport(report);
  AVI_FUZZ_CHECK(text.find(report.sound() ? "\nsound\n" : "NOT SOUND") != std::string::npos, "%s",
                 text.c_str());
  const std::string json = norv::cli::FormatReportJson(report);
  const nlohmann::json parsed = nlohmann::json::parse(json);
  AVI_FUZZ_CHECK(parsed["sound"] == report.sound() && parsed["problemCount"] == report.problemCount,
                 "%s", json.c_str());

  if (WriteFuzzFile(path, data, size)) {
    const std::string fromFile = norv::cli::FormatReportJson(norv::cli::VerifyAvi(path));
    AVI_FUZZ_CHECK(fromFile == json, "from the file:\n%s\nfrom memory:\n%s", fromFile.c_str(),
                   json.c_str());
    std::remove(path.c_str());
  }
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max, unsigned seed) {
  return MutateWithWrappingSizes(data, size, max, seed);
}
