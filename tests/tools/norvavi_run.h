// The norvavi of this build, shell commands judged by their exit status,
// and ffmpeg's clips and its view of what we write.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace norv::test {

inline const std::string kNorvavi = std::string(NORV_BUILD_DIR) + "/norvavi";

// Runs a shell command: its exit status, and its standard output in `out`.
inline int Status(const std::string& command, std::string* out = nullptr) {
  int status = -1;
  const std::string text = RunCommand(command, &status);
  if (out != nullptr) *out = text;
  return status;
}

// Runs a shell command: success when it exits with 0, else the status and its output.
inline ::testing::AssertionResult Runs(const std::string& command) {
  std::string out;
  const int status = Status(command, &out);
  if (status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << command << " exited with " << status << "\n" << out;
}

// Runs `norvavi make ARGS` under bash (the arguments may redirect): its exit
// status, and what it says on either stream in `said`.
inline int Make(const std::string& args, std::string* said = nullptr) {
  std::string quoted = "'";
  for (char ch : kNorvavi + " make " + args) quoted += ch == '\'' ? "'\\''" : std::string(1, ch);
  return Status("bash -c " + quoted + "' 2>&1", said);
}

// A clip made once per build folder (ffmpeg's encoders are deterministic),
// written under a private name first so parallel tests never read half of one.
inline std::string Clip(const std::string& name, const std::string& ffmpegArgs) {
  const std::filesystem::path dir = std::filesystem::path(NORV_BUILD_DIR) / "test-clips";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / name).string();
  if (!std::filesystem::exists(path)) {
    const std::string part = (dir / (std::to_string(::getpid()) + "-" + name)).string();
    EXPECT_TRUE(Runs("ffmpeg -v error -y " + ffmpegArgs + " " + part + " 2>&1")) << ffmpegArgs;
    std::filesystem::rename(part, path);
  }
  return path;
}

// ffprobe's view of the first stream `stream` selects: every key=value it
// prints ("" for a key it does not).
inline std::map<std::string, std::string> Probe(const std::string& path,
                                                const std::string& stream) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + stream +
                                      " -count_packets -show_streams -of "
                                      "default=noprint_wrappers=1 " +
                                      path + " 2>/dev/null"));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) fields.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return fields;
}

// How close two videos are (mean PSNR in dB, 1000 when equal), as ffmpeg
// measures it. Each is an input as ffmpeg takes it ("-i FILE", options
// first); each filter (ending in a comma) readies its input first.
inline double Psnr(const std::string& a, const std::string& b, const std::string& filterA = "",
                   const std::string& filterB = "") {
  const std::string psnr = RunCommand(
      "ffmpeg -v info " + a + " " + b + " -lavfi \"[0:v]" + filterA + "format=bgr24[a];[1:v]" +
      filterB + "format=bgr24[b];[a][b]psnr\" -f null - 2>&1 | grep -o 'average:[^ ]*'");
  EXPECT_FALSE(psnr.empty());
  const std::string value = psnr.empty() ? "0" : psnr.substr(8, psnr.find_first_of(" \n") - 8);
  return value == "inf" ? 1000 : std::stod(value);
}

// The sound as ffmpeg decodes it, mixed to one channel, 16-bit; `options`
// (such as "-ar 44100") shape the output.
inline std::vector<std::int16_t> DecodedSound(const std::string& path,
                                              const std::string& options = "") {
  const auto raw = FfmpegDecode(path, "-map 0:a -ac 1 " + options + " -f s16le -acodec pcm_s16le");
  std::vector<std::int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

// A command in the background, its standard error in a file.
class Background {
 public:
  Background(const std::string& command, const std::string& errFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string line = "exec " + command + " 2>" + errFile;
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), Wait();
  }
  void Signal(int sig) const { ::kill(pid_, sig); }
  // The exit code, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

// Waits (up to 60 s) until the condition holds.
template <typename F>
bool WaitFor(F condition) {
  for (int i = 0; i < 600; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace norv::test
