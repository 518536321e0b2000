#include "plugin/settings/settings_summary.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/vfw/vfw.h"
#include "plugin/host/host_api.h"
#include "plugin/resources/narrow_text.h"
#include "plugin/resources/resource_module.h"
#include "plugin/resources/string_table.h"
#include "plugin/settings/project_match.h"

namespace {

constexpr std::uint32_t kAviKind = 1;
constexpr std::uint32_t kComparableProject = 1;

const char* Str(int id) {
  const char* text = LoadStringEntry(id);
  return text != nullptr ? text : "";
}

const char* OnOff(bool on) {
  return Str(on ? kStrOn : kStrOff);
}

// Every line is short: a 127-character description or a few numbers and words.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

// Empty when the compressor cannot be opened or does not describe itself.
std::string CompressorDescription(std::uint32_t handler) {
  HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
  if (hic == nullptr) return {};
  ICINFO info;
  std::memset(&info, 0, sizeof info);
  std::string description;
  if (ICGetInfo(hic, &info, sizeof info) != 0)
    description = NarrowFromWide(info.szDescription, std::size(info.szDescription) - 1);
  ICClose(hic);
  return description;
}

std::string ChannelText(std::uint32_t channels) {
  if (channels == 1) return Str(kStrMono);
  if (channels == 2) return Str(kStrStereo);
  return Format("%d", static_cast<int>(channels));
}

}  // namespace

std::string BuildSettingsSummary(const AviSettings* settings, const ProjectSettings* project) {
  const AviSettings& s = *settings;
  if (s.fieldHandling < 0 || s.fieldHandling > 4) return {};

  const bool hardware = HostHasHardware() != 0 && project != nullptr;
  bool cropping = false;
  for (std::int32_t word : s.cropRect) cropping = cropping || word != 0;

  std::string text = s.compressorHandler == 0 ? Str(kStrNoCompression)
                                              : CompressorDescription(s.compressorHandler);
  auto line = [&text](const std::string& next) {
    text += "\r\n";
    text += next;
  };

  if (hardware) line(Format("%s %s", Str(kStrHardwareAcceleration), OnOff(s.hwAccel != 0)));
  line(Format("%s %s", Str(kStrVideo), Str(kStrOn)));

  char rate[100] = {};
  FormatFrameRate(rate, s.frameRate);
  rate[sizeof rate - 1] = '\0';
  const bool eightBit = s.colorFormat >= kColor332 && s.colorFormat <= kColorPaletteFile;
  line(Format("%s %s, %d x %d, %d %s", rate, Str(kStrFps), s.width, s.height,
              eightBit ? 8 : s.colorFormat, Str(kStrBits)));

  static constexpr int kFieldNames[] = {kStrFrame, kStrInterlacedOrderA, kStrInterlacedOrderB,
                                        kStrField1, kStrField2};
  line(Str(kFieldNames[s.fieldHandling]));

  if (!(hardware && s.hwAccel != 0))
    line(Format("%s %s, %s %s", Str(kStrSubPixel), OnOff(s.subPixel != 0), Str(kStrCropping),
                OnOff(cropping)));

  if (s.audioAvailable != 0) {
    line(Format("%s %s", Str(kStrAudio), OnOff(s.audioEnabled != 0)));
    line(Format("%d / %d / %s", static_cast<int>(s.audioFormat[1]),
                static_cast<int>(s.audioFormat[2]), ChannelText(s.audioFormat[3]).c_str()));
  }

  if (project != nullptr && project->kind == kComparableProject)
    line(Str(MatchesProject(settings, project) ? kStrSameAsProject : kStrNotSameAsProject));
  return text;
}

std::int32_t WriteSettingsInfo(std::uint32_t kind, char* text, const AviSettings* settings,
                               const ProjectSettings* project) {
  if (kind != kAviKind) return 0;
  ResourceModuleScope resources;
  const std::string summary = BuildSettingsSummary(settings, project);
  std::memcpy(text, summary.c_str(), summary.size() + 1);
  return 1;
}
