// Shared pieces of the tests: a recording message sink, a scratch folder,
// a known host state, file and command helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace norv::test {

// Records every message box while alive (and answers OK).
class RecordedMessages {
 public:
  RecordedMessages();
  ~RecordedMessages();
  const std::vector<std::string>& texts() const { return texts_; }
  void clear() { texts_.clear(); }

 private:
  static int Sink(void* self, const char* text, const char* caption, unsigned type);
  std::vector<std::string> texts_;
};

// A fresh folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Puts the host stand-in into a known state (PAL, no hardware, 720x576@25,
// a profile file of its own) and restores that state at the end.
class HostScope {
 public:
  HostScope();
  ~HostScope();
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
};

// A file's bytes, or its text; empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::string ReadText(const std::string& path);
// The names of the files in `dir`, sorted.
std::vector<std::string> Listing(const std::filesystem::path& dir);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Runs a shell command; its standard output, and its exit code in `status`.
std::string RunCommand(const std::string& command, int* status = nullptr);

// Runs `norvavi verify` on a movie: empty when the file is sound, else the report.
std::string VerifyMovie(const std::string& path);
// The same for a movie in memory (written to a scratch file first).
std::string VerifyMovieBytes(const std::vector<std::uint8_t>& bytes);
// What ffmpeg decodes from a file: `output` names the stream and format, e.g.
// "-map 0:a -f s16le"; empty (with a failure) when ffmpeg fails.
std::vector<std::uint8_t> FfmpegDecode(const std::string& path, const std::string& output);
// The video frames ffprobe decodes from a file (`options` go before the
// input, e.g. "-f dv"); -1 when it cannot read it.
int FfprobeFrames(const std::string& path, const std::string& options = "");

// A RIFF file of form `form` holding `chunks` (id, data), each padded to even.
using RiffChunks = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;
std::vector<std::uint8_t> RiffBytes(const std::string& form, const RiffChunks& chunks);
// The data of a PCM 'fmt ' chunk; its block is channels * bits / 8 unless given.
std::vector<std::uint8_t> WaveFormatData(int channels, int rate, int bits, int block = -1);
void PutLe(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size = 4);
// Overwrites the four bytes at `at`, little-endian.
void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::string FourCC(const std::vector<std::uint8_t>& bytes, std::size_t at);

}  // namespace norv::test
