// Numbers typed on a command line, read the way the alignment tab reads its
// boxes, but always with the C locale: "." is the decimal point.
#ifndef VARNEL_TOOLS_CLI_NUMBER_H_
#define VARNEL_TOOLS_CLI_NUMBER_H_

#include <optional>
#include <string_view>

// The value of `text`, or nullopt when it holds no number. Accepted: optional
// blanks around, an optional sign, digits with an optional "." and exponent,
// and inf/infinity/nan in any case. Rejected: an empty or blank text, a
// decimal comma, group separators, hexadecimal, trailing garbage. Out-of-range
// magnitudes give +-inf or 0 (no range check, as in the window).
std::optional<double> Parse_Cli_Number(std::string_view text);

#endif  // VARNEL_TOOLS_CLI_NUMBER_H_
