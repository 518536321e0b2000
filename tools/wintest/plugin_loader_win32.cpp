// The plug-in loader of a Windows host: LoadLibrary and GetProcAddress. Every
// export is looked up by name and by its ordinal, and both must agree.
#include <windows.h>

#include "tools/norvavi/host/plugin_loader.h"

namespace norv::cli {

namespace {

template <typename F>
bool Resolve(HMODULE library, const char* name, WORD ordinal, F* out, std::string* error) {
  const FARPROC byName = GetProcAddress(library, name);
  const FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
  if (byName == nullptr) {
    *error = std::string("the plug-in has no export ") + name;
    return false;
  }
  if (byOrdinal != byName) {
    *error = std::string("the plug-in's ordinal ") + std::to_string(ordinal) + " is not " + name;
    return false;
  }
  *out = reinterpret_cast<F>(reinterpret_cast<void*>(byName));
  return true;
}

}  // namespace

std::string DefaultPluginPath() {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return "NorvAvi.dll";
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "NorvAvi.dll";
}

bool LoadPlugin(const std::string& path, PluginExports* e, std::string* error) {
  // The library stays loaded for the life of the program, as in a host.
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    *error = "cannot load " + path + ": error " + std::to_string(GetLastError());
    return false;
  }
  return Resolve(library, "FileTypeLaunchSettings", 1, &e->FileTypeLaunchSettings, error) &&
         Resolve(library, "FileTypeDefaultSettings", 2, &e->FileTypeDefaultSettings, error) &&
         Resolve(library, "FileTypeGetSettingsInfo", 3, &e->FileTypeGetSettingsInfo, error) &&
         Resolve(library, "FileTypeMakeSameAsPrj", 4, &e->FileTypeMakeSameAsPrj, error) &&
         Resolve(library, "FileTypeEnsureToInit", 5, &e->FileTypeEnsureToInit, error) &&
         Resolve(library, "MakeMovieInitCompression", 6, &e->MakeMovieInitCompression, error) &&
         Resolve(library, "MakeMovieCloseCompression", 7, &e->MakeMovieCloseCompression, error) &&
         Resolve(library, "MakeMovieCompressVideoFrame", 8, &e->MakeMovieCompressVideoFrame,
                 error) &&
         Resolve(library, "MakeMovieCompressAudioFrame", 9, &e->MakeMovieCompressAudioFrame,
                 error) &&
         Resolve(library, "MakeMovieGetContext", 10, &e->MakeMovieGetContext, error) &&
         Resolve(library, "MakeMovieDeleteContext", 11, &e->MakeMovieDeleteContext, error);
}

}  // namespace norv::cli
