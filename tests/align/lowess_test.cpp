// The robust smoother on its own: what it must reproduce, what it must
// ignore, and the monotone repair the drift curves end with.
#include "align/lowess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

Lowess_Points Quadratic(std::size_t n) {
  Lowess_Points p;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = 3.0 * static_cast<double>(i) + 0.25 * static_cast<double>(i % 3);
    p.x.push_back(x);
    p.y.push_back(0.002 * x * x - 0.5 * x + 7.0);
  }
  return p;
}

TEST(LowessTest, ReproducesAQuadraticAtEveryGridPoint) {
  const Lowess_Points p = Quadratic(60);
  const std::vector<double> grid = {0.0, 17.3, 90.0, 150.5, p.x.back()};
  std::vector<double> robust, reaches;
  for (const std::size_t k : {std::size_t{6}, std::size_t{12}, std::size_t{60}}) {
    const std::vector<double> fit = Robust_Lowess(p, grid, k, 3, robust, &reaches);
    ASSERT_EQ(fit.size(), grid.size());
    ASSERT_EQ(reaches.size(), grid.size());
    for (std::size_t g = 0; g < grid.size(); ++g) {
      const double x = grid[g];
      EXPECT_NEAR(fit[g], 0.002 * x * x - 0.5 * x + 7.0, 1e-6) << "k " << k << " at " << x;
      EXPECT_GT(reaches[g], 0.0);
    }
  }
}

TEST(LowessTest, AWildPointLosesItsWeightAndLeavesTheCurve) {
  Lowess_Points p;
  for (int i = 0; i < 40; ++i) {
    p.x.push_back(i);
    p.y.push_back(0.5 * i + 0.01 * ((i * 7) % 5));  // a line with a little scatter
  }
  p.y[20] += 30.0;
  std::vector<double> robust;
  const std::vector<double> grid = p.x;  // the refits read residuals off the grid
  const std::vector<double> plain = Robust_Lowess(p, grid, 12, 0, robust);
  EXPECT_GT(plain[20], 10.0 + 1.0);  // without refits the point drags the curve
  EXPECT_EQ(robust, std::vector<double>(40, 1.0));
  const std::vector<double> fit = Robust_Lowess(p, grid, 12, 3, robust);
  EXPECT_NEAR(fit[20], 10.0, 0.05);
  EXPECT_EQ(robust[20], 0.0);
  EXPECT_GT(robust[19], 0.5);
}

TEST(LowessTest, LeaveOutResidualsKeepTheWeightsAndSkipWhatCannotBeLeftOut) {
  const Lowess_Points p = Quadratic(30);
  std::vector<double> robust(30, 1.0), out;
  robust[4] = 0.0;
  const std::vector<double> before = robust;
  Cross_Validation_Residuals(p, 12, robust, out);
  EXPECT_EQ(robust, before);
  EXPECT_EQ(out.size(), 29u);  // every point but the one without weight
  for (const double r : out) EXPECT_NEAR(r, 0.0, 1e-6);

  out.clear();
  const Lowess_Points two = {{1.0, 2.0}, {0.0, 1.0}};
  robust.assign(2, 1.0);
  Cross_Validation_Residuals(two, 2, robust, out);
  EXPECT_TRUE(out.empty());
  const Lowess_Points same_time = {{5.0, 5.0, 5.0, 6.0}, {0.0, 1.0, 2.0, 3.0}};
  robust.assign(4, 1.0);
  Cross_Validation_Residuals(same_time, 3, robust, out);
  EXPECT_EQ(out.size(), 1u);  // the three at 5 s cannot be left out together
}

TEST(LowessTest, NonDecreasingPoolsEachFallIntoItsMean) {
  std::vector<double> v = {1.0, 3.0, 2.0, 4.0};
  Make_Non_Decreasing(v);
  EXPECT_EQ(v, (std::vector<double>{1.0, 2.5, 2.5, 4.0}));
  v = {3.0, 2.0, 1.0, 5.0, 5.0};
  Make_Non_Decreasing(v);
  EXPECT_EQ(v, (std::vector<double>{2.0, 2.0, 2.0, 5.0, 5.0}));
  v = {-1.0, 0.0, 0.0, 7.0};
  Make_Non_Decreasing(v);
  EXPECT_EQ(v, (std::vector<double>{-1.0, 0.0, 0.0, 7.0}));
  v.clear();
  Make_Non_Decreasing(v);
  EXPECT_TRUE(v.empty());
}

}  // namespace
