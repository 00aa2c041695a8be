#include "storage/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c_locale;
}

double StrtodC(std::string_view text) {
  char small[64];
  std::string large;
  const char* z;
  if (text.size() < sizeof small) {
    text.copy(small, text.size());
    small[text.size()] = '\0';
    z = small;
  } else {
    large.assign(text);
    z = large.c_str();
  }
  const locale_t loc = CLocale();
  return loc ? strtod_l(z, nullptr, loc) : strtod(z, nullptr);
}

}  // namespace

int Strict_Int(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= n || !IsDigit(text[i])) throw std::invalid_argument("invalid stoi argument");
  constexpr std::uint64_t kLimit = 2147483648u;  // |INT_MIN|
  std::uint64_t value = 0;
  bool overflow = false;
  for (; i < n && IsDigit(text[i]); ++i) {
    if (!overflow) {
      value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
      overflow = value > kLimit;
    }
  }
  if (overflow || (!negative && value == kLimit)) {
    throw std::out_of_range("stoi argument out of range");
  }
  return negative ? static_cast<int>(-static_cast<std::int64_t>(value)) : static_cast<int>(value);
}

double Lenient_Real(std::string_view text) {
  // from_chars and strtod agree on plain decimals (both round correctly). They
  // differ on white space, '+', hex floats and NaN payloads, and from_chars
  // refuses out-of-range values: those all take strtod.
  if (!text.empty() && (IsDigit(text.back()) || text.back() == '.')) {
    double value;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc() && ptr == end) return value;
  }
  return StrtodC(text);
}

void Append_Fixed6(double value, std::string& out) {
  char buf[400];  // DBL_MAX has 309 digits before the point
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
  out.append(buf, result.ptr);
}
