// The median the alignment and its drift correction share.
#ifndef VARNEL_ALIGN_MEDIAN_H_
#define VARNEL_ALIGN_MEDIAN_H_

#include <algorithm>
#include <cstddef>
#include <vector>

// The median of values (reordered), as the middle of the sorted values or the
// mean of the two middle ones; of -0.0 and 0.0, which are equal, either may
// come out, as with any sort. O(n). REQUIRES: values not empty.
inline double Median(std::vector<double>& values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + half, values.end());
  if (values.size() % 2 != 0) return values[half];
  const double lower = *std::max_element(values.begin(), values.begin() + half);
  return (lower + values[half]) * 0.5;
}

#endif  // VARNEL_ALIGN_MEDIAN_H_
