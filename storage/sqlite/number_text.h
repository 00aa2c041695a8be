// The two conversions of column text to numbers, shared by the readers of
// annotated and aligned databases, and the fixed six-decimal form of a double.
#ifndef VARNEL_STORAGE_SQLITE_NUMBER_TEXT_H_
#define VARNEL_STORAGE_SQLITE_NUMBER_TEXT_H_

#include <string>
#include <string_view>

// Strict integer, with the semantics of std::stoi in base 10: leading white
// space (C locale) and one sign accepted, conversion stops at the first
// non-digit ("12.0" gives 12, "7abc" gives 7). Throws std::invalid_argument
// ("invalid stoi argument") without a digit, std::out_of_range ("stoi
// argument out of range") outside the signed 32-bit range.
int Strict_Int(std::string_view text);
// Those two messages.
inline constexpr std::string_view kInvalidIntegerText = "invalid stoi argument";
inline constexpr std::string_view kIntegerRangeText = "stoi argument out of range";

// Lenient real: strtod in the C locale whatever the process locale is, its
// result taken whatever it is (no number gives 0.0; never throws). Plain
// decimals take a std::from_chars fast path, which gives the same value.
double Lenient_Real(std::string_view text);

// Room the writers below need: "%f" of -DBL_MAX has 316 characters, and
// sqlite3_snprintf wants a little more room than its result.
inline constexpr int kMaxFixed6Chars = 400;

// Appends value as printf's "%f" would (six digits after the point; "nan",
// "inf", "-inf" for non-finite values).
void Append_Fixed6(double value, std::string& out);
// Same, written at out (which has room for kMaxFixed6Chars); returns the end.
char* Write_Fixed6(double value, char* out);

// Room Write_General6 needs ("-1.23457e-308" and the like).
inline constexpr int kMaxGeneral6Chars = 24;
// Writes value as printf's "%g" would (six significant digits, trailing
// zeros dropped, the exponent form below 1e-4 and from 1e6; "nan", "inf",
// "-inf" for non-finite values) at out, which has room for
// kMaxGeneral6Chars; returns the end: std::to_chars with
// std::chars_format::general and precision 6.
char* Write_General6(double value, char* out);
// Writes value as SQLite's own "%f" (sqlite3_snprintf) would at out, which
// has room for kMaxFixed6Chars; returns the end. Differs from printf's for
// negative zero ("0.000000"), beyond 16 significant digits and near ties.
char* Write_Sqlite_Fixed6(double value, char* out);

// The double SQLite's own text-to-number conversion gives for a plain decimal
// text -?[0-9]+(\.[0-9]*)? (what Write_Sqlite_Fixed6 writes for a finite
// value): the value a REAL column stores when that text is bound to it. Its
// rounding differs from strtod's in the last bit now and then; this follows
// the library in use (checked once per process, asking the library itself
// when the check fails).
double Sqlite_Decimal_Real(std::string_view text);
// The double a REAL column stores for the text Write_Sqlite_Fixed6 writes
// for a finite value: Sqlite_Decimal_Real of that text, mostly worked out
// without writing it.
double Sqlite_Fixed6_Real(double value);

// Whether Sqlite_Decimal_Real computes the value itself (the library in use
// is a version up to 3.42, whose conversion it follows, and agreed on the
// probes) rather than asking the library, which costs ten times as much.
bool Sqlite_Decimal_Real_Is_Own();

#endif  // VARNEL_STORAGE_SQLITE_NUMBER_TEXT_H_
