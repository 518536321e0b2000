#include "tools/norvavi/settings_fields.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
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
};

#define NORV_FIELD(name, kind, count) \
  { #name, offsetof(AviSettings, name), kind, count }
constexpr Field kFields[] = {
    NORV_FIELD(compressorHandler, Kind::kFourcc, 1),
    NORV_FIELD(frameRate, Kind::kFloat, 1),
    NORV_FIELD(width, Kind::kInt, 1),
    NORV_FIELD(height, Kind::kInt, 1),
    NORV_FIELD(lockAspect, Kind::kInt, 1),
    NORV_FIELD(aspectX, Kind::kInt, 1),
    NORV_FIELD(aspectY, Kind::kInt, 1),
    NORV_FIELD(subPixel, Kind::kInt, 1),
    NORV_FIELD(colorFormat, Kind::kInt, 1),
    NORV_FIELD(fieldHandling, Kind::kInt, 1),
    NORV_FIELD(quality, Kind::kInt, 1),
    NORV_FIELD(keyFrameEvery, Kind::kInt, 1),
    NORV_FIELD(dataRate, Kind::kInt, 1),
    NORV_FIELD(dataRateChoice, Kind::kInt, 1),
    NORV_FIELD(interleaveFrames, Kind::kInt, 1),
    NORV_FIELD(reserved60, Kind::kUnsigned, 1),
    NORV_FIELD(paletteFile, Kind::kText, 1),
    NORV_FIELD(audioAvailable, Kind::kInt, 1),
    NORV_FIELD(audioEnabled, Kind::kInt, 1),
    NORV_FIELD(audioFormat, Kind::kUnsigned, 14),
    NORV_FIELD(keyFramesOnly, Kind::kInt, 1),
    NORV_FIELD(cropRect, Kind::kInt, 4),
    NORV_FIELD(hwAccel, Kind::kInt, 1),
    NORV_FIELD(hwAccelOptions, Kind::kInt, 17),
    NORV_FIELD(qrvExport, Kind::kInt, 1),
    NORV_FIELD(reserved496, Kind::kUnsigned, 6),
};
#undef NORV_FIELD

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

}  // namespace norv::cli
