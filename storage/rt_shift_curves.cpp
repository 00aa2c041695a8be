#include "storage/rt_shift_curves.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "model/interpolate.h"

Rt_Shift_Curves::Rt_Shift_Curves(std::vector<Rt_Shift_Point> points) {
  std::erase_if(points, [](const Rt_Shift_Point& p) {
    return !std::isfinite(p.rt) || !std::isfinite(p.shift);
  });
  std::stable_sort(points.begin(), points.end(),
                   [](const Rt_Shift_Point& a, const Rt_Shift_Point& b) {
                     return a.sample != b.sample ? a.sample < b.sample : a.rt < b.rt;
                   });
  for (const Rt_Shift_Point& p : points) {
    if (samples_.empty() || samples_.back().sample != p.sample) {
      samples_.push_back({p.sample, rt_.size(), rt_.size()});
    }
    rt_.push_back(p.rt);
    shift_.push_back(p.shift);
    samples_.back().end = rt_.size();
  }
}

double Rt_Shift_Curves::Shift(std::int64_t sample, double rt) const {
  if (std::isnan(rt)) return rt;
  const auto curve = std::lower_bound(samples_.begin(), samples_.end(), sample,
                                      [](const Curve& c, std::int64_t s) { return c.sample < s; });
  if (curve == samples_.end() || curve->sample != sample) return 0.0;
  const std::size_t n = curve->end - curve->begin;
  return Interpolate(std::span(rt_).subspan(curve->begin, n),
                     std::span(shift_).subspan(curve->begin, n), rt);
}
