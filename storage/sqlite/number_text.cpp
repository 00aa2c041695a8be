#include "storage/sqlite/number_text.h"

#include <locale.h>
#include <sqlite3.h>
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

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes value (< 10^20) in decimal ending just before end; returns its start.
char* WriteDecimalBackwards(std::uint64_t value, char* end) {
  while (value >= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * (value % 100), 2);
    value /= 100;
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * value, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return end;
}

// |value| * 10^6 = scaled + remainder / (2 * half) exactly, for a finite
// |value| < 2^43 (false otherwise), scaled rounded down.
struct Scaled6 {
  std::uint64_t scaled = 0;
  Uint128 remainder = 0;
  Uint128 half = 1;
};

bool ScaleBy10To6(double value, Scaled6& s) {
  if (!(value > -8796093022208.0 && value < 8796093022208.0)) return false;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ffu);
  s = Scaled6();
  if (biased == 0) return true;  // zero or subnormal: far below half a unit
  // |value| = mantissa * 2^-shift, mantissa < 2^53, shift >= 10
  const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int shift = 1075 - biased;
  const Uint128 n = static_cast<Uint128>(mantissa) * 1000000u;  // < 2^73
  if (shift >= 75) {                                            // n < 2^73 < half a unit
    s.remainder = 0;
    s.half = static_cast<Uint128>(1) << 100;
    return true;
  }
  const Uint128 quotient = n >> shift;
  s.scaled = static_cast<std::uint64_t>(quotient);
  s.remainder = n - (quotient << shift);
  s.half = static_cast<Uint128>(1) << (shift - 1);
  return true;
}

// Writes [-]integer.dddddd of a scaled value.
char* WriteScaled(std::uint64_t scaled, bool negative, char* out) {
  char buf[32];
  char* const end = buf + sizeof buf;
  const std::uint64_t decimals = scaled % 1000000u;
  std::memcpy(end - 6, kDigitPairs + 2 * (decimals / 10000), 2);
  std::memcpy(end - 4, kDigitPairs + 2 * (decimals / 100 % 100), 2);
  std::memcpy(end - 2, kDigitPairs + 2 * (decimals % 100), 2);
  end[-7] = '.';
  char* p = WriteDecimalBackwards(scaled / 1000000u, end - 7);
  if (negative) *--p = '-';
  const std::size_t n = static_cast<std::size_t>(end - p);
  std::memcpy(out, p, n);
  return out + n;
}

}  // namespace

namespace {

// SQLite's "%f" of a finite |value| < 10^9, worked out from the exact value,
// as a count of millionths (scaled; the sign is value's) or false where that
// could differ from SQLite's own rounding; and as text, or nullptr (nothing
// written). SQLite adds half a unit of the sixth decimal, plus |value| * 3e-16
// when the binary exponent of |value| is below 27, in long double arithmetic,
// and then cuts the digits off (at most 16 significant ones: all of them
// here). Values within 0.001 units of that rounding boundary are left to SQLite.
bool SqliteFixed6Scaled(double value, std::uint64_t& scaled) {
  const double magnitude = std::fabs(value);
  Scaled6 s;
  if (!(magnitude < 1e9) || !ScaleBy10To6(value, s)) return false;
  int exponent = 0;
  std::frexp(magnitude, &exponent);  // magnitude = f * 2^exponent, f in [0.5, 1)
  const int binary_exponent = magnitude == 0.0 ? -1023 : exponent - 1;
  double boundary = 0.5;  // in units of the sixth decimal
  if (6 + binary_exponent / 3 < 15) boundary -= magnitude * 3e-10;
  // remainder / (2 * half) is the fraction of a unit below the value.
  const double fraction = static_cast<double>(s.remainder) / static_cast<double>(2 * s.half);
  if (std::fabs(fraction - boundary) <= 1e-3) return false;
  if (fraction > boundary) ++s.scaled;
  scaled = s.scaled;
  return true;
}

char* SqliteFixed6FromExact(double value, char* out) {
  std::uint64_t scaled;
  if (!SqliteFixed6Scaled(value, scaled)) return nullptr;
  return WriteScaled(scaled, value < 0.0, out);  // no sign for negative zero
}

// Whether SqliteFixed6FromExact agrees with the SQLite library in use on a
// set of probes around the rounding boundaries; checked once per process.
bool SqliteFixed6Verified() {
  static const bool verified = [] {
    // sqlite3_snprintf may allocate, which needs an initialized library (it
    // does not initialize it itself, unlike sqlite3_mprintf).
    if (sqlite3_initialize() != SQLITE_OK) return false;
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&state] {
      state = state * 6364136223846793005u + 1442695040888963407u;
      return state >> 11;
    };
    char exact[kMaxFixed6Chars];
    char library[kMaxFixed6Chars];
    for (int i = 0; i < 4000; ++i) {
      const double units = static_cast<double>(next() % 1000000000000000u);  // < 10^15
      double v = units / 1e6 + (i % 2 ? 0.5e-6 : 0.0);                       // ties too
      if (i % 4 == 2) v = std::nextafter(v, 0.0);
      if (i % 4 == 3) v -= v * 3e-16;  // the added fraction's edge
      if (i % 8 == 5) v = -v;
      v /= static_cast<double>(std::uint64_t{1} << (next() % 40));
      char* end = SqliteFixed6FromExact(v, exact);
      if (!end) continue;
      *end = '\0';
      sqlite3_snprintf(kMaxFixed6Chars, library, "%f", v);
      if (std::strcmp(exact, library) != 0) return false;
    }
    return true;
  }();
  return verified;
}

}  // namespace

char* Write_Sqlite_Fixed6(double value, char* out) {
  if (SqliteFixed6Verified()) {
    if (char* end = SqliteFixed6FromExact(value, out)) return end;
  }
  sqlite3_snprintf(kMaxFixed6Chars, out, "%f", value);
  return out + std::strlen(out);
}

char* Write_Fixed6(double value, char* out) {
  return std::to_chars(out, out + kMaxFixed6Chars, value, std::chars_format::fixed, 6).ptr;
}

void Append_Fixed6(double value, std::string& out) {
  char buf[kMaxFixed6Chars];
  out.append(buf, Write_Fixed6(value, buf));
}

char* Write_General6(double value, char* out) {
  return std::to_chars(out, out + kMaxGeneral6Chars, value, std::chars_format::general, 6).ptr;
}

namespace {

// SQLite's conversion of a decimal text as the library does it up to
// version 3.42: up to 18 or 19 significant digits gathered into a 64-bit
// integer, trailing zeros taken off, then one multiplication or division by
// a power of ten in long double arithmetic, rounded once more to double.
double Sqlite_Decimal_Real_Long_Double(std::string_view z) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  const std::size_t n = z.size();
  std::size_t i = 0;
  int sign = 1;
  if (i < n && (z[i] == '-' || z[i] == '+')) sign = z[i++] == '-' ? -1 : 1;
  std::int64_t s = 0;
  int d = 0;
  int digits = 0;
  while (i < n && z[i] == '0') ++i, ++digits;
  while (i < n && IsDigit(z[i]) && s < (kLargest - 9) / 10) {
    s = s * 10 + (z[i++] - '0');
    ++digits;
  }
  while (i < n && IsDigit(z[i])) ++i, ++digits, ++d;
  if (i < n && z[i] == '.') {
    ++i;
    while (i < n && IsDigit(z[i]) && s < (kLargest - 9) / 10) {
      s = s * 10 + (z[i++] - '0');
      ++digits;
      --d;
    }
  }
  int e = d < 0 ? -d : d;
  const int esign = d < 0 ? -1 : 1;
  if (s == 0) return (sign < 0 && digits) ? -0.0 : 0.0;
  if (esign > 0) {
    while (s < kLargest / 10 && e > 0) --e, s *= 10;
  } else {
    while (s % 10 == 0 && e > 0) --e, s /= 10;
  }
  s = sign < 0 ? -s : s;
  if (e == 0) return static_cast<double>(s);
  long double scale = 1.0;
  double result;
  if (e > 307 && e < 342) {
    while (e % 308) scale *= 1.0e+1, --e;
    if (esign < 0) {
      result = static_cast<double>(s / scale);
      result /= 1.0e+308;
    } else {
      result = static_cast<double>(s * scale);
      result *= 1.0e+308;
    }
  } else if (e >= 342) {
    result = esign < 0 ? 0.0 * static_cast<double>(s)
                       : std::numeric_limits<double>::infinity() * static_cast<double>(s);
  } else {
    while (e % 22) scale *= 1.0e+1, --e;
    while (e > 0) scale *= 1.0e+22, e -= 22;
    result = static_cast<double>(esign < 0 ? s / scale : s * scale);
  }
  return result;
}

// The library's own answer: CAST(text AS REAL) runs the same conversion as
// a REAL column's affinity.
double Sqlite_Decimal_Real_From_Library(std::string_view text) {
  struct Connection {
    sqlite3* db = nullptr;
    sqlite3_stmt* cast = nullptr;
    Connection() {
      if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
          sqlite3_prepare_v2(db, "select cast(?1 as real)", -1, &cast, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot open an in-memory SQLite database");
      }
    }
    ~Connection() {
      sqlite3_finalize(cast);
      sqlite3_close(db);
    }
  };
  thread_local Connection c;
  sqlite3_bind_text(c.cast, 1, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  double value = 0.0;
  if (sqlite3_step(c.cast) == SQLITE_ROW) value = sqlite3_column_double(c.cast, 0);
  sqlite3_reset(c.cast);
  sqlite3_clear_bindings(c.cast);
  return value;
}

bool Same_Bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether the long double conversion is the library's: a version that uses
// it, and agreement on probes of every magnitude "%f" writes.
bool Sqlite_Decimal_Real_Verified() {
  static const bool verified = [] {
    if (sqlite3_libversion_number() >= 3043000) return false;
    std::uint64_t state = 0xD1B54A32D192ED03u;
    auto next = [&state] {
      state = state * 6364136223846793005u + 1442695040888963407u;
      return state >> 11;
    };
    char text[kMaxFixed6Chars];
    for (int i = 0; i < 4000; ++i) {
      const double unit = static_cast<double>(next()) / 9007199254740992.0;  // [0, 1)
      double v = unit * std::pow(10.0, static_cast<int>(next() % 40) - 12);
      // Finite only: "%f" of an infinity is no decimal.
      if (i % 5 == 0) v = std::pow(10.0, static_cast<int>(next() % 300));
      if (i % 2) v = -v;
      const std::string_view t(text, static_cast<std::size_t>(Write_Sqlite_Fixed6(v, text) - text));
      if (!Same_Bits(Sqlite_Decimal_Real_Long_Double(t), Sqlite_Decimal_Real_From_Library(t))) {
        return false;
      }
    }
    return true;
  }();
  return verified;
}

}  // namespace

bool Sqlite_Decimal_Real_Is_Own() { return Sqlite_Decimal_Real_Verified(); }

double Sqlite_Fixed6_Real(double value) {
  std::uint64_t scaled;
  if (SqliteFixed6Verified() && Sqlite_Decimal_Real_Verified() &&
      SqliteFixed6Scaled(value, scaled)) {
    // The text is [-]digits.dddddd: fewer than 16 digits, all of them taken.
    const bool negative = value < 0.0;
    if (scaled == 0) return negative ? -0.0 : 0.0;
    int e = 6;
    while (scaled % 10 == 0 && e > 0) scaled /= 10, --e;
    const auto s = static_cast<std::int64_t>(scaled);
    const std::int64_t signed_s = negative ? -s : s;
    if (e == 0) return static_cast<double>(signed_s);
    static constexpr long double kPowers[7] = {1e0L, 1e1L, 1e2L, 1e3L, 1e4L, 1e5L, 1e6L};
    return static_cast<double>(signed_s / kPowers[e]);
  }
  char text[kMaxFixed6Chars];
  const char* end = Write_Sqlite_Fixed6(value, text);
  return Sqlite_Decimal_Real(std::string_view(text, static_cast<std::size_t>(end - text)));
}

double Sqlite_Decimal_Real(std::string_view text) {
  if (Sqlite_Decimal_Real_Verified()) return Sqlite_Decimal_Real_Long_Double(text);
  return Sqlite_Decimal_Real_From_Library(text);
}
