#include "tools/norvavi/host/settings_fields.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace norv::cli {

namespace {

enum class Kind { kInt, kUnsigned, kFloat, kFourcc, kText };

struct Field {
  const char* name;
  std::size_t offset;
  Kind kind;
  int count;  // elements of an array field; 1 otherwise
  const char* meaning;
};

#define NORV_FIELD(name, kind, count, meaning) \
  { #name, offsetof(AviSettings, name), kind, count, meaning }
constexpr Field kFields[] = {
    NORV_FIELD(compressorHandler, Kind::kFourcc, 1,
               "compressor's four-character code; 0 = uncompressed (norvavi compressors)"),
    NORV_FIELD(frameRate, Kind::kFloat, 1, "frames per second of the file"),
    NORV_FIELD(width, Kind::kInt, 1, "frame width in pixels"),
    NORV_FIELD(height, Kind::kInt, 1, "frame height in pixels"),
    NORV_FIELD(lockAspect, Kind::kInt, 1, "the dialog keeps aspectX:aspectY"),
    NORV_FIELD(aspectX, Kind::kInt, 1, "horizontal term of the locked aspect"),
    NORV_FIELD(aspectY, Kind::kInt, 1, "vertical term of the locked aspect"),
    NORV_FIELD(subPixel, Kind::kInt, 1, "sub-pixel positioning"),
    NORV_FIELD(colorFormat, Kind::kInt, 1,
               "16/24 bits, or 8 bits with palette 80 3-3-2, 81 6-6-6, 82 6-7-6, "
               "83 optimum, 84 paletteFile"),
    NORV_FIELD(fieldHandling, Kind::kInt, 1,
               "0 frame, 1/2 interlaced order A/B, 3 field 1, 4 field 2"),
    NORV_FIELD(quality, Kind::kInt, 1, "compressor quality"),
    NORV_FIELD(keyFrameEvery, Kind::kInt, 1, "a key frame every this many frames"),
    NORV_FIELD(dataRate, Kind::kInt, 1, "target data rate in KB per second; -1 = none"),
    NORV_FIELD(dataRateChoice, Kind::kInt, 1, "playback-platform list entry; 8 = custom"),
    NORV_FIELD(interleaveFrames, Kind::kInt, 1, "audio interleaved every this many frames"),
    NORV_FIELD(reserved60, Kind::kUnsigned, 1, "carried unchanged"),
    NORV_FIELD(paletteFile, Kind::kText, 1, "palette file (.pal) for colorFormat 84"),
    NORV_FIELD(audioAvailable, Kind::kInt, 1, "this output may carry audio"),
    NORV_FIELD(audioEnabled, Kind::kInt, 1, "audio is written"),
    NORV_FIELD(audioFormat, Kind::kUnsigned, 14, "audio format block"),
    NORV_FIELD(keyFramesOnly, Kind::kInt, 1, "the compressor makes key frames only"),
    NORV_FIELD(cropRect, Kind::kInt, 4, "the host's cropping block"),
    NORV_FIELD(hwAccel, Kind::kInt, 1, "hardware acceleration on"),
    NORV_FIELD(hwAccelOptions, Kind::kInt, 17, "the host's hardware options block"),
    NORV_FIELD(qrvExport, Kind::kInt, 1, "write the compressed frames back to back, no AVI"),
    NORV_FIELD(reserved496, Kind::kUnsigned, 6, "carried unchanged"),
};
#undef NORV_FIELD

// What the AVI Settings dialog and its Audio Settings dialog let a field
// hold: a few closed intervals. Fields without a rule take any value.
struct Span {
  long long low, high;
};
struct Rule {
  const char* name;
  int element;  // the element of an array field, else 0
  std::vector<Span> allowed;
};

const std::vector<Rule>& Rules() {
  static const std::vector<Rule> rules = {
      {"width", 0, {{32, 9999}}},
      {"height", 0, {{32, 9999}}},
      {"lockAspect", 0, {{0, 1}}},
      {"aspectX", 0, {{1, 99}}},
      {"aspectY", 0, {{1, 99}}},
      {"subPixel", 0, {{0, 1}}},
      {"colorFormat", 0, {{16, 16}, {24, 24}, {80, 84}}},
      {"fieldHandling", 0, {{0, 4}}},
      {"quality", 0, {{0, 10000}}},
      {"keyFrameEvery", 0, {{1, 999}}},
      {"dataRate", 0, {{-1, -1}, {1, 8000}}},
      {"dataRateChoice", 0, {{0, 8}}},
      {"interleaveFrames", 0, {{1, 999}}},
      {"audioEnabled", 0, {{0, 1}}},
      {"audioFormat", 1, {{8, 8}, {16, 16}}},
      {"audioFormat",
       2,
       {{11025, 11025}, {22050, 22050}, {32000, 32000}, {44100, 44100}, {48000, 48000}}},
      {"audioFormat", 3, {{1, 2}}},
      {"keyFramesOnly", 0, {{0, 1}}},
      {"qrvExport", 0, {{0, 1}}},
  };
  return rules;
}

// The dialog lists 1 to 30 frames per second; the export writes any rate,
// and the frame count and header rate need one well above 0.
constexpr float kMinFrameRate = 0.01f;
constexpr float kMaxFrameRate = 1000.0f;

const Rule* RuleFor(const char* name, int element) {
  for (const Rule& r : Rules())
    if (std::strcmp(r.name, name) == 0 && r.element == element) return &r;
  return nullptr;
}

std::string AllowedText(const Rule& rule) {
  std::string text;
  for (std::size_t i = 0; i < rule.allowed.size(); ++i) {
    const Span& s = rule.allowed[i];
    if (i > 0) text += i + 1 == rule.allowed.size() ? " or " : ", ";
    text += std::to_string(s.low);
    if (s.high != s.low) text += (s.high == s.low + 1 ? " or " : " to ") + std::to_string(s.high);
  }
  return text;
}

bool Allowed(const Rule& rule, long long v) {
  for (const Span& s : rule.allowed)
    if (v >= s.low && v <= s.high) return true;
  return false;
}

std::string ElementMeaning(const Field& f, int element) {
  if (std::strcmp(f.name, "audioFormat") == 0) {
    static const char* const kWords[] = {"", "audio bits per sample", "audio samples per second",
                                         "audio channels"};
    return element >= 1 && element <= 3 ? kWords[element] : "audio format word, carried unchanged";
  }
  return f.meaning;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kInt:
      return "integer";
    case Kind::kUnsigned:
      return "unsigned";
    case Kind::kFloat:
      return "number";
    case Kind::kFourcc:
      return "fourcc";
    case Kind::kText:
      return "text";
  }
  return "";
}

bool ParseInteger(const std::string& text, long long low, long long high, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseFourcc(const std::string& text, std::uint32_t* out) {
  long long number = 0;
  if (text == "none" || text == "0") {
    *out = 0;
    return true;
  }
  if (text.size() == 4) {
    *out = 0;
    for (int i = 3; i >= 0; --i) *out = (*out << 8) | static_cast<std::uint8_t>(text[i]);
    return true;
  }
  if (ParseInteger(text, 0, 0xFFFFFFFFll, &number)) {
    *out = static_cast<std::uint32_t>(number);
    return true;
  }
  return false;
}

std::string FourccText(std::uint32_t v) {
  if (v == 0) return "0";
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

}  // namespace

bool SetSettingsField(AviSettings* settings, std::string_view assignment, std::string* error) {
  const auto eq = assignment.find('=');
  if (eq == std::string_view::npos) {
    *error = "expected FIELD=VALUE, got \"" + std::string(assignment) + "\"";
    return false;
  }
  std::string name(assignment.substr(0, eq));
  const std::string value(assignment.substr(eq + 1));
  int element = 0;
  const auto dot = name.find('.');
  const bool indexed = dot != std::string::npos;
  if (indexed) {
    long long index = 0;
    if (!ParseInteger(name.substr(dot + 1), 0, 1000, &index)) {
      *error = "bad element number in \"" + name + "\"";
      return false;
    }
    element = static_cast<int>(index);
    name.resize(dot);
  }
  const Field* field = nullptr;
  for (const Field& f : kFields)
    if (name == f.name) field = &f;
  if (field == nullptr) {
    *error = "no settings field \"" + name + "\"";
    return false;
  }
  // An array takes exactly one element; a single field takes none.
  if (indexed != (field->count > 1) || element >= field->count) {
    *error = field->count > 1 ? "\"" + name + "\" takes an element: " + name + ".0 to " + name +
                                    "." + std::to_string(field->count - 1)
                              : "\"" + name + "\" has no elements";
    return false;
  }
  auto* at = reinterpret_cast<std::uint8_t*>(settings) + field->offset + 4 * element;
  long long number = 0;
  switch (field->kind) {
    case Kind::kInt:
      if (!ParseInteger(value, INT32_MIN, INT32_MAX, &number)) break;
      {
        auto v = static_cast<std::int32_t>(number);
        std::memcpy(at, &v, 4);
      }
      return true;
    case Kind::kUnsigned:
      if (!ParseInteger(value, 0, UINT32_MAX, &number)) break;
      {
        auto v = static_cast<std::uint32_t>(number);
        std::memcpy(at, &v, 4);
      }
      return true;
    case Kind::kFloat: {
      char* end = nullptr;
      errno = 0;
      float v = std::strtof(value.c_str(), &end);
      if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(v)) break;
      std::memcpy(at, &v, 4);
      return true;
    }
    case Kind::kFourcc: {
      std::uint32_t v = 0;
      if (!ParseFourcc(value, &v)) break;
      std::memcpy(at, &v, 4);
      return true;
    }
    case Kind::kText:
      if (value.size() >= sizeof settings->paletteFile) {
        *error = "paletteFile holds at most 259 characters";
        return false;
      }
      std::memset(settings->paletteFile, 0, sizeof settings->paletteFile);
      std::memcpy(settings->paletteFile, value.data(), value.size());
      return true;
  }
  *error = "bad value for " + std::string(assignment.substr(0, eq)) + ": \"" + value + "\"";
  return false;
}

std::vector<std::string> DescribeSettings(const AviSettings& settings) {
  std::vector<std::string> lines;
  const auto* base = reinterpret_cast<const std::uint8_t*>(&settings);
  for (const Field& f : kFields) {
    for (int i = 0; i < f.count; ++i) {
      const std::uint8_t* at = base + f.offset + 4 * i;
      std::string name = f.name;
      // Appended: "." + std::to_string(i) draws GCC 12's false -Wrestrict (bug 105651).
      if (f.count > 1) name.append(".").append(std::to_string(i));
      std::int32_t iv;
      std::uint32_t uv;
      float fv;
      std::memcpy(&iv, at, 4);
      std::memcpy(&uv, at, 4);
      std::memcpy(&fv, at, 4);
      switch (f.kind) {
        case Kind::kInt:
          lines.push_back(name + "=" + std::to_string(iv));
          break;
        case Kind::kUnsigned:
          lines.push_back(name + "=" + std::to_string(uv));
          break;
        case Kind::kFloat: {
          char text[64];
          std::snprintf(text, sizeof text, "%.9g", static_cast<double>(fv));
          lines.push_back(name + "=" + text);
          break;
        }
        case Kind::kFourcc:
          lines.push_back(name + "=" + FourccText(uv));
          break;
        case Kind::kText:
          lines.push_back(name + "=" +
                          std::string(settings.paletteFile,
                                      strnlen(settings.paletteFile, sizeof settings.paletteFile)));
          break;
      }
    }
  }
  return lines;
}

std::vector<FieldDescription> DescribeFields() {
  std::vector<FieldDescription> list;
  for (const Field& f : kFields) {
    for (int i = 0; i < f.count; ++i) {
      FieldDescription d;
      d.name = f.count > 1 ? std::string(f.name) + "." + std::to_string(i) : f.name;
      d.type = KindName(f.kind);
      d.meaning = ElementMeaning(f, i);
      if (const Rule* rule = RuleFor(f.name, i)) {
        d.allowed = AllowedText(*rule);
      } else if (f.kind == Kind::kFloat) {
        char text[96];
        std::snprintf(text, sizeof text, "%g to %g", static_cast<double>(kMinFrameRate),
                      static_cast<double>(kMaxFrameRate));
        d.allowed = text;
      } else if (f.kind == Kind::kFourcc) {
        d.allowed = "0 or an installed compressor";
      } else if (f.kind == Kind::kText) {
        d.allowed = "up to 259 characters";
      } else {
        d.allowed = f.kind == Kind::kUnsigned ? "any unsigned" : "any";
      }
      list.push_back(std::move(d));
    }
  }
  return list;
}

std::vector<std::string> CheckFieldRanges(const AviSettings& settings) {
  std::vector<std::string> problems;
  const auto* base = reinterpret_cast<const std::uint8_t*>(&settings);
  for (const Field& f : kFields) {
    for (int i = 0; i < f.count; ++i) {
      const Rule* rule = RuleFor(f.name, i);
      if (rule == nullptr) continue;
      std::int32_t iv;
      std::uint32_t uv;
      std::memcpy(&iv, base + f.offset + 4 * i, 4);
      std::memcpy(&uv, base + f.offset + 4 * i, 4);
      const long long v = f.kind == Kind::kUnsigned ? static_cast<long long>(uv) : iv;
      if (Allowed(*rule, v)) continue;
      const std::string name = f.count > 1 ? std::string(f.name) + "." + std::to_string(i) : f.name;
      problems.push_back(name + "=" + std::to_string(v) + " is out of range: it takes " +
                         AllowedText(*rule));
    }
  }
  const float rate = settings.frameRate;
  if (!(rate >= kMinFrameRate && rate <= kMaxFrameRate)) {
    char text[160];
    std::snprintf(text, sizeof text, "frameRate=%g is out of range: it takes %g to %g",
                  static_cast<double>(rate), static_cast<double>(kMinFrameRate),
                  static_cast<double>(kMaxFrameRate));
    problems.push_back(text);
  }
  return problems;
}

}  // namespace norv::cli
