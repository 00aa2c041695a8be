#include "storage/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
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

namespace {

// Exact powers of ten: an integer below 2^53 divided by one of them is the
// correctly rounded value of the decimal (IEEE division rounds correctly).
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// [-]digits[.digits] with at most 15 digits: the value, as strtod gives it.
bool SimpleDecimal(std::string_view text, double& value) {
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction_digits = 0;
  bool point = false;
  for (; p < end; ++p) {
    const char c = *p;
    if (IsDigit(c)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      fraction_digits += point;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0 || digits > 15) return false;
  const double magnitude = static_cast<double>(mantissa) / kPow10[fraction_digits];
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

double Lenient_Real(std::string_view text) {
  double simple;
  if (SimpleDecimal(text, simple)) return simple;
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

namespace {

__extension__ typedef unsigned __int128 Uint128;

// "%f" of a finite |value| < 2^43, from the exact binary value: value * 10^6
// rounded to nearest, ties to even, as glibc's printf does. Returns false
// (writing nothing) outside that range.
bool FastFixed6(double value, std::string& out) {
  if (!(value > -8796093022208.0 && value < 8796093022208.0)) return false;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ffu);
  std::uint64_t scaled = 0;  // round(|value| * 10^6)
  if (biased != 0) {         // subnormals and zero round to 0
    // |value| = mantissa * 2^-shift, mantissa < 2^53, shift >= 10
    const std::uint64_t mantissa =
        (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - biased;
    const Uint128 n = static_cast<Uint128>(mantissa) * 1000000u;  // < 2^73
    if (shift < 75) {  // otherwise n < 2^73 < half a unit: 0
      const Uint128 quotient = n >> shift;
      const Uint128 remainder = n - (quotient << shift);
      const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
      scaled = static_cast<std::uint64_t>(quotient);
      if (remainder > half || (remainder == half && (scaled & 1u))) ++scaled;
    }
  }
  char buf[40];
  char* p = buf + sizeof buf;
  std::uint64_t integer = scaled / 1000000u;
  std::uint64_t decimals = scaled % 1000000u;
  for (int i = 0; i < 6; ++i) {
    *--p = static_cast<char>('0' + decimals % 10);
    decimals /= 10;
  }
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + integer % 10);
    integer /= 10;
  } while (integer != 0);
  if (std::signbit(value)) *--p = '-';
  out.append(p, buf + sizeof buf);
  return true;
}

}  // namespace

void Append_Fixed6(double value, std::string& out) {
  if (FastFixed6(value, out)) return;
  char buf[400];  // DBL_MAX has 309 digits before the point
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
  out.append(buf, result.ptr);
}
