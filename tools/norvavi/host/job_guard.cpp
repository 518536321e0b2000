#include "tools/norvavi/host/job_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

namespace norv::cli {

namespace {

// The handler may only touch what is lock-free and write, unlink and _exit;
// the temporaries therefore sit in fixed buffers, each published by its
// count after it is written.
constexpr int kMaxTemporaries = 8;
char g_temporaries[kMaxTemporaries][PATH_MAX];
std::atomic<int> g_temporaryCount{0};
std::atomic<int> g_interrupts{0};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_previousInt, g_previousTerm, g_previousHup;

void Say(const char* text) {
  const ssize_t ignored = ::write(2, text, std::strlen(text));
  (void)ignored;
}

void OnSignal(int sig) {
  if (g_interrupts.fetch_add(1) == 0) {
    g_signal = sig;
    Say("\nnorvavi: interrupted: finishing the movie with the frames written so far "
        "(interrupt again to stop at once)\n");
    return;
  }
  const int n = g_temporaryCount.load();
  for (int i = 0; i < n && i < kMaxTemporaries; ++i)
    if (g_temporaries[i][0] != '\0') ::unlink(g_temporaries[i]);
  Say("norvavi: stopped at once: the movie is left unfinished (norvavi repair can finish it)\n");
  ::_exit(128 + sig);
}

}  // namespace

JobGuard::JobGuard() {
  g_interrupts = 0;
  g_signal = 0;
  g_temporaryCount = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &g_previousInt);
  sigaction(SIGTERM, &action, &g_previousTerm);
  sigaction(SIGHUP, &action, &g_previousHup);  // the terminal closed: finish as for Ctrl-C
}

JobGuard::~JobGuard() {
  // Temporaries first: a late interrupt then has nothing left to remove.
  const int n = g_temporaryCount.load();
  for (int i = 0; i < n && i < kMaxTemporaries; ++i)
    if (g_temporaries[i][0] != '\0') ::unlink(g_temporaries[i]);
  g_temporaryCount = 0;
  if (lockFd_ >= 0) ::close(lockFd_);  // closing releases the lock
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
  sigaction(SIGHUP, &g_previousHup, nullptr);
}

void JobGuard::AddTemporary(const std::string& path) {
  const int n = g_temporaryCount.load();
  if (n >= kMaxTemporaries || path.size() >= PATH_MAX) return;
  std::memcpy(g_temporaries[n], path.c_str(), path.size() + 1);
  g_temporaryCount = n + 1;
}

void JobGuard::Keep(const std::string& path) {
  const int n = g_temporaryCount.load();
  for (int i = 0; i < n && i < kMaxTemporaries; ++i)
    if (path == g_temporaries[i]) g_temporaries[i][0] = '\0';
}

void JobGuard::RemoveTemporary(const std::string& path) {
  const int n = g_temporaryCount.load();
  for (int i = 0; i < n && i < kMaxTemporaries; ++i) {
    if (path != g_temporaries[i]) continue;
    ::unlink(g_temporaries[i]);
    g_temporaries[i][0] = '\0';
  }
}

bool JobGuard::LockFolder(const std::string& folder) {
  // The folder itself carries the lock, so nothing is left in it afterwards.
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // the export will say what is wrong with the folder
  bool said = false;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return true;  // no locks here: go on as a lone job would
    }
    if (!said) {
      std::fprintf(stderr,
                   "norvavi: another norvavi job is making a movie with sound in %s; waiting "
                   "for it to finish (they would share the temporary audio file)\n",
                   folder.empty() ? "." : folder.c_str());
      said = true;
    }
    if (Interrupted()) {
      ::close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = fd;
  return true;
}

bool JobGuard::Interrupted() {
  return g_interrupts.load() > 0;
}

int JobGuard::Signal() {
  return g_signal.load();
}

}  // namespace norv::cli
