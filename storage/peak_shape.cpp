#include "storage/peak_shape.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/cppsqlite3.h"
#include "storage/number_text.h"

void Format_Peak_Shape_Text(const std::vector<Data_Point>& points, std::string& out) {
  char buf[3 * kMaxFixed6Chars + 16];
  bool first = true;
  for (const Data_Point& point : points) {
    char* p = buf;
    if (!first) *p++ = ',';
    first = false;
    p = Write_Fixed6(point.Intensity, p);
    *p++ = ',';
    p = Write_Fixed6(point.MZ, p);
    *p++ = ',';
    p = Write_Fixed6(point.RT, p);
    *p++ = ',';
    p = std::to_chars(p, buf + sizeof buf, point.Scan).ptr;
    out.append(buf, p);
  }
}

namespace {

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The token at p as a plain decimal "[-]digits[.digits]" of at most 15 digits
// that ends at a comma or at end. Returns the end of the token, or nullptr
// when it is anything else. An integer below 2^53 divided by an exact power of
// ten is correctly rounded, so the value is the one strtod gives.
const char* PlainReal(const char* p, const char* end, double& value) {
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  std::uint64_t mantissa = 0;
  const char* digits = p;
  while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
  int count = static_cast<int>(p - digits);
  int fraction = 0;
  if (p < end && *p == '.') {
    const char* first = ++p;
    while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    fraction = static_cast<int>(p - first);
    count += fraction;
  }
  if (count == 0 || count > 15 || (p < end && *p != ',')) return nullptr;
  const double magnitude = static_cast<double>(mantissa) / kPow10[fraction];
  value = negative ? -magnitude : magnitude;
  return p;
}

// Eight characters at a time, for the plain tokens away from the end.
std::uint64_t Load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Digits minus '0' in each byte of eight characters (first character in the
// low byte): the count of leading digits. Borrows and carries only run from a
// non-digit upwards, past the bytes that count.
int LeadingDigits(std::uint64_t minus_zero) {
  const std::uint64_t non_digit =
      (minus_zero | (minus_zero + 0x7676767676767676u)) & 0x8080808080808080u;
  return non_digit ? __builtin_ctzll(non_digit) / 8 : 8;
}

// The value of n (1 to 8) leading digits, each byte already minus '0'.
std::uint64_t DigitsValue(std::uint64_t minus_zero, int n) {
  std::uint64_t v = minus_zero << (8 * (8 - n));  // leading zero digits in front
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFu) * 0x000F424000000064u) +
       (((v >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
      32;
  return v;
}

constexpr std::uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
constexpr std::uint64_t kZeros = 0x3030303030303030u;

// The token at p as 1 to 9 digits ending at a comma or at end, or nullptr.
const char* PlainScan(const char* p, const char* end, std::uint32_t& value) {
  const char* digits = p;
  std::uint32_t v = 0;
  while (p < end && IsDigit(*p) && p - digits < 9) v = v * 10 + static_cast<unsigned>(*p++ - '0');
  if (p == digits || (p < end && *p != ',')) return nullptr;
  value = v;
  return p;
}

// Readable bytes the wide token parsers need from a token's start. The wide
// parsers read the first character into the low byte (little-endian only).
constexpr std::ptrdiff_t kWideRoom = 24;
constexpr bool kWideParsing = std::endian::native == std::endian::little;

// The plain real token [s, e) ("[-]d{0,7}[.d{0,7}]", at least one digit)
// read eight characters at a time. REQUIRES: s + kWideRoom bytes readable.
bool WideReal(const char* s, const char* e, double& value) {
  const char* p = s;
  const bool negative = *p == '-';
  p += negative;
  const std::uint64_t integer_chars = Load8(p) - kZeros;
  const int integer_digits = LeadingDigits(integer_chars);
  if (integer_digits == 8) return false;
  std::uint64_t mantissa = integer_digits ? DigitsValue(integer_chars, integer_digits) : 0;
  p += integer_digits;
  int fraction_digits = 0;
  if (p < e) {
    if (*p != '.') return false;
    ++p;
    fraction_digits = static_cast<int>(e - p);
    if (fraction_digits > 7) return false;
    if (fraction_digits > 0) {
      const std::uint64_t fraction_chars = Load8(p) - kZeros;
      if (LeadingDigits(fraction_chars) < fraction_digits) return false;
      mantissa =
          mantissa * kPow10Int[fraction_digits] + DigitsValue(fraction_chars, fraction_digits);
    }
  }
  if (integer_digits + fraction_digits == 0) return false;
  const double magnitude = static_cast<double>(mantissa) / kPow10[fraction_digits];
  value = negative ? -magnitude : magnitude;
  return true;
}

// The Scan token [s, e) of 1 to 8 digits, read at once. REQUIRES: s +
// kWideRoom bytes readable.
bool WideScan(const char* s, const char* e, std::uint32_t& value) {
  const int n = static_cast<int>(e - s);
  if (n < 1 || n > 8) return false;
  const std::uint64_t chars = Load8(s) - kZeros;
  if (LeadingDigits(chars) < n) return false;
  value = static_cast<std::uint32_t>(DigitsValue(chars, n));
  return true;
}

double RealToken(const char* s, const char* e, const char* limit) {
  double value = 0.0;
  if (kWideParsing && limit - s >= kWideRoom ? WideReal(s, e, value)
                                             : PlainReal(s, e, value) == e) {
    return value;
  }
  return Lenient_Real(std::string_view(s, static_cast<std::size_t>(e - s)));
}

std::uint32_t ScanToken(const char* s, const char* e, const char* limit) {
  std::uint32_t value = 0;
  if (kWideParsing && limit - s >= kWideRoom ? WideScan(s, e, value)
                                             : PlainScan(s, e, value) == e) {
    return value;
  }
  return static_cast<std::uint32_t>(
      Strict_Int(std::string_view(s, static_cast<std::size_t>(e - s))));
}

// Appends the offset of every comma of [text, text + n) to commas.
void FindCommas(const char* text, std::size_t n, std::vector<std::size_t>& commas) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(',');
  for (; i + 16 <= n; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, comma)));
    while (mask) {
      commas.push_back(i + static_cast<std::size_t>(__builtin_ctz(mask)));
      mask &= mask - 1;
    }
  }
#endif
  for (; i < n; ++i) {
    if (text[i] == ',') commas.push_back(i);
  }
}

}  // namespace

void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points) {
  // First every comma, then the tokens between them: each token is parsed on
  // its own (the work on one does not wait for the one before), and only
  // tokens that are not plain numbers go through the general conversions.
  thread_local std::vector<std::size_t> commas;
  commas.clear();
  const char* const base = text.data();
  const std::size_t n = text.size();
  FindCommas(base, n, commas);
  // As the line-reading routine splits: no token in an empty text, none after
  // a final comma.
  const std::size_t tokens =
      n == 0 ? 0 : commas.size() + (commas.empty() || commas.back() != n - 1 ? 1 : 0);
  const char* const limit = base + n;
  auto token_start = [&](std::size_t k) { return k == 0 ? base : base + commas[k - 1] + 1; };
  auto token_end = [&](std::size_t k) { return k < commas.size() ? base + commas[k] : limit; };
  points.reserve(points.size() + tokens / 4);
  for (std::size_t k = 0; k + 3 < tokens; k += 4) {
    Data_Point point;
    point.Intensity = RealToken(token_start(k), token_end(k), limit);
    point.MZ = RealToken(token_start(k + 1), token_end(k + 1), limit);
    point.RT = RealToken(token_start(k + 2), token_end(k + 2), limit);
    point.Scan = ScanToken(token_start(k + 3), token_end(k + 3), limit);
    points.push_back(point);
  }
}

void Encode_Peak_Shape(std::string_view point_text, std::string& out) {
  if (point_text.size() > static_cast<std::size_t>(CppSQLite3Binary::kMaxBinaryLength)) {
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Peak_shape text too long to encode");
  }
  const int n = static_cast<int>(point_text.size());
  // Point texts hold none of the bytes 1, 2 and 40, so the offset is 1 and
  // nothing is escaped: each byte is lowered by one.
  const auto* in = reinterpret_cast<const unsigned char*>(point_text.data());
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    o[0] = 1;
    unsigned escaped = 0;
    for (int i = 0; i < n; ++i) {
      escaped |= static_cast<unsigned>(in[i] == 1 || in[i] == 2 || in[i] == 40);
      o[i + 1] = static_cast<unsigned char>(in[i] - 1);
    }
    if (!escaped) return;
  }
  out.resize(2 + (257 * static_cast<std::size_t>(n)) / 254);
  const int written =
      sqlite3_encode_binary(reinterpret_cast<const unsigned char*>(point_text.data()), n,
                            reinterpret_cast<unsigned char*>(out.data()));
  out.resize(static_cast<std::size_t>(written));
}

std::string Encode_Peak_Shape(std::string_view point_text) {
  std::string out;
  Encode_Peak_Shape(point_text, out);
  return out;
}

void Decode_Peak_Shape_Text(std::string_view stored, std::string& text) {
  if (const void* nul = std::memchr(stored.data(), '\0', stored.size())) {
    stored = stored.substr(0, static_cast<const char*>(nul) - stored.data());
  }
  if (stored.empty()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Empty Peak_shape text");
  // The decoding of sqlite3_decode_binary, over a counted text.
  const auto* in = reinterpret_cast<const unsigned char*>(stored.data());
  const std::size_t n = stored.size();
  const unsigned e = in[0];
  text.resize(n - 1);
  char* out = text.data();
  std::size_t written = 0;
  if (!std::memchr(in + 1, 1, n - 1)) {  // no escapes: the common case
    for (std::size_t i = 1; i < n; ++i) out[i - 1] = static_cast<char>((in[i] + e) & 0xffu);
    written = n - 1;
  }
  for (std::size_t i = 1 + written; i < n; ++i) {
    unsigned c = in[i];
    if (c == 1) {
      if (++i >= n) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
      c = in[i];
      if (c == 1) {
        c = 0;
      } else if (c == 2) {
        c = 1;
      } else if (c == 3) {
        c = '\'';
      } else {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
      }
    }
    out[written++] = static_cast<char>((c + e) & 0xffu);
  }
  // The point text ends at a decoded 0 byte, if any.
  const void* nul = std::memchr(out, '\0', written);
  text.resize(nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - out) : written);
}

void Decode_Peak_Shape(std::string_view stored, std::vector<Data_Point>& points) {
  thread_local std::string text;
  Decode_Peak_Shape_Text(stored, text);
  Parse_Peak_Shape_Text(text, points);
}
