// The progress line of `norvavi make` on a terminal: a bar, the frames,
// the time spent and the time still to go. Nothing when it is not shown.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace norv::cli {

class Progress {
 public:
  // `shown`: standard error is a terminal and the user did not ask for quiet.
  Progress(std::uint32_t total, bool shown);
  // Redraws the line at most ten times a second, and always for the last frame.
  void Update(std::uint32_t done);
  // Ends the line, where one was drawn.
  void Finish();

  // The line for `done` of `total` after `elapsed` seconds; narrower than
  // `columns` (when above 0), so that it never wraps: the bar goes first,
  // then the end of the text.
  static std::string Line(std::uint32_t done, std::uint32_t total, double elapsed, int columns = 0);

 private:
  using Clock = std::chrono::steady_clock;
  std::uint32_t total_;
  bool shown_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_{};
};

}  // namespace norv::cli
