#include "plugin/resources/narrow_text.h"

std::string NarrowFromWide(const WCHAR* text, std::size_t capacity) {
#if defined(_WIN32)
  std::size_t length = 0;
  while (length < capacity && text[length] != 0) ++length;
  if (length == 0) return {};
  const int units = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, units, out.data(), size, nullptr, nullptr);
  return out;
#else
  std::string out;
  for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) {
    const auto unit = static_cast<std::uint16_t>(text[i]);
    const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
    if (highSurrogate && i + 1 < capacity) {
      const auto next = static_cast<std::uint16_t>(text[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) ++i;
    }
    out += unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
  return out;
#endif
}
