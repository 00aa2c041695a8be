#include "ui/quality_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace Varnel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMadToSigma = 1.4826;
constexpr double kWhisker = 1.5;  // box whiskers, in interquartile ranges

// Value at quantile q (0..1) of the values, linear between neighbours as in
// a sorted list. Reorders values (nth_element): O(n) instead of a sort.
double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return kNaN;
  const double pos = q * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(pos));
  std::nth_element(values.begin(), values.begin() + below, values.end());
  const double low = values[below];
  if (below + 1 >= values.size()) return low;
  const double high = *std::min_element(values.begin() + below + 1, values.end());
  return low + (pos - static_cast<double>(below)) * (high - low);
}

// The top two eigenpairs of the symmetric matrix a (n x n, row-major) by power
// iteration with deflation.
void Top_Two_Eigen(std::vector<double> a, std::size_t n, double values[2],
                   std::vector<double> vectors[2]) {
  constexpr int kIterations = 300;
  for (int k = 0; k < 2; ++k) {
    std::vector<double> v(n), w(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = 1.0 + 0.01 * static_cast<double>(i % 7);
    double lambda = 0.0;
    for (int it = 0; it < kIterations; ++it) {
      for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < n; ++j) sum += a[i * n + j] * v[j];
        w[i] = sum;
      }
      double norm = 0.0;
      for (double x : w) norm += x * x;
      norm = std::sqrt(norm);
      if (!(norm > 0.0)) break;
      for (std::size_t i = 0; i < n; ++i) v[i] = w[i] / norm;
      lambda = norm;
    }
    values[k] = lambda;
    vectors[k] = v;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) a[i * n + j] -= lambda * v[i] * v[j];
  }
}

}  // namespace

double Nice_Step(double step) {
  const double power = std::pow(10.0, std::floor(std::log10(step)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= step * (1.0 - 1e-12)) return m * power;
  return 10.0 * power;
}

double Median(std::vector<double> values) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty()) return kNaN;
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  const double upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + mid);
  return 0.5 * (lower + upper);
}

Histogram Make_Histogram(const std::vector<double>& values, Histogram_Range range) {
  Histogram h;
  std::vector<double> finite;
  finite.reserve(values.size());
  for (double v : values)
    if (std::isfinite(v)) finite.push_back(v);
  h.values = finite.size();
  h.median = kNaN;
  if (finite.empty()) return h;
  h.median = Quantile(finite, 0.5);

  double low = Quantile(finite, kHistogramTailQuantile);
  double high = Quantile(finite, 1.0 - kHistogramTailQuantile);
  if (range == Histogram_Range::kFromZero) {
    low = 0.0;
    high = std::max(high, 0.0);
  } else if (range == Histogram_Range::kSymmetric) {
    const double m = std::max(std::abs(low), std::abs(high));
    low = -m;
    high = m;
  }
  const double iqr = Quantile(finite, 0.75) - Quantile(finite, 0.25);
  const double fd = 2.0 * iqr / std::cbrt(static_cast<double>(finite.size()));
  // Freedman-Diaconis, held between kMaxHistogramBins bins and a handful
  // (5 to kMinHistogramBins, growing as the square root of the count).
  const double fewest = std::clamp(std::sqrt(static_cast<double>(finite.size())), 5.0,
                                   static_cast<double>(kMinHistogramBins));
  double width = std::clamp(fd, (high - low) / kMaxHistogramBins, (high - low) / fewest);
  if (!(width > 0.0) || !std::isfinite(width)) {
    // All values (nearly) equal: one bin around them.
    const double scale = std::max(std::abs(finite.front()), 1.0);
    width = Nice_Step(scale * 1e-3);
  } else {
    width = Nice_Step(width);
  }
  h.width = width;
  h.low = std::floor(low / width) * width;
  std::size_t bins = static_cast<std::size_t>(std::floor((high - h.low) / width)) + 1;
  bins = std::clamp<std::size_t>(bins, 1, kMaxHistogramBins + 2);
  h.counts.assign(bins, 0);
  const double end = h.low + static_cast<double>(bins) * width;
  for (double v : finite) {
    if (v < h.low) {
      ++h.below;
    } else if (v >= end) {
      ++h.above;
    } else {
      const auto i = std::min(bins - 1, static_cast<std::size_t>((v - h.low) / width));
      ++h.counts[i];
    }
  }
  return h;
}

std::vector<Curve_Point> Running_Median(const std::vector<double>& xs,
                                        const std::vector<double>& ys, double x_low, double x_high,
                                        int points, double half_width, std::size_t min_values) {
  const std::size_t n = std::min(xs.size(), ys.size());
  const std::size_t stride =
      std::max<std::size_t>(1, (n + kSmoothMaxValues - 1) / kSmoothMaxValues);
  std::vector<std::pair<double, double>> pairs;
  pairs.reserve(n / stride + 1);
  for (std::size_t i = 0; i < n; i += stride)
    if (std::isfinite(xs[i]) && std::isfinite(ys[i])) pairs.emplace_back(xs[i], ys[i]);
  std::sort(pairs.begin(), pairs.end());
  std::vector<Curve_Point> curve;
  if (pairs.empty() || points < 1) return curve;
  std::vector<double> window;
  std::size_t first = 0, last = 0;  // [first, last) within the window
  for (int p = 0; p < points; ++p) {
    const double x =
        points == 1 ? 0.5 * (x_low + x_high) : x_low + (x_high - x_low) * p / (points - 1);
    while (first < pairs.size() && pairs[first].first < x - half_width) ++first;
    if (last < first) last = first;
    while (last < pairs.size() && pairs[last].first <= x + half_width) ++last;
    if (last - first < std::max<std::size_t>(min_values, 1)) continue;
    window.clear();
    for (std::size_t i = first; i < last; ++i) window.push_back(pairs[i].second);
    curve.push_back(Curve_Point{x, Median(window)});
  }
  return curve;
}

std::vector<double> Robust_Scores(const std::vector<double>& values) {
  const double centre = Median(values);
  std::vector<double> deviations;
  deviations.reserve(values.size());
  for (double v : values) deviations.push_back(std::abs(v - centre));
  const double spread = std::max(kMadToSigma * Median(deviations), kMinSpread);
  std::vector<double> scores;
  scores.reserve(values.size());
  for (double v : values) scores.push_back(std::isfinite(v) ? (v - centre) / spread : kNaN);
  return scores;
}

std::vector<std::uint32_t> Rank_Descending(const std::vector<double>& values) {
  std::vector<std::uint32_t> order(values.size());
  std::iota(order.begin(), order.end(), 0U);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const double va = values[a], vb = values[b];
    if (std::isnan(va) || std::isnan(vb)) return !std::isnan(va) && std::isnan(vb);
    return va > vb;
  });
  return order;
}

Box_Summary Make_Box(std::vector<double> values) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  Box_Summary b;
  b.values = values.size();
  if (values.empty()) {
    b.low = b.q1 = b.median = b.q3 = b.high = kNaN;
    return b;
  }
  std::sort(values.begin(), values.end());
  const auto at = [&values](double q) {  // linear between neighbours, as Quantile
    const double pos = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(pos));
    if (below + 1 >= values.size()) return values[below];
    return values[below] + (pos - static_cast<double>(below)) * (values[below + 1] - values[below]);
  };
  b.q1 = at(0.25);
  b.median = at(0.5);
  b.q3 = at(0.75);
  const double reach = kWhisker * (b.q3 - b.q1);
  b.low = *std::lower_bound(values.begin(), values.end(), b.q1 - reach);
  b.high = *(std::upper_bound(values.begin(), values.end(), b.q3 + reach) - 1);
  return b;
}

double Pearson(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  double sa = 0.0, sb = 0.0;
  std::size_t m = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (std::isfinite(a[i]) && std::isfinite(b[i])) {
      sa += a[i];
      sb += b[i];
      ++m;
    }
  if (m < kMinCorrelationPairs) return kNaN;
  const double ma = sa / static_cast<double>(m), mb = sb / static_cast<double>(m);
  double sab = 0.0, saa = 0.0, sbb = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    if (std::isfinite(a[i]) && std::isfinite(b[i])) {
      sab += (a[i] - ma) * (b[i] - mb);
      saa += (a[i] - ma) * (a[i] - ma);
      sbb += (b[i] - mb) * (b[i] - mb);
    }
  if (!(saa > 0.0) || !(sbb > 0.0)) return kNaN;
  return sab / std::sqrt(saa * sbb);
}

bool Pca_Scores(const std::vector<double>& cells, std::size_t n, std::size_t groups,
                std::vector<double> pc[2], double share[2]) {
  pc[0].assign(n, kNaN);
  pc[1].assign(n, kNaN);
  share[0] = share[1] = 0.0;
  if (n < 3 || groups < 2) return false;
  std::vector<double> x(n * groups);
  for (std::size_t g = 0; g < groups; ++g) {
    double low = kNaN, sum = 0.0;
    for (std::size_t s = 0; s < n; ++s)
      if (std::isfinite(cells[g * n + s]) && !(cells[g * n + s] >= low)) low = cells[g * n + s];
    if (!std::isfinite(low)) low = 0.0;
    for (std::size_t s = 0; s < n; ++s) {
      const double v = std::isfinite(cells[g * n + s]) ? cells[g * n + s] : low;
      x[s * groups + g] = v;
      sum += v;
    }
    const double mean = sum / static_cast<double>(n);
    for (std::size_t s = 0; s < n; ++s) x[s * groups + g] -= mean;
  }
  std::vector<double> gram(n * n);
  double trace = 0.0;
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = a; b < n; ++b) {
      double sum = 0.0;
      const double* xa = &x[a * groups];
      const double* xb = &x[b * groups];
      for (std::size_t g = 0; g < groups; ++g) sum += xa[g] * xb[g];
      gram[a * n + b] = gram[b * n + a] = sum;
      if (a == b) trace += sum;
    }
  if (!(trace > 0.0)) return false;
  double values[2];
  std::vector<double> vectors[2];
  Top_Two_Eigen(std::move(gram), n, values, vectors);
  for (int k = 0; k < 2; ++k) {
    share[k] = values[k] / trace;
    // One sign for every run: the largest score is positive.
    double extreme = 0.0;
    for (double v : vectors[k])
      if (std::abs(v) > std::abs(extreme)) extreme = v;
    const double sign = extreme < 0.0 ? -1.0 : 1.0;
    for (std::size_t s = 0; s < n; ++s)
      pc[k][s] = sign * std::sqrt(std::max(values[k], 0.0)) * vectors[k][s];
  }
  return true;
}

}  // namespace Varnel
