#include "plugin/resources/string_table.h"

#if defined(_WIN32)
#include <mutex>
#include <string>
#include <unordered_map>

#include "plugin/resources/narrow_text.h"
#include "plugin/resources/resource_module.h"

const char* LoadStringEntry(int id) {
  // With no buffer, LoadStringW points into the module's own resource (not
  // zero-terminated) and returns the length; zero means no such entry.
  const WCHAR* wide = nullptr;
  const int length = LoadStringW(CurrentResourceModule(), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&wide), 0);
  if (length <= 0 || wide == nullptr) return nullptr;
  // Callers keep the text as long as they like, as they do the table's:
  // each distinct text is converted once and kept for the module's life.
  static std::mutex lock;
  static std::unordered_map<std::wstring, std::string> narrow;
  const std::lock_guard<std::mutex> hold(lock);
  std::wstring key(wide, static_cast<std::size_t>(length));
  auto it = narrow.find(key);
  if (it == narrow.end())
    it = narrow.emplace(key, NarrowFromWide(wide, static_cast<std::size_t>(length))).first;
  return it->second.c_str();
}

#else

namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kEntries[] = {
    {kStrBits, "Bits"},
    {kStrLoad, "Load"},
    {kStrSave, "Save"},
    {kStrSameAsProject, "Same As Project"},
    {kStrFailedToLoad, "Failed to load."},
    {kStrFailedToSave, "Failed to save."},
    {kStrColor332, "8 Bits, 3-3-2 Bits"},
    {kStrColor666, "8 Bits, 6-6-6 Levels"},
    {kStrColor676, "8 Bits, 6-7-6 Levels"},
    {kStrColorOptimum, "8 Bits, Common Optimum"},
    {kStrColorPaletteFile, "8 Bits, User Select Palette"},
    {kStrNoCompression, "No Compression"},
    {kStrHardwareAcceleration, "Hardware Acceleration"},
    {kStrOn, "ON"},
    {kStrOff, "OFF"},
    {kStrVideo, "Video"},
    {kStrFps, "FPS"},
    {kStrFrame, "Frame"},
    {kStrInterlacedOrderA, "Interlaced, Fld Order A"},
    {kStrInterlacedOrderB, "Interlaced, Fld Order B"},
    {kStrField1, "Field 1"},
    {kStrField2, "Field 2"},
    {kStrSubPixel, "SubPixel"},
    {kStrCropping, "Cropping"},
    {kStrAudio, "Audio"},
    {kStrMono, "Mono"},
    {kStrStereo, "Stereo"},
    {kStrNotSameAsProject, "Not Same As Project"},
    {kStrBrowse, "Browse"},
};

}  // namespace

const char* LoadStringEntry(int id) {
  for (const Entry& e : kEntries)
    if (e.id == id) return e.text;
  return nullptr;
}

#endif
