// Numbers typed on a command line, read the way the alignment tab reads its
// boxes, but always with the C locale: "." is the decimal point.
#ifndef VARNEL_TOOLS_CLI_NUMBER_H_
#define VARNEL_TOOLS_CLI_NUMBER_H_

#include <optional>
#include <string_view>

// The value of `text`, or nullopt when it holds no number. Accepted: optional
// blanks around, an optional sign, digits with an optional "." and exponent;
// any finite value (no range check, as in the window; a magnitude below the
// smallest double reads as 0). Rejected: an empty or blank text, a decimal
// comma, group separators, hexadecimal, trailing garbage, and - as in the
// window - inf, nan and magnitudes beyond the largest double.
std::optional<double> Parse_Cli_Number(std::string_view text);

#endif  // VARNEL_TOOLS_CLI_NUMBER_H_
