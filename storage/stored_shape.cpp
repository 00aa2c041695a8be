#include "storage/stored_shape.h"

#include <cstdint>
#include <cstring>

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

}  // namespace

bool Is_Written_Form(std::string_view stored) {
  if (stored.size() < 2 || static_cast<unsigned char>(stored[0]) != 1) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(stored.data()) + 1;
  const auto* end = reinterpret_cast<const unsigned char*>(stored.data()) + stored.size();
  for (;;) {
    if (!Real6(p, end) || !Comma(p, end) || !Real6(p, end) || !Comma(p, end) || !Real6(p, end) ||
        !Comma(p, end) || !Scan(p, end)) {
      return false;
    }
    if (p == end) return true;
    if (!Comma(p, end)) return false;
  }
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
