// The drift correction stored beside a result (Align_RT_Correction, read by
// Read_Rt_Correction) as curves to evaluate: the one place that turns an
// original retention time into a corrected one.
//
// Per sample: corrected = rt + Shift(rt), Shift linear between the stored
// points (ascending RT), the first point's shift before the first point and
// the last one's after the last. A sample without points has Shift 0. Points
// whose RT or Shift is not finite are skipped; of points sharing one RT the
// last counts beyond it. NaN rt gives NaN.
#ifndef VARNEL_STORAGE_RT_SHIFT_CURVES_H_
#define VARNEL_STORAGE_RT_SHIFT_CURVES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/side_tables.h"

class Rt_Shift_Curves {
 public:
  Rt_Shift_Curves() = default;
  // points in any order (Read_Rt_Correction gives them by SAMPLE_ID, RT).
  explicit Rt_Shift_Curves(std::vector<Rt_Shift_Point> points);

  // Whether any sample has a curve.
  bool empty() const { return samples_.empty(); }
  // Seconds. Cost: two binary searches (samples, then the sample's points).
  double Shift(std::int64_t sample, double rt) const;
  double Corrected(std::int64_t sample, double rt) const { return rt + Shift(sample, rt); }

 private:
  struct Curve {
    std::int64_t sample;
    std::size_t begin;  // its points in rt_ and shift_
    std::size_t end;
  };
  std::vector<Curve> samples_;  // ascending sample
  std::vector<double> rt_;
  std::vector<double> shift_;
};

#endif  // VARNEL_STORAGE_RT_SHIFT_CURVES_H_
