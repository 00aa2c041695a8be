// The one reading of a curve sampled at points: linear between them, flat
// beyond its ends. The drift correction, the stored correction curves and the
// quality figures all read their curves through it, so a corrected time is
// the same number wherever it is computed.
#ifndef VARNEL_MODEL_INTERPOLATE_H_
#define VARNEL_MODEL_INTERPOLATE_H_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

// The curve through (xs[i], ys[i]) at x: linear between neighbouring points,
// ys.front() at and before xs.front(), ys.back() at and after xs.back().
// Points sharing one x are a step: the last of them counts from that x on
// (the first only at xs.front() itself). No points: 0; NaN x: NaN (with
// points). Cost: one binary search. REQUIRES: xs.size() == ys.size(), xs
// ascending (ties allowed), no NaN in xs.
inline double Interpolate(std::span<const double> xs, std::span<const double> ys, double x) {
  if (xs.empty()) return 0.0;
  if (std::isnan(x)) return x;
  if (x <= xs.front()) return ys.front();
  if (x >= xs.back()) return ys.back();
  const auto hi = static_cast<std::size_t>(std::upper_bound(xs.begin(), xs.end(), x) - xs.begin());
  const std::size_t lo = hi - 1;
  const double f = (x - xs[lo]) / (xs[hi] - xs[lo]);
  return ys[lo] + f * (ys[hi] - ys[lo]);
}

#endif  // VARNEL_MODEL_INTERPOLATE_H_
