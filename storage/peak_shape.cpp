#include "storage/peak_shape.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "storage/cppsqlite3.h"
#include "storage/number_text.h"

void Format_Peak_Shape_Text(const std::vector<Data_Point>& points, std::string& out) {
  bool first = true;
  for (const Data_Point& point : points) {
    if (!first) out.push_back(',');
    first = false;
    Append_Fixed6(point.Intensity, out);
    out.push_back(',');
    Append_Fixed6(point.MZ, out);
    out.push_back(',');
    Append_Fixed6(point.RT, out);
    out.push_back(',');
    char buf[16];
    const auto result = std::to_chars(buf, buf + sizeof buf, point.Scan);
    out.append(buf, result.ptr);
  }
}

void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points) {
  const char* p = text.data();
  const char* const end = p + text.size();
  points.reserve(points.size() + (std::count(p, end, ',') + 1) / 4);
  std::string_view token[4];
  while (p < end) {
    for (std::string_view& t : token) {
      if (p >= end) return;  // fewer than four tokens left: ignored
      const char* comma = static_cast<const char*>(std::memchr(p, ',', end - p));
      if (!comma) comma = end;
      t = std::string_view(p, comma - p);
      p = comma == end ? end : comma + 1;
    }
    Data_Point point;
    point.Intensity = Lenient_Real(token[0]);
    point.MZ = Lenient_Real(token[1]);
    point.RT = Lenient_Real(token[2]);
    point.Scan = static_cast<std::uint32_t>(Strict_Int(token[3]));
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
  bool plain = n > 0;
  for (int i = 0; i < n; ++i) plain &= in[i] != 1 && in[i] != 2 && in[i] != 40;
  if (plain) {
    out.resize(static_cast<std::size_t>(n) + 1);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    o[0] = 1;
    for (int i = 0; i < n; ++i) o[i + 1] = static_cast<unsigned char>(in[i] - 1);
    return;
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
