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

// The text of an entry, or null for a number the table does not hold.
const char* LoadStringEntry(int id);
