// The plug-in as a host sees it: a library loaded at run time and its
// eleven exports, nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32_types.h"
#include "plugin/host/movie_request.h"
#include "plugin/host/project_settings.h"

namespace norv::cli {

struct PluginExports {
  using Session = void*;
  std::int32_t(NORV_STDCALL* FileTypeLaunchSettings)(std::uint32_t, AviSettings*,
                                                     const ProjectSettings*, HWND) = nullptr;
  std::int32_t(NORV_STDCALL* FileTypeDefaultSettings)(std::uint32_t, AviSettings*,
                                                      std::uint32_t) = nullptr;
  std::int32_t(NORV_STDCALL* FileTypeGetSettingsInfo)(std::uint32_t, char*, std::uint32_t,
                                                      const AviSettings*,
                                                      const ProjectSettings*) = nullptr;
  std::int32_t(NORV_STDCALL* FileTypeMakeSameAsPrj)(std::uint32_t, AviSettings*,
                                                    const ProjectSettings*) = nullptr;
  std::int32_t(NORV_STDCALL* FileTypeEnsureToInit)() = nullptr;
  std::int32_t(NORV_STDCALL* MakeMovieInitCompression)(Session, std::uint32_t, std::int32_t,
                                                       std::uint32_t*) = nullptr;
  std::int32_t(NORV_STDCALL* MakeMovieCloseCompression)(Session, std::uint32_t) = nullptr;
  std::int32_t(NORV_STDCALL* MakeMovieCompressVideoFrame)(Session, const std::uint8_t*,
                                                          std::uint32_t*) = nullptr;
  std::int32_t(NORV_STDCALL* MakeMovieCompressAudioFrame)(Session, const AudioBlock*,
                                                          std::uint32_t*) = nullptr;
  Session(NORV_STDCALL* MakeMovieGetContext)(const MovieRequest*) = nullptr;
  void(NORV_STDCALL* MakeMovieDeleteContext)(Session*) = nullptr;
};

// Loads the library and resolves every export; false with `error` set when
// the file cannot be loaded or an export is missing.
bool LoadPlugin(const std::string& path, PluginExports* exports, std::string* error);

// The file `name` beside the running program.
std::string NextToProgram(const std::string& name);
// NorvAvi.so beside the running program.
std::string DefaultPluginPath();

}  // namespace norv::cli
