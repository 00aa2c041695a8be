// The compound alignment done the slow, obvious way, step by step as Varnel's
// rules are written: the whole list sorted (through pointers) three times per
// iteration, the pool walked front to back. The tests and the benchmark hold
// the fast compound_align against it.
//
// Where the written steps leave a choice, it makes the same one as
// compound_align: the list is kept sorted by (Align_ID, position as passed
// in), so seed ties go to the earlier record and the final order is fixed; a
// NaN intensity never seeds; an iteration that places nothing drops its seed
// from later seed choices and does not use up a group number; an empty first
// phase keeps the centre at the seed.
#ifndef VARNEL_TESTS_ALIGN_COMPOUND_ALIGN_ORACLE_H_
#define VARNEL_TESTS_ALIGN_COMPOUND_ALIGN_ORACLE_H_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "align/compound_align.h"
#include "model/peak.h"
#include "model/peak_order.h"

namespace oracle {

// The list is sorted through pointers, which moves nothing but the pointers;
// the records follow in one pass at the end.
struct Slot {
  std::size_t origin;  // position in the list as passed in
  Chromatogram_Peak_Group_Compound_Align* peak;
};

inline bool SlotLess(const Slot& a, const Slot& b) {
  if (Comp_Alignpeak_by_Align_ID(*a.peak, *b.peak)) return true;
  if (Comp_Alignpeak_by_Align_ID(*b.peak, *a.peak)) return false;
  return a.origin < b.origin;
}

inline bool Matches(const Chromatogram_Peak_Group_Compound_Align& p, double t, double m,
                    double mass_tol, double half_width) {
  return p.Compound_ID != 0 && std::abs(p.Compound_MolecularMass - m) <= mass_tol &&
         std::abs(p.Compound_Retention_Time - t) <= half_width;
}

// Records with Align_ID k, by bound searches on the sorted list.
inline std::pair<std::size_t, std::size_t> Range(const std::vector<Slot>& work, std::uint32_t k) {
  auto key_peak = Make_Align_ID_Key(k);
  Slot key{0, &key_peak};
  auto by_id = [](const Slot& a, const Slot& b) {
    return Comp_Alignpeak_by_Align_ID(*a.peak, *b.peak);
  };
  auto lo = std::lower_bound(work.begin(), work.end(), key, by_id);
  auto hi = std::upper_bound(work.begin(), work.end(), key, by_id);
  return {static_cast<std::size_t>(lo - work.begin()), static_cast<std::size_t>(hi - work.begin())};
}

// Front-to-back maximum search over the pool, skipping dropped seeds; a NaN
// never replaces the candidate and is never a candidate. Returns the position
// in work, or work.size() when there is none.
inline std::size_t ChooseSeed(const std::vector<Slot>& work,
                              std::pair<std::size_t, std::size_t> pool,
                              const std::set<std::size_t>& dropped) {
  std::size_t seed = work.size();
  for (std::size_t i = pool.first; i < pool.second; ++i) {
    const auto& p = *work[i].peak;
    if (dropped.count(work[i].origin) != 0 || std::isnan(p.Compound_Intensity)) continue;
    if (seed == work.size() || Comp_Alignpeak_by_Compound_Intensity(*work[seed].peak, p)) seed = i;
  }
  return seed;
}

inline double MedianOfSorted(const std::vector<double>& v) {
  const std::size_t h = v.size() / 2;
  return v.size() % 2 == 0 ? (v[h - 1] + v[h]) * 0.5 : v[h];
}

// A tolerance in ppm is taken of each seed's mass, for both phases.
inline void CompoundAlign(Compound_Align_Mode mode, const Mass_Tolerance& tolerance, double window1,
                          double window2, std::vector<Chromatogram_Peak_Group_Compound_Align>& list,
                          std::ostream& out, const Align_Progress& on_group = {}) {
  std::vector<Slot> work;
  work.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    list[i].Align_ID = 0;
    list[i].Align_RT = 0.0;
    work.push_back({i, &list[i]});
  }
  std::sort(work.begin(), work.end(), SlotLess);
  auto pool = Range(work, 0);
  std::size_t n = pool.second - pool.first;
  std::set<std::size_t> dropped;
  std::size_t seed = ChooseSeed(work, pool, dropped);
  std::uint32_t k = 1;
  while (n > 0 && seed < work.size() && work[seed].peak->Compound_Intensity > 0.0) {
    out << "Compound alignment, Align_ID=" << k << std::endl;
    out << "unalign peak number=" << n
        << "Unalign Max_Compound_Intensity=" << work[seed].peak->Compound_Intensity << std::endl;
    double t = work[seed].peak->Compound_Retention_Time;
    double m = work[seed].peak->Compound_MolecularMass;
    const double mass_tol = tolerance.unit == Mass_Tolerance::Unit::kPpm
                                ? Ppm_Tolerance(tolerance.value, m)
                                : tolerance.value;
    if (mode == Two_Phase_Align) {
      std::vector<double> times;
      std::vector<double> masses;
      for (std::size_t i = pool.first; i < pool.second; ++i) {
        const auto& p = *work[i].peak;
        if (Matches(p, t, m, mass_tol, window1 * 0.5)) {
          times.push_back(p.Compound_Retention_Time);
          masses.push_back(p.Compound_MolecularMass);
        }
      }
      if (!times.empty()) {
        std::sort(times.begin(), times.end());
        std::sort(masses.begin(), masses.end());
        t = MedianOfSorted(times);
        m = MedianOfSorted(masses);
      }
    }
    const double w = (mode == Two_Phase_Align ? window2 : window1) * 0.5;
    std::map<std::uint32_t, double> best;
    bool placed = false;
    for (std::size_t i = pool.first; i < pool.second; ++i) {
      auto& p = *work[i].peak;
      if (!Matches(p, t, m, mass_tol, w)) continue;
      p.Align_ID = k;
      p.Align_RT = t;
      placed = true;
      const double d = std::abs(p.Compound_Retention_Time - t);
      auto it = best.find(p.SAMPLE_ID);
      if (it == best.end()) {
        best[p.SAMPLE_ID] = d;
      } else if (it->second > d) {
        it->second = d;
      }
    }
    if (!placed) {
      dropped.insert(work[seed].origin);
      seed = ChooseSeed(work, pool, dropped);
      continue;
    }
    std::sort(work.begin(), work.end(), SlotLess);
    const auto group = Range(work, k);
    for (std::size_t i = group.first; i < group.second; ++i) {
      auto& p = *work[i].peak;
      const double d = std::abs(p.Compound_Retention_Time - t);
      if (best.at(p.SAMPLE_ID) < d) {
        p.Align_ID = 0;
        p.Align_RT = 0.0;
      }
    }
    best.clear();
    std::sort(work.begin(), work.end(), SlotLess);
    pool = Range(work, 0);
    n = pool.second - pool.first;
    seed = ChooseSeed(work, pool, dropped);
    if (on_group) on_group(k, n);
    ++k;
  }
  out << "Compound Alignment Finished, Totoally, " << k - 1 << "Groups are generated!" << std::endl;
  std::vector<Chromatogram_Peak_Group_Compound_Align> sorted;
  sorted.reserve(list.size());
  for (const Slot& slot : work) sorted.push_back(std::move(*slot.peak));
  list = std::move(sorted);
}

inline void CompoundAlign(Compound_Align_Mode mode, double mass_tol, double window1, double window2,
                          std::vector<Chromatogram_Peak_Group_Compound_Align>& list,
                          std::ostream& out, const Align_Progress& on_group = {}) {
  CompoundAlign(mode, Mass_Tolerance{Mass_Tolerance::Unit::kDa, mass_tol}, window1, window2, list,
                out, on_group);
}

}  // namespace oracle

#endif  // VARNEL_TESTS_ALIGN_COMPOUND_ALIGN_ORACLE_H_
