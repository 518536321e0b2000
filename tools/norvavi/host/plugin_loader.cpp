#include "tools/norvavi/host/plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace norv::cli {

namespace {

template <typename F>
bool Resolve(void* library, const char* name, F* out, std::string* error) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    *error = std::string("the plug-in has no export ") + name;
    return false;
  }
  *out = reinterpret_cast<F>(symbol);
  return true;
}

}  // namespace

std::string NextToProgram(const std::string& name) {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "./" + name;
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1) + name;
}

std::string DefaultPluginPath() {
  return NextToProgram("NorvAvi.so");
}

bool LoadPlugin(const std::string& path, PluginExports* e, std::string* error) {
  // The library stays loaded for the life of the program, as in a host.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  return Resolve(library, "FileTypeLaunchSettings", &e->FileTypeLaunchSettings, error) &&
         Resolve(library, "FileTypeDefaultSettings", &e->FileTypeDefaultSettings, error) &&
         Resolve(library, "FileTypeGetSettingsInfo", &e->FileTypeGetSettingsInfo, error) &&
         Resolve(library, "FileTypeMakeSameAsPrj", &e->FileTypeMakeSameAsPrj, error) &&
         Resolve(library, "FileTypeEnsureToInit", &e->FileTypeEnsureToInit, error) &&
         Resolve(library, "MakeMovieInitCompression", &e->MakeMovieInitCompression, error) &&
         Resolve(library, "MakeMovieCloseCompression", &e->MakeMovieCloseCompression, error) &&
         Resolve(library, "MakeMovieCompressVideoFrame", &e->MakeMovieCompressVideoFrame, error) &&
         Resolve(library, "MakeMovieCompressAudioFrame", &e->MakeMovieCompressAudioFrame, error) &&
         Resolve(library, "MakeMovieGetContext", &e->MakeMovieGetContext, error) &&
         Resolve(library, "MakeMovieDeleteContext", &e->MakeMovieDeleteContext, error);
}

}  // namespace norv::cli
