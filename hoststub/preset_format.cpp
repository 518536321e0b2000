#include "hoststub/preset_format.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

namespace norv::host {

namespace {

constexpr std::string_view kHeader = "NorvAvi preset ";
constexpr std::string_view kEnd = "end";

enum class Type { I32, U32, FourCC, F32, Text, I32s, U32s, State };

struct Field {
  const char* name;
  Type type;
  std::size_t offset;  // into AviSettings; unused for the state bytes
  std::size_t count;   // words of an array field
};

#define NORV_FIELD(name, type) \
  { #name, type, offsetof(AviSettings, name), 1 }
#define NORV_ARRAY(name, type, n) \
  { #name, type, offsetof(AviSettings, name), n }

// Record order; compressorState stands for the block's bytes.
constexpr Field kVideoFields[] = {
    NORV_FIELD(compressorHandler, Type::FourCC),
    NORV_FIELD(frameRate, Type::F32),
    NORV_FIELD(width, Type::I32),
    NORV_FIELD(height, Type::I32),
    NORV_FIELD(lockAspect, Type::I32),
    NORV_FIELD(aspectX, Type::I32),
    NORV_FIELD(aspectY, Type::I32),
    NORV_FIELD(subPixel, Type::I32),
    NORV_FIELD(colorFormat, Type::I32),
    NORV_FIELD(fieldHandling, Type::I32),
    NORV_FIELD(quality, Type::I32),
    NORV_FIELD(keyFrameEvery, Type::I32),
    NORV_FIELD(dataRate, Type::I32),
    NORV_FIELD(dataRateChoice, Type::I32),
    NORV_FIELD(interleaveFrames, Type::I32),
    NORV_FIELD(reserved60, Type::U32),
    NORV_FIELD(paletteFile, Type::Text),
    NORV_FIELD(audioAvailable, Type::I32),
    NORV_FIELD(audioEnabled, Type::I32),
    NORV_ARRAY(audioFormat, Type::U32s, 14),
    NORV_FIELD(keyFramesOnly, Type::I32),
    NORV_ARRAY(cropRect, Type::I32s, 4),
    NORV_FIELD(hwAccel, Type::I32),
    NORV_ARRAY(hwAccelOptions, Type::I32s, 17),
    NORV_FIELD(compressorStateSize, Type::U32),
    NORV_FIELD(compressorStateCapacity, Type::U32),
    NORV_FIELD(compressorState, Type::State),
    NORV_FIELD(qrvExport, Type::I32),
    NORV_ARRAY(reserved496, Type::U32s, 6),
};
constexpr std::size_t kVideoFieldCount = std::size(kVideoFields);

#undef NORV_FIELD
#undef NORV_ARRAY

bool Fail(std::string* why, std::string message) {
  if (why != nullptr) *why = std::move(message);
  return false;
}

std::uint32_t Word(const std::uint8_t* at) {
  std::uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

void PutWord(std::uint8_t* at, std::uint32_t v) {
  std::memcpy(at, &v, 4);
}

std::string Hex32(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  return text;
}

bool Printable(char c) {
  return c >= 0x20 && c < 0x7F;
}

// ---- writing ----

void AppendWords(std::string* out, const std::uint8_t* at, std::size_t count, bool isSigned) {
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) *out += ' ';
    const std::uint32_t w = Word(at + 4 * i);
    *out += isSigned ? std::to_string(static_cast<std::int32_t>(w)) : std::to_string(w);
  }
}

// Quoted, with backslash, quote and anything outside printable ASCII escaped,
// so the file stays plain ASCII whatever code page the name was written in.
std::string QuoteText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (Printable(c)) {
      out += c;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += esc;
    }
  }
  return out + '"';
}

std::string FloatText(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, 4);
  char text[64];
  // Shortest text that reads back as the same float; the bits follow
  // because NaN payloads and signs of zero do not survive a decimal.
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text) + " (" + Hex32(bits) + ")";
}

std::string FourCCText(std::uint32_t v) {
  std::string text = Hex32(v);
  char code[4];
  std::memcpy(code, &v, 4);
  bool printable = v != 0;
  for (char c : code) printable = printable && Printable(c) && c != '(' && c != ')';
  if (printable) text += " (" + std::string(code, 4) + ")";
  return text;
}

// ---- reading ----

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

template <typename T>
std::optional<T> Number(std::string_view s, int base = 10) {
  T v{};
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> Unsigned(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    return Number<std::uint32_t>(s.substr(2), 16);
  return Number<std::uint32_t>(s);
}

std::optional<std::uint32_t> Signed(std::string_view s) {
  auto v = Number<std::int32_t>(s);
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

// "value" or "value (other spelling)".
void SplitAlternative(std::string_view s, std::string_view* main,
                      std::optional<std::string_view>* alt) {
  const auto open = s.find(" (");
  if (open == std::string_view::npos || s.back() != ')') {
    *main = s;
    return;
  }
  *main = Trim(s.substr(0, open));
  *alt = s.substr(open + 2, s.size() - open - 3);
}

std::optional<std::uint32_t> FloatBits(std::string_view s) {
  std::string_view decimal;
  std::optional<std::string_view> hex;
  SplitAlternative(s, &decimal, &hex);
  float value = 0;
  auto [end, ec] = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  if (decimal.empty() || ec != std::errc() || end != decimal.data() + decimal.size())
    return std::nullopt;
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  if (!hex) return bits;
  if (hex->size() != 10 || (*hex)[0] != '0' || ((*hex)[1] != 'x' && (*hex)[1] != 'X'))
    return std::nullopt;
  auto exact = Number<std::uint32_t>(hex->substr(2), 16);
  if (!exact) return std::nullopt;
  float exactValue;
  std::memcpy(&exactValue, &*exact, 4);
  const bool agree = std::isnan(exactValue) ? std::isnan(value) : exactValue == value;
  if (!agree) return std::nullopt;
  return *exact;
}

std::optional<std::uint32_t> FourCCValue(std::string_view s) {
  std::string_view number;
  std::optional<std::string_view> code;
  SplitAlternative(s, &number, &code);
  auto v = Unsigned(number);
  if (!v || !code) return v;
  if (code->size() != 4 || std::memcmp(code->data(), &*v, 4) != 0) return std::nullopt;
  return v;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// At most `limit` bytes and no NUL: the field keeps its terminator.
std::optional<std::string> UnquoteText(std::string_view s, std::size_t limit) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::nullopt;
  s = s.substr(1, s.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') return std::nullopt;
    if (c == '\\') {
      if (++i == s.size()) return std::nullopt;
      if (s[i] == '\\' || s[i] == '"') {
        c = s[i];
      } else if (s[i] == 'x' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 &&
                 HexDigit(s[i + 2]) >= 0) {
        c = static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
        i += 2;
      } else {
        return std::nullopt;
      }
    }
    if (c == '\0') return std::nullopt;
    out += c;
    if (out.size() > limit) return std::nullopt;
  }
  return out;
}

bool ParseWords(std::string_view s, std::uint8_t* at, std::size_t count, bool isSigned) {
  std::size_t n = 0;
  while (true) {
    s = Trim(s);
    if (s.empty()) break;
    const auto space = s.find_first_of(" \t");
    const std::string_view item = s.substr(0, space);
    auto v = isSigned ? Signed(item) : Unsigned(item);
    if (!v || n == count) return false;
    PutWord(at + 4 * n++, *v);
    if (space == std::string_view::npos) break;
    s.remove_prefix(space);
  }
  return n == count;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view s) {
  if (s.size() % 2 != 0 || s.size() / 2 > kMaxPresetStateBytes) return std::nullopt;
  std::vector<std::uint8_t> bytes(s.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexDigit(s[2 * i]);
    const int lo = HexDigit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return bytes;
}

// The significant lines of a file: no blanks, no comments, no line ends.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (!line.empty() && line.front() != '#') lines.push_back(line);
  }
  return lines;
}

// Checks header, version and kind; leaves the field lines (up to, without,
// "end") in `body`.
bool ReadFrame(std::string_view text, int kind, std::vector<std::string_view>* body,
               std::string* why) {
  if (text.find('\0') != std::string_view::npos) return Fail(why, "not a text file");
  std::vector<std::string_view> lines = Lines(text);
  if (lines.empty() || !lines[0].starts_with(kHeader)) return Fail(why, "not a NorvAvi preset");
  auto version = Number<int>(lines[0].substr(kHeader.size()));
  if (!version) return Fail(why, "malformed header");
  if (*version != kPresetVersion)
    return Fail(why, "unsupported preset version " + std::to_string(*version));
  if (lines.size() < 2 || lines[1] != "kind=" + std::to_string(kind))
    return Fail(why, "not a kind " + std::to_string(kind) + " preset");
  if (lines.back() != kEnd) return Fail(why, "truncated: no end line");
  body->assign(lines.begin() + 2, lines.end() - 1);
  for (std::string_view line : *body)
    if (line == kEnd) return Fail(why, "text after the end line");
  return true;
}

bool SplitField(std::string_view line, std::string_view* name, std::string_view* value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *name = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return true;
}

}  // namespace

std::string FormatVideoPreset(const AviSettings& settings, std::span<const std::uint8_t> state) {
  if (std::memchr(settings.paletteFile, '\0', sizeof settings.paletteFile) == nullptr) return {};
  if (state.size() != settings.compressorStateSize) return {};
  const auto* record = reinterpret_cast<const std::uint8_t*>(&settings);

  std::string out = std::string(kHeader) + std::to_string(kPresetVersion) + "\n";
  out += "kind=" + std::to_string(kVideoPresetKind) + "\n";
  for (const Field& f : kVideoFields) {
    const std::uint8_t* at = record + f.offset;
    out += f.name;
    out += '=';
    switch (f.type) {
      case Type::I32:
        out += std::to_string(static_cast<std::int32_t>(Word(at)));
        break;
      case Type::U32:
        out += std::to_string(Word(at));
        break;
      case Type::FourCC:
        out += FourCCText(Word(at));
        break;
      case Type::F32:
        out += FloatText(Word(at));
        break;
      case Type::Text:
        out += QuoteText(settings.paletteFile);
        break;
      case Type::I32s:
        AppendWords(&out, at, f.count, true);
        break;
      case Type::U32s:
        AppendWords(&out, at, f.count, false);
        break;
      case Type::State:
        for (std::uint8_t b : state) {
          static constexpr char kDigits[] = "0123456789ABCDEF";
          out += kDigits[b >> 4];
          out += kDigits[b & 15];
        }
        break;
    }
    out += '\n';
  }
  return out + std::string(kEnd) + "\n";
}

std::string FormatAudioPreset(const AudioBlock& block) {
  std::string out = std::string(kHeader) + std::to_string(kPresetVersion) + "\n";
  out += "kind=" + std::to_string(kAudioPresetKind) + "\naudioFormat=";
  AppendWords(&out, reinterpret_cast<const std::uint8_t*>(block.data()), block.size(), false);
  return out + "\n" + std::string(kEnd) + "\n";
}

bool ParseVideoPreset(std::string_view text, VideoPreset* out, std::string* why) {
  std::vector<std::string_view> body;
  if (!ReadFrame(text, kVideoPresetKind, &body, why)) return false;

  VideoPreset preset;
  auto* record = reinterpret_cast<std::uint8_t*>(&preset.settings);
  bool seen[kVideoFieldCount] = {};
  for (std::string_view line : body) {
    std::string_view name, value;
    if (!SplitField(line, &name, &value)) return Fail(why, "not a field: " + std::string(line));
    std::size_t i = 0;
    while (i < kVideoFieldCount && name != kVideoFields[i].name) ++i;
    if (i == kVideoFieldCount) return Fail(why, "unknown field " + std::string(name));
    if (seen[i]) return Fail(why, "repeated field " + std::string(name));
    seen[i] = true;

    const Field& f = kVideoFields[i];
    std::uint8_t* at = record + f.offset;
    bool ok = true;
    std::optional<std::uint32_t> word;
    switch (f.type) {
      case Type::I32:
        word = Signed(value);
        break;
      case Type::U32:
        word = Unsigned(value);
        break;
      case Type::FourCC:
        word = FourCCValue(value);
        break;
      case Type::F32:
        word = FloatBits(value);
        break;
      case Type::Text:
        if (auto name259 = UnquoteText(value, sizeof preset.settings.paletteFile - 1)) {
          std::memcpy(preset.settings.paletteFile, name259->data(), name259->size());
        } else {
          ok = false;
        }
        break;
      case Type::I32s:
        ok = ParseWords(value, at, f.count, true);
        break;
      case Type::U32s:
        ok = ParseWords(value, at, f.count, false);
        break;
      case Type::State:
        if (auto bytes = ParseHexBytes(value)) {
          preset.state = std::move(*bytes);
        } else {
          ok = false;
        }
        break;
    }
    if (f.type == Type::I32 || f.type == Type::U32 || f.type == Type::FourCC ||
        f.type == Type::F32) {
      ok = word.has_value();
      if (ok) PutWord(at, *word);
    }
    if (!ok) return Fail(why, "bad value of " + std::string(name));
  }
  for (std::size_t i = 0; i < kVideoFieldCount; ++i)
    if (!seen[i]) return Fail(why, std::string("missing field ") + kVideoFields[i].name);

  const AviSettings& s = preset.settings;
  if (s.compressorStateSize != preset.state.size())
    return Fail(why, "compressorStateSize does not match the state bytes");
  if (s.compressorStateCapacity < s.compressorStateSize ||
      s.compressorStateCapacity > kMaxPresetStateBytes)
    return Fail(why, "compressorStateCapacity out of range");
  preset.settings.compressorState = 0;
  *out = std::move(preset);
  return true;
}

bool ParseAudioPreset(std::string_view text, AudioBlock* out, std::string* why) {
  std::vector<std::string_view> body;
  if (!ReadFrame(text, kAudioPresetKind, &body, why)) return false;
  AudioBlock block{};
  if (body.size() != 1) return Fail(why, "an audio preset holds exactly one audioFormat line");
  std::string_view name, value;
  if (!SplitField(body[0], &name, &value) || name != "audioFormat")
    return Fail(why, "expected audioFormat");
  if (!ParseWords(value, reinterpret_cast<std::uint8_t*>(block.data()), block.size(), false))
    return Fail(why, "bad value of audioFormat");
  *out = block;
  return true;
}

}  // namespace norv::host
