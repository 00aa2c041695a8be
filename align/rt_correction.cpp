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

#include "align/lowess.h"
#include "align/median.h"
#include "model/interpolate.h"

namespace {

constexpr double kMadToSd = 1.4826;         // a normal's SD per median absolute deviation
constexpr std::size_t kMinNeighbours = 12;  // smallest local fit (fewer anchors: all of them)
constexpr std::size_t kCvSamples = 12;      // samples (evenly spread) that choose the span
constexpr double kCvClip = 3.0;  // robust SDs at which a left-out residual stops counting
constexpr double kSmootherTolerance = 1.02;     // a smoother span within 2 % of the best loss wins
constexpr std::size_t kGrossCandidates = 1000;  // most intense units per sample for step 2a
constexpr std::size_t kGrossPieces = 12;        // stretches of a sample's gross shift
constexpr double kGrossWindowShare = 0.5;       // of the anchor window: the gross shift's stretch
constexpr double kGapReaches = 0.5;  // farther from an anchor than this many typical reaches:
                                     // interpolated between the supported parts
constexpr double kCoElution = 2.0;   // s: a sample's units in an anchor box this close elute as one
constexpr double kSameTime = 0.5;    // s: a sample's anchor points this close are one point

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

// One sample's anchor points, ascending in x: member time (as read)
// against member time - reference.
struct Sample_Points : Lowess_Points {
  // Each run of points within kSameTime of its first becomes one point: the
  // medians of its times and of its deviations. REQUIRES: sorted.
  void Merge_Same_Times() {
    std::vector<double> xs, ys, run_x, run_y;
    for (std::size_t i = 0; i < x.size();) {
      std::size_t j = i + 1;
      while (j < x.size() && x[j] - x[i] <= kSameTime) ++j;
      run_x.assign(x.begin() + i, x.begin() + j);
      run_y.assign(y.begin() + i, y.begin() + j);
      xs.push_back(Median(run_x));
      ys.push_back(Median(run_y));
      i = j;
    }
    x = std::move(xs);
    y = std::move(ys);
  }
  void Sort() {
    std::vector<std::size_t> order(x.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return x[a] < x[b] || (x[a] == x[b] && y[a] < y[b]);
    });
    std::vector<double> xs(x.size()), ys(y.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      xs[i] = x[order[i]];
      ys[i] = y[order[i]];
    }
    x = std::move(xs);
    y = std::move(ys);
  }
};

std::size_t Neighbours(double span, std::size_t n) {
  const auto wanted = static_cast<std::size_t>(std::ceil(std::clamp(span, 0.0, 1.0) * n));
  return std::min(n, std::max(wanted, kMinNeighbours));
}

}  // namespace

double Rt_Anchor_Window(double fast_window) { return std::max(fast_window, kMinAnchorWindow); }

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

// The positions of the candidates among units (the candidates_per_sample
// first of each sample in Anchor_Candidate_Before order, ties by position),
// ascending.
std::vector<std::uint32_t> Candidate_Positions(const std::vector<Compound_Unit>& units,
                                               std::size_t candidates_per_sample) {
  std::vector<std::uint32_t> order(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (units[a].sample != units[b].sample) return units[a].sample < units[b].sample;
    return Anchor_Candidate_Before(units[a].intensity, a, units[b].intensity, b);
  });
  std::vector<std::uint32_t> candidates;
  for (std::size_t i = 0, taken = 0; i < order.size(); ++i) {
    taken = i > 0 && units[order[i]].sample == units[order[i - 1]].sample ? taken + 1 : 0;
    if (taken < candidates_per_sample) candidates.push_back(order[i]);
  }
  std::sort(candidates.begin(), candidates.end());
  return candidates;
}

// Find_Rt_Anchors over units that are all candidates, with their mass order
// made by the caller (the masses stay, the times may move between calls).
std::vector<Rt_Anchor> Find_Anchors(const std::vector<Compound_Unit>& units,
                                    const Mass_Order& by_mass, const Rt_Anchor_Rule& rule,
                                    const Fit_Check& check = {}) {
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
  // The units as alignment keys (48 bytes each, a whole record is over 200):
  // row carries the unit's index.
  std::vector<Align_Key> light(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Compound_Unit& u = units[i];
    light[i].Compound_ID = 1;
    light[i].Compound_MolecularMass = u.mass;
    light[i].Compound_Retention_Time = u.rt;
    light[i].Compound_Intensity = u.intensity;
    light[i].SAMPLE_ID = u.sample;
    light[i].row = static_cast<std::uint32_t>(i);
  }
  Null_Buffer sink;
  std::ostream quiet(&sink);
  Align_Progress on_group;
  if (check) {
    on_group = [&check](std::uint32_t groups, std::size_t) {
      if (groups % 1024 == 0) check();
    };
  }
  compound_align(One_Phase_Align, rule.mass_tol, rule.window, rule.window, light, nullptr, quiet,
                 on_group);
  if (check) check();

  const double half = rule.window * 0.5;

  std::vector<double> values;
  std::vector<std::uint32_t> inside;
  std::size_t begin = 0;
  while (begin < light.size()) {
    std::size_t end = begin + 1;
    while (end < light.size() && light[end].Align_ID == light[begin].Align_ID) ++end;
    const std::size_t first = begin;
    begin = end;
    if (light[first].Align_ID == 0 || end - first < rule.min_samples) continue;
    // The box around the group's medians, over all candidates.
    values.clear();
    for (std::size_t i = first; i < end; ++i) values.push_back(units[light[i].row].rt);
    const double centre_rt = Median(values);
    values.clear();
    for (std::size_t i = first; i < end; ++i) values.push_back(units[light[i].row].mass);
    const double centre_mass = Median(values);
    const double tol = rule.mass_tol.unit == Mass_Tolerance::Unit::kPpm
                           ? Ppm_Tolerance(rule.mass_tol.value, centre_mass)
                           : rule.mass_tol.value;
    inside.clear();
    auto it = std::partition_point(by_mass.begin(), by_mass.end(),
                                   [&](const auto& e) { return e.first - centre_mass < -tol; });
    for (; it != by_mass.end() && !(it->first - centre_mass > tol); ++it) {
      if (std::fabs(units[it->second].rt - centre_rt) <= half) inside.push_back(it->second);
    }
    // Per sample, the most intense unit in the box; the others are rivals
    // unless they elute with it.
    std::sort(inside.begin(), inside.end(), [&](std::uint32_t a, std::uint32_t b) {
      if (dense[a] != dense[b]) return dense[a] < dense[b];
      return Anchor_Candidate_Before(units[a].intensity, a, units[b].intensity, b);
    });
    bool crowded = false;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < inside.size() && !crowded;) {
      std::size_t j = i + 1;
      double lo = units[inside[i]].rt, hi = lo;
      for (; j < inside.size() && dense[inside[j]] == dense[inside[i]]; ++j) {
        lo = std::min(lo, units[inside[j]].rt);
        hi = std::max(hi, units[inside[j]].rt);
      }
      crowded = !(hi - lo <= kCoElution);
      inside[kept++] = inside[i];
      i = j;
    }
    inside.resize(kept);
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

bool Anchor_Candidate_Before(double intensity_a, std::uint32_t id_a, double intensity_b,
                             std::uint32_t id_b) {
  const bool nan_a = std::isnan(intensity_a), nan_b = std::isnan(intensity_b);
  if (nan_a != nan_b) return nan_b;
  if (!nan_a && intensity_a != intensity_b) return intensity_a > intensity_b;
  return id_a < id_b;
}

std::vector<Rt_Anchor> Find_Rt_Anchors(const std::vector<Compound_Unit>& units,
                                       const Rt_Anchor_Rule& rule) {
  const std::vector<std::uint32_t> positions =
      Candidate_Positions(units, rule.candidates_per_sample);
  std::vector<Compound_Unit> candidates;
  candidates.reserve(positions.size());
  for (std::uint32_t p : positions) candidates.push_back(units[p]);
  std::vector<Rt_Anchor> anchors = Find_Anchors(candidates, Order_By_Mass(candidates), rule);
  for (Rt_Anchor& a : anchors) {
    for (Rt_Anchor_Member& m : a.members) m.unit = positions[m.unit];
  }
  return anchors;
}

std::vector<double> Rt_Anchor_Pair_Gaps(const std::vector<Compound_Unit>& units,
                                        const Rt_Anchor_Rule& rule) {
  std::vector<double> gaps;
  for (const Rt_Anchor& a : Find_Rt_Anchors(units, rule)) {
    for (std::size_t i = 0; i < a.members.size(); ++i) {
      for (std::size_t j = i + 1; j < a.members.size(); ++j) {
        gaps.push_back(std::fabs(a.members[i].rt - a.members[j].rt));
      }
    }
  }
  return gaps;
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

constexpr double kSpans[] = {0.03, 0.05, 0.08, 0.12, 0.18, 0.27, 0.4};

std::vector<double> Even_Grid(double first, double last, std::size_t points) {
  std::vector<double> grid;
  if (first == last) {
    grid.push_back(first);
    return grid;
  }
  for (std::size_t i = 0; i < points; ++i) {
    grid.push_back(
        i + 1 == points ? last : first + (last - first) * static_cast<double>(i) / (points - 1));
  }
  return grid;
}

// The span of step 4: the candidate whose left-out residuals, pooled over
// the samples and clipped at kCvClip robust SDs, have the smallest sum of
// squares; a smoother one within kSmootherTolerance of it wins.
double Choose_Span(const std::vector<Sample_Points>& points, const Rt_Correction_Params& params,
                   const Fit_Check& check) {
  const std::size_t grid_points = std::max<std::size_t>(params.grid_points, 2);
  constexpr std::size_t kCandidates = sizeof(kSpans) / sizeof(kSpans[0]);
  std::vector<double> residuals[kCandidates];
  std::vector<double> robust;
  std::vector<const Sample_Points*> used;
  for (const Sample_Points& p : points) {
    if (p.x.size() >= std::max<std::size_t>(params.min_anchors, 3)) used.push_back(&p);
  }
  const std::size_t stride = std::max<std::size_t>(1, (used.size() + kCvSamples - 1) / kCvSamples);
  for (std::size_t u = 0; u < used.size(); u += stride) {
    if (check) check();
    const Sample_Points& p = *used[u];
    const std::vector<double> grid = Even_Grid(p.x.front(), p.x.back(), grid_points);
    for (std::size_t c = 0; c < kCandidates; ++c) {
      const std::size_t n = p.x.size();
      const std::size_t k = std::min(Neighbours(kSpans[c], n), n - 1);
      Robust_Lowess(p, grid, k, params.robust_iterations, robust);
      Cross_Validation_Residuals(p, k, robust, residuals[c]);
    }
  }
  std::vector<double> all;
  for (const auto& r : residuals) {
    for (double v : r) all.push_back(std::fabs(v));
  }
  if (all.empty()) return params.span;
  const double clip = kCvClip * kMadToSd * Median(all);
  double loss[kCandidates];
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t c = 0; c < kCandidates; ++c) {
    loss[c] = 0.0;
    for (double v : residuals[c]) loss[c] += std::min(v * v, clip * clip);
    best = std::min(best, loss[c]);
  }
  for (std::size_t c = kCandidates; c-- > 0;) {
    if (loss[c] <= kSmootherTolerance * best) return kSpans[c];
  }
  return params.span;
}

// Step 4 for one sample with at least one anchor: the curve at an even grid
// from its first to its last anchor time.
void Fit_Curve(const Sample_Points& p, double span, const Rt_Correction_Params& params,
               Rt_Sample_Curve& c) {
  c.rt = Even_Grid(p.x.front(), p.x.back(), std::max<std::size_t>(params.grid_points, 2));
  std::vector<double> robust, reaches;
  const std::size_t k = Neighbours(span, p.x.size());
  std::vector<double> fit = Robust_Lowess(p, c.rt, k, params.robust_iterations, robust, &reaches);
  // Grid points far from every anchor (farther than a grid step, or than
  // half the local fits' typical reach): linear between the supported ones,
  // so a stretch without anchors never takes a bend the fit extrapolated.
  std::vector<double> copy(reaches);
  const double step = c.rt.size() > 1 ? c.rt[1] - c.rt[0] : 0.0;
  const double gap = std::min(step, kGapReaches * (copy.empty() ? 0.0 : Median(copy)));
  std::vector<bool> supported(c.rt.size());
  for (std::size_t g = 0; g < c.rt.size(); ++g) {
    const auto hi = std::lower_bound(p.x.begin(), p.x.end(), c.rt[g]);
    double nearest = std::numeric_limits<double>::infinity();
    if (hi != p.x.end()) nearest = *hi - c.rt[g];
    if (hi != p.x.begin()) nearest = std::min(nearest, c.rt[g] - *(hi - 1));
    supported[g] = nearest <= gap;
    if (!supported[g]) continue;
    // Nor does a supported point go beyond what the anchors within a grid
    // step ask for (those the robust fit kept): beside a gap a local fit can
    // overshoot the few anchors at its edge.
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (auto i = static_cast<std::size_t>(
             std::lower_bound(p.x.begin(), p.x.end(), c.rt[g] - step) - p.x.begin());
         i < p.x.size() && p.x[i] <= c.rt[g] + step; ++i) {
      if (robust[i] > 0.0) {
        low = std::min(low, p.y[i]);
        high = std::max(high, p.y[i]);
      }
    }
    if (low <= high) fit[g] = std::clamp(fit[g], low, high);
  }
  std::size_t last = c.rt.size();  // the last supported grid point so far
  for (std::size_t g = 0; g < c.rt.size(); ++g) {
    if (!supported[g]) continue;
    if (last == c.rt.size()) {
      for (std::size_t h = 0; h < g; ++h) fit[h] = fit[g];
    } else {
      for (std::size_t h = last + 1; h < g; ++h) {
        const double f = (c.rt[h] - c.rt[last]) / (c.rt[g] - c.rt[last]);
        fit[h] = fit[last] + f * (fit[g] - fit[last]);
      }
    }
    last = g;
  }
  if (last != c.rt.size()) {
    for (std::size_t h = last + 1; h < c.rt.size(); ++h) fit[h] = fit[last];
  }
  // Monotone: corrected times never decrease along the grid.
  std::vector<double> corrected(c.rt.size());
  for (std::size_t g = 0; g < c.rt.size(); ++g) corrected[g] = c.rt[g] - fit[g];
  Make_Non_Decreasing(corrected);
  c.shift.resize(c.rt.size());
  for (std::size_t g = 0; g < c.rt.size(); ++g) c.shift[g] = corrected[g] - c.rt[g];
}

// One pass of steps 2-4: anchors among units at times `moved` (the times as
// read, moved by the previous pass or the gross shifts), each sample's curve
// fitted to (time as read, time as read - anchor reference). Fills
// result.samples' curves, anchor counts and anchor points, result.anchors
// and, when choose_span, result.span; returns the anchors.
std::vector<Rt_Anchor> Fit_Pass(const std::vector<Compound_Unit>& units,
                                const std::vector<Compound_Unit>& moved, const Mass_Order& by_mass,
                                const Rt_Anchor_Rule& rule, const Rt_Correction_Params& params,
                                bool choose_span, const Fit_Check& check, Rt_Correction& result) {
  std::vector<Rt_Anchor> anchors = Find_Anchors(moved, by_mass, rule, check);
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
  std::vector<std::size_t> held(points.size());
  for (std::size_t s = 0; s < points.size(); ++s) {
    held[s] = points[s].x.size();
    points[s].Sort();
    points[s].Merge_Same_Times();
  }
  if (choose_span) {
    result.span = params.span > 0.0 ? params.span : Choose_Span(points, params, check);
  }
  for (std::size_t s = 0; s < result.samples.size(); ++s) {
    if (check && s % 64 == 0) check();
    Rt_Sample_Curve& c = result.samples[s];
    const Sample_Points& p = points[s];
    c.anchors = held[s];
    c.rt.clear();
    c.shift.clear();
    c.anchor_rt = p.x;
    c.anchor_shift.resize(p.y.size());
    for (std::size_t i = 0; i < p.y.size(); ++i) c.anchor_shift[i] = -p.y[i];
    c.corrected = false;
    if (c.anchors < std::max<std::size_t>(params.min_anchors, 1)) continue;
    Fit_Curve(p, result.span, params, c);
    c.corrected = true;
  }
  return anchors;
}

// The start of the stretch of sorted values `width` wide that holds most of
// them, and how many it holds (the first such stretch).
std::pair<std::size_t, std::size_t> Densest(const std::vector<double>& sorted, double width) {
  std::size_t best = 0, best_count = 0;
  for (std::size_t i = 0, j = 0; i < sorted.size(); ++i) {
    while (j < sorted.size() && sorted[j] - sorted[i] <= width) ++j;
    if (j - i > best_count) {
      best_count = j - i;
      best = i;
    }
  }
  return {best, best_count};
}

// A sample's gross shift: piecewise linear through (time, difference to
// the reference) knots, the end values beyond the ends. Empty: 0. rejected:
// the sample's matches named a shift that failed the checks of
// Gross_Shifts, so none is applied.
struct Gross_Shift {
  std::vector<double> t, d;
  bool rejected = false;
  double At(double rt) const { return t.empty() ? 0.0 : Interpolate(t, d, rt); }
};

// The whole-sample shift's stretch must hold this many times the matches of
// the densest stretch elsewhere; a drift names one clear peak (tens of times
// the next on every study measured), chance matches several alike.
constexpr double kGrossDominance = 2.0;
// Samples with most candidates tried as the gross shifts' reference.
constexpr std::size_t kGrossReferences = 3;

// How a sample's time differences to a reference name its whole shift: the
// median of the densest stretch (count of them) and the densest stretch
// among the differences outside it and its neighbours (runner_up), a peak of
// its own that the chosen one must dominate.
struct Whole_Shift {
  double value = 0.0;
  std::size_t count = 0, runner_up = 0;
  bool found = false;      // count reaches min_anchors
  bool supported = false;  // found, and count >= kGrossDominance x runner_up
};

// The reference's units as (mass, time), by mass.
std::vector<std::pair<double, double>> Reference_Of(const std::vector<Compound_Unit>& units,
                                                    const std::vector<std::uint32_t>& list) {
  std::vector<std::pair<double, double>> ref;
  for (std::uint32_t u : list) ref.emplace_back(units[u].mass, units[u].rt);
  std::sort(ref.begin(), ref.end());
  return ref;
}

// Every pair of a unit of list and one of ref within the mass tolerance, as
// (time, time - reference time).
void Gather_Matches(const std::vector<Compound_Unit>& units, const std::vector<std::uint32_t>& list,
                    const std::vector<std::pair<double, double>>& ref, const Rt_Anchor_Rule& rule,
                    std::vector<std::pair<double, double>>& matches) {
  matches.clear();
  for (std::uint32_t u : list) {
    const double tol = rule.mass_tol.unit == Mass_Tolerance::Unit::kPpm
                           ? Ppm_Tolerance(rule.mass_tol.value, units[u].mass)
                           : rule.mass_tol.value;
    auto it = std::partition_point(ref.begin(), ref.end(),
                                   [&](const auto& e) { return e.first - units[u].mass < -tol; });
    for (; it != ref.end() && !(it->first - units[u].mass > tol); ++it) {
      matches.emplace_back(units[u].rt, units[u].rt - it->second);
    }
  }
}

Whole_Shift Whole_Of(const std::vector<std::pair<double, double>>& matches, double width,
                     std::size_t need) {
  std::vector<double> differences;
  differences.reserve(matches.size());
  for (const auto& m : matches) differences.push_back(m.second);
  std::sort(differences.begin(), differences.end());
  Whole_Shift w;
  const auto [first, count] = Densest(differences, width);
  w.count = count;
  if (count < need || count == 0) return w;
  w.found = true;
  std::vector<double> inside(differences.begin() + first, differences.begin() + first + count);
  w.value = Median(inside);
  const double lo = differences[first] - width, hi = differences[first + count - 1] + width;
  std::vector<double> outside;
  for (double d : differences) {
    if (d < lo || d > hi) outside.push_back(d);
  }
  w.runner_up = Densest(outside, width).second;
  w.supported = static_cast<double>(w.count) >= kGrossDominance * static_cast<double>(w.runner_up);
  return w;
}

// Step 2a over candidate units: per sample (ascending), how far its times lie
// from the reference sample's, from the time differences of tight-mass
// matches among the most intense units: the median of the differences in the
// kGrossWindowShare x window wide stretch that holds most of them (at least
// min_anchors; else none); then, in each of kGrossPieces stretches of the
// sample's times (each with its neighbours), the same within one window of
// that whole-sample shift when the stretch holds at least min_anchors / 2
// matches there and three times its share of the matches outside, else the
// whole-sample shift.
//
// A stretch of differences is not always the sample's drift: a reference
// that shares few compounds with the sample (a blank, a run of another
// matrix that holds the most compounds), or many compounds of one mass at
// other times, leave a profile of chance matches whose densest stretch lies
// anywhere. So a shift is applied only when
// - its stretch holds kGrossDominance times the matches of the densest
//   stretch elsewhere (a drift gives one clear peak, chance gives several of
//   a size);
// - it agrees, within the stretch's width, with the shift through a second
//   reference (the sample's shift to it plus its shift to the first), when
//   that one is clear;
// - it lies within one window of the shift of the nearest sample before or
//   after it in input order, unless those two disagree with each other.
// The reference is the sample with most candidates (the first of those),
// unless another of the kGrossReferences samples with most candidates gives
// clear shifts to more samples. A sample whose shift fails stays where it is
// at this step (rejected); the anchors may still correct it.
std::vector<Gross_Shift> Gross_Shifts(const std::vector<Compound_Unit>& units,
                                      const std::vector<std::uint32_t>& samples,
                                      const std::vector<std::uint32_t>& dense,
                                      const Rt_Correction_Params& params, const Fit_Check& check) {
  const Rt_Anchor_Rule& rule = params.anchors;
  std::vector<Gross_Shift> gross(samples.size());
  if (samples.size() < 2 || !(rule.window > 0.0)) return gross;
  std::vector<std::vector<std::uint32_t>> per_sample(samples.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    per_sample[dense[i]].push_back(static_cast<std::uint32_t>(i));
  }
  // Reference candidates: most units first, ties by input order.
  std::vector<std::size_t> by_size(samples.size());
  for (std::size_t s = 0; s < samples.size(); ++s) by_size[s] = s;
  std::stable_sort(by_size.begin(), by_size.end(), [&](std::size_t a, std::size_t b) {
    return per_sample[a].size() > per_sample[b].size();
  });
  const std::size_t cap = std::min<std::size_t>(rule.candidates_per_sample, kGrossCandidates);
  for (auto& list : per_sample) {
    if (list.size() > cap) {
      std::nth_element(
          list.begin(), list.begin() + cap, list.end(), [&](std::uint32_t a, std::uint32_t b) {
            return Anchor_Candidate_Before(units[a].intensity, a, units[b].intensity, b);
          });
      list.resize(cap);
    }
  }
  const double width = kGrossWindowShare * rule.window;
  const std::size_t need = std::max<std::size_t>(params.min_anchors, 1);
  std::vector<std::pair<double, double>> matches;  // (time, difference)
  // Each sample's whole shift against reference r (r's own: 0, supported).
  auto wholes_against = [&](std::size_t r) {
    const std::vector<std::pair<double, double>> ref = Reference_Of(units, per_sample[r]);
    std::vector<Whole_Shift> w(samples.size());
    for (std::size_t s = 0; s < samples.size(); ++s) {
      if (s == r) {
        w[s].found = w[s].supported = true;
        continue;
      }
      if (check && s % 64 == 0) check();
      Gather_Matches(units, per_sample[s], ref, rule, matches);
      w[s] = Whole_Of(matches, width, need);
    }
    return w;
  };
  auto clear_count = [](const std::vector<Whole_Shift>& w) {
    return static_cast<std::size_t>(
        std::count_if(w.begin(), w.end(), [](const Whole_Shift& x) { return x.supported; }));
  };
  const std::size_t trials = std::min(kGrossReferences, samples.size());
  std::size_t reference = by_size[0], second = by_size[1];
  std::vector<Whole_Shift> whole = wholes_against(reference);
  if (clear_count(whole) < samples.size()) {
    for (std::size_t k = 1; k < trials; ++k) {
      std::vector<Whole_Shift> other = wholes_against(by_size[k]);
      if (clear_count(other) > clear_count(whole)) {
        second = reference;
        reference = by_size[k];
        whole = std::move(other);
      }
    }
  }
  // The second reference's view, for the samples the first finds clear.
  const std::vector<Whole_Shift> via = wholes_against(second);
  std::vector<bool> applied(samples.size());
  for (std::size_t s = 0; s < samples.size(); ++s) {
    applied[s] = whole[s].supported;
    if (!whole[s].found) continue;
    if (applied[s] && s != second && s != reference && via[s].supported &&
        whole[second].supported) {
      const double through = via[s].value + whole[second].value;
      if (std::fabs(through - whole[s].value) > width) applied[s] = false;
    }
    gross[s].rejected = !applied[s];
  }
  // The neighbours in input order, among the shifts kept so far.
  std::vector<bool> agreed = applied;
  for (std::size_t s = 0; s < samples.size(); ++s) {
    if (!applied[s] || s == reference) continue;
    std::size_t before = s, after = s;
    while (before > 0 && !applied[--before]) {
    }
    while (after + 1 < samples.size() && !applied[++after]) {
    }
    if (before == s || after == s || !applied[before] || !applied[after]) continue;
    const double b = whole[before].value, a = whole[after].value, v = whole[s].value;
    if (std::fabs(a - b) <= width && std::fabs(v - a) > rule.window &&
        std::fabs(v - b) > rule.window) {
      agreed[s] = false;
      gross[s].rejected = true;
    }
  }

  const std::vector<std::pair<double, double>> ref = Reference_Of(units, per_sample[reference]);
  std::vector<double> local;
  for (std::size_t s = 0; s < samples.size(); ++s) {
    if (s == reference || !agreed[s]) continue;
    if (check && s % 64 == 0) check();
    Gather_Matches(units, per_sample[s], ref, rule, matches);
    const double value_of_whole = whole[s].value;
    std::sort(matches.begin(), matches.end());
    const double t0 = matches.front().first, t1 = matches.back().first;
    Gross_Shift& g = gross[s];
    for (std::size_t piece = 0; piece < kGrossPieces; ++piece) {
      const double centre = t0 + (t1 - t0) * (piece + 0.5) / kGrossPieces;
      const double half = (t1 - t0) * 1.5 / kGrossPieces;
      local.clear();
      std::size_t in_piece = 0;
      for (const auto& [t, d] : matches) {
        if (std::fabs(t - centre) > half) continue;
        ++in_piece;
        if (std::fabs(d - value_of_whole) <= rule.window) local.push_back(d);
      }
      std::sort(local.begin(), local.end());
      const auto [lfirst, lcount] = Densest(local, width);
      const double background = static_cast<double>(in_piece) * width / (2.0 * rule.window + width);
      double value = value_of_whole;
      if (lcount >= std::max<std::size_t>(need / 2, 1) && lcount >= 3.0 * background) {
        std::vector<double> best(local.begin() + lfirst, local.begin() + lfirst + lcount);
        value = Median(best);
      }
      g.t.push_back(centre);
      g.d.push_back(value);
    }
  }
  return gross;
}

template <typename List>
Rt_Correction Fit_Of(const List& list, const Rt_Correction_Params& params, const Fit_Check& check) {
  Rt_Correction result;
  std::vector<Compound_Unit> units = Gather_Compound_Units(list);
  for (const Compound_Unit& u : units) {
    if (result.samples.empty() || result.samples.back().sample != u.sample) {
      Rt_Sample_Curve c;
      c.sample = u.sample;
      result.samples.push_back(std::move(c));
    }
  }
  {  // Only the candidates count from here on.
    const std::vector<std::uint32_t> keep =
        Candidate_Positions(units, params.anchors.candidates_per_sample);
    for (std::size_t i = 0; i < keep.size(); ++i) units[i] = units[keep[i]];
    units.resize(keep.size());
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
  std::vector<std::uint32_t> samples, dense(units.size());
  for (const Rt_Sample_Curve& c : result.samples) samples.push_back(c.sample);
  for (std::size_t i = 0; i < units.size(); ++i) {
    dense[i] = static_cast<std::uint32_t>(
        std::lower_bound(samples.begin(), samples.end(), units[i].sample) - samples.begin());
  }

  std::vector<Compound_Unit> moved = units;
  const std::vector<Gross_Shift> gross = Gross_Shifts(units, samples, dense, params, check);
  for (std::size_t s = 0; s < gross.size(); ++s) {
    result.samples[s].gross_shift_rejected = gross[s].rejected;
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    moved[i].rt = units[i].rt - gross[dense[i]].At(units[i].rt);
  }
  const Mass_Order by_mass = Order_By_Mass(units);
  std::vector<Rt_Anchor> anchors;
  std::vector<double> before;
  Rt_Anchor_Rule rule = params.anchors;
  for (int pass = 0; pass < std::max(params.passes, 1); ++pass) {
    if (pass > 0) {
      for (std::size_t i = 0; i < units.size(); ++i) {
        moved[i].rt = units[i].rt + result.Shift(units[i].sample, units[i].rt);
      }
      rule.window = std::max(rule.window * params.narrowing, params.min_window);
    }
    const int passes = std::max(params.passes, 1);
    anchors = Fit_Pass(units, moved, by_mass, rule, params, pass == 0 || pass + 1 == passes, check,
                       result);
    if (pass == 0) {
      std::vector<double> times;
      for (const Rt_Anchor& a : anchors) {
        times.clear();
        for (const Rt_Anchor_Member& m : a.members) times.push_back(units[m.unit].rt);
        std::vector<double> copy(times);
        const double reference = Median(copy);
        for (double t : times) before.push_back(t - reference);
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

Rt_Correction Fit_Rt_Correction(const Align_Peak_Records& list, const Rt_Correction_Params& params,
                                const Fit_Check& check) {
  return Fit_Of(list, params, check);
}
Rt_Correction Fit_Rt_Correction(const std::vector<Align_Key>& list,
                                const Rt_Correction_Params& params, const Fit_Check& check) {
  return Fit_Of(list, params, check);
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
  auto name_of = [](const Rt_Sample_Curve& c) {
    return c.name.empty() ? std::to_string(c.sample) : c.name;
  };
  if (std::any_of(correction.samples.begin(), correction.samples.end(),
                  [](const Rt_Sample_Curve& c) { return c.gross_shift_rejected; })) {
    out << "gross shift not applied (the reference's matches do not single one out):";
    for (const Rt_Sample_Curve& c : correction.samples) {
      if (c.gross_shift_rejected) out << ' ' << name_of(c);
    }
    out << '\n';
  }
  const std::vector<std::uint32_t> left = correction.Uncorrected_Samples();
  if (!left.empty()) {
    out << "not corrected (too few anchors):";
    for (const Rt_Sample_Curve& c : correction.samples) {
      if (!c.corrected) out << ' ' << (c.name.empty() ? std::to_string(c.sample) : c.name);
    }
    out << '\n';
  }
  out.precision(3);
  out << std::fixed << "curve span: " << correction.span << " of a sample's anchors\n";
  out << std::fixed << "retention-time spread of anchors: " << correction.rt_spread_before
      << " s before, " << correction.rt_spread_after << " s after\n";
  return out.str();
}
