// The module's string table: the words of the summary text, the colour list,
// the preset commands and their messages. Numbers are fixed; the host and
// older builds of the dialogs refer to them.
#pragma once

enum StringId : int {
  kStrBits = 1,
  kStrLoad = 3,
  kStrSave = 4,
  kStrSameAsProject = 5,
  kStrFailedToLoad = 6,
  kStrFailedToSave = 7,
  kStrColor332 = 8,
  kStrColor666 = 9,
  kStrColor676 = 10,
  kStrColorOptimum = 11,
  kStrColorPaletteFile = 12,
  kStrNoCompression = 13,
  kStrHardwareAcceleration = 14,
  kStrOn = 15,
  kStrOff = 16,
  kStrVideo = 17,
  kStrFps = 18,
  kStrFrame = 19,
  kStrInterlacedOrderA = 20,
  kStrInterlacedOrderB = 21,
  kStrField1 = 22,
  kStrField2 = 23,
  kStrSubPixel = 24,
  kStrCropping = 25,
  kStrAudio = 26,
  kStrMono = 27,
  kStrStereo = 28,
  kStrNotSameAsProject = 29,
  kStrBrowse = 30,
};

// The text of an entry as the framework's current resource module has it,
// or null for a number it does not hold. On Windows it is loaded from that
// module's string table (string_table.rc in this module), so a host that
// makes another module the resource module gets that module's words, in
// the system's ANSI code page. Elsewhere there are no resources and this
// module's own table answers.
const char* LoadStringEntry(int id);
