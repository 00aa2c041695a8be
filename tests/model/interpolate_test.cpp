// The one reading of a sampled curve: its ends, its steps and what it does
// with no points or a NaN time.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "model/interpolate.h"

namespace {

const std::vector<double> kX = {10.0, 20.0, 40.0};
const std::vector<double> kY = {1.0, -1.0, 3.0};

TEST(InterpolateTest, LinearBetweenPointsAndExactAtThem) {
  EXPECT_DOUBLE_EQ(Interpolate(kX, kY, 15.0), 0.0);
  EXPECT_DOUBLE_EQ(Interpolate(kX, kY, 30.0), 1.0);
  EXPECT_DOUBLE_EQ(Interpolate(kX, kY, 25.0), 0.0);
  for (std::size_t i = 0; i < kX.size(); ++i) EXPECT_EQ(Interpolate(kX, kY, kX[i]), kY[i]);
}

TEST(InterpolateTest, FlatAtAndBeyondBothEnds) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Interpolate(kX, kY, 10.0), 1.0);
  EXPECT_EQ(Interpolate(kX, kY, 9.999), 1.0);
  EXPECT_EQ(Interpolate(kX, kY, -inf), 1.0);
  EXPECT_EQ(Interpolate(kX, kY, 40.0), 3.0);
  EXPECT_EQ(Interpolate(kX, kY, 40.001), 3.0);
  EXPECT_EQ(Interpolate(kX, kY, inf), 3.0);
  const std::vector<double> one_x = {5.0}, one_y = {2.5};
  for (const double x : {-1.0, 5.0, 6.0}) EXPECT_EQ(Interpolate(one_x, one_y, x), 2.5) << x;
}

TEST(InterpolateTest, NoPointsGiveZeroAndNanStaysNan) {
  const std::vector<double> none;
  EXPECT_EQ(Interpolate(none, none, 12.0), 0.0);
  EXPECT_EQ(Interpolate(none, none, std::nan("")), 0.0);
  EXPECT_TRUE(std::isnan(Interpolate(kX, kY, std::nan(""))));
}

TEST(InterpolateTest, PointsSharingOneTimeAreAStep) {
  // The curve comes up to the first of the shared points and leaves from
  // the last; at the first point of all the first counts.
  const std::vector<double> x = {0.0, 0.0, 10.0, 10.0, 10.0, 20.0, 20.0};
  const std::vector<double> y = {1.0, 2.0, 4.0, 5.0, 6.0, 8.0, 9.0};
  EXPECT_EQ(Interpolate(x, y, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(Interpolate(x, y, 5.0), 3.0);
  EXPECT_EQ(Interpolate(x, y, 10.0), 6.0);
  EXPECT_DOUBLE_EQ(Interpolate(x, y, 15.0), 7.0);
  EXPECT_EQ(Interpolate(x, y, 20.0), 9.0);
  EXPECT_EQ(Interpolate(x, y, 25.0), 9.0);
}

TEST(InterpolateTest, ReadsOnlyTheSpanItIsGiven) {
  // Curves stored one after another: each read within its own points.
  const std::vector<double> x = {0.0, 10.0, 5.0, 15.0};
  const std::vector<double> y = {0.0, 10.0, -5.0, -15.0};
  const std::span<const double> xs(x), ys(y);
  EXPECT_EQ(Interpolate(xs.first(2), ys.first(2), 12.0), 10.0);
  EXPECT_EQ(Interpolate(xs.last(2), ys.last(2), 2.0), -5.0);
  EXPECT_DOUBLE_EQ(Interpolate(xs.last(2), ys.last(2), 10.0), -10.0);
}

}  // namespace
