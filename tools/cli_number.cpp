#include "tools/cli_number.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace {

bool Is_Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::optional<double> Parse_Cli_Number(std::string_view text) {
  while (!text.empty() && Is_Blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && Is_Blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars takes no sign of its own here (a second sign is garbage).
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (stop != end) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    // from_chars leaves value untouched; strtod tells overflow (inf) from
    // underflow (0 or a subnormal). The text is a plain decimal number here,
    // so the locale's decimal point does not come into it.
    value = std::strtod(std::string(text).c_str(), nullptr);
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}
