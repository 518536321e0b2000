// `norvavi verify`: walks an AVI file's RIFF tree, streamed, and checks
// what readers rely on: sizes against the file and their parents, pad
// bytes, records, every idx1 entry against the chunk it names, stream
// lengths and buffer sizes against the chunks, and how far the audio runs
// ahead of or behind the video along the file.
//
// Problems make the file unsound (exit 1). Notes are reported but do not:
// they describe files readers take without trouble, e.g. a header that
// announces more frames than an export delivered, or a buffer-size hint
// below the largest chunk (readers grow their buffers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norv::cli {

class ByteReader;

struct VerifyFinding {
  std::string field;  // what is wrong, named as a reader would look for it
  std::uint64_t offset = 0;
  std::string message;
};

struct VerifiedStream {
  std::string type;     // 'vids', 'auds', ...
  std::string handler;  // four characters, empty for 0
  std::uint32_t scale = 0, rate = 0, length = 0, suggestedBuffer = 0, sampleSize = 0;
  std::uint32_t blockAlign = 0, bytesPerSecond = 0;  // from an audio 'strf'
  std::uint64_t chunks = 0, bytes = 0, largest = 0;
  std::uint64_t chunksInFirstForm = 0, bytesInFirstForm = 0;
  std::uint64_t dcChunksInFirstForm = 0;  // named '##dc'
};

struct VerifyReport {
  std::string path;
  std::uint64_t fileSize = 0;
  bool readable = false;  // false: `error` says why (exit 2)
  std::string error;

  std::uint32_t riffSize = 0;  // of the 'AVI ' form
  int extensionForms = 0;      // 'AVIX' forms after it (OpenDML)
  // The first form's items in file order: list types and chunk ids, quoted
  // ("'hdrl'", "'JUNK'", "'movi'", "'idx1'").
  std::vector<std::string> layout;
  bool openDml = false;     // 'odml' list or 'indx' chunks
  bool unfinished = false;  // 'movi' left at a declared size of 0

  std::uint32_t totalFrames = 0, streamCount = 0, mainSuggestedBuffer = 0, flags = 0;
  std::vector<VerifiedStream> streams;

  std::uint64_t records = 0, largestRecord = 0;
  bool hasIndex = false;
  std::uint64_t indexEntries = 0;
  bool indexAbsolute = false;  // offsets from the file's start, not the 'movi' code

  bool skewKnown = false;
  double leadMs = 0, lagMs = 0;  // audio ahead of, behind, the video

  std::vector<VerifyFinding> problems;  // the first ones found
  std::uint64_t problemCount = 0;
  std::vector<VerifyFinding> notes;

  bool sound() const { return readable && problemCount == 0; }
};

VerifyReport VerifyAvi(const std::string& path);
// The same walk over any reader; `path` only names the file in the report.
VerifyReport VerifyAvi(ByteReader& file, const std::string& path);

std::string FormatReport(const VerifyReport& report);
std::string FormatReportJson(const VerifyReport& report);

}  // namespace norv::cli
