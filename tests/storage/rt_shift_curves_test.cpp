// The drift correction's curves: interpolated between points, flat beyond.
#include "storage/rt_shift_curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(RtShiftCurvesTest, InterpolatesBetweenPointsAndHoldsTheEnds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Out of order, with a point that is not a number.
  const Rt_Shift_Curves curves({{0, 70, 4}, {3, 10, nan}, {0, 50, 2}, {0, 60, nan}, {2, 100, -1}});
  EXPECT_FALSE(curves.empty());
  EXPECT_DOUBLE_EQ(curves.Corrected(0, 59), 61.9);
  EXPECT_EQ(curves.Shift(0, 10), 2);
  EXPECT_EQ(curves.Shift(0, 1000), 4);
  EXPECT_EQ(curves.Shift(2, 5), -1);  // one point: flat
  EXPECT_EQ(curves.Shift(1, 60), 0);  // no curve
  EXPECT_EQ(curves.Shift(3, 60), 0);  // only a point that is not a number
  EXPECT_TRUE(std::isnan(curves.Corrected(0, nan)));
  EXPECT_TRUE(Rt_Shift_Curves(std::vector<Rt_Shift_Point>()).empty());
}

}  // namespace
