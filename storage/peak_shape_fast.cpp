#include "storage/peak_shape_fast.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "storage/number_text.h"

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

// The token [s, e) as digits only whose value fits 32 unsigned bits (leading
// zeros allowed). Scans are written as unsigned decimals, so a Scan of 2^31
// or more (a negative input token wraps) is written as such a text.
template <unsigned kBias>
bool UnsignedScan(const unsigned char* s, const unsigned char* e, std::uint32_t& value) {
  if (s == e) return false;
  std::uint64_t v = 0;
  for (const unsigned char* p = s; p < e; ++p) {
    const char c = TextChar<kBias>(p);
    if (!IsDigit(c)) return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > UINT32_MAX) return false;
  }
  value = static_cast<std::uint32_t>(v);
  return true;
}

// Any Scan token: plain digits directly, everything else through the strict
// conversion (which throws as std::stoi does). The one widening: a text of
// digits alone up to 4294967295 reads as that value, where std::stoi would
// stop at 2^31 - 1, so that every Scan Varnel writes reads back.
template <unsigned kBias>
[[gnu::noinline]] std::uint32_t GeneralScan(const unsigned char* s, const unsigned char* e) {
  std::uint32_t value = 0;
  if (PlainScan<kBias>(s, e, value) == e) return value;
  if (UnsignedScan<kBias>(s, e, value)) return value;
  return static_cast<std::uint32_t>(Strict_Int(TokenText<kBias>(s, e)));
}

// Scan tokens are read eight text bytes at a time into a 64-bit word, the
// first byte in the low byte (so only on little-endian machines). XOR with '0'
// in every byte turns digits into their values and everything else into
// values above 9.
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
constexpr std::ptrdiff_t kFastRoom = 16;

// The "%f" form of reals is read sixteen bytes at once with SSE2 (which every
// x86-64 processor has); elsewhere reals take the general way.

#if defined(__x86_64__)
constexpr bool kFixedSixFast = true;

// From kLastBytes + n: sixteen bytes of which the last n are 0xff.
alignas(16) constexpr unsigned char kLastBytes[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// The real token [s, e) in printf's "%f" form, "[-]d{1,9}.dddddd" (at most 15
// digits, so the plain decimal value above). Returns false for any other
// token. The token is read right-aligned in the 16 bytes before e: the point
// is byte 9, the integer digits end at byte 8. REQUIRES: the kFastRoom bytes
// before e readable.
template <unsigned kBias>
[[gnu::always_inline]] inline bool FixedSixReal(const unsigned char* s, const unsigned char* e,
                                                double& value) {
  const std::ptrdiff_t n = e - s;
  if (n < 8 || n > 16) return false;
  const bool negative = TextChar<kBias>(s) == '-';
  if (n - negative < 8) return false;  // 1 to 9 integer digits
  // Each text byte minus '0': digits become their values, all else above 9.
  const __m128i values =
      _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(e - 16)),
                   _mm_set1_epi8(static_cast<char>(static_cast<int>(kBias) - '0')));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
  const unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(is_digit));
  const unsigned point =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_set1_epi8('.' - '0'))));
  const unsigned token = 0xFFFFu & (0xFFFFu << (16 - n));
  const unsigned sign = static_cast<unsigned>(negative) << (16 - n);
  if ((digits & token) != (token & ~(sign | 0x200u)) || !(point & 0x200u)) return false;
  // Digit values outside the token and at the point and sign zeroed, then
  // summed in pairs (the point's pair keeps its integer digit alone), in
  // fours (digits 0-3, 4-7, 8 with the first two decimals, the last four
  // decimals) and in eights (the integer's first eight digits, the rest).
  const __m128i in_token = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLastBytes + n));
  const __m128i clean = _mm_and_si128(_mm_and_si128(values, is_digit), in_token);
  const __m128i zero = _mm_setzero_si128();
  const __m128i pairs = _mm_packs_epi32(
      _mm_madd_epi16(_mm_unpacklo_epi8(clean, zero), _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1)),
      _mm_madd_epi16(_mm_unpackhi_epi8(clean, zero), _mm_setr_epi16(1, 0, 10, 1, 10, 1, 10, 1)));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));  // 100, 1
  const __m128i eights =
      _mm_add_epi64(_mm_mul_epu32(fours, _mm_set1_epi32(10000)), _mm_srli_epi64(fours, 32));
  const std::int64_t first = _mm_cvtsi128_si64(eights);
  const std::int64_t rest = _mm_cvtsi128_si64(_mm_unpackhi_epi64(eights, eights));
  const double magnitude = static_cast<double>(first * 10000000 + rest) / 1e6;
  value = negative ? -magnitude : magnitude;
  return true;
}
#else
constexpr bool kFixedSixFast = false;
template <unsigned kBias>
bool FixedSixReal(const unsigned char*, const unsigned char*, double&) {
  return false;
}
#endif

// The Scan token [s, e) as 1 to 8 digits; false for any other token.
// REQUIRES: the kFastRoom bytes before e readable (with kBias 1, none of
// them 0xff).
template <unsigned kBias>
[[gnu::always_inline]] inline bool ShortScan(const unsigned char* s, const unsigned char* e,
                                             std::uint32_t& value) {
  const std::ptrdiff_t n = e - s;
  if (n < 1 || n > 8) return false;
  const std::uint64_t digits = LoadDigits8<kBias>(e - 8);
  const std::uint64_t mask = ~std::uint64_t{0} << (8 * (8 - n));
  if ((NonDigits(digits) & mask) != 0) return false;
  value = static_cast<std::uint32_t>(EightDigitsValue(digits & mask));
  return true;
}

// A real token that ends less than kFastRoom bytes from the start (the first
// of a text, so shorter than kFastRoom): copied to where the fast form may
// read before it.
template <unsigned kBias>
[[gnu::noinline]] double NearStartReal(const unsigned char* s, const unsigned char* e) {
  const std::ptrdiff_t n = e - s;
  unsigned char room[kFastRoom] = {};
  std::memcpy(room + kFastRoom - n, s, static_cast<std::size_t>(n));
  double value;
  if (kFixedSixFast && FixedSixReal<kBias>(room + kFastRoom - n, room + kFastRoom, value)) {
    return value;
  }
  return GeneralReal<kBias>(s, e);
}

template <unsigned kBias>
[[gnu::always_inline]] inline double RealToken(const unsigned char* s, const unsigned char* e,
                                               const unsigned char* fast_from) {
  double value;
  if (e < fast_from) return NearStartReal<kBias>(s, e);
  if (kFixedSixFast && FixedSixReal<kBias>(s, e, value)) return value;
  return GeneralReal<kBias>(s, e);
}

template <unsigned kBias>
[[gnu::always_inline]] inline std::uint32_t ScanToken(const unsigned char* s,
                                                      const unsigned char* e,
                                                      const unsigned char* fast_from) {
  std::uint32_t value;
  if (kWideParsing && e >= fast_from && ShortScan<kBias>(s, e, value)) return value;
  return GeneralScan<kBias>(s, e);
}

// Counts the commas of the n bytes at p (text commas: bytes ',' - kBias).
// With kBias 1, returns SIZE_MAX instead when a byte is 0x00, 0x01 or 0xff:
// the stored form then has escapes or ends early, or its text holds a NUL.
template <unsigned kBias>
std::size_t CountCommas(const unsigned char* p, std::size_t n) {
  constexpr unsigned char kComma = static_cast<unsigned char>(',' - kBias);
#if defined(__x86_64__)
  if (n >= 16) {
    const __m128i comma = _mm_set1_epi8(static_cast<char>(kComma));
    const __m128i zero = _mm_setzero_si128();
    std::size_t commas = 0;
    // Bytes 0xff, 0x00 and 0x01 become 0 to 2 when one is added.
    __m128i lowest = _mm_set1_epi8(-1);
    auto add = [&](__m128i& counts, __m128i chunk, __m128i counted) {
      counts = _mm_sub_epi8(counts, _mm_and_si128(_mm_cmpeq_epi8(chunk, comma), counted));
      if constexpr (kBias != 0) {
        lowest = _mm_min_epu8(lowest, _mm_add_epi8(chunk, _mm_set1_epi8(1)));
      }
    };
    const __m128i all = _mm_set1_epi8(-1);
    const std::size_t chunks = n / 16;
    for (std::size_t c = 0; c < chunks;) {
      // Counts per byte lane, summed before any lane can reach 256.
      __m128i counts = zero;
      const std::size_t block_end = std::min(chunks, c + 255);
      for (; c < block_end; ++c) {
        add(counts, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * c)), all);
      }
      if (c == chunks && n % 16 != 0) {  // the last 16 bytes, counting the new ones
        add(counts, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLastBytes + n % 16)));
      }
      const __m128i sums = _mm_sad_epu8(counts, zero);
      commas += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) +
                                         _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
    const __m128i unusual = _mm_cmpeq_epi8(_mm_min_epu8(lowest, _mm_set1_epi8(2)), lowest);
    return _mm_movemask_epi8(unusual) != 0 ? SIZE_MAX : commas;
  }
#endif
  std::size_t commas = 0;
  bool unusual = false;
  for (std::size_t i = 0; i < n; ++i) {
    commas += p[i] == kComma;
    if constexpr (kBias != 0) unusual |= static_cast<unsigned char>(p[i] + 1) <= 2;
  }
  return unusual ? SIZE_MAX : commas;
}

// The end of the token that starts at s: its comma, or end.
template <unsigned kBias>
const unsigned char* TokenEnd(const unsigned char* s, const unsigned char* end) {
  const void* comma =
      std::memchr(s, ',' - static_cast<int>(kBias), static_cast<std::size_t>(end - s));
  return comma ? static_cast<const unsigned char*>(comma) : end;
}

#if defined(__x86_64__)
// The commas of the 64 bytes at p, as bits (bit k: byte k).
template <unsigned kBias>
std::uint64_t CommaBits64(const unsigned char* p) {
  const __m128i comma = _mm_set1_epi8(static_cast<char>(',' - static_cast<int>(kBias)));
  std::uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    bits |= static_cast<std::uint64_t>(
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, comma))))
            << (16 * k);
  }
  return bits;
}
#endif

// Ends the four tokens of the point that starts at s. A point usually lies in
// the 64 bytes from s (or, at the end, in the last 64 bytes, with the end of
// the bytes as a last comma): its ends are the first four commas there.
// Otherwise each end is searched for.
template <unsigned kBias>
[[gnu::always_inline]] inline void PointEnds(const unsigned char* s,
                                             [[maybe_unused]] const unsigned char* begin,
                                             const unsigned char* end,
                                             const unsigned char* (&ends)[4]) {
#if defined(__x86_64__)
  if (end - begin >= 64) {
    std::uint64_t bits;
    if (end - s > 64) {
      bits = CommaBits64<kBias>(s);
    } else {
      const std::ptrdiff_t skip = s - (end - 64);
      bits = CommaBits64<kBias>(end - 64) >> skip;
      if (end - s < 64) bits |= std::uint64_t{1} << (end - s);
    }
    const std::uint64_t bits1 = bits & (bits - 1);
    const std::uint64_t bits2 = bits1 & (bits1 - 1);
    const std::uint64_t bits3 = bits2 & (bits2 - 1);
    if (bits3 != 0) {
      ends[0] = s + __builtin_ctzll(bits);
      ends[1] = s + __builtin_ctzll(bits1);
      ends[2] = s + __builtin_ctzll(bits2);
      ends[3] = s + __builtin_ctzll(bits3);
      return;
    }
  }
#endif
  for (const unsigned char*& e : ends) {
    e = TokenEnd<kBias>(s, end);
    s = e + 1;
  }
}

// Parses the points of the n bytes at p (see Parse_Peak_Shape_Text), appending
// them. With kBias 1, returns false (nothing appended) when CountCommas finds
// an unusual byte.
template <unsigned kBias>
bool ParsePoints(const unsigned char* p, std::size_t n, std::vector<Data_Point>& points) {
  const std::size_t commas = CountCommas<kBias>(p, n);
  if (commas == SIZE_MAX) return false;
  // As the line-reading routine splits: no token in an empty text, none after
  // a final comma.
  const std::size_t tokens =
      n == 0 ? 0 : commas + (p[n - 1] == static_cast<unsigned char>(',' - kBias) ? 0 : 1);
  const std::size_t count = tokens / 4;
  points.reserve(points.size() + count);
  // Only tokens in no fast form go through the general conversions.
  const unsigned char* const end = p + n;
  const unsigned char* const fast_from = p + kFastRoom;
  // The ends of the next point are found before this point is parsed, so that
  // the search does not wait for the parsing.
  const unsigned char* s = p;
  const unsigned char* e[4];
  if (count > 0) PointEnds<kBias>(s, p, end, e);
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* const next = e[3] + 1;
    const unsigned char* next_ends[4] = {};
    if (k + 1 < count) PointEnds<kBias>(next, p, end, next_ends);
    Data_Point point;
    point.Intensity = RealToken<kBias>(s, e[0], fast_from);
    point.MZ = RealToken<kBias>(e[0] + 1, e[1], fast_from);
    point.RT = RealToken<kBias>(e[1] + 1, e[2], fast_from);
    point.Scan = ScanToken<kBias>(e[2] + 1, e[3], fast_from);
    points.push_back(point);
    s = next;
    std::copy(std::begin(next_ends), std::end(next_ends), std::begin(e));
  }
  return true;
}

}  // namespace

bool Parse_Points_Fast(std::string_view bytes, Point_Bytes form, std::vector<Data_Point>& points) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (form == Point_Bytes::kLoweredByOne) return ParsePoints<1>(p, bytes.size(), points);
  return ParsePoints<0>(p, bytes.size(), points);
}
