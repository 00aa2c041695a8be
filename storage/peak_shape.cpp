#include "storage/peak_shape.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "storage/sqlite/cppsqlite3.h"
#include "storage/sqlite/number_text.h"

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

// The Scan token as the format reads it: digits alone up to 4294967295 as
// that value (Scans are written as unsigned decimals, so a Scan of 2^31 or
// more is written as such a text), anything else through the strict
// conversion, which throws as std::stoi does.
std::uint32_t ScanValue(std::string_view token) {
  std::uint64_t value = 0;
  bool digits_only = !token.empty();
  for (char c : token) {
    if (c < '0' || c > '9') {
      digits_only = false;
      break;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > UINT32_MAX) {
      digits_only = false;
      break;
    }
  }
  if (digits_only) return static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>(Strict_Int(token));
}

}  // namespace

void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points) {
  // As the line-reading routine splits: no token in an empty text, none after
  // a final comma.
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    tokens.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  const std::size_t count = tokens.size() / 4;
  points.reserve(points.size() + count);
  for (std::size_t k = 0; k < count; ++k) {
    Data_Point point;
    point.Intensity = Lenient_Real(tokens[4 * k]);
    point.MZ = Lenient_Real(tokens[4 * k + 1]);
    point.RT = Lenient_Real(tokens[4 * k + 2]);
    point.Scan = ScanValue(tokens[4 * k + 3]);
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
