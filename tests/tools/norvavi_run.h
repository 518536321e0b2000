// The norvavi of this build, and shell commands judged by their exit status.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

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
