#include "align/member_choice.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>
#include <tuple>

#include "align/compound_align.h"
#include "align/median.h"

namespace {

constexpr double kMadToSigma = 1.4826;

double Robust_Spread(std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double centre = Median(values);
  for (double& v : values) v = std::fabs(v - centre);
  return kMadToSigma * Median(values);
}

double Term(double delta, double spread) {
  if (!(spread > 0.0) || !std::isfinite(spread)) return 0.0;
  const double z = delta / (std::sqrt(2.0) * spread);
  return z * z;
}

// Sorted, distinct samples of sorted lists a and b have none in common.
bool Disjoint(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() && j != b.end()) {
    if (*i == *j) return false;
    if (*i < *j) {
      ++i;
    } else {
      ++j;
    }
  }
  return true;
}

}  // namespace

const char* Member_Pick_Name(Member_Pick pick) {
  return pick == Member_Pick::kScored ? "scored" : "closest";
}

bool Member_Pick_Of_Name(const std::string& name, Member_Pick& pick) {
  if (name == "closest") {
    pick = Member_Pick::kClosest;
  } else if (name == "scored") {
    pick = Member_Pick::kScored;
  } else {
    return false;
  }
  return true;
}

void Spread_Deviations::Append(const Spread_Deviations& other) {
  rt.insert(rt.end(), other.rt.begin(), other.rt.end());
  mass.insert(mass.end(), other.mass.begin(), other.mass.end());
  log_intensity.insert(log_intensity.end(), other.log_intensity.begin(), other.log_intensity.end());
  groups += other.groups;
}

Spread_Deviations Group_Deviations(const std::vector<Member_Point>& points,
                                   const std::vector<std::uint32_t>& group_of, std::size_t samples,
                                   bool ppm) {
  Spread_Deviations out;
  // The points of each group, by counting sort on the group number.
  std::uint32_t top = 0;
  for (std::uint32_t g : group_of) top = std::max(top, g);
  std::vector<std::uint32_t> start(std::size_t{top} + 2, 0);
  for (std::uint32_t g : group_of) ++start[g + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<std::uint32_t> member(group_of.size());
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::uint32_t i = 0; i < group_of.size(); ++i) member[fill[group_of[i]]++] = i;
  }
  std::vector<std::uint32_t> seen;
  std::vector<double> values;
  for (std::uint32_t g = 1; g <= top; ++g) {
    const std::uint32_t begin = start[g];
    const std::uint32_t end = start[g + 1];
    if (end - begin < 3) continue;
    seen.clear();
    for (std::uint32_t p = begin; p < end; ++p) seen.push_back(points[member[p]].sample);
    std::sort(seen.begin(), seen.end());
    const auto distinct =
        static_cast<std::size_t>(std::unique(seen.begin(), seen.end()) - seen.begin());
    if (2 * distinct < samples) continue;
    ++out.groups;
    values.clear();
    for (std::uint32_t p = begin; p < end; ++p) values.push_back(points[member[p]].time);
    const double rt = Median(values);
    values.clear();
    for (std::uint32_t p = begin; p < end; ++p) values.push_back(points[member[p]].mass);
    const double mass = Median(values);
    values.clear();
    for (std::uint32_t p = begin; p < end; ++p) {
      const double i = points[member[p]].intensity;
      if (i > 0.0 && std::isfinite(i)) values.push_back(std::log10(i));
    }
    const double log_i = values.empty() ? 0.0 : Median(values);
    for (std::uint32_t p = begin; p < end; ++p) {
      const Member_Point& q = points[member[p]];
      out.rt.push_back(q.time - rt);
      out.mass.push_back(ppm ? (q.mass - mass) / mass * 1e6 : q.mass - mass);
      if (q.intensity > 0.0 && std::isfinite(q.intensity)) {
        out.log_intensity.push_back(std::log10(q.intensity) - log_i);
      }
    }
  }
  return out;
}

Pick_Spreads Spreads_Of(Spread_Deviations& deviations, bool ppm) {
  Pick_Spreads spreads;
  spreads.ppm = ppm;
  spreads.groups = deviations.groups;
  if (deviations.groups == 0) return spreads;
  auto finite_only = [](std::vector<double>& v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); }),
            v.end());
  };
  finite_only(deviations.rt);
  finite_only(deviations.mass);
  finite_only(deviations.log_intensity);
  spreads.rt = Robust_Spread(deviations.rt);
  spreads.mass = Robust_Spread(deviations.mass);
  spreads.log_intensity = Robust_Spread(deviations.log_intensity);
  return spreads;
}

double Pick_Score(const Pick_Spreads& spreads, double dt, double dm, double intensity,
                  double seed_intensity) {
  double score = Term(dt, spreads.rt) + Term(dm, spreads.mass);
  if (intensity > 0.0 && seed_intensity > 0.0) {
    score += Term(std::log10(intensity) - std::log10(seed_intensity), spreads.log_intensity);
  }
  return score;
}

std::vector<std::uint32_t> Join_Split_Groups(const std::vector<Member_Point>& points,
                                             const std::vector<std::uint32_t>& group_of,
                                             std::uint32_t groups, const Mass_Tolerance& mass_tol,
                                             double window, double max_gap, std::uint32_t& joins) {
  joins = 0;
  const bool ppm = mass_tol.unit == Mass_Tolerance::Unit::kPpm;
  std::vector<std::vector<std::uint32_t>> members(std::size_t{groups} + 1);
  for (std::uint32_t i = 0; i < group_of.size(); ++i) {
    if (group_of[i] != 0) members[group_of[i]].push_back(i);
  }
  std::vector<std::vector<std::uint32_t>> samples(members.size());
  std::vector<double> mass(members.size(), 0.0);
  std::vector<double> time(members.size(), 0.0);
  std::vector<double> values;
  std::vector<std::vector<double>> times(members.size());  // ascending, with max_gap only
  const bool gap_rule = max_gap >= 0.0 && std::isfinite(max_gap);
  // With the gap rule, the medians too: the halves of one compound centre
  // within a few spreads of each other, while two compounds of one mass whose
  // groups touch through a stray member lie farther apart.
  const double median_gap =
      gap_rule ? std::min(window, max_gap * (kJoinMedianSpreads / kJoinGapSpreads)) : window;
  // The nearest members of a and b lie within max_gap of each other.
  auto touching = [&](std::uint32_t a, std::uint32_t b) {
    if (!gap_rule) return true;
    const std::vector<double>& x = times[a];
    const std::vector<double>& y = times[b];
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < x.size() && j < y.size()) {
      if (std::fabs(x[i] - y[j]) <= max_gap) return true;
      if (x[i] < y[j]) {
        ++i;
      } else {
        ++j;
      }
    }
    return false;
  };
  auto describe = [&](std::uint32_t g) {
    std::vector<std::uint32_t>& s = samples[g];
    s.clear();
    for (std::uint32_t p : members[g]) s.push_back(points[p].sample);
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
    values.clear();
    for (std::uint32_t p : members[g]) values.push_back(points[p].mass);
    mass[g] = Median(values);
    values.clear();
    for (std::uint32_t p : members[g]) values.push_back(points[p].time);
    if (gap_rule) {
      times[g] = values;
      std::sort(times[g].begin(), times[g].end());
    }
    time[g] = Median(values);
  };
  auto within_mass = [&](double a, double b) {
    const double tol = ppm ? Ppm_Tolerance(mass_tol.value, (a + b) * 0.5) : mass_tol.value;
    return std::fabs(a - b) <= tol;
  };
  std::vector<std::uint32_t> by_mass;
  for (std::uint32_t g = 1; g <= groups; ++g) {
    if (members[g].empty()) continue;
    describe(g);
    by_mass.push_back(g);
  }
  std::sort(by_mass.begin(), by_mass.end(), [&](std::uint32_t a, std::uint32_t b) {
    return mass[a] < mass[b] || (mass[a] == mass[b] && a < b);
  });
  // The pairs as the groups stand before any join.
  struct Pair {
    double dt;
    std::uint32_t a;
    std::uint32_t b;
  };
  std::vector<Pair> pairs;
  for (std::size_t i = 0; i < by_mass.size(); ++i) {
    const std::uint32_t a = by_mass[i];
    for (std::size_t j = i + 1; j < by_mass.size(); ++j) {
      const std::uint32_t b = by_mass[j];
      if (!within_mass(mass[a], mass[b])) break;
      const double dt = std::fabs(time[a] - time[b]);
      if (dt <= median_gap && Disjoint(samples[a], samples[b]) && touching(a, b)) {
        pairs.push_back({dt, std::min(a, b), std::max(a, b)});
      }
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
    return std::tie(x.dt, x.a, x.b) < std::tie(y.dt, y.a, y.b);
  });
  std::vector<std::uint32_t> root(members.size());
  std::iota(root.begin(), root.end(), std::uint32_t{0});
  auto find = [&root](std::uint32_t g) {
    while (root[g] != g) {
      root[g] = root[root[g]];
      g = root[g];
    }
    return g;
  };
  for (const Pair& pair : pairs) {
    std::uint32_t a = find(pair.a);
    std::uint32_t b = find(pair.b);
    if (a == b) continue;
    if (a > b) std::swap(a, b);
    if (!Disjoint(samples[a], samples[b]) || !within_mass(mass[a], mass[b]) ||
        !(std::fabs(time[a] - time[b]) <= median_gap) || !touching(a, b)) {
      continue;
    }
    root[b] = a;
    members[a].insert(members[a].end(), members[b].begin(), members[b].end());
    std::vector<std::uint32_t>().swap(members[b]);
    describe(a);
    ++joins;
  }
  std::vector<std::uint32_t> renumber(members.size(), 0);
  std::uint32_t next = 0;
  for (std::uint32_t g = 1; g <= groups; ++g) {
    if (find(g) == g && !members[g].empty()) renumber[g] = ++next;
  }
  for (std::uint32_t g = 1; g <= groups; ++g) renumber[g] = renumber[find(g)];
  return renumber;
}

std::string Member_Choice_Text(Member_Pick pick, const Pick_Spreads& spreads, bool join_splits,
                               std::uint32_t joins) {
  std::ostringstream out;
  out.precision(4);
  if (pick == Member_Pick::kScored) {
    if (spreads.Found()) {
      out << "member choice: scored on time, mass and intensity (spreads of " << spreads.groups
          << " groups: retention time " << spreads.rt << " s, mass " << spreads.mass
          << (spreads.ppm ? " ppm" : " Da") << ", log10 intensity " << spreads.log_intensity
          << ")\n";
    } else {
      out << "member choice: scored, but no group held half of the samples; closest in time "
             "kept\n";
    }
  }
  if (join_splits) out << "split groups joined: " << joins << '\n';
  return out.str();
}
