#include "plugin/settings/narrow_text.h"

std::string NarrowFromWide(const WCHAR* text, std::size_t capacity) {
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
}
