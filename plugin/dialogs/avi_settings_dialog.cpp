// The frame, size, aspect, field, audio and hardware rows of the AVI Settings
// dialog, its palette file and its OK. The compressor rows are in
// compressor_list.cpp, the preset commands in video_presets.cpp.
#include "plugin/dialogs/avi_settings_dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "platform/ui/message_box.h"
#include "plugin/dialogs/audio_settings_dialog.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/dialogs/slider_dialogs.h"
#include "plugin/host/host_api.h"

using norv::ui::Notification;

namespace {

constexpr const char* kProfileSection = "Last Make Movie";
constexpr const char* kProfileDvReverse = "DV Reverse";
constexpr double kFrameRates[] = {30, 29.97, 25, 24, 15, 12, 10, 8, 6, 5, 4, 3, 2, 1};
constexpr float kFallbackRate = 15.0f;

// The list's text as a rate rounded to hundredths.
float RateFromText(const std::string& text) {
  const double v = std::strtod(text.c_str(), nullptr);
  const int hundredths = static_cast<int>(v * 100.0 + 0.5);
  return static_cast<float>(hundredths) / 100.0f;
}

std::string FormatRate(float rate) {
  char text[100] = {};
  FormatFrameRate(text, rate);
  return text;
}

bool FileExists(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

AviSettingsDialog::AviSettingsDialog(AviSettings* hostSettings, const ProjectSettings* project,
                                     HWND parent)
    : Dialog(*FindDialogTemplate(kAviSettingsTemplate), parent),
      hostSettings_(hostSettings),
      project_(project) {
  std::memset(&settings_, 0, sizeof settings_);
  CopyFileTypeSettings(&settings_, hostSettings_);
  hwMaxWidth_ = ProjectWidth();
  hwMaxHeight_ = ProjectHeight();
  hwAvailable_ = HostHasHardware() != 0 && project_ != nullptr ? 1 : 0;
}

AviSettingsDialog::~AviSettingsDialog() {
  HostFree(&settings_.compressorState);
  for (CompressorEntry& e : compressorEntries_) HostFree(&e.stateBuffer);
}

void AviSettingsDialog::BindControls() {
  Bind(kWidthEdit, Notification::kTextChanged, [this] {
    if (syncEnabled_ == 1) RecomputeLockedSize(true);
  });
  Bind(kHeightEdit, Notification::kTextChanged, [this] {
    if (syncEnabled_ == 1) RecomputeLockedSize(false);
  });
  for (int id : {kAspectXEdit, kAspectYEdit}) {
    Bind(id, Notification::kTextChanged, [this] {
      if (syncEnabled_ == 1) RecomputeLockedSize(true);
    });
    Bind(id, Notification::kFocusLost, [this, id] { OnAspectFocusLost(id); });
  }
  Bind(kWidthEdit, Notification::kFocusLost, [this] { OnSizeFocusLost(kWidthEdit); });
  Bind(kHeightEdit, Notification::kFocusLost, [this] { OnSizeFocusLost(kHeightEdit); });
  Bind(kLockAspect, Notification::kClicked, [this] { LockAspectRule(); });
  Bind(kHardwareEnable, Notification::kClicked, [this] { OnHardwareToggled(); });
  Bind(kHardwareOptions, Notification::kClicked,
       [this] { RunHardwareOptionsDialog(settings_.hwAccelOptions, 0); });
  Bind(kFieldHandlingList, Notification::kSelectionChanged, [this] { OnFieldHandlingChanged(); });
  Bind(kCropping, Notification::kClicked, [this] {
    RunCroppingDialog(&settings_.cropRect[0], &settings_.cropRect[1], &settings_.cropRect[2],
                      &settings_.cropRect[3], window());
  });
  Bind(kAudioSettingsButton, Notification::kClicked, [this] { OpenAudioSettings(); });
  Bind(kAudioOptionsButton, Notification::kClicked, [this] { OpenAudioOptions(); });
  Bind(kPaletteButton, Notification::kClicked, [this] { BrowsePaletteFile(); });
  Bind(kCompressorList, Notification::kSelectionChanged, [this] { OnCompressorChanged(false); });
  Bind(kColourList, Notification::kSelectionChanged, [this] { OnColourChanged(); });
  Bind(kDataRateList, Notification::kSelectionChanged, [this] { OnDataRateChanged(); });
  Bind(kCompressionOptions, Notification::kClicked, [this] { OpenCompressionOptions(); });
  Bind(kPlaybackOptions, Notification::kClicked, [this] { OpenPlaybackOptions(); });
  Bind(kLoadPreset, Notification::kClicked, [this] { ShowVideoPresetMenu(); });
  Bind(kSavePreset, Notification::kClicked, [this] { SaveVideoPresetFile(); });
  for (int command = kPresetListedFirst; command <= kPresetListedLast; ++command)
    Bind(command, Notification::kClicked, [this, command] { LoadListedVideoPreset(command); });
  Bind(kPresetBrowse, Notification::kClicked, [this] { BrowseVideoPreset(); });
}

void AviSettingsDialog::OnInitDialog() {
  if (IsDvReverseAvailable() != 0) {
    SetCheck(kDvReverse, ReadProfileInt(kProfileSection, kProfileDvReverse, 0, 0) != 0);
  } else {
    ShowControl(kDvReverse, false);
  }
  if (hostSettings_->qrvExport != 0) {
    ShowControl(kAudioOptionsButton, false);
    EnableControl(kCompressorList, false);
    EnableControl(kColourList, false);
    SetCaption("Export QRV File");
    SetCheck(kDvReverse, true);
  }
  if (hwAvailable_ == 0) {
    for (int id : {kHardwareGroup, kHardwareEnable, kHardwareOptions}) {
      EnableControl(id, false);
      ShowControl(id, false);
    }
  }
  SetTextLimit(kWidthEdit, 4);
  SetTextLimit(kHeightEdit, 4);
  SetTextLimit(kAspectXEdit, 2);
  SetTextLimit(kAspectYEdit, 2);
  BuildCompressorList();
  if (!SetDataRateItemData()) {
    EndDialog(kCancel);
    return;
  }
  RecordToControls();
  // The host's record is normalised even when the user then cancels.
  CopyFileTypeSettings(hostSettings_, &settings_);
  syncEnabled_ = 1;
  CentreOnOwner();
}

void AviSettingsDialog::RecordToControls() {
  syncEnabled_ = 0;
  if (hwAvailable_ == 0) settings_.hwAccel = 0;
  SetCheck(kHardwareEnable, settings_.hwAccel != 0);
  SelectFrameRate();
  settings_.width = ClampWidth(settings_.width);
  ShowNumber(kWidthEdit, settings_.width);
  settings_.height = ClampHeight(settings_.height);
  ShowNumber(kHeightEdit, settings_.height);
  SelectCompressorFromRecord();
  settings_.fieldHandling = std::clamp(settings_.fieldHandling, 0, 4);
  Select(kFieldHandlingList, settings_.fieldHandling);
  if (settings_.audioAvailable == 0) {
    for (int id : {kAudioGroup, kAudioEnable, kAudioSettingsButton, kAudioOptionsButton}) {
      EnableControl(id, false);
      ShowControl(id, false);
    }
  } else {
    SetCheck(kAudioEnable, settings_.audioEnabled != 0);
  }
  SetCheck(kSubPixel, settings_.subPixel != 0);
  settings_.lockAspect = settings_.lockAspect != 0 ? 1 : 0;
  SetCheck(kLockAspect, settings_.lockAspect != 0);
  settings_.aspectX = std::clamp(settings_.aspectX, 1, 99);
  settings_.aspectY = std::clamp(settings_.aspectY, 1, 99);
  ShowNumber(kAspectXEdit, settings_.aspectX);
  ShowNumber(kAspectYEdit, settings_.aspectY);
  LockAspectRule();
  OnHardwareToggled();
  syncEnabled_ = 1;
}

void AviSettingsDialog::ControlsToRecord() {
  settings_.hwAccel = IsChecked(kHardwareEnable) && hwAvailable_ != 0 ? 1 : 0;
  ReadFrameRate();
  settings_.width = ClampWidth(Number(kWidthEdit));
  settings_.height = ClampHeight(Number(kHeightEdit));
  settings_.fieldHandling = std::clamp(Selection(kFieldHandlingList), 0, 4);
  if (settings_.audioAvailable != 0) settings_.audioEnabled = IsChecked(kAudioEnable) ? 1 : 0;
  settings_.subPixel = IsChecked(kSubPixel) ? 1 : 0;
  settings_.lockAspect = IsChecked(kLockAspect) ? 1 : 0;
  settings_.aspectX = std::clamp(Number(kAspectXEdit), 1, 99);
  settings_.aspectY = std::clamp(Number(kAspectYEdit), 1, 99);
  settings_.keyFramesOnly = intraOnly_;
}

void AviSettingsDialog::OnOK() {
  // Stored before the palette check: a refused OK has stored it too.
  const int dvReverse = IsDvReverseAvailable() != 0 && IsChecked(kDvReverse) ? 1 : 0;
  WriteProfileInt(kProfileSection, kProfileDvReverse, dvReverse, 0);
  if (!ValidatePaletteFile()) return;
  ControlsToRecord();
  CopyFileTypeSettings(hostSettings_, &settings_);
  EndDialog(kOk);
}

void AviSettingsDialog::ShowNumber(int id, int value) {
  SetText(id, std::to_string(value));
}

int AviSettingsDialog::Number(int id) const {
  return std::atoi(Text(id).c_str());
}

void AviSettingsDialog::SelectFrameRate() {
  int index = FindExact(kFrameRateList, FormatRate(settings_.frameRate));
  if (index < 0) {
    settings_.frameRate = kFallbackRate;
    index = FindExact(kFrameRateList, FormatRate(settings_.frameRate));
  }
  // A project slower than the fallback lists neither: its fastest rate stands in.
  if (index < 0 && ItemCount(kFrameRateList) > 0) {
    index = 0;
    settings_.frameRate = RateFromText(ItemText(kFrameRateList, 0));
  }
  Select(kFrameRateList, index);
}

void AviSettingsDialog::ReadFrameRate() {
  const int index = Selection(kFrameRateList);
  settings_.frameRate = index < 0 ? kFallbackRate : RateFromText(ItemText(kFrameRateList, index));
}

void AviSettingsDialog::RebuildFrameRateList() {
  if (hwAvailable_ == 0) return;
  ResetContent(kFrameRateList);
  const int limit = settings_.hwAccel != 0 ? ProjectFrameRateX100() : 0;
  for (double rate : kFrameRates) {
    if (settings_.hwAccel != 0 && static_cast<int>(rate * 100 + 0.5) > limit) continue;
    AddItem(kFrameRateList, FormatRate(static_cast<float>(rate)));
  }
}

int AviSettingsDialog::ClampWidth(int w) const {
  return std::max(minWidth_, std::min(w, maxWidth_));
}

int AviSettingsDialog::ClampHeight(int h) const {
  h = std::max(minHeight_, std::min(h, maxHeight_));
  if (settings_.hwAccel != 0 && h % 2 != 0) h -= 1;
  return h;
}

void AviSettingsDialog::ApplyHardwareLimits() {
  if (hwAvailable_ == 0) return;
  syncEnabled_ = 0;
  settings_.width = ClampWidth(Number(kWidthEdit));
  settings_.height = ClampHeight(Number(kHeightEdit));
  if (settings_.hwAccel != 0) {
    maxWidth_ = hwMaxWidth_;
    maxHeight_ = hwMaxHeight_;
    if (settings_.fieldHandling == 3 || settings_.fieldHandling == 4) {
      maxHeight_ /= 2;
      if (maxHeight_ % 2 != 0) maxHeight_ -= 1;
    }
  } else {
    maxWidth_ = normalMaxWidth_;
    maxHeight_ = normalMaxHeight_;
  }
  settings_.width = ClampWidth(settings_.width);
  settings_.height = ClampHeight(settings_.height);
  ShowNumber(kWidthEdit, settings_.width);
  ShowNumber(kHeightEdit, settings_.height);
  RecomputeLockedSize(true);
  syncEnabled_ = 1;
}

void AviSettingsDialog::RecomputeLockedSize(bool fromWidth) {
  if (!IsChecked(kLockAspect)) return;
  const int ax = Number(kAspectXEdit);
  const int ay = Number(kAspectYEdit);
  if (ax == 0 || ay == 0) return;
  syncEnabled_ = 0;
  const double fx = static_cast<float>(ax);
  const double fy = static_cast<float>(ay);
  if (fromWidth) {
    const double w = static_cast<float>(Number(kWidthEdit));
    ShowNumber(kHeightEdit, ClampHeight(static_cast<int>(w * fy / fx + 0.5)));
  } else {
    const double h = static_cast<float>(Number(kHeightEdit));
    ShowNumber(kWidthEdit, ClampWidth(static_cast<int>(h * fx / fy + 0.5)));
  }
  syncEnabled_ = 1;
}

void AviSettingsDialog::LockAspectRule() {
  const bool locked = IsChecked(kLockAspect);
  EnableControl(kAspectXEdit, locked);
  EnableControl(kAspectYEdit, locked);
  if (locked) RecomputeLockedSize(true);
}

void AviSettingsDialog::OnSizeFocusLost(int id) {
  const bool width = id == kWidthEdit;
  const int v = Number(id);
  const int c = width ? ClampWidth(v) : ClampHeight(v);
  if (c == v) return;
  ShowNumber(id, c);
  RecomputeLockedSize(width);
}

void AviSettingsDialog::OnAspectFocusLost(int id) {
  const int v = Number(id);
  const int c = std::clamp(v, 1, 99);
  if (c == v) return;
  ShowNumber(id, c);
  RecomputeLockedSize(true);
}

void AviSettingsDialog::OnHardwareToggled() {
  if (hwAvailable_ == 0) return;
  settings_.hwAccel = IsChecked(kHardwareEnable) ? 1 : 0;
  EnableControl(kHardwareOptions, settings_.hwAccel == 1);
  ReadFrameRate();
  RebuildFrameRateList();
  SelectFrameRate();
  EnableControl(kSubPixel, settings_.hwAccel == 0);
  EnableControl(kCropping, settings_.hwAccel == 0);
  ApplyHardwareLimits();
}

void AviSettingsDialog::OnFieldHandlingChanged() {
  settings_.fieldHandling = std::clamp(Selection(kFieldHandlingList), 0, 4);
  ApplyHardwareLimits();
}

void AviSettingsDialog::OpenAudioSettings() {
  if (settings_.audioAvailable == 0) return;
  AudioSettingsDialog dialog(settings_.audioFormat, project_, window());
  dialog.DoModal();
}

void AviSettingsDialog::OpenAudioOptions() {
  AudioOptionsDialog dialog;
  dialog.value = settings_.interleaveFrames;
  if (dialog.DoModal() == kOk) settings_.interleaveFrames = dialog.value;
}

void AviSettingsDialog::BrowsePaletteFile() {
  norv::ui::OpenFileRequest request;
  request.title = "Select palette file";
  request.filterDescription = "Palette File (pal)";
  request.filterPattern = std::string("*.") + "pal";
  request.defaultExtension = "pal";
  request.path = settings_.paletteFile;
  request.maxPath = sizeof settings_.paletteFile - 1;
  request.hideReadOnly = true;
  request.explorer = true;
  request.noNetworkButton = true;
  request.resizable = false;
  request.fileMustExist = false;
  request.onInit = [](HWND frame, HWND self) {
    PositionWindow(frame, -1, -1);
    PositionWindow(self, -1, -1);
  };
  if (!ChooseOpenFile(request) || request.path.size() > request.maxPath) return;
  std::memset(settings_.paletteFile, 0, sizeof settings_.paletteFile);
  std::memcpy(settings_.paletteFile, request.path.data(), request.path.size());
}

bool AviSettingsDialog::ValidatePaletteFile() {
  if (settings_.colorFormat != kColorPaletteFile) return true;
  // The field may lack its terminator in a record from elsewhere.
  const char* begin = settings_.paletteFile;
  const std::string path(begin, std::find(begin, begin + sizeof settings_.paletteFile, '\0'));
  if (!path.empty() && FileExists(path.c_str())) return true;
  if (!IsEnabled(kPaletteButton)) EnableControl(kPaletteButton, true);
  FrameworkMessageBox("Select a valid palette file.", MB_OK);
  return false;
}

void AviSettingsDialog::ShowVideoPresetMenu() {
  int command = 0;
  if (!presetMenu_.Show(*this, ControlScreenRect(kLoadPreset), &command)) {
    BrowseVideoPreset();
    return;
  }
  if (command != 0) Command(command);
}

void AviSettingsDialog::LoadListedVideoPreset(int command) {
  char path[260];
  if (presetMenu_.PathOf(command, path)) LoadVideoPresetFile(path);
}

void AviSettingsDialog::BrowseVideoPreset() {
  char path[260];
  if (AskVideoPresetToLoad(window(), path)) LoadVideoPresetFile(path);
}

void AviSettingsDialog::LoadVideoPresetFile(const char* path) {
  if (LoadVideoPreset(&settings_, path)) RecordToControls();
}

void AviSettingsDialog::SaveVideoPresetFile() {
  ControlsToRecord();
  SaveVideoPreset(settings_, window());
}
