#include "align/rt_correction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <tuple>
#include <utility>

#include "align/median.h"

namespace {

constexpr double kMadToSd = 1.4826;         // a normal's SD per median absolute deviation
constexpr double kBisquareScale = 6.0;      // residuals beyond 6 MADs get no weight
constexpr std::size_t kMinNeighbours = 20;  // smallest local fit (fewer anchors: all of them)

// Discards what it is given, after the stream has formatted it.
class Null_Buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double Robust_Sd(std::vector<double> deviations) {
  if (deviations.empty()) return 0.0;
  for (double& d : deviations) d = std::fabs(d);
  return kMadToSd * Median(deviations);
}

// Linear interpolation in (xs, ys), xs ascending; the end value beyond the ends.
double Interpolate(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
  if (xs.empty()) return 0.0;
  if (std::isnan(x)) return x;
  if (x <= xs.front()) return ys.front();
  if (x >= xs.back()) return ys.back();
  const auto hi = static_cast<std::size_t>(std::upper_bound(xs.begin(), xs.end(), x) - xs.begin());
  const std::size_t lo = hi - 1;
  const double f = (x - xs[lo]) / (xs[hi] - xs[lo]);
  return ys[lo] + f * (ys[hi] - ys[lo]);
}

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
// weighted by tricube distance times robust. REQUIRES: xs ascending, not
// empty, 1 <= k <= xs.size().
std::vector<double> Local_Fit(const std::vector<double>& xs, const std::vector<double>& ys,
                              const std::vector<double>& robust, const std::vector<double>& grid,
                              std::size_t k) {
  const std::size_t n = xs.size();
  std::vector<double> fit(grid.size(), 0.0);
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

struct Sample_Points {
  std::vector<double> x;  // member time
  std::vector<double> y;  // member time - reference
};

// LOWESS of points, sampled at grid; see the header.
std::vector<double> Lowess(Sample_Points& p, const std::vector<double>& grid, double span,
                           int robust_iterations) {
  const std::size_t n = p.x.size();
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return p.x[a] < p.x[b]; });
  std::vector<double> xs(n), ys(n);
  for (std::size_t i = 0; i < n; ++i) {
    xs[i] = p.x[order[i]];
    ys[i] = p.y[order[i]];
  }
  const auto wanted = static_cast<std::size_t>(std::ceil(std::clamp(span, 0.0, 1.0) * n));
  const std::size_t k = std::min(n, std::max(wanted, kMinNeighbours));
  std::vector<double> robust(n, 1.0);
  std::vector<double> fit = Local_Fit(xs, ys, robust, grid, k);
  std::vector<double> residual(n);
  for (int it = 0; it < robust_iterations; ++it) {
    for (std::size_t i = 0; i < n; ++i) residual[i] = ys[i] - Interpolate(grid, fit, xs[i]);
    std::vector<double> magnitude(residual);
    for (double& m : magnitude) m = std::fabs(m);
    const double scale = kBisquareScale * Median(magnitude);
    if (!(scale > 0.0)) break;
    for (std::size_t i = 0; i < n; ++i) {
      const double u = residual[i] / scale;
      robust[i] = std::fabs(u) < 1.0 ? (1.0 - u * u) * (1.0 - u * u) : 0.0;
    }
    fit = Local_Fit(xs, ys, robust, grid, k);
  }
  return fit;
}

}  // namespace

double Rt_Anchor_Window(double fast_window) {
  return std::max(4.0 * fast_window, kMinAnchorWindow);
}

namespace {

template <typename List>
std::vector<Compound_Unit> Gather_Units_Of(const List& list) {
  struct Key {
    std::uint32_t sample, compound;
    std::size_t record;
  };
  std::vector<Key> keys;
  keys.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& r = list[i];
    if (r.Compound_ID == 0 || !std::isfinite(r.Compound_MolecularMass) ||
        !std::isfinite(r.Compound_Retention_Time)) {
      continue;
    }
    keys.push_back({r.SAMPLE_ID, r.Compound_ID, i});
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return std::tie(a.sample, a.compound, a.record) < std::tie(b.sample, b.compound, b.record);
  });
  std::vector<Compound_Unit> units;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0 && keys[i].sample == keys[i - 1].sample && keys[i].compound == keys[i - 1].compound) {
      continue;
    }
    const auto& r = list[keys[i].record];
    units.push_back(
        {r.SAMPLE_ID, r.Compound_MolecularMass, r.Compound_Retention_Time, r.Compound_Intensity});
  }
  return units;
}

}  // namespace

std::vector<Compound_Unit> Gather_Compound_Units(const Align_Peak_Records& list) {
  return Gather_Units_Of(list);
}
std::vector<Compound_Unit> Gather_Compound_Units(const std::vector<Align_Key>& list) {
  return Gather_Units_Of(list);
}

namespace {

// The units by ascending mass, as (mass, position).
using Mass_Order = std::vector<std::pair<double, std::uint32_t>>;
Mass_Order Order_By_Mass(const std::vector<Compound_Unit>& units) {
  Mass_Order by_mass(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    by_mass[i] = {units[i].mass, static_cast<std::uint32_t>(i)};
  }
  std::sort(by_mass.begin(), by_mass.end());
  return by_mass;
}

// Find_Rt_Anchors with the mass order of units made by the caller (the
// masses stay, the times may move between calls).
std::vector<Rt_Anchor> Find_Anchors(const std::vector<Compound_Unit>& units,
                                    const Mass_Order& by_mass, const Rt_Anchor_Rule& rule) {
  std::vector<Rt_Anchor> anchors;
  if (units.empty() || units.size() >= std::numeric_limits<std::uint32_t>::max()) return anchors;
  std::vector<std::uint32_t> samples;
  for (const Compound_Unit& u : units) samples.push_back(u.sample);
  std::sort(samples.begin(), samples.end());
  samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
  const auto need = std::max<std::size_t>(
      rule.min_samples,
      static_cast<std::size_t>(std::ceil(std::max(rule.min_share, 0.0) * samples.size())));
  std::vector<std::uint32_t> dense(units.size());  // sample number 0 .. samples.size() - 1
  for (std::size_t i = 0; i < units.size(); ++i) {
    dense[i] = static_cast<std::uint32_t>(
        std::lower_bound(samples.begin(), samples.end(), units[i].sample) - samples.begin());
  }

  // Candidates: the most intense units of each sample.
  std::vector<std::uint32_t> candidates;
  {
    std::vector<std::vector<std::uint32_t>> per_sample(samples.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
      per_sample[dense[i]].push_back(static_cast<std::uint32_t>(i));
    }
    for (auto& list : per_sample) {
      if (list.size() > rule.candidates_per_sample) {
        std::nth_element(list.begin(), list.begin() + rule.candidates_per_sample, list.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                           return units[a].intensity > units[b].intensity;
                         });
        list.resize(rule.candidates_per_sample);
      }
      candidates.insert(candidates.end(), list.begin(), list.end());
    }
    std::sort(candidates.begin(), candidates.end());
  }

  // Light copies of the candidates: no shapes, no texts; EIC_ID carries the
  // unit's index.
  Align_Peak_Records light(candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Compound_Unit& u = units[candidates[i]];
    light[i].Compound_ID = 1;
    light[i].Compound_MolecularMass = u.mass;
    light[i].Compound_Retention_Time = u.rt;
    light[i].Compound_Intensity = u.intensity;
    light[i].SAMPLE_ID = u.sample;
    light[i].EIC_ID = candidates[i];
  }
  Null_Buffer sink;
  std::ostream quiet(&sink);
  compound_align(One_Phase_Align, rule.mass_tol, rule.window, rule.window, light, quiet);

  const double half = rule.window * 0.5;

  std::vector<double> values;
  std::vector<std::uint32_t> seen(samples.size(), 0);  // units in the box per sample
  std::vector<std::uint32_t> inside;
  std::size_t begin = 0;
  while (begin < light.size()) {
    std::size_t end = begin + 1;
    while (end < light.size() && light[end].Align_ID == light[begin].Align_ID) ++end;
    const std::size_t first = begin;
    begin = end;
    if (light[first].Align_ID == 0 || end - first < rule.min_samples) continue;
    // The box around the candidates' medians, over all units.
    values.clear();
    for (std::size_t i = first; i < end; ++i) values.push_back(units[light[i].EIC_ID].rt);
    const double centre_rt = Median(values);
    values.clear();
    for (std::size_t i = first; i < end; ++i) values.push_back(units[light[i].EIC_ID].mass);
    const double centre_mass = Median(values);
    const double tol = rule.mass_tol.unit == Mass_Tolerance::Unit::kPpm
                           ? Ppm_Tolerance(rule.mass_tol.value, centre_mass)
                           : rule.mass_tol.value;
    inside.clear();
    bool crowded = false;
    auto it = std::partition_point(by_mass.begin(), by_mass.end(),
                                   [&](const auto& e) { return e.first - centre_mass < -tol; });
    for (; it != by_mass.end() && !(it->first - centre_mass > tol); ++it) {
      const std::uint32_t u = it->second;
      if (!(std::fabs(units[u].rt - centre_rt) <= half)) continue;
      if (++seen[dense[u]] > 1) crowded = true;
      inside.push_back(u);
    }
    for (std::uint32_t u : inside) seen[dense[u]] = 0;
    if (crowded || inside.size() < need) continue;
    Rt_Anchor a;
    for (std::uint32_t u : inside)
      a.members.push_back({units[u].sample, units[u].rt, units[u].mass, u});
    std::sort(
        a.members.begin(), a.members.end(),
        [](const Rt_Anchor_Member& x, const Rt_Anchor_Member& y) { return x.sample < y.sample; });
    values.clear();
    for (const auto& m : a.members) values.push_back(m.rt);
    a.reference_rt = Median(values);
    values.clear();
    for (const auto& m : a.members) values.push_back(m.mass);
    a.reference_mass = Median(values);
    anchors.push_back(std::move(a));
  }
  return anchors;
}

}  // namespace

std::vector<Rt_Anchor> Find_Rt_Anchors(const std::vector<Compound_Unit>& units,
                                       const Rt_Anchor_Rule& rule) {
  return Find_Anchors(units, Order_By_Mass(units), rule);
}

double Rt_Correction::Shift(std::uint32_t sample, double rt) const {
  const auto it =
      std::lower_bound(samples.begin(), samples.end(), sample,
                       [](const Rt_Sample_Curve& c, std::uint32_t s) { return c.sample < s; });
  if (it == samples.end() || it->sample != sample || !it->corrected) {
    return std::isnan(rt) ? rt : 0.0;
  }
  return Interpolate(it->rt, it->shift, rt);
}

std::vector<std::uint32_t> Rt_Correction::Uncorrected_Samples() const {
  std::vector<std::uint32_t> out;
  for (const Rt_Sample_Curve& c : samples) {
    if (!c.corrected) out.push_back(c.sample);
  }
  return out;
}

namespace {

// One pass of steps 2-4: anchors among units at times `times` (original
// times moved by the previous pass), each sample's curve fitted to
// (original time, original time - anchor reference). Fills result.samples'
// curves and anchor counts and result.anchors; returns the anchors.
std::vector<Rt_Anchor> Fit_Pass(const std::vector<Compound_Unit>& units,
                                const std::vector<Compound_Unit>& moved, const Mass_Order& by_mass,
                                const Rt_Correction_Params& params, Rt_Correction& result) {
  std::vector<Rt_Anchor> anchors = Find_Anchors(moved, by_mass, params.anchors);
  result.anchors = anchors.size();
  auto index_of = [&](std::uint32_t sample) {
    return static_cast<std::size_t>(
        std::lower_bound(result.samples.begin(), result.samples.end(), sample,
                         [](const Rt_Sample_Curve& c, std::uint32_t s) { return c.sample < s; }) -
        result.samples.begin());
  };
  std::vector<Sample_Points> points(result.samples.size());
  for (const Rt_Anchor& a : anchors) {
    for (const Rt_Anchor_Member& m : a.members) {
      Sample_Points& p = points[index_of(m.sample)];
      const double original = units[m.unit].rt;
      p.x.push_back(original);
      p.y.push_back(original - a.reference_rt);
    }
  }
  const std::size_t grid_points = std::max<std::size_t>(params.grid_points, 2);
  for (std::size_t s = 0; s < result.samples.size(); ++s) {
    Rt_Sample_Curve& c = result.samples[s];
    Sample_Points& p = points[s];
    c.anchors = p.x.size();
    c.rt.clear();
    c.shift.clear();
    c.corrected = false;
    if (c.anchors < std::max<std::size_t>(params.min_anchors, 1)) continue;
    const auto [lo, hi] = std::minmax_element(p.x.begin(), p.x.end());
    const double first = *lo, last = *hi;
    if (first == last) {
      c.rt.push_back(first);
    } else {
      for (std::size_t i = 0; i < grid_points; ++i) {
        c.rt.push_back(i + 1 == grid_points
                           ? last
                           : first + (last - first) * static_cast<double>(i) / (grid_points - 1));
      }
    }
    c.shift = Lowess(p, c.rt, params.span, params.robust_iterations);
    for (double& v : c.shift) v = -v;
    c.corrected = true;
  }
  return anchors;
}

}  // namespace

namespace {

template <typename List>
Rt_Correction Fit_Of(const List& list, const Rt_Correction_Params& params) {
  Rt_Correction result;
  const std::vector<Compound_Unit> units = Gather_Compound_Units(list);
  for (const Compound_Unit& u : units) {
    if (result.samples.empty() || result.samples.back().sample != u.sample) {
      Rt_Sample_Curve c;
      c.sample = u.sample;
      result.samples.push_back(std::move(c));
    }
  }
  const std::uint32_t* last_sample = nullptr;
  for (const auto& r : list) {  // names: from the first record of each sample
    if constexpr (!requires { r.SAMPLE_NAME; }) break;
    if (last_sample != nullptr && *last_sample == r.SAMPLE_ID) continue;
    last_sample = &r.SAMPLE_ID;
    auto it =
        std::lower_bound(result.samples.begin(), result.samples.end(), r.SAMPLE_ID,
                         [](const Rt_Sample_Curve& c, std::uint32_t s) { return c.sample < s; });
    if (it != result.samples.end() && it->sample == r.SAMPLE_ID && it->name.empty()) {
      if constexpr (requires { r.SAMPLE_NAME; }) it->name = r.SAMPLE_NAME;
    }
  }

  std::vector<Compound_Unit> moved = units;
  const Mass_Order by_mass = Order_By_Mass(units);
  std::vector<Rt_Anchor> anchors;
  std::vector<double> before;
  for (int pass = 0; pass < std::max(params.passes, 1); ++pass) {
    if (pass > 0) {
      for (std::size_t i = 0; i < units.size(); ++i) {
        moved[i].rt = units[i].rt + result.Shift(units[i].sample, units[i].rt);
      }
    }
    anchors = Fit_Pass(units, moved, by_mass, params, result);
    if (pass == 0) {
      for (const Rt_Anchor& a : anchors) {
        for (const Rt_Anchor_Member& m : a.members) before.push_back(m.rt - a.reference_rt);
      }
    }
  }

  std::vector<double> after, times;
  for (const Rt_Anchor& a : anchors) {
    times.clear();
    for (const Rt_Anchor_Member& m : a.members) {
      const double original = units[m.unit].rt;
      times.push_back(original + result.Shift(m.sample, original));
    }
    std::vector<double> copy(times);
    const double reference = Median(copy);
    for (double t : times) after.push_back(t - reference);
  }
  result.rt_spread_before = Robust_Sd(std::move(before));
  result.rt_spread_after = Robust_Sd(std::move(after));
  return result;
}

template <typename List>
std::vector<double> Times_Of(const List& list, const Rt_Correction& correction) {
  std::vector<double> times(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const double rt = list[i].Compound_Retention_Time;
    times[i] = rt + correction.Shift(list[i].SAMPLE_ID, rt);
  }
  return times;  // Shift is a few comparisons: a binary search in samples and in a grid
}

}  // namespace

Rt_Correction Fit_Rt_Correction(const Align_Peak_Records& list,
                                const Rt_Correction_Params& params) {
  return Fit_Of(list, params);
}
Rt_Correction Fit_Rt_Correction(const std::vector<Align_Key>& list,
                                const Rt_Correction_Params& params) {
  return Fit_Of(list, params);
}

std::vector<double> Corrected_Times(const Align_Peak_Records& list,
                                    const Rt_Correction& correction) {
  return Times_Of(list, correction);
}
std::vector<double> Corrected_Times(const std::vector<Align_Key>& list,
                                    const Rt_Correction& correction) {
  return Times_Of(list, correction);
}

void Compound_Align_With_Rt_Correction(Compound_Align_Mode mode, const Mass_Tolerance& mass_tol,
                                       double window1, double window2, Align_Peak_Records& list,
                                       const Rt_Correction& correction, std::ostream& progress,
                                       const Align_Progress& on_group) {
  const std::vector<double> times = Corrected_Times(list, correction);
  compound_align(mode, mass_tol, window1, window2, list, &times, progress, on_group);
}

void Compound_Align_With_Rt_Correction(Compound_Align_Mode mode, const Mass_Tolerance& mass_tol,
                                       double window1, double window2, std::vector<Align_Key>& list,
                                       const Rt_Correction& correction, std::ostream& progress,
                                       const Align_Progress& on_group) {
  const std::vector<double> times = Corrected_Times(list, correction);
  compound_align(mode, mass_tol, window1, window2, list, &times, progress, on_group);
}

std::vector<Rt_Correction_Row> Rt_Correction_Rows(const Rt_Correction& correction) {
  std::vector<Rt_Correction_Row> rows;
  for (const Rt_Sample_Curve& c : correction.samples) {
    for (std::size_t i = 0; i < c.rt.size(); ++i) rows.push_back({c.sample, c.rt[i], c.shift[i]});
  }
  return rows;
}

std::string Rt_Correction_Summary(const Rt_Correction& correction) {
  std::ostringstream out;
  out << "Retention-time correction: " << correction.anchors << " anchor compounds\n";
  out << "anchors per sample:";
  for (const Rt_Sample_Curve& c : correction.samples) {
    out << ' ' << (c.name.empty() ? std::to_string(c.sample) : c.name) << '=' << c.anchors;
  }
  out << '\n';
  const std::vector<std::uint32_t> left = correction.Uncorrected_Samples();
  if (!left.empty()) {
    out << "not corrected (too few anchors):";
    for (const Rt_Sample_Curve& c : correction.samples) {
      if (!c.corrected) out << ' ' << (c.name.empty() ? std::to_string(c.sample) : c.name);
    }
    out << '\n';
  }
  out.precision(3);
  out << std::fixed << "retention-time spread of anchors: " << correction.rt_spread_before
      << " s before, " << correction.rt_spread_after << " s after\n";
  return out.str();
}
