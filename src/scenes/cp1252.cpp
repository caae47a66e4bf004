#include "scenes/cp1252.h"

#include <cstdint>
#include <cstdio>

namespace tarvo {
namespace {

// Characters of bytes 0x80..0x9F. The unassigned bytes 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D map to the control characters of the same number.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one character at s[i]; returns false on malformed input.
bool NextCodePoint(const std::string& s, size_t& i, char32_t& c) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int extra;
  char32_t min;
  if (b0 < 0x80) {
    c = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    c = b0 & 0x1F;
    extra = 1;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    c = b0 & 0x0F;
    extra = 2;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    c = b0 & 0x07;
    extra = 3;
    min = 0x10000;
  } else {
    return false;
  }
  if (i + static_cast<size_t>(extra) >= s.size()) return false;  // cut off
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  i += static_cast<size_t>(extra) + 1;
  return true;
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, (b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : static_cast<char32_t>(b));
  }
  return out;
}

bool Utf8ToCp1252(const std::string& utf8, std::string& bytes, std::string* error) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c = 0;
    if (!NextCodePoint(utf8, i, c)) {
      if (error) *error = "the text is not valid UTF-8";
      return false;
    }
    int byte = -1;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      byte = static_cast<int>(c);
    } else {
      for (int k = 0; k < 32; ++k)
        if (kHigh[k] == c) byte = 0x80 + k;
    }
    if (byte < 0) {
      if (error) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "the character U+%04X cannot be stored in a scene file (Windows-1252)",
                      static_cast<unsigned>(c));
        *error = buf;
      }
      return false;
    }
    out += static_cast<char>(byte);
  }
  bytes = std::move(out);
  return true;
}

}  // namespace tarvo
