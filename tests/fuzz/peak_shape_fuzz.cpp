// The Peak_shape point text and its stored form. Parsing arbitrary text
// throws only the documented exceptions; the number conversions agree with
// strtod and std::stoi; text written from parsed points reads back as the
// same text; decoding an arbitrary stored form throws only the documented
// exceptions.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"
#include "storage/sqlite/number_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same_Double(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Strict_Int and Lenient_Real against the library calls whose semantics they
// keep, on one token (no NUL inside, as column text never has one).
void Compare_Conversions(const std::string& token) {
  Check(Same_Double(Lenient_Real(token), std::strtod(token.c_str(), nullptr)));
  enum { kValue, kInvalid, kRange } expected = kValue, actual = kValue;
  int expected_value = 0;
  int actual_value = 0;
  try {
    expected_value = std::stoi(token);
  } catch (const std::invalid_argument&) {
    expected = kInvalid;
  } catch (const std::out_of_range&) {
    expected = kRange;
  }
  try {
    actual_value = Strict_Int(token);
  } catch (const std::invalid_argument& e) {
    actual = kInvalid;
    Check(std::string_view(e.what()).ends_with("invalid stoi argument"));
  } catch (const std::out_of_range& e) {
    actual = kRange;
    Check(std::string_view(e.what()).ends_with("stoi argument out of range"));
  }
  Check(expected == actual);
  if (expected == kValue) Check(expected_value == actual_value);
}

void Parse_Text(std::string_view text) {
  std::vector<Data_Point> points;
  try {
    Parse_Peak_Shape_Text(text, points);
  } catch (const std::invalid_argument&) {
    return;
  } catch (const std::out_of_range&) {
    return;
  }
  // Writing the points and reading them back is a fixed point, also for a
  // Scan of 2^31 or more (a negative token wraps and is written unsigned).
  std::string written;
  Format_Peak_Shape_Text(points, written);
  std::vector<Data_Point> again;
  Parse_Peak_Shape_Text(written, again);
  Check(again.size() == points.size());
  std::string rewritten;
  Format_Peak_Shape_Text(again, rewritten);
  Check(rewritten == written);
  // And so is the stored form.
  std::vector<Data_Point> stored_back;
  Decode_Peak_Shape(Encode_Peak_Shape(written), stored_back);
  std::string from_stored;
  Format_Peak_Shape_Text(stored_back, from_stored);
  Check(from_stored == written);
}

void Decode_Stored(std::string_view stored) {
  std::vector<Data_Point> points;
  try {
    Decode_Peak_Shape(stored, points);
  } catch (const CppSQLite3Exception& e) {
    Check(e.errorCode() == CPPSQLITE_ERROR);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view text = input.substr(0, input.find('\0'));
  Parse_Text(text);
  Decode_Stored(input);
  // Each comma-separated token through the conversions (a bounded number).
  std::size_t start = 0;
  for (int i = 0; i < 16 && start <= text.size(); ++i) {
    const std::size_t comma = text.find(',', start);
    const std::size_t end = comma == std::string_view::npos ? text.size() : comma;
    Compare_Conversions(std::string(text.substr(start, end - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return 0;
}
