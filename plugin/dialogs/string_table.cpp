#include "plugin/dialogs/string_table.h"

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
