// The module's dialog templates, as resources: every control with its
// identifier, caption and rectangle in dialog units, and the initial items
// of the lists. Template and control numbers are fixed.
#pragma once

#include "platform/ui/dialog_template.h"

enum DialogTemplateId : int {
  kAviSettingsTemplate = 5000,
  kCompressionOptionsTemplate = 107,
  kAudioSettingsTemplate = 6000,
  kAudioOptionsTemplate = 108,
  kPlaybackOptionsTemplate = 6003,
};

// Shared by every dialog.
enum : int {
  kIdOk = 1,
  kIdCancel = 2,
};

// AVI Settings (5000).
enum AviSettingsControl : int {
  kHardwareGroup = 7005,
  kHardwareEnable = 7007,
  kHardwareOptions = 6016,
  kFrameRateList = 5000,
  kWidthEdit = 5001,
  kHeightEdit = 5002,
  kLockAspect = 6030,
  kAspectXEdit = 6031,
  kAspectYEdit = 6032,
  kCompressorList = 5003,
  kCompressionOptions = 5005,
  kColourList = 5004,
  kPaletteButton = 5008,
  kDataRateList = 5007,
  kPlaybackOptions = 5006,
  kFieldHandlingList = 6009,
  kSubPixel = 6024,
  kCropping = 6014,
  kDvReverse = 12003,
  kAudioGroup = 6012,
  kAudioEnable = 6013,
  kAudioSettingsButton = 6011,
  kAudioOptionsButton = 6015,
  kUnusedPresetButton = 6034,
  kLoadPreset = 12000,
  kSavePreset = 12001,
};

// Pop-up menu commands of the preset menus.
enum PresetCommand : int {
  kPresetLoad = 12000,
  kPresetSave = 12001,
  kPresetSameAsProject = 12002,
  kPresetListedFirst = 7010,
  kPresetListedLast = 7029,
  kPresetBrowse = 7030,
};

// Compression Options (107).
enum CompressionOptionsControl : int {
  kQualityTrack = 6000,
  kQualityLabel = 6001,
  kKeyFrameTrack = 6002,
  kKeyFrameLabel = 6003,
  kConfigure = 1017,
};

// Audio Settings (6000).
enum AudioSettingsControl : int {
  kSampleSizeList = 1201,
  kSampleRateList = 1203,
  kChannelsList = 1205,
  kAudioPresetButton = 6034,
};

// Audio Options (108) and Playback Options (6003).
enum SliderControl : int {
  kInterleaveTrack = 6004,
  kInterleaveLabel = 6005,
  kDataRateTrack = 6002,
  kDataRateLabel = 6003,
};

// The template of that number, or null.
const norv::ui::DialogTemplate* FindDialogTemplate(int id);
