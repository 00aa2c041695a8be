#include "storage/stored_shape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/peak_shape.h"

namespace {

// The stored bytes are the point text's bytes lowered by one.
inline unsigned char Text_Byte(unsigned char stored) {
  return static_cast<unsigned char>(stored + 1);
}

inline bool Is_Digit(unsigned char c) { return c >= '0' && c <= '9'; }

// -?(0|[1-9][0-9]{0,8})\.[0-9]{6} at p; advances p past it.
// A negative zero is not: "%f" writes it without its sign.
bool Real6(const unsigned char*& p, const unsigned char* end) {
  const bool negative = p < end && Text_Byte(*p) == '-';
  if (negative) ++p;
  const unsigned char* digits = p;
  while (p < end && Is_Digit(Text_Byte(*p))) ++p;
  const std::ptrdiff_t n = p - digits;
  if (n < 1 || n > 9 || (n > 1 && Text_Byte(*digits) == '0')) return false;
  if (p == end || Text_Byte(*p) != '.') return false;
  ++p;
  if (end - p < 6) return false;
  bool zero = n == 1 && Text_Byte(*digits) == '0';
  for (int i = 0; i < 6; ++i, ++p) {
    if (!Is_Digit(Text_Byte(*p))) return false;
    zero = zero && Text_Byte(*p) == '0';
  }
  return !(negative && zero);
}

// 0|[1-9][0-9]* up to 4294967295 at p; advances p past it.
bool Scan(const unsigned char*& p, const unsigned char* end) {
  const unsigned char* digits = p;
  std::uint64_t value = 0;
  while (p < end && Is_Digit(Text_Byte(*p))) {
    value = value * 10 + (Text_Byte(*p) - '0');
    if (value > 0xffffffffull) return false;
    ++p;
  }
  const std::ptrdiff_t n = p - digits;
  return n >= 1 && (n == 1 || Text_Byte(*digits) != '0');
}

bool Comma(const unsigned char*& p, const unsigned char* end) {
  if (p == end || Text_Byte(*p) != ',') return false;
  ++p;
  return true;
}

// The same check byte by byte, for shapes longer than the masks hold.
bool Is_Written_Form_Bytewise(const unsigned char* p, std::size_t size) {
  const unsigned char* end = p + size;
  for (;;) {
    if (!Real6(p, end) || !Comma(p, end) || !Real6(p, end) || !Comma(p, end) || !Real6(p, end) ||
        !Comma(p, end) || !Scan(p, end)) {
      return false;
    }
    if (p == end) return true;
    if (!Comma(p, end)) return false;
  }
}

// The check on masks of a shape's bytes, 64 at a time: where its commas,
// dots, minus signs and zeros are (SSE2 where there is SSE2), and with them,
// for every byte at once, what the byte-by-byte check asks of each field.
// Shapes with a minus sign (none of a usual study) go byte by byte.
constexpr std::size_t kMaskedBytes = 8192;  // about 200 points
constexpr std::size_t kMaskWords = kMaskedBytes / 64 + 2;

// The stored byte of a text's byte.
constexpr unsigned char Stored(char c) { return static_cast<unsigned char>(c - 1); }
constexpr unsigned char kLargestScan[10] = {Stored('4'), Stored('2'), Stored('9'), Stored('4'),
                                            Stored('9'), Stored('6'), Stored('7'), Stored('2'),
                                            Stored('9'), Stored('5')};

// Marks of 64 bytes, bit i for byte i; false when a byte is neither a digit
// nor one of the marks.
bool Classify_Word(const unsigned char* b, std::uint64_t& commas, std::uint64_t& dots,
                   std::uint64_t& minuses, std::uint64_t& zeros) {
  commas = dots = minuses = zeros = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_set1_epi8(static_cast<char>(Stored('0')));
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i comma = _mm_set1_epi8(static_cast<char>(Stored(',')));
  const __m128i dot = _mm_set1_epi8(static_cast<char>(Stored('.')));
  const __m128i minus = _mm_set1_epi8(static_cast<char>(Stored('-')));
  for (int i = 0; i < 4; ++i) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * i));
    const __m128i offset = _mm_sub_epi8(x, zero);
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(offset, nine), offset);
    const __m128i c = _mm_cmpeq_epi8(x, comma), d = _mm_cmpeq_epi8(x, dot),
                  m = _mm_cmpeq_epi8(x, minus), z = _mm_cmpeq_epi8(x, zero);
    const __m128i known = _mm_or_si128(_mm_or_si128(digit, c), _mm_or_si128(d, m));
    if (_mm_movemask_epi8(known) != 0xffff) return false;
    const int shift = 16 * i;
    commas |= static_cast<std::uint64_t>(_mm_movemask_epi8(c)) << shift;
    dots |= static_cast<std::uint64_t>(_mm_movemask_epi8(d)) << shift;
    minuses |= static_cast<std::uint64_t>(_mm_movemask_epi8(m)) << shift;
    zeros |= static_cast<std::uint64_t>(_mm_movemask_epi8(z)) << shift;
  }
#else
  for (int i = 0; i < 64; ++i) {
    const unsigned char t = Text_Byte(b[i]);
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (t == ',') {
      commas |= bit;
    } else if (t == '.') {
      dots |= bit;
    } else if (t == '-') {
      minuses |= bit;
    } else if (!Is_Digit(t)) {
      return false;
    } else if (t == '0') {
      zeros |= bit;
    }
  }
#endif
  return true;
}

// bits of word w of mask moved k places up (1 <= k < 64), the word below's
// top bits coming in.
inline std::uint64_t Up(std::uint64_t word, std::uint64_t below, unsigned k) {
  return (word << k) | (below >> (64 - k));
}

// Is_Written_Form of body[0, size), size <= kMaskedBytes. Field starts are
// byte 0 and every byte after a comma; the end of the text counts as a comma
// (the end mark). The fields are then right when: every dot has six digits
// after it and a comma right after those; every dot has a field start one to
// nine bytes before it and none right before it; no field is empty; a field
// starting with '0' has a dot, a comma or the end right after it; the
// commas not after a dot's six digits (those ending a scan) are the 4th, the
// 8th ... and no others, the end mark among them, each one to ten bytes
// after a field start; a ten-digit scan is at most 4294967295. A field has
// no dot but the one seven before its comma, by the first rule.
bool Is_Written_Form_Masked(const unsigned char* body, std::size_t size) {
  std::uint64_t comma[kMaskWords], dot[kMaskWords], zero[kMaskWords];
  const std::size_t words = size / 64 + 1;  // the end mark's bit included
  for (std::size_t w = 0; w * 64 < size; ++w) {
    unsigned char block[64];
    const unsigned char* from = body + w * 64;
    const std::size_t n = std::min<std::size_t>(64, size - w * 64);
    if (n < 64) {
      std::memset(block, Stored('1'), sizeof block);  // a digit, not a zero: no mark
      std::memcpy(block, from, n);
      from = block;
    }
    std::uint64_t minus = 0;
    if (!Classify_Word(from, comma[w], dot[w], minus, zero[w])) return false;
    if (minus != 0) return Is_Written_Form_Bytewise(body, size);
  }
  for (std::size_t w = (size + 63) / 64; w <= words; ++w) comma[w] = dot[w] = zero[w] = 0;
  comma[size / 64] |= std::uint64_t{1} << (size % 64);  // the end mark

  std::uint64_t comma_below = 0, dot_below = 0, start_below = 0;
  std::uint64_t rank = 0;  // commas so far
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint64_t c = comma[w], d = dot[w];
    const std::uint64_t start = Up(c, comma_below, 1) | (w == 0 ? 1 : 0);
    std::uint64_t after_dot = 0;
    for (unsigned k = 1; k <= 6; ++k) after_dot |= Up(d, dot_below, k);
    const std::uint64_t dot_ends = Up(d, dot_below, 7);
    std::uint64_t near9 = 0;
    for (unsigned k = 1; k <= 9; ++k) near9 |= Up(start, start_below, k);
    const std::uint64_t near10 = near9 | Up(start, start_below, 10);
    const std::uint64_t next = (d | c) >> 1 | (dot[w + 1] | comma[w + 1]) << 63;
    const std::uint64_t scan_ends = c & ~dot_ends;
    if ((dot_ends & ~c) != 0 || (after_dot & (c | d)) != 0 || (d & start) != 0 ||
        (d & ~near9) != 0 || (start & c) != 0 || (start & zero[w] & ~next) != 0 ||
        (scan_ends & ~near10) != 0) {
      return false;
    }
    if (w == size / 64 && ((scan_ends >> (size % 64)) & 1) == 0) return false;
    for (std::uint64_t ten = scan_ends & Up(start, start_below, 10) & ~near9; ten != 0;
         ten &= ten - 1) {
      const std::size_t end = w * 64 + static_cast<std::size_t>(__builtin_ctzll(ten));
      if (std::memcmp(body + end - 10, kLargestScan, 10) > 0) return false;
    }
    for (std::uint64_t left = c; left != 0; left &= left - 1, ++rank) {
      if (((scan_ends & left & (0 - left)) != 0) != (rank % 4 == 3)) return false;
    }
    comma_below = c;
    dot_below = d;
    start_below = start;
  }
  return true;
}

}  // namespace

bool Is_Written_Form(std::string_view stored) {
  if (stored.size() < 2 || static_cast<unsigned char>(stored[0]) != 1) return false;
  const auto* body = reinterpret_cast<const unsigned char*>(stored.data()) + 1;
  const std::size_t size = stored.size() - 1;
  return size <= kMaskedBytes ? Is_Written_Form_Masked(body, size)
                              : Is_Written_Form_Bytewise(body, size);
}

void Written_Form_Of(std::string_view stored, std::string& out, std::vector<Data_Point>& points) {
  if (Is_Written_Form(stored)) {
    out.assign(stored);
    return;
  }
  points.clear();
  Decode_Peak_Shape(stored, points);
  thread_local std::string text;
  text.clear();
  Format_Peak_Shape_Text(points, text);
  Encode_Peak_Shape(text, out);
}
