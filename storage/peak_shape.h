// The Peak_shape format: a peak's points as text, and that text's stored
// (binary-safe encoded) form.
//
// Point text: four comma-separated values per point, points in order, fields
// Intensity, MZ, RT (each "%f", six decimals) and Scan (unsigned decimal); no
// trailing comma; a peak without points is the empty text. Example:
//   10500.000000,301.123400,745.250000,1500,20250.500000,301.123500,745.780000,1501
// Stored form: the point text encoded with sqlite3_encode_binary (see
// storage/sqlite/cppsqlite3.h): "x" for the empty text, otherwise an offset byte and
// the shifted bytes. Digits, '.', '-' and ',' always give offset 1 and no
// escapes, so the stored form is 0x01 followed by each byte lowered by one.
#ifndef VARNEL_STORAGE_PEAK_SHAPE_H_
#define VARNEL_STORAGE_PEAK_SHAPE_H_

#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"

// Appends the point text of points to out.
void Format_Peak_Shape_Text(const std::vector<Data_Point>& points, std::string& out);

// Appends the points of a point text to points: split at commas (adjacent
// commas give empty tokens, a trailing comma no extra token), floor(T/4)
// points, leftover tokens ignored. Intensity/MZ/RT are lenient reals (strtod,
// C locale); Scan is a strict integer (std::stoi semantics and messages), its
// 32 bits kept (a negative text wraps). Throws std::invalid_argument /
// std::out_of_range from a Scan token; points before it stay appended.
void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points);

// Encoded stored form of a point text ("x" for the empty text). Throws
// CppSQLite3Exception(1000) for a text above CppSQLite3Binary::kMaxBinaryLength.
std::string Encode_Peak_Shape(std::string_view point_text);
// Same, into out (replaced; its capacity is reused).
void Encode_Peak_Shape(std::string_view point_text, std::string& out);

// Decodes a stored form (the column's text; anything from its first NUL on is
// ignored, as is anything from the first NUL of the decoded text on) and
// parses the points, appending them. Throws CppSQLite3Exception(1000, "Cannot
// decode binary") for an invalid stored form and CppSQLite3Exception(1000,
// "Empty Peak_shape text") for an empty one; conversion errors as
// Parse_Peak_Shape_Text.
void Decode_Peak_Shape(std::string_view stored, std::vector<Data_Point>& points);

// Decodes a stored form into its point text (replacing text). Throws as
// Decode_Peak_Shape.
void Decode_Peak_Shape_Text(std::string_view stored, std::string& text);

#endif  // VARNEL_STORAGE_PEAK_SHAPE_H_
