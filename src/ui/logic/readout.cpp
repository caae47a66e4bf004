#include "ui/logic/readout.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tarvo::ui {
namespace {

std::string Fixed2(long double value, std::string_view separator) {
  char buf[64];
  // std::to_chars ignores the C locale (a Qt application sets it from the
  // environment), so the separator is always '.' here and replaced below.
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
  std::string text(buf, r.ptr);
  if (text == "-0.00") text = "0.00";
  const size_t dot = text.find('.');
  if (dot != std::string::npos) text.replace(dot, 1, separator);
  return text;
}

}  // namespace

std::string ReadoutText(ReadoutCode code, int32_t position, std::string_view decimalSeparator) {
  switch (code) {
    case ReadoutCode::None:
      return {};
    case ReadoutCode::I:
      return std::to_string(position);
    case ReadoutCode::P: {
      // Exact in integers: position hundredths.
      const int64_t p = position;
      const int64_t a = std::llabs(p);
      std::string text = (p < 0 ? "-" : "") + std::to_string(a / 100);
      text += decimalSeparator;
      text += static_cast<char>('0' + (a % 100) / 10);
      text += static_cast<char>('0' + a % 10);
      return text;
    }
    case ReadoutCode::G:
      return Fixed2(std::pow(10.0L, -static_cast<long double>(position) / 100.0L), decimalSeparator);
    case ReadoutCode::R:
      return Fixed2(2.0L * std::pow(2.0L, static_cast<long double>(position) / 50.0L), decimalSeparator);
  }
  return {};
}

std::optional<int32_t> ParseClipLevel(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  auto blank = [&](size_t k) { return text[k] == ' ' || text[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits = i;
  int64_t value = 0;
  constexpr int64_t kCap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > kCap) value = kCap;
    ++i;
  }
  if (i == digits) return std::nullopt;
  while (i < n && blank(i)) ++i;
  if (i != n) return std::nullopt;
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : value);
}

}  // namespace tarvo::ui
