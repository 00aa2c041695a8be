#include "storage/peak_shape.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <utility>
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

// Point texts are parsed either as they are or straight from a stored form
// with offset 1 and no escapes, whose bytes are the text's bytes lowered by
// one. The parsers take the bytes of either and kBias, the amount that gives
// the text's byte back when added to a byte (modulo 256).
template <unsigned kBias>
char TextChar(const unsigned char* p) {
  return static_cast<char>((*p + kBias) & 0xffu);
}

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Exact powers of ten: an integer below 2^53 divided by one of them is the
// correctly rounded value of the decimal (IEEE division rounds correctly),
// which is the value strtod gives.
constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The token [p, end) as a plain decimal "[-]digits[.digits]" of at most 15
// digits. Returns end and sets value, or returns anything else when the token
// is anything else.
template <unsigned kBias>
const unsigned char* PlainReal(const unsigned char* p, const unsigned char* end, double& value) {
  const bool negative = p < end && TextChar<kBias>(p) == '-';
  if (negative) ++p;
  std::uint64_t mantissa = 0;
  const unsigned char* digits = p;
  while (p < end && IsDigit(TextChar<kBias>(p))) {
    mantissa = mantissa * 10 + static_cast<unsigned>(TextChar<kBias>(p++) - '0');
    if (p - digits > 15) return nullptr;
  }
  int count = static_cast<int>(p - digits);
  int fraction = 0;
  if (p < end && TextChar<kBias>(p) == '.') {
    const unsigned char* first = ++p;
    while (p < end && IsDigit(TextChar<kBias>(p))) {
      mantissa = mantissa * 10 + static_cast<unsigned>(TextChar<kBias>(p++) - '0');
      if (count + (p - first) > 15) return nullptr;
    }
    fraction = static_cast<int>(p - first);
    count += fraction;
  }
  if (count == 0 || p != end) return nullptr;
  const double magnitude = static_cast<double>(mantissa) / kPow10[fraction];
  value = negative ? -magnitude : magnitude;
  return p;
}

// The token [p, end) as 1 to 9 digits. Returns end and sets value, or returns
// anything else.
template <unsigned kBias>
const unsigned char* PlainScan(const unsigned char* p, const unsigned char* end,
                               std::uint32_t& value) {
  const unsigned char* digits = p;
  std::uint32_t v = 0;
  while (p < end && IsDigit(TextChar<kBias>(p)) && p - digits < 9) {
    v = v * 10 + static_cast<unsigned>(TextChar<kBias>(p++) - '0');
  }
  if (p == digits || p != end) return nullptr;
  value = v;
  return p;
}

// The text of the token [s, e), for the general conversions.
template <unsigned kBias>
std::string_view TokenText(const unsigned char* s, const unsigned char* e) {
  if constexpr (kBias == 0) {
    return std::string_view(reinterpret_cast<const char*>(s), static_cast<std::size_t>(e - s));
  } else {
    thread_local std::string text;
    text.resize(static_cast<std::size_t>(e - s));
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = TextChar<kBias>(s + i);
    return text;
  }
}

// Any real token: a plain decimal directly, everything else through the
// lenient conversion. Out of line, to keep the fast forms' loop small.
template <unsigned kBias>
[[gnu::noinline]] double GeneralReal(const unsigned char* s, const unsigned char* e) {
  double value = 0.0;
  if (PlainReal<kBias>(s, e, value) == e) return value;
  return Lenient_Real(TokenText<kBias>(s, e));
}

// Any Scan token: plain digits directly, everything else through the strict
// conversion (which throws as std::stoi does).
template <unsigned kBias>
[[gnu::noinline]] std::uint32_t GeneralScan(const unsigned char* s, const unsigned char* e) {
  std::uint32_t value = 0;
  if (PlainScan<kBias>(s, e, value) == e) return value;
  return static_cast<std::uint32_t>(Strict_Int(TokenText<kBias>(s, e)));
}

// The fast forms read eight text bytes at a time into a 64-bit word, the first
// byte in the low byte (so only on little-endian machines). XOR with '0' in
// every byte turns digits into their values and everything else into values
// above 9.
constexpr bool kWideParsing = std::endian::native == std::endian::little;
constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kZeros = 0x30 * kOnes;
constexpr std::uint64_t kHighBits = 0x80 * kOnes;

// The eight text bytes at p XOR '0'. With kBias 1, no byte may be 0xff (the
// addition would carry into the next byte).
template <unsigned kBias>
std::uint64_t LoadDigits8(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return (v + kBias * kOnes) ^ kZeros;
}

// The high bit of every byte of digits (text XOR '0') that is not a digit.
// Masking the high bits first keeps carries inside each byte.
std::uint64_t NonDigits(std::uint64_t digits) {
  return (((digits & ~kHighBits) + 0x76 * kOnes) | digits) & kHighBits;
}

// The value of eight digit values, the most significant in the low byte;
// bytes to be left out must be zero (leading zeros).
std::uint64_t EightDigitsValue(std::uint64_t v) {
  v = v * 10 + (v >> 8);  // pairs of digits in bytes 0, 2, 4 and 6
  return (((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
          (((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
         32;
}

// Readable bytes the fast forms need before a token's end.
constexpr std::ptrdiff_t kFastRoom = 15;

// The real token [s, e) in printf's "%f" form, "[-]d{1,8}.dddddd" (at most 14
// digits, so the plain decimal value above). Returns false for any other
// token. REQUIRES: the kFastRoom bytes before e readable (with kBias 1, none
// of them 0xff).
template <unsigned kBias>
bool FixedSixReal(const unsigned char* s, const unsigned char* e, double& value) {
  const bool negative = TextChar<kBias>(s) == '-';
  const std::ptrdiff_t integer_digits = (e - s) - 7 - negative;
  if (integer_digits < 1 || integer_digits > 8) return false;
  // The last integer digit, the point and the six decimals; before them, the
  // integer digits in the top bytes of the word.
  const std::uint64_t decimals = LoadDigits8<kBias>(e - 8);
  const std::uint64_t integer = LoadDigits8<kBias>(e - kFastRoom);
  constexpr std::uint64_t kDecimalsMask = 0xFFFFFFFFFFFF0000u;
  constexpr std::uint64_t kPointByte = static_cast<std::uint64_t>('.' ^ '0') << 8;
  const std::uint64_t integer_mask = ~std::uint64_t{0} << (8 * (8 - integer_digits));
  if (((NonDigits(decimals) & kDecimalsMask) | (NonDigits(integer) & integer_mask)) != 0 ||
      (decimals & 0xFF00u) != kPointByte) {
    return false;
  }
  const std::uint64_t mantissa = EightDigitsValue(integer & integer_mask) * 1000000u +
                                 EightDigitsValue(decimals & kDecimalsMask);
  const double magnitude = static_cast<double>(static_cast<std::int64_t>(mantissa)) / 1e6;
  value = negative ? -magnitude : magnitude;
  return true;
}

// The Scan token [s, e) as 1 to 8 digits; false for any other token.
// REQUIRES: as FixedSixReal.
template <unsigned kBias>
bool ShortScan(const unsigned char* s, const unsigned char* e, std::uint32_t& value) {
  const std::ptrdiff_t n = e - s;
  if (n < 1 || n > 8) return false;
  const std::uint64_t digits = LoadDigits8<kBias>(e - 8);
  const std::uint64_t mask = ~std::uint64_t{0} << (8 * (8 - n));
  if ((NonDigits(digits) & mask) != 0) return false;
  value = static_cast<std::uint32_t>(EightDigitsValue(digits & mask));
  return true;
}

template <unsigned kBias>
double RealToken(const unsigned char* s, const unsigned char* e, const unsigned char* fast_from) {
  double value;
  if (kWideParsing && e >= fast_from && FixedSixReal<kBias>(s, e, value)) return value;
  return GeneralReal<kBias>(s, e);
}

template <unsigned kBias>
std::uint32_t ScanToken(const unsigned char* s, const unsigned char* e,
                        const unsigned char* fast_from) {
  std::uint32_t value;
  if (kWideParsing && e >= fast_from && ShortScan<kBias>(s, e, value)) return value;
  return GeneralScan<kBias>(s, e);
}

// Set bits of every byte value, for 8-bit pieces of comma masks.
constexpr auto kBitCounts = [] {
  std::array<std::uint8_t, 256> counts{};
  for (int i = 0; i < 256; ++i) counts[i] = static_cast<std::uint8_t>(std::popcount(unsigned(i)));
  return counts;
}();

// Writes the start of every token of the n bytes at p: starts[0] = 0, then one
// past each comma, then n + 1 (one past a comma after the end); returns the
// count of commas. REQUIRES: room for n + 8 entries at starts. With kBias 1,
// returns SIZE_MAX instead when a byte is 0x00, 0x01 or 0xff: the stored form
// then has escapes or ends early, or its text holds a NUL.
template <unsigned kBias>
std::size_t FindTokenStarts(const unsigned char* p, std::size_t n, std::size_t* starts) {
  constexpr unsigned char kComma = static_cast<unsigned char>(',' - kBias);
  std::size_t* out = starts + 1;
  starts[0] = 0;
  bool unusual = false;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(static_cast<char>(kComma));
  __m128i unusual_bytes = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if constexpr (kBias != 0) {
      // Bytes 0xff, 0x00 and 0x01 are those that become 0 to 2 when one is added.
      const __m128i up = _mm_add_epi8(chunk, _mm_set1_epi8(1));
      unusual_bytes =
          _mm_or_si128(unusual_bytes, _mm_cmpeq_epi8(_mm_min_epu8(up, _mm_set1_epi8(2)), up));
    }
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, comma)));
    // Four entries written whether or not there are as many commas (the
    // guard bits keep the bit scan off zero); a chunk rarely holds more.
    unsigned rest = mask | 0xF0000u;
    for (int k = 0; k < 4; ++k) {
      out[k] = i + 1 + static_cast<std::size_t>(__builtin_ctz(rest));
      rest &= rest - 1;
    }
    const unsigned count = kBitCounts[mask & 0xFFu] + kBitCounts[mask >> 8];
    if (count > 4) {
      std::size_t* more = out + 4;
      for (rest &= 0xFFFFu; rest; rest &= rest - 1) {
        *more++ = i + 1 + static_cast<std::size_t>(__builtin_ctz(rest));
      }
    }
    out += count;
  }
  unusual = _mm_movemask_epi8(unusual_bytes) != 0;
#endif
  for (; i < n; ++i) {
    if (p[i] == kComma) *out++ = i + 1;
    if constexpr (kBias != 0) unusual |= static_cast<unsigned char>(p[i] + 1) <= 2;
  }
  if (unusual) return SIZE_MAX;
  *out = n + 1;
  return static_cast<std::size_t>(out - (starts + 1));
}

// Parses the points of the n bytes at p (see Parse_Peak_Shape_Text), appending
// them. With kBias 1, returns false (nothing appended) when FindTokenStarts
// finds an unusual byte.
template <unsigned kBias>
bool ParsePoints(const unsigned char* p, std::size_t n, std::vector<Data_Point>& points) {
  // First the start of every token, then the tokens: each is parsed on its
  // own (the work on one does not wait for the one before), and only tokens
  // in no fast form go through the general conversions.
  thread_local std::vector<std::size_t> starts;
  if (starts.size() < n + 8) starts.resize(n + 8);
  const std::size_t commas = FindTokenStarts<kBias>(p, n, starts.data());
  if (commas == SIZE_MAX) return false;
  const std::size_t* const start = starts.data();
  // As the line-reading routine splits: no token in an empty text, none after
  // a final comma.
  const std::size_t tokens = n == 0 ? 0 : commas + (start[commas] == n ? 0 : 1);
  points.reserve(points.size() + tokens / 4);
  const unsigned char* const fast_from = p + kFastRoom;
  auto token = [&](std::size_t k) { return std::pair(p + start[k], p + start[k + 1] - 1); };
  for (std::size_t k = 0; k + 3 < tokens; k += 4) {
    Data_Point point;
    auto [s0, e0] = token(k);
    auto [s1, e1] = token(k + 1);
    auto [s2, e2] = token(k + 2);
    auto [s3, e3] = token(k + 3);
    point.Intensity = RealToken<kBias>(s0, e0, fast_from);
    point.MZ = RealToken<kBias>(s1, e1, fast_from);
    point.RT = RealToken<kBias>(s2, e2, fast_from);
    point.Scan = ScanToken<kBias>(s3, e3, fast_from);
    points.push_back(point);
  }
  return true;
}

}  // namespace

void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points) {
  ParsePoints<0>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), points);
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
  // The stored form of a point text has offset 1 and no escapes: its points
  // are parsed from it directly, with no decoded copy. Anything else (or a
  // stored form that ends early or decodes to a NUL) is decoded first.
  const auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
  if (!stored.empty() && bytes[0] == 1 && ParsePoints<1>(bytes + 1, stored.size() - 1, points)) {
    return;
  }
  thread_local std::string text;
  Decode_Peak_Shape_Text(stored, text);
  Parse_Peak_Shape_Text(text, points);
}
