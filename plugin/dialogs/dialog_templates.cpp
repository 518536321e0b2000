#include "plugin/dialogs/dialog_templates.h"

namespace {

using norv::ui::ControlKind;
using norv::ui::DialogTemplate;
using norv::ui::kNoId;

constexpr auto kGroup = ControlKind::kGroupBox;
constexpr auto kLabel = ControlKind::kLabel;
constexpr auto kCheck = ControlKind::kCheckBox;
constexpr auto kButton = ControlKind::kPushButton;
constexpr auto kDefault = ControlKind::kDefaultPushButton;
constexpr auto kEdit = ControlKind::kEdit;
constexpr auto kList = ControlKind::kDropDownList;
constexpr auto kTrack = ControlKind::kTrackBar;

constexpr std::uint32_t kDigits = norv::ui::kStyleDigitsOnly;
constexpr std::uint32_t kUnsorted = norv::ui::kStyleUnsorted;
constexpr std::uint32_t kSlider = norv::ui::kStyleHorizontal | norv::ui::kStyleNoTicks;
constexpr std::uint32_t kModal =
    norv::ui::kDialogModalFrame | norv::ui::kDialogCaption | norv::ui::kDialogSystemMenu;

DialogTemplate Dialog(int id, const char* caption, int width, int height) {
  DialogTemplate t;
  t.id = id;
  t.caption = caption;
  t.width = width;
  t.height = height;
  t.fontName = "MS Sans Serif";
  t.fontSize = 8;
  t.style = kModal;
  return t;
}

DialogTemplate AviSettings() {
  DialogTemplate t = Dialog(kAviSettingsTemplate, "AVI Settings", 248, 290);
  t.controls = {
      {kHardwareGroup, kGroup, "Hardware Acceleration", {7, 4, 235, 29}},
      {kHardwareEnable, kCheck, "Enable", {87, 16, 38, 10}},
      {kHardwareOptions, kButton, "Options", {131, 14, 50, 13}},
      {kNoId, kGroup, "Video", {7, 37, 236, 186}},
      {kNoId, kLabel, "Frame Rate:", {34, 51, 40, 8}},
      {kFrameRateList,
       kList,
       "",
       {79, 49, 78, 198},
       kUnsorted,
       {"30", "29.97", "25", "24", "15", "12", "10", "8", "6", "5", "4", "3", "2", "1"}},
      {kNoId, kGroup, "", {67, 64, 147, 46}},
      {kNoId, kLabel, "Width:", {75, 76, 22, 8}},
      {kWidthEdit, kEdit, "", {102, 73, 40, 14}, kDigits},
      {kNoId, kLabel, "Height:", {73, 93, 24, 8}},
      {kHeightEdit, kEdit, "", {102, 91, 40, 14}, kDigits},
      {kLockAspect, kCheck, "Lock Aspect", {159, 73, 46, 13}, norv::ui::kStylePushLike},
      {kAspectXEdit, kEdit, "", {162, 89, 16, 13}, kDigits},
      {kNoId, kLabel, ":", {178, 93, 8, 8}, norv::ui::kStyleCentred},
      {kAspectYEdit, kEdit, "", {185, 89, 16, 13}, kDigits},
      {kNoId, kLabel, "Compression:", {31, 119, 43, 8}},
      {kCompressorList, kList, "", {79, 118, 121, 151}, kUnsorted},
      {kCompressionOptions, kButton, "Options", {202, 118, 35, 13}},
      {kNoId, kLabel, "Color:", {55, 137, 19, 8}},
      {kColourList, kList, "", {79, 136, 121, 142}, kUnsorted},
      {kPaletteButton, kButton, "Palette", {202, 136, 35, 13}},
      {kNoId, kLabel, "Playback Platform:", {14, 156, 60, 8}},
      {kDataRateList,
       kList,
       "",
       {79, 154, 121, 123},
       kUnsorted,
       {"Default", "800 KB/Sec", "700 KB/Sec", "600 KB/Sec", "500 KB/Sec", "400 KB/Sec",
        "300 KB/Sec", "150 KB/Sec", "Custom Option"}},
      {kPlaybackOptions, kButton, "Options", {202, 154, 35, 13}},
      {kNoId, kLabel, "Field Handling:", {26, 173, 48, 8}},
      {kFieldHandlingList,
       kList,
       "",
       {79, 172, 121, 156},
       kUnsorted,
       {"Frame", "Interlaced, Fld Order A", "Interlaced, Fld Order B", "Field 1", "Field 2"}},
      {kSubPixel, kCheck, "Sub Pixel", {79, 193, 45, 10}},
      {kCropping, kButton, "Cropping", {143, 191, 50, 13}},
      {kDvReverse, kCheck, "Reverse Field Order - PAL DV", {79, 207, 110, 10}},
      {kAudioGroup, kGroup, "Audio", {7, 227, 236, 28}},
      {kAudioEnable, kCheck, "Enable", {38, 239, 38, 10}},
      {kAudioSettingsButton, kButton, "Settings", {87, 237, 50, 13}},
      {kAudioOptionsButton, kButton, "Options", {152, 237, 50, 13}},
      {kUnusedPresetButton, kButton, ">>", {223, 247, 13, 14}, norv::ui::kStyleHidden},
      {kLoadPreset, kButton, "Load", {21, 266, 42, 13}},
      {kSavePreset, kButton, "Save", {69, 266, 42, 13}},
      {kIdOk, kDefault, "OK", {139, 266, 42, 13}},
      {kIdCancel, kButton, "Cancel", {186, 266, 42, 13}},
  };
  return t;
}

DialogTemplate CompressionOptions() {
  DialogTemplate t = Dialog(kCompressionOptionsTemplate, "Compression Options", 175, 116);
  t.controls = {
      {kNoId, kGroup, "Quality", {11, 7, 99, 29}},
      {kQualityTrack, kTrack, "", {16, 19, 69, 11}, kSlider},
      {kQualityLabel, kLabel, "999", {90, 19, 13, 8}},
      {kNoId, kGroup, "Key Frame Rate (Frames)", {11, 47, 99, 29}},
      {kKeyFrameTrack, kTrack, "", {16, 60, 69, 11}, kSlider},
      {kKeyFrameLabel, kLabel, "999", {90, 60, 13, 8}},
      {kConfigure, kButton, "Configure", {118, 11, 46, 24}},
      {kIdOk, kDefault, "OK", {40, 94, 46, 14}},
      {kIdCancel, kButton, "Cancel", {90, 94, 45, 14}},
  };
  return t;
}

DialogTemplate AudioSettings() {
  DialogTemplate t = Dialog(kAudioSettingsTemplate, "Audio Settings", 176, 111);
  t.controls = {
      {kNoId, kGroup, "", {7, 4, 160, 70}},
      {1200, kLabel, "Sample Size:", {22, 15, 42, 8}},
      {kSampleSizeList, kList, "", {68, 14, 90, 42}, kUnsorted, {"8", "16"}},
      {1202, kLabel, "Sampling Rate:", {15, 36, 49, 8}},
      {kSampleRateList,
       kList,
       "",
       {68, 34, 90, 84},
       kUnsorted,
       {"11025", "22050", "32000", "44100", "48000"}},
      {1204, kLabel, "Channels:", {32, 55, 32, 8}},
      {kChannelsList,
       kList,
       "",
       {68, 54, 90, 40},
       kUnsorted,
       {"Mono, 1 Channel", "Stereo, 2 Channels"}},
      {kAudioPresetButton, kButton, ">>", {7, 88, 13, 14}},
      {kIdOk, kButton, "OK", {36, 88, 50, 14}},
      {kIdCancel, kButton, "Cancel", {90, 88, 50, 14}},
  };
  return t;
}

DialogTemplate AudioOptions() {
  DialogTemplate t = Dialog(kAudioOptionsTemplate, "Audio Options", 160, 76);
  t.controls = {
      {kNoId, kGroup, "Audio-Video Inteleave Rate (Frames)", {8, 7, 143, 29}},
      {kInterleaveTrack, kTrack, "", {13, 19, 111, 11}, kSlider},
      {kInterleaveLabel, kLabel, "999", {130, 19, 13, 8}},
      {kIdOk, kDefault, "OK", {27, 52, 50, 14}},
      {kIdCancel, kButton, "Cancel", {83, 52, 50, 14}},
  };
  return t;
}

DialogTemplate PlaybackOptions() {
  DialogTemplate t = Dialog(kPlaybackOptionsTemplate, "Playback Options", 160, 77);
  t.controls = {
      {kNoId, kGroup, "Data Transfer Rate", {8, 5, 143, 29}},
      {kDataRateTrack, kTrack, "", {13, 17, 111, 11}, kSlider},
      {kDataRateLabel, kLabel, "9999", {130, 17, 17, 8}},
      {kIdOk, kDefault, "OK", {27, 53, 50, 14}},
      {kIdCancel, kButton, "Cancel", {83, 53, 50, 14}},
  };
  return t;
}

}  // namespace

const norv::ui::DialogTemplate* FindDialogTemplate(int id) {
  static const DialogTemplate templates[] = {AviSettings(), CompressionOptions(), AudioSettings(),
                                             AudioOptions(), PlaybackOptions()};
  for (const DialogTemplate& t : templates)
    if (t.id == id) return &t;
  return nullptr;
}
