#include "align/tolerance_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <sstream>
#include <vector>

namespace {

constexpr double kZ99 = 2.576;            // 99 % of a normal lies within this many SDs
constexpr double kDeepCentreNoise = 1.1;  // SD of a member around a first-phase median, per spread
constexpr std::size_t kPairCap = 4000000;
constexpr double kGapQuantile = 0.999;  // of the anchors' pair gaps after the correction
constexpr int kEmIterations = 300;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Normal_Fit {
  double sd = kNaN;
  std::size_t pairs = 0;
};

// Fits |d| <= range as a zero-mean normal plus a flat background (folded to
// [0, range]); returns the normal's SD. NaN with fewer than kMinPairs values.
Normal_Fit Fit_Normal_Plus_Flat(const std::vector<double>& magnitudes, double range) {
  Normal_Fit fit;
  std::vector<double> v;
  for (double d : magnitudes) {
    if (d <= range) v.push_back(d);
  }
  fit.pairs = v.size();
  if (v.size() < kMinPairs || !(range > 0.0)) return fit;
  double sd = range / 4.0;
  double background = 0.5;
  const double floor = range * 1e-9;
  const double flat = 1.0 / range;
  for (int it = 0; it < kEmIterations; ++it) {
    double sum_r = 0.0, sum_rv2 = 0.0;
    const double norm = (1.0 - background) * 2.0 / (sd * std::sqrt(2.0 * std::numbers::pi));
    for (double d : v) {
      const double z = d / sd;
      const double g = norm * std::exp(-0.5 * z * z);
      const double r = g / (g + background * flat);
      sum_r += r;
      sum_rv2 += r * d * d;
    }
    if (!(sum_r > 0.0)) break;
    const double next = std::max(std::sqrt(sum_rv2 / sum_r), floor);
    background = std::clamp(1.0 - sum_r / v.size(), 0.0, 1.0 - 1e-9);
    const bool settled = std::fabs(next - sd) <= 1e-7 * sd;
    sd = next;
    if (settled) break;
  }
  fit.sd = sd;
  return fit;
}

std::vector<std::size_t> By_Mass(const std::vector<Compound_Unit>& units) {
  std::vector<std::size_t> order(units.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return units[a].mass < units[b].mass; });
  return order;
}

// Calls visit(a, b) for the pairs of units of different samples whose masses
// differ by at most ppm of the lighter one and whose times by at most rt,
// starting from every stride-th unit of the mass order.
template <typename Visit>
void For_Each_Pair(const std::vector<Compound_Unit>& units, const std::vector<std::size_t>& order,
                   double ppm, double rt, std::size_t stride, Visit&& visit) {
  for (std::size_t i = 0; i < order.size(); i += stride) {
    const Compound_Unit& a = units[order[i]];
    const double reach = ppm * 1e-6 * std::fabs(a.mass);
    for (std::size_t j = i + 1; j < order.size(); ++j) {
      const Compound_Unit& b = units[order[j]];
      if (!(b.mass - a.mass <= reach)) break;
      if (b.sample != a.sample && std::fabs(b.rt - a.rt) <= rt) visit(a, b);
    }
  }
}

// Pairs met from every unit, to choose a stride that keeps them under the cap.
std::size_t Stride_For(const std::vector<Compound_Unit>& units,
                       const std::vector<std::size_t>& order, double ppm, double rt) {
  std::size_t count = 0;
  For_Each_Pair(units, order, ppm, rt, 1,
                [&](const Compound_Unit&, const Compound_Unit&) { ++count; });
  return std::max<std::size_t>(1, (count + kPairCap - 1) / kPairCap);
}

// Step 2 on units: the time SD of a unit (pair SD / sqrt(2)).
Normal_Fit Rt_Spread(const std::vector<Compound_Unit>& units, const std::vector<std::size_t>& order,
                     double pair_ppm, const Tolerance_Estimate_Params& params) {
  const std::size_t stride = Stride_For(units, order, pair_ppm, params.rt_search_max);
  std::vector<double> gaps;
  For_Each_Pair(units, order, pair_ppm, params.rt_search_max, stride,
                [&](const Compound_Unit& a, const Compound_Unit& b) {
                  gaps.push_back(std::fabs(b.rt - a.rt));
                });
  Normal_Fit fit;
  for (double range = params.rt_search_start;; range *= 2.0) {
    range = std::min(range, params.rt_search_max);
    fit = Fit_Normal_Plus_Flat(gaps, range);
    if (std::isnan(fit.sd) || 3.0 * fit.sd <= range || range >= params.rt_search_max) break;
  }
  fit.sd /= std::sqrt(2.0);
  return fit;
}

double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return kNaN;
  const auto at = static_cast<std::size_t>(q * (values.size() - 1));
  std::nth_element(values.begin(), values.begin() + at, values.end());
  return values[at];
}

// Three significant digits as a plain decimal.
std::string Plain(double value) {
  if (!(value > 0.0) || !std::isfinite(value)) return "0";
  const int digits = std::max(0, 2 - static_cast<int>(std::floor(std::log10(value))));
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

}  // namespace

namespace {

template <typename List>
Tolerance_Estimate Estimate_Of(const List& list, const Tolerance_Estimate_Params& params) {
  Tolerance_Estimate e;
  std::vector<Compound_Unit> units = Gather_Compound_Units(list);
  e.units = units.size();
  std::vector<std::size_t> order = By_Mass(units);

  // Step 1: mass.
  const std::size_t stride =
      Stride_For(units, order, params.mass_search_ppm, params.mass_search_rt);
  std::vector<double> gaps;
  For_Each_Pair(units, order, params.mass_search_ppm, params.mass_search_rt, stride,
                [&](const Compound_Unit& a, const Compound_Unit& b) {
                  gaps.push_back((b.mass - a.mass) / std::fabs(a.mass) * 1e6);
                });
  const Normal_Fit mass = Fit_Normal_Plus_Flat(gaps, params.mass_search_ppm);
  e.mass_pairs = mass.pairs;
  if (std::isnan(mass.sd)) return e;
  e.mass_sd_ppm = mass.sd / std::sqrt(2.0);
  std::vector<double> masses;
  double sum_sq = 0.0;
  for (const Compound_Unit& u : units) {
    masses.push_back(std::fabs(u.mass));
    sum_sq += u.mass * u.mass;
  }
  e.mass_sd_da = e.mass_sd_ppm * 1e-6 * std::sqrt(sum_sq / units.size());
  e.mass_tol.value = kZ99 * std::sqrt(2.0) * e.mass_sd_ppm * 1e-6 * Quantile(masses, 0.95);

  // Step 2: retention time as read.
  const double pair_ppm = kPairMassSds * std::sqrt(2.0) * e.mass_sd_ppm;
  const Normal_Fit before = Rt_Spread(units, order, pair_ppm, params);
  e.rt_pairs = before.pairs;
  if (std::isnan(before.sd)) return e;
  e.rt_sd_before = before.sd;

  // Step 3: retention time after the correction.
  Rt_Correction_Params correction_params;
  correction_params.anchors.mass_tol = e.mass_tol;
  correction_params.anchors.window = Rt_Anchor_Window(params.fast_window);
  const Rt_Correction correction = Fit_Rt_Correction(list, correction_params);
  e.anchors = correction.anchors;
  e.uncorrected_samples = correction.Uncorrected_Samples();
  for (Compound_Unit& u : units) u.rt += correction.Shift(u.sample, u.rt);
  const Normal_Fit after = Rt_Spread(units, order, pair_ppm, params);
  e.rt_sd_after = std::isnan(after.sd) ? e.rt_sd_before : after.sd;
  const std::vector<double> anchor_gaps = Rt_Anchor_Pair_Gaps(units, correction_params.anchors);
  e.anchor_pairs = anchor_gaps.size();
  e.rt_gap_high = anchor_gaps.size() < kMinPairs ? kNaN : Quantile(anchor_gaps, kGapQuantile);

  // Step 4.
  e.fast_window = 2.0 * kZ99 * std::sqrt(2.0) * e.rt_sd_before;
  e.deep_window = 2.0 * kZ99 * kDeepCentreNoise * e.rt_sd_before;
  e.fast_window_corrected = 2.0 * kZ99 * std::sqrt(2.0) * e.rt_sd_after;
  e.deep_window_corrected = 2.0 * kZ99 * kDeepCentreNoise * e.rt_sd_after;
  if (!std::isnan(e.rt_gap_high)) {
    e.fast_window_corrected = std::max(e.fast_window_corrected, 2.0 * e.rt_gap_high);
    e.deep_window_corrected =
        std::max(e.deep_window_corrected, std::sqrt(2.0) * kDeepCentreNoise * e.rt_gap_high);
  }
  e.ok = true;
  return e;
}

}  // namespace

std::string Suggested_Options(const Tolerance_Estimate& estimate, bool corrected) {
  return "--mass-tol " + Plain(estimate.mass_tol.value) + " --fast-window " +
         Plain(corrected ? estimate.fast_window_corrected : estimate.fast_window) +
         " --deep-window " +
         Plain(corrected ? estimate.deep_window_corrected : estimate.deep_window);
}

std::string Tolerance_Estimate_Report(const Tolerance_Estimate& estimate, bool corrected) {
  std::ostringstream out;
  if (!estimate.ok) {
    out << "Too few compounds seen in more than one sample to estimate the tolerances ("
        << estimate.units << " compound units, " << estimate.mass_pairs << " mass pairs, "
        << estimate.rt_pairs << " retention-time pairs; at least " << kMinPairs
        << " pairs needed)\n";
    return out.str();
  }
  char line[200];
  std::snprintf(line, sizeof line,
                "compound units: %zu; pairs across samples: %zu by mass, %zu by retention time; "
                "anchor groups: %zu\n",
                estimate.units, estimate.mass_pairs, estimate.rt_pairs, estimate.anchors);
  out << line;
  std::snprintf(line, sizeof line, "mass spread (SD): %.3g ppm, %.3g Da\n", estimate.mass_sd_ppm,
                estimate.mass_sd_da);
  out << line;
  std::snprintf(line, sizeof line,
                "retention-time spread (SD): %.3g s before correction, %.3g s after\n",
                estimate.rt_sd_before, estimate.rt_sd_after);
  out << line;
  if (estimate.anchor_pairs >= kMinPairs) {
    std::snprintf(line, sizeof line,
                  "anchor member pairs after correction: %zu, 99.9th percentile gap %.3g s\n",
                  estimate.anchor_pairs, estimate.rt_gap_high);
    out << line;
  }
  if (!estimate.uncorrected_samples.empty()) {
    out << "samples the correction leaves uncorrected:";
    for (std::uint32_t s : estimate.uncorrected_samples) out << ' ' << s;
    out << '\n';
  }
  out << Suggested_Options(estimate, corrected) << '\n';
  return out.str();
}

Tolerance_Estimate Estimate_Tolerances(const Align_Peak_Records& list,
                                       const Tolerance_Estimate_Params& params) {
  return Estimate_Of(list, params);
}
Tolerance_Estimate Estimate_Tolerances(const std::vector<Align_Key>& list,
                                       const Tolerance_Estimate_Params& params) {
  return Estimate_Of(list, params);
}
