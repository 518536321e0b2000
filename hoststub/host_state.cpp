#include "hoststub/host_state.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hoststub/norv_host.h"

namespace norv::host {

namespace {

// Made on first use: LoadFromEnvironment runs as a load-time constructor,
// before the dynamic initialisation of this file's globals would.
std::mutex& StateMutex() {
  static std::mutex mutex;
  return mutex;
}

HostState& State() {
  static HostState state;
  return state;
}

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += kSeparator;
  return folder;
}

// The path of this library, or empty.
std::string ThisLibraryPath() {
#if defined(_WIN32)
  HMODULE module = nullptr;
  char path[MAX_PATH];
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ThisLibraryPath), &module) == 0)
    return {};
  const DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThisLibraryPath), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return info.dli_fname;
#endif
}

// The host folder defaults to "host/" beside this library, where the build
// puts the shipped SAMPLES folder.
std::string DefaultFolder() {
  const std::string lib = ThisLibraryPath();
  const auto slash = lib.find_last_of("/\\");
  if (lib.empty()) return std::string(".") + kSeparator + "host" + kSeparator;
  const std::string dir = slash == std::string::npos ? "." : lib.substr(0, slash);
  return dir + kSeparator + "host" + kSeparator;
}

std::string DefaultProfile() {
#if defined(_WIN32)
  const char* home = std::getenv("APPDATA");
  const char* const kRelative = "\\norvavi\\profile.ini";
#else
  const char* home = std::getenv("HOME");
  const char* const kRelative = "/.config/norvavi/profile.ini";
#endif
  if (home == nullptr || *home == '\0') return {};
  return std::string(home) + kRelative;
}

int EnvFlag(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  return std::atoi(v) != 0 ? 1 : 0;
}

__attribute__((constructor)) void LoadFromEnvironment() {
  std::lock_guard lock(StateMutex());
  HostState& s = State();
  s.ntsc = EnvFlag("NORV_HOST_NTSC", 0);
  s.hardware = EnvFlag("NORV_HOST_HARDWARE", 0);
  if (s.ntsc) {
    s.projectWidth = 720;
    s.projectHeight = 480;
    s.projectRateX100 = 2997;
  }
  if (const char* p = std::getenv("NORV_HOST_PROJECT")) {
    int w, h, r;
    if (NorvHostParseProject(p, &w, &h, &r)) {
      s.projectWidth = w;
      s.projectHeight = h;
      s.projectRateX100 = r;
    } else {
      std::fprintf(stderr, "NORV_HOST_PROJECT: expected WIDTHxHEIGHT@RATE, got \"%s\"\n", p);
    }
  }
  const char* folder = std::getenv("NORV_HOST_FOLDER");
  s.folder = WithSeparator(folder != nullptr && *folder ? folder : DefaultFolder());
  const char* profile = std::getenv("NORV_HOST_PROFILE");
  s.profilePath = profile != nullptr && *profile ? profile : DefaultProfile();
}

}  // namespace

std::unique_lock<std::mutex> LockState(HostState** state) {
  std::unique_lock lock(StateMutex());
  *state = &State();
  return lock;
}

}  // namespace norv::host

using norv::host::HostState;
using norv::host::LockState;

extern "C" {

void NorvHostSetNtsc(int ntsc) {
  HostState* s;
  auto lock = LockState(&s);
  s->ntsc = ntsc != 0;
}

void NorvHostSetHardware(int hardware) {
  HostState* s;
  auto lock = LockState(&s);
  s->hardware = hardware != 0;
}

void NorvHostSetProject(int width, int height, int rateX100) {
  HostState* s;
  auto lock = LockState(&s);
  s->projectWidth = width;
  s->projectHeight = height;
  s->projectRateX100 = rateX100;
}

void NorvHostSetFolder(const char* folder) {
  HostState* s;
  auto lock = LockState(&s);
  s->folder = norv::host::WithSeparator(folder != nullptr ? folder : "");
}

void NorvHostSetProfilePath(const char* path) {
  HostState* s;
  auto lock = LockState(&s);
  s->profilePath = path != nullptr ? path : "";
}

void NorvHostSetConfirm(int answer) {
  HostState* s;
  auto lock = LockState(&s);
  s->confirm = answer;
}

int NorvHostConfirmRequests() {
  HostState* s;
  auto lock = LockState(&s);
  return s->confirmRequests;
}

void NorvHostSetDvReverseAvailable(int available) {
  HostState* s;
  auto lock = LockState(&s);
  s->dvReverseAvailable = available;
}

void NorvHostSetPresetPathAnswer(const char* path) {
  HostState* s;
  auto lock = LockState(&s);
  s->presetPath = path != nullptr ? path : "";
}

int NorvHostParseProject(const char* text, int* width, int* height, int* rateX100) {
  if (text == nullptr) return 0;
  int w = 0, h = 0, used = 0;
  double rate = 0;
  if (std::sscanf(text, "%dx%d@%lf%n", &w, &h, &rate, &used) != 3 || text[used] != '\0') return 0;
  if (w < 1 || h < 1 || w > 9999 || h > 9999 || !(rate > 0 && rate <= 1000)) return 0;
  *width = w;
  *height = h;
  *rateX100 = static_cast<int>(rate * 100.0 + 0.5);
  return 1;
}
}
