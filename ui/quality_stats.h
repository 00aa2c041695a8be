// The statistics the quality figures are built from, without widgets or
// files: binning, medians and quantiles, running medians, robust scores,
// box summaries, Pearson correlation and the PCA scores of samples.
#ifndef VARNEL_UI_QUALITY_STATS_H_
#define VARNEL_UI_QUALITY_STATS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Varnel {

// Counts of equal-width bins: bin i covers [low + i*width, low + (i+1)*width).
// Values below low or at/after the last edge are counted in below/above, not
// in a bin. NaN values are not counted at all.
struct Histogram {
  double low = 0.0;
  double width = 1.0;
  std::vector<std::size_t> counts;
  std::size_t below = 0;
  std::size_t above = 0;
  std::size_t values = 0;  // finite values seen, binned or not
  double median = 0.0;     // of the finite values; NaN when there are none
};

// How Make_Histogram chooses its range.
enum class Histogram_Range {
  kFromZero,   // [0, upper quantile): for non-negative figures such as a CV
  kSymmetric,  // [-m, m) with m the larger absolute tail quantile
  kQuantiles,  // [lower quantile, upper quantile)
};

// Values farther out than these quantiles (0.5 % on each side) fall outside the
// bins, so that one wild value cannot squeeze the rest into a single bar.
inline constexpr double kHistogramTailQuantile = 0.005;
// The bin width is the Freedman-Diaconis width, held so that the range gets at
// most kMaxHistogramBins bins and at least the square root of the count of
// values (but 5 to kMinHistogramBins), then rounded up to a "nice" number (1,
// 2, 2.5 or 5 times a power of ten); so a bin or two more may cover the ends.
inline constexpr int kMaxHistogramBins = 60;
inline constexpr int kMinHistogramBins = 20;

// Bins the finite values. The edges are multiples of the width. With no finite
// value the histogram has no bins; with all values equal, one bin holds them.
Histogram Make_Histogram(const std::vector<double>& values, Histogram_Range range);

// The smallest of 1, 2, 2.5, 5 times a power of ten that is >= step
// (REQUIRES: step > 0 and finite).
double Nice_Step(double step);

// Median of the finite values; NaN when there are none. Reorders its copy only.
double Median(std::vector<double> values);

// One point of a smoothed curve.
struct Curve_Point {
  double x = 0.0;
  double y = 0.0;
};

// Pairs a running median uses at most (see Running_Median).
inline constexpr std::size_t kSmoothMaxValues = 2000;

// Running median of y over x: evaluated at `points` evenly spaced positions
// from x_low to x_high, each over the values whose x lies within half_width
// (inclusive) of the position. Positions with fewer than min_values values
// are left out, so sparse stretches show as gaps rather than noise. Of more
// than kSmoothMaxValues pairs only every k-th (in the given order) is used,
// which bounds the cost of a sample's curve.
// REQUIRES: xs.size() == ys.size(); NaN pairs are ignored.
std::vector<Curve_Point> Running_Median(const std::vector<double>& xs,
                                        const std::vector<double>& ys, double x_low, double x_high,
                                        int points, double half_width, std::size_t min_values);

// Robust z-scores: (v - median) / (1.4826 * MAD). A MAD of 0 is raised to
// kMinSpread so that a single differing value stands out instead of dividing
// by zero. NaN values get a score of NaN.
inline constexpr double kMinSpread = 1e-6;
std::vector<double> Robust_Scores(const std::vector<double>& values);

// Indexes of the values from largest to smallest, ties in index order, NaN last.
std::vector<std::uint32_t> Rank_Descending(const std::vector<double>& values);

// A box plot's figures: quartiles and median, whiskers at the most extreme
// values within 1.5 interquartile ranges of the box. NaN without values.
struct Box_Summary {
  double low = 0.0, q1 = 0.0, median = 0.0, q3 = 0.0, high = 0.0;
  std::size_t values = 0;
};
Box_Summary Make_Box(std::vector<double> values);

// Pearson correlation of the pairs where both values are finite; NaN with
// fewer than kMinCorrelationPairs pairs or no spread.
inline constexpr std::size_t kMinCorrelationPairs = 3;
double Pearson(const std::vector<double>& a, const std::vector<double>& b);

// PCA of samples from cells[g * n + s] (any scale, NaN missing): a missing cell
// takes the group's smallest value and each group is centred. False with
// fewer than three samples, two groups or no spread; pc[k][s] the scores and
// share[k] the variance share of the first two components.
bool Pca_Scores(const std::vector<double>& cells, std::size_t n, std::size_t groups,
                std::vector<double> pc[2], double share[2]);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_STATS_H_
