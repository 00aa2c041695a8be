// Internal to the storage library: the fast parser of Peak_shape point texts.
// Tokens in the common forms ("%f" reals of up to 15 digits, Scans of up to 8
// digits) are read sixteen bytes at a time with SSE2 on x86-64 and eight at a
// time in a 64-bit word on little-endian machines; every other token takes the
// general conversions. The results, exceptions included, are those of
// Parse_Peak_Shape_Text_Plain (storage/peak_shape.h); a test holds the two to
// that on random and edge-case texts.
#ifndef VARNEL_STORAGE_PEAK_SHAPE_FAST_H_
#define VARNEL_STORAGE_PEAK_SHAPE_FAST_H_

#include <string_view>
#include <vector>

#include "model/peak.h"

// Whether the format's parsing takes the fast parser. It pays: in
// bench_storage --small a 40-point shape decodes in about 0.8 us against
// 2.8 us the plain way (BM_DecodeShape / BM_DecodeShapePlain), and the
// annotated reader takes about 0.6 of the time. With false, the plain parser
// runs and the fast one is never called.
inline constexpr bool kFastShapeParsing = true;

// The bytes handed to Parse_Points_Fast.
enum class Point_Bytes {
  kText,          // the point text itself
  kLoweredByOne,  // a stored form's bytes after its offset byte 1: each text byte minus one
};

// Parses the points of bytes and appends them, as Parse_Peak_Shape_Text does
// with the point text. With kLoweredByOne, returns false and appends nothing
// when a byte is 0x00, 0x01 or 0xff (the stored form has escapes, ends early,
// or its text holds a NUL: decode it first); otherwise returns true. Throws as
// Parse_Peak_Shape_Text.
bool Parse_Points_Fast(std::string_view bytes, Point_Bytes form, std::vector<Data_Point>& points);

#endif  // VARNEL_STORAGE_PEAK_SHAPE_FAST_H_
