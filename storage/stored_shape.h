// A shape's stored form carried from an input database to a result without
// its points: what the writers would store for the same shape, made from the
// input's stored form.
#ifndef VARNEL_STORAGE_STORED_SHAPE_H_
#define VARNEL_STORAGE_STORED_SHAPE_H_

#include <string>
#include <string_view>
#include <vector>

#include "model/peak.h"

// True when `stored` (a Peak_shape column's bytes) is already exactly what
// the writers store for its points: offset 1, no escapes, and a point text of
// one or more points "I,M,R,S" where each of I, M, R is -?(0|[1-9][0-9]{0,8})
// followed by '.' and six digits (values below 1e9 with six decimals come
// back unchanged through strtod and "%f") and S is 0 or [1-9][0-9]* up to
// 4294967295. Anything else, valid or not, is false.
bool Is_Written_Form(std::string_view stored);

// The stored form the writers give the shape of a record read from `stored`:
// `stored` itself when Is_Written_Form holds, otherwise decoded, parsed,
// formatted and encoded again (points is scratch space). Throws as
// Decode_Peak_Shape does for a shape that cannot be read, and as
// Encode_Peak_Shape.
void Written_Form_Of(std::string_view stored, std::string& out, std::vector<Data_Point>& points);

#endif  // VARNEL_STORAGE_STORED_SHAPE_H_
