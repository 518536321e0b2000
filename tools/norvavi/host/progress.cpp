#include "tools/norvavi/host/progress.h"

#include <sys/ioctl.h>

#include <cstdio>

namespace norv::cli {

namespace {

std::string ClockText(double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

}  // namespace

Progress::Progress(std::uint32_t total, bool shown) : total_(total), shown_(shown && total > 0) {}

std::string Progress::Line(std::uint32_t done, std::uint32_t total, double elapsed, int columns) {
  constexpr int kWidth = 30;
  const auto filled = static_cast<int>(static_cast<std::uint64_t>(done) * kWidth / total);
  const auto percent = static_cast<unsigned>(static_cast<std::uint64_t>(done) * 100 / total);
  char text[160];
  std::snprintf(text, sizeof text, "[%.*s%*s] %3u%% %u/%u  %s elapsed", filled,
                "##############################", kWidth - filled, "", percent, done, total,
                ClockText(elapsed).c_str());
  std::string line = text;
  if (done > 0 && done < total)
    line += ", " + ClockText(elapsed * static_cast<double>(total - done) / done) + " left";
  const auto room = static_cast<std::size_t>(columns > 1 ? columns - 1 : 0);
  if (room > 0 && line.size() > room) line.erase(0, line.find_first_not_of(' ', kWidth + 2));
  if (room > 0 && line.size() > room) line.resize(room);
  return line;
}

void Progress::Update(std::uint32_t done) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (done < total_ && drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  // Clear to the end of the line: the text can get shorter.
  struct winsize size {};
  const int columns = ::ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  std::fprintf(stderr, "\r%s\033[K", Line(done, total_, elapsed, columns).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace norv::cli
