#include "align/rt_correction.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <tuple>
#include <utility>

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

double Median_Of(std::vector<double>& v) {
  const std::size_t half = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + half, v.end());
  if (v.size() % 2 != 0) return v[half];
  const double lower = *std::max_element(v.begin(), v.begin() + half);
  return (lower + v[half]) * 0.5;
}

double Robust_Sd(std::vector<double> deviations) {
  if (deviations.empty()) return 0.0;
  for (double& d : deviations) d = std::fabs(d);
  return kMadToSd * Median_Of(deviations);
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
    const double scale = kBisquareScale * Median_Of(magnitude);
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

std::vector<Compound_Unit> Gather_Compound_Units(const Align_Peak_Records& list) {
  struct Key {
    std::uint32_t sample, compound;
    std::size_t record;
  };
  std::vector<Key> keys;
  keys.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& r = list[i];
    if (r.Compound_ID == 0 || std::isnan(r.Compound_MolecularMass) ||
        std::isnan(r.Compound_Retention_Time)) {
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

std::vector<Rt_Anchor> Find_Rt_Anchors(const std::vector<Compound_Unit>& units,
                                       const Rt_Anchor_Rule& rule) {
  std::vector<Rt_Anchor> anchors;
  if (units.empty() || units.size() >= std::numeric_limits<std::uint32_t>::max()) return anchors;
  std::vector<std::uint32_t> samples;
  for (const Compound_Unit& u : units) samples.push_back(u.sample);
  std::sort(samples.begin(), samples.end());
  samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
  const auto need = std::max<std::size_t>(
      rule.min_samples,
      static_cast<std::size_t>(std::ceil(std::max(rule.min_share, 0.0) * samples.size())));

  // Light copies: no shapes, no texts; EIC_ID carries the unit's index.
  Align_Peak_Records light(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    light[i].Compound_ID = 1;
    light[i].Compound_MolecularMass = units[i].mass;
    light[i].Compound_Retention_Time = units[i].rt;
    light[i].Compound_Intensity = units[i].intensity;
    light[i].SAMPLE_ID = units[i].sample;
    light[i].EIC_ID = static_cast<std::uint32_t>(i);
  }
  Null_Buffer sink;
  std::ostream quiet(&sink);
  compound_align(One_Phase_Align, rule.mass_tol, rule.window, rule.window, light, quiet);

  std::vector<std::uint32_t> by_mass(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) by_mass[i] = static_cast<std::uint32_t>(i);
  std::sort(by_mass.begin(), by_mass.end(),
            [&](std::uint32_t a, std::uint32_t b) { return units[a].mass < units[b].mass; });
  const double half = rule.window * 0.5;

  std::vector<double> values;
  std::size_t begin = 0;
  while (begin < light.size()) {
    std::size_t end = begin + 1;
    while (end < light.size() && light[end].Align_ID == light[begin].Align_ID) ++end;
    const std::size_t size = end - begin;
    const bool grouped = light[begin].Align_ID != 0;
    const std::size_t first = begin;
    begin = end;
    if (!grouped || size < need) continue;
    Rt_Anchor a;
    for (std::size_t i = first; i < end; ++i) {
      const Compound_Unit& u = units[light[i].EIC_ID];
      a.members.push_back({u.sample, u.rt, u.mass, light[i].EIC_ID});
    }
    std::sort(
        a.members.begin(), a.members.end(),
        [](const Rt_Anchor_Member& x, const Rt_Anchor_Member& y) { return x.sample < y.sample; });
    bool one_each = true;
    for (std::size_t i = 1; i < a.members.size(); ++i) {
      if (a.members[i].sample == a.members[i - 1].sample) one_each = false;
    }
    if (!one_each) continue;
    values.clear();
    for (const auto& m : a.members) values.push_back(m.rt);
    a.reference_rt = Median_Of(values);
    values.clear();
    for (const auto& m : a.members) values.push_back(m.mass);
    a.reference_mass = Median_Of(values);
    const double tol = rule.mass_tol.unit == Mass_Tolerance::Unit::kPpm
                           ? Ppm_Tolerance(rule.mass_tol.value, a.reference_mass)
                           : rule.mass_tol.value;
    auto in_box = [&](double mass, double rt) {
      return std::fabs(mass - a.reference_mass) <= tol && std::fabs(rt - a.reference_rt) <= half;
    };
    bool isolated = true;
    for (const auto& m : a.members) isolated = isolated && in_box(m.mass, m.rt);
    if (!isolated) continue;
    auto it = std::partition_point(by_mass.begin(), by_mass.end(), [&](std::uint32_t i) {
      return units[i].mass - a.reference_mass < -tol;
    });
    std::size_t inside = 0;
    for (; it != by_mass.end() && !(units[*it].mass - a.reference_mass > tol); ++it) {
      if (in_box(units[*it].mass, units[*it].rt) && ++inside > size) break;
    }
    if (inside != size) continue;
    anchors.push_back(std::move(a));
  }
  return anchors;
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
                                const std::vector<Compound_Unit>& moved,
                                const Rt_Correction_Params& params, Rt_Correction& result) {
  std::vector<Rt_Anchor> anchors = Find_Rt_Anchors(moved, params.anchors);
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

Rt_Correction Fit_Rt_Correction(const Align_Peak_Records& list,
                                const Rt_Correction_Params& params) {
  Rt_Correction result;
  const std::vector<Compound_Unit> units = Gather_Compound_Units(list);
  for (const Compound_Unit& u : units) {
    if (result.samples.empty() || result.samples.back().sample != u.sample) {
      Rt_Sample_Curve c;
      c.sample = u.sample;
      result.samples.push_back(std::move(c));
    }
  }
  for (const auto& r : list) {  // names: from the first record of each sample
    auto it =
        std::lower_bound(result.samples.begin(), result.samples.end(), r.SAMPLE_ID,
                         [](const Rt_Sample_Curve& c, std::uint32_t s) { return c.sample < s; });
    if (it != result.samples.end() && it->sample == r.SAMPLE_ID && it->name.empty()) {
      it->name = r.SAMPLE_NAME;
    }
  }

  std::vector<Compound_Unit> moved = units;
  std::vector<Rt_Anchor> anchors;
  std::vector<double> before;
  for (int pass = 0; pass < std::max(params.passes, 1); ++pass) {
    if (pass > 0) {
      for (std::size_t i = 0; i < units.size(); ++i) {
        moved[i].rt = units[i].rt + result.Shift(units[i].sample, units[i].rt);
      }
    }
    anchors = Fit_Pass(units, moved, params, result);
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
    const double reference = Median_Of(copy);
    for (double t : times) after.push_back(t - reference);
  }
  result.rt_spread_before = Robust_Sd(std::move(before));
  result.rt_spread_after = Robust_Sd(std::move(after));
  return result;
}

Rt_Saved_Times Apply_Rt_Correction(Align_Peak_Records& list, const Rt_Correction& correction) {
  Rt_Saved_Times saved;
  saved.entries.reserve(list.size());
  for (auto& r : list) {
    const double original = r.Compound_Retention_Time;
    r.Compound_Retention_Time = original + correction.Shift(r.SAMPLE_ID, original);
    saved.entries.push_back({r.SAMPLE_ID, r.EIC_ID, r.Peak_ID,
                             std::bit_cast<std::uint64_t>(r.Compound_Retention_Time), original});
  }
  std::sort(saved.entries.begin(), saved.entries.end(),
            [](const Rt_Saved_Times::Entry& a, const Rt_Saved_Times::Entry& b) {
              return std::tie(a.sample, a.eic, a.peak, a.corrected_bits) <
                     std::tie(b.sample, b.eic, b.peak, b.corrected_bits);
            });
  return saved;
}

void Restore_Rt_Correction(Align_Peak_Records& list, const Rt_Saved_Times& saved) {
  using Entry = Rt_Saved_Times::Entry;
  auto less = [](const Entry& a, const Entry& b) {
    return std::tie(a.sample, a.eic, a.peak, a.corrected_bits) <
           std::tie(b.sample, b.eic, b.peak, b.corrected_bits);
  };
  std::vector<char> used(saved.entries.size(), 0);
  for (auto& r : list) {
    const Entry key{r.SAMPLE_ID, r.EIC_ID, r.Peak_ID,
                    std::bit_cast<std::uint64_t>(r.Compound_Retention_Time), 0.0};
    auto it = std::lower_bound(saved.entries.begin(), saved.entries.end(), key, less);
    // Records with equal keys and times are interchangeable: take the next unused.
    while (it != saved.entries.end() && !less(key, *it) && used[it - saved.entries.begin()] != 0)
      ++it;
    if (it == saved.entries.end() || less(key, *it)) {
      throw std::invalid_argument(
          "retention-time correction: no saved time for the peak of sample " +
          std::to_string(r.SAMPLE_ID) + ", EIC_ID " + std::to_string(r.EIC_ID) + ", Peak_ID " +
          std::to_string(r.Peak_ID));
    }
    used[it - saved.entries.begin()] = 1;
    r.Compound_Retention_Time = it->original;
  }
}

void Compound_Align_With_Rt_Correction(Compound_Align_Mode mode, const Mass_Tolerance& mass_tol,
                                       double window1, double window2, Align_Peak_Records& list,
                                       const Rt_Correction& correction, std::ostream& progress,
                                       const Align_Progress& on_group) {
  const Rt_Saved_Times saved = Apply_Rt_Correction(list, correction);
  try {
    compound_align(mode, mass_tol, window1, window2, list, progress, on_group);
  } catch (...) {
    Restore_Rt_Correction(list, saved);  // compound_align leaves the list as it was
    throw;
  }
  Restore_Rt_Correction(list, saved);
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
