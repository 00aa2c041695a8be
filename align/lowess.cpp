#include "align/lowess.h"

#include <algorithm>
#include <cmath>

#include "align/median.h"
#include "model/interpolate.h"

namespace {

constexpr double kBisquareScale = 6.0;  // residuals beyond 6 MADs get no weight
constexpr std::size_t kCvPoints = 150;  // points left out, at most about

double Tricube(double u) {
  if (u >= 1.0) return 0.0;
  const double a = 1.0 - u * u * u;
  return a * a * a;
}

// The value at dx = 0 of the weighted least-squares quadratic with sums s
// (of w dx^m) and t (of w y dx^m); the linear fit, then the weighted mean,
// when the points cannot carry a curve. REQUIRES: s[0] > 0.
double Local_Value(const double s[5], const double t[3]) {
  constexpr double kSingular = 1e-9;
  const double a[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
  auto det3 = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double det = det3(a);
  if (std::fabs(det) > kSingular * s[0] * s[0] * s[0]) {
    const double b[3][3] = {{t[0], s[1], s[2]}, {t[1], s[2], s[3]}, {t[2], s[3], s[4]}};
    return det3(b) / det;  // Cramer's rule for the constant term
  }
  const double det2 = s[0] * s[2] - s[1] * s[1];
  if (std::fabs(det2) > kSingular * s[0] * s[0]) return (t[0] * s[2] - s[1] * t[1]) / det2;
  return t[0] / s[0];
}

// Local quadratic fits at each grid point over the k points nearest to it,
// weighted by tricube distance times robust. reach, when given, receives the
// distance to the farthest of the k points at each grid point. REQUIRES: xs
// ascending, not empty, 1 <= k <= xs.size().
std::vector<double> Local_Fit(const std::vector<double>& xs, const std::vector<double>& ys,
                              const std::vector<double>& robust, const std::vector<double>& grid,
                              std::size_t k, std::vector<double>* reaches = nullptr) {
  const std::size_t n = xs.size();
  std::vector<double> fit(grid.size(), 0.0);
  if (reaches != nullptr) reaches->assign(grid.size(), 0.0);
  for (std::size_t g = 0; g < grid.size(); ++g) {
    const double x0 = grid[g];
    std::size_t l =
        static_cast<std::size_t>(std::lower_bound(xs.begin(), xs.end(), x0) - xs.begin());
    std::size_t r = l;
    while (r - l < k) {
      if (l == 0) {
        ++r;
      } else if (r == n || x0 - xs[l - 1] <= xs[r] - x0) {
        --l;
      } else {
        ++r;
      }
    }
    const double reach = std::max(x0 - xs[l], xs[r - 1] - x0) * (1.0 + 1e-9);
    if (reaches != nullptr) (*reaches)[g] = reach;
    for (int pass = 0; pass < 2; ++pass) {  // pass 1: distance weights only
      // Weighted sums of dx^0..dx^4 and y dx^0..dx^2, dx in units of reach.
      double s[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
      double t[3] = {0.0, 0.0, 0.0};
      const double unit = reach > 0.0 ? reach : 1.0;
      for (std::size_t i = l; i < r; ++i) {
        const double dx = (xs[i] - x0) / unit;
        double w = reach > 0.0 ? Tricube(std::fabs(dx)) : 1.0;
        if (pass == 0) w *= robust[i];
        double p = w;
        for (int m = 0; m < 5; ++m) {
          s[m] += p;
          if (m < 3) t[m] += p * ys[i];
          p *= dx;
        }
      }
      if (!(s[0] > 0.0)) continue;
      fit[g] = Local_Value(s, t);
      break;
    }
  }
  return fit;
}

}  // namespace

std::vector<double> Robust_Lowess(const Lowess_Points& p, const std::vector<double>& grid,
                                  std::size_t k, int robust_iterations, std::vector<double>& robust,
                                  std::vector<double>* reaches) {
  const std::size_t n = p.x.size();
  robust.assign(n, 1.0);
  std::vector<double> fit = Local_Fit(p.x, p.y, robust, grid, k, reaches);
  std::vector<double> residual(n), magnitude(n);
  for (int it = 0; it < robust_iterations; ++it) {
    for (std::size_t i = 0; i < n; ++i) {
      residual[i] = p.y[i] - Interpolate(grid, fit, p.x[i]);
      magnitude[i] = std::fabs(residual[i]);
    }
    const double scale = kBisquareScale * Median(magnitude);
    if (!(scale > 0.0)) break;
    for (std::size_t i = 0; i < n; ++i) {
      const double u = residual[i] / scale;
      robust[i] = std::fabs(u) < 1.0 ? (1.0 - u * u) * (1.0 - u * u) : 0.0;
    }
    fit = Local_Fit(p.x, p.y, robust, grid, k, reaches);
  }
  return fit;
}

void Cross_Validation_Residuals(const Lowess_Points& p, std::size_t k, std::vector<double>& robust,
                                std::vector<double>& out) {
  const std::size_t n = p.x.size();
  if (n < 3) return;
  const std::size_t step = std::max<std::size_t>(1, n / kCvPoints);
  std::vector<double> at(1), kept;
  for (std::size_t i = 0; i < n; i += step) {
    if (robust[i] == 0.0) continue;
    const auto lo =
        static_cast<std::size_t>(std::lower_bound(p.x.begin(), p.x.end(), p.x[i]) - p.x.begin());
    const auto hi =
        static_cast<std::size_t>(std::upper_bound(p.x.begin(), p.x.end(), p.x[i]) - p.x.begin());
    if (hi - lo + 1 >= n) continue;
    kept.assign(robust.begin() + lo, robust.begin() + hi);
    std::fill(robust.begin() + lo, robust.begin() + hi, 0.0);
    at[0] = p.x[i];
    const double v = Local_Fit(p.x, p.y, robust, at, std::min(k + (hi - lo), n))[0];
    std::copy(kept.begin(), kept.end(), robust.begin() + lo);
    out.push_back(p.y[i] - v);
  }
}

void Make_Non_Decreasing(std::vector<double>& values) {
  std::vector<double> level;
  std::vector<std::size_t> count;
  for (double v : values) {
    level.push_back(v);
    count.push_back(1);
    while (level.size() > 1 && level[level.size() - 2] > level.back()) {
      const std::size_t a = count[count.size() - 2], b = count.back();
      const double merged = (level[level.size() - 2] * a + level.back() * b) / (a + b);
      level.pop_back();
      count.pop_back();
      level.back() = merged;
      count.back() = a + b;
    }
  }
  std::size_t i = 0;
  for (std::size_t j = 0; j < level.size(); ++j) {
    for (std::size_t c = 0; c < count[j]; ++c) values[i++] = level[j];
  }
}
