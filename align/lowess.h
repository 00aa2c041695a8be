// Robust LOWESS: a smooth curve through scattered points, made of local
// quadratic fits with tricube distance weights, refitted with bisquare
// weights so that points far off the curve barely move it. The drift
// correction smooths each sample's anchor deviations with it.
//
// Each local fit at a grid point x0 uses the k points nearest to x0 (ties
// in distance go to the left), each weighted tricube(|x - x0| / reach),
// reach the distance to the farthest of them (times 1 + 1e-9, so that it
// keeps a weight); where they cannot carry a quadratic it falls back to the
// straight line, then to the weighted mean. A fit whose robust weights are
// all 0 uses the distance weights alone.
#ifndef VARNEL_ALIGN_LOWESS_H_
#define VARNEL_ALIGN_LOWESS_H_

#include <cstddef>
#include <vector>

// Points to smooth: y against x, x ascending.
struct Lowess_Points {
  std::vector<double> x;
  std::vector<double> y;
};

// The robust LOWESS of p over k neighbours, sampled at grid: the fit at each
// grid point. First a fit with distance weights alone, then
// robust_iterations refits, each weighting every point by the bisquare of its
// residual (against the last fit, read linearly between grid points) over 6
// median absolute residuals; it stops early when that median is 0. robust
// receives the points' final robust weights (1 without refits), reaches,
// when given, the reach of each grid point's local fit.
// REQUIRES: p.x ascending and as long as p.y, not empty; 1 <= k <= p.x.size();
// grid ascending.
std::vector<double> Robust_Lowess(const Lowess_Points& p, const std::vector<double>& grid,
                                  std::size_t k, int robust_iterations, std::vector<double>& robust,
                                  std::vector<double>* reaches = nullptr);

// Leave-out residuals for choosing k: for at most about 150 of p's points
// (every n / 150-th from the first), the point's y less the local fit at its
// x over its k nearest others, the point left out together with every point
// at the very same x; robust: the weights of a fit with every point
// (Robust_Lowess), which the left-out fits keep. Points with weight 0, and
// points whose x all but one of the points share, give no residual. Appends
// to out; with fewer than 3 points it appends nothing. robust comes back
// as it came. REQUIRES: as Robust_Lowess, robust as long as p.x.
void Cross_Validation_Residuals(const Lowess_Points& p, std::size_t k, std::vector<double>& robust,
                                std::vector<double>& out);

// Pool-adjacent-violators: replaces values by the non-decreasing sequence
// nearest to them in least squares (runs that fall become their mean).
void Make_Non_Decreasing(std::vector<double>& values);

#endif  // VARNEL_ALIGN_LOWESS_H_
