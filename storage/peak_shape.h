// The Peak_shape format: a peak's points as text, and that text's stored
// (binary-safe encoded) form.
//
// Point text: four comma-separated values per point, points in order, fields
// Intensity, MZ, RT (each "%f", six decimals) and Scan (unsigned decimal); no
// trailing comma; a peak without points is the empty text.
// Stored form: the point text encoded with sqlite3_encode_binary.
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
// C locale); Scan is a strict integer (std::stoi semantics and messages).
void Parse_Peak_Shape_Text(std::string_view text, std::vector<Data_Point>& points);

// Encoded stored form of a point text ("x" for the empty text).
std::string Encode_Peak_Shape(std::string_view point_text);

// Decodes a stored form (the column's text up to its first NUL) and parses
// the points, appending them. Throws CppSQLite3Exception(1000, "Cannot decode
// binary") for an invalid stored form.
void Decode_Peak_Shape(std::string_view stored, std::vector<Data_Point>& points);

#endif  // VARNEL_STORAGE_PEAK_SHAPE_H_
