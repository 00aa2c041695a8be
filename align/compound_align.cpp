// Cross-sample compound alignment (the rules are in the header).
//
// How it is kept fast: seeds are taken from one list sorted by descending
// intensity (a record skipped there is aligned or dropped for good: a record
// released back to the pool was unaligned when the current seed was chosen, so
// it stands after it). Candidates come from an index of the matchable records:
// sorted by mass, cut into slabs about Mass_Tol wide, each slab sorted by
// retention time, so a query touches a few slabs and only their retention-time
// band. Aligned records are unlinked from the index with a "next live entry"
// forest. Group numbers are kept aside and written, with the final order, in
// one counting pass that moves the records (never copies them).
#include "align/compound_align.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "align/median.h"
#include "align/member_choice.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A slab holds at least this many index entries, so that the slab table stays
// small even when every mass is distinct and Mass_Tol is 0.
constexpr std::uint32_t kMinSlabEntries = 16;

// The values x with |x - centre| <= tol, as that expression evaluates in
// double precision. For a finite centre x - centre rises with x, so in any
// ascending list of non-NaN values the matching values form one run:
// below(x) holds before it and above(x) after it. An infinite centre matches
// only with an infinite tol, and then every value but the same infinity.
class Band {
 public:
  Band(double centre, double tol) : centre_(centre), tol_(tol) {
    if (!(tol >= 0.0) || std::isnan(centre)) {
      kind_ = Kind::kEmpty;  // NaN or negative tol, NaN centre: nothing matches
    } else if (std::isfinite(centre)) {
      kind_ = Kind::kFinite;
    } else if (tol != kInf) {
      kind_ = Kind::kEmpty;  // |x - inf| is inf or NaN
    } else {
      kind_ = centre > 0.0 ? Kind::kAllButPlusInf : Kind::kAllButMinusInf;
    }
  }

  bool empty() const { return kind_ == Kind::kEmpty; }
  bool below(double x) const {
    switch (kind_) {
      case Kind::kFinite:
        return x - centre_ < -tol_;
      case Kind::kAllButMinusInf:
        return x == -kInf;
      default:
        return false;
    }
  }
  bool above(double x) const {
    switch (kind_) {
      case Kind::kFinite:
        return x - centre_ > tol_;
      case Kind::kAllButPlusInf:
        return x == kInf;
      default:
        return false;
    }
  }
  // The match test itself.
  bool contains(double x) const { return std::fabs(x - centre_) <= tol_; }

 private:
  enum class Kind { kEmpty, kFinite, kAllButPlusInf, kAllButMinusInf };
  double centre_;
  double tol_;
  Kind kind_;
};

struct Entry {
  double mass;
  double rt;
  std::uint32_t record;  // position in the list as passed in
  std::uint32_t sample;  // dense sample number, indexes the best-distance table
};

struct Slab {
  double lowest_mass;
  double highest_mass;
  std::uint32_t begin;  // first entry; the slab ends where the next begins
};

// The records that can ever match: Compound_ID not 0, mass and retention time
// not NaN. Entries leave the index for good when their record is aligned.
class MatchIndex {
 public:
  // Takes the entries of the matchable records (see Gather); empty when
  // mass_tol is NaN or negative, as then nothing matches. slab_tol: the
  // largest mass tolerance any query will use.
  MatchIndex(std::vector<Entry> entries, std::uint32_t top_sample, double slab_tol)
      : mass_tol_(slab_tol), entries_(std::move(entries)) {
    NumberSamples(top_sample);
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return a.mass < b.mass || (a.mass == b.mass && a.record < b.record);
    });
    CutSlabs();
    next_.resize(entries_.size() + 1);
    std::iota(next_.begin(), next_.end(), std::uint32_t{0});
  }

  std::size_t sample_count() const { return sample_count_; }
  const Entry& entry(std::uint32_t pos) const { return entries_[pos]; }

  // Calls visit(pos) for every live entry within mass_tol of m and h of t.
  // Any mass_tol works; slabs cut by a larger one only cost time.
  template <typename Visit>
  void ForEachMatch(double t, double m, double mass_tol, double h, Visit&& visit) {
    const Band mass(m, mass_tol);
    const Band time(t, h);
    if (mass.empty() || time.empty() || slabs_.empty()) return;
    auto first = std::partition_point(slabs_.begin(), slabs_.end(),
                                      [&](const Slab& s) { return mass.below(s.highest_mass); });
    auto last = std::partition_point(first, slabs_.end(),
                                     [&](const Slab& s) { return !mass.above(s.lowest_mass); });
    for (auto s = first; s != last; ++s) {
      const auto slab_begin = entries_.begin() + s->begin;
      const auto slab_end =
          std::next(s) == slabs_.end() ? entries_.end() : entries_.begin() + std::next(s)->begin;
      const auto lo = std::partition_point(slab_begin, slab_end,
                                           [&](const Entry& e) { return time.below(e.rt); });
      const auto hi =
          std::partition_point(lo, slab_end, [&](const Entry& e) { return !time.above(e.rt); });
      const auto end = static_cast<std::uint32_t>(hi - entries_.begin());
      for (std::uint32_t p = Live(static_cast<std::uint32_t>(lo - entries_.begin())); p < end;
           p = Live(p + 1)) {
        const Entry& e = entries_[p];
        if (mass.contains(e.mass) && time.contains(e.rt)) visit(p);
      }
    }
  }

  // Unlinks an entry whose record has been aligned.
  void Remove(std::uint32_t pos) { next_[pos] = pos + 1; }

 private:
  // Replaces SAMPLE_ID by a dense number when the identifiers are sparse.
  void NumberSamples(std::uint32_t top_sample) {
    if (entries_.empty()) return;
    if (top_sample <= entries_.size() + 64) {
      sample_count_ = std::size_t{top_sample} + 1;
      return;
    }
    std::vector<std::uint32_t> ids;
    ids.reserve(entries_.size());
    for (const Entry& e : entries_) ids.push_back(e.sample);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (Entry& e : entries_) {
      e.sample = static_cast<std::uint32_t>(std::lower_bound(ids.begin(), ids.end(), e.sample) -
                                            ids.begin());
    }
    sample_count_ = ids.size();
  }

  // Cuts the mass-sorted entries into slabs spanning about mass_tol_, then
  // sorts each slab by retention time.
  void CutSlabs() {
    const std::size_t n = entries_.size();
    std::size_t i = 0;
    while (i < n) {
      const double base = entries_[i].mass;
      std::size_t j = i + 1;
      // (x - base > tol) is false for NaN (inf - inf): such values stay together.
      while (j < n && (j - i < kMinSlabEntries || !(entries_[j].mass - base > mass_tol_))) ++j;
      slabs_.push_back({base, entries_[j - 1].mass, static_cast<std::uint32_t>(i)});
      std::sort(entries_.begin() + i, entries_.begin() + j, [](const Entry& a, const Entry& b) {
        return a.rt < b.rt || (a.rt == b.rt && a.record < b.record);
      });
      i = j;
    }
  }

  // First live entry at or after pos (pos itself when live); entries_.size()
  // when none. Path halving keeps the chains short.
  std::uint32_t Live(std::uint32_t pos) {
    while (next_[pos] != pos) {
      next_[pos] = next_[next_[pos]];
      pos = next_[pos];
    }
    return pos;
  }

  double mass_tol_;
  std::vector<Entry> entries_;
  std::vector<Slab> slabs_;
  std::vector<std::uint32_t> next_;
  std::size_t sample_count_ = 0;
};

struct SeedKey {
  double intensity;
  std::uint32_t record;
};

// One pass over the list: the records that can seed (Compound_Intensity > 0,
// so not NaN) and, when mass_tol is not NaN or negative, the index entries of
// the records that can match (Compound_ID not 0, mass and retention time not
// NaN). Returns the largest SAMPLE_ID among the entries.
template <typename Record>
std::uint32_t Gather(const std::vector<Record>& list, const double* times, double mass_tol,
                     std::vector<SeedKey>& seeds, std::vector<Entry>& entries) {
  const bool can_match = mass_tol >= 0.0;  // Da, or ppm: the same test
  seeds.reserve(list.size());
  if (can_match) entries.reserve(list.size());
  std::uint32_t top_sample = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Record& r = list[i];
    const auto record = static_cast<std::uint32_t>(i);
    if (r.Compound_Intensity > 0.0) seeds.push_back({r.Compound_Intensity, record});
    if (can_match && r.Compound_ID != 0 && !std::isnan(r.Compound_MolecularMass) &&
        !std::isnan(times != nullptr ? times[i] : r.Compound_Retention_Time)) {
      entries.push_back({r.Compound_MolecularMass,
                         times != nullptr ? times[i] : r.Compound_Retention_Time, record,
                         r.SAMPLE_ID});
      top_sample = std::max(top_sample, r.SAMPLE_ID);
    }
  }
  return top_sample;
}

// The seeding records by descending intensity, ties in list order.
std::vector<std::uint32_t> SeedOrder(std::vector<SeedKey> keys) {
  std::sort(keys.begin(), keys.end(), [](const SeedKey& a, const SeedKey& b) {
    return a.intensity > b.intensity || (a.intensity == b.intensity && a.record < b.record);
  });
  std::vector<std::uint32_t> order;
  order.reserve(keys.size());
  for (const SeedKey& k : keys) order.push_back(k.record);
  return order;
}

constexpr int kPlaceLookahead = 8;

// Asks for the cache lines of a record that will be needed soon.
template <typename Record>
void Prefetch(const Record* r) {
  const char* bytes = reinterpret_cast<const char*>(r);
  for (std::size_t offset = 0; offset < sizeof(Record); offset += 64) {
    __builtin_prefetch(bytes + offset);
  }
}

// Writes Align_ID and Align_RT from group_of / group_rt and puts the records
// in ascending Align_ID, list order within one Align_ID, by moving them along
// the cycles of the permutation.
template <typename Record>
void Place(std::vector<Record>& list, std::vector<std::uint32_t>& group_of,
           const std::vector<double>& group_rt) {
  const std::size_t n = list.size();
  std::vector<std::uint32_t> start(group_rt.size() + 1, 0);
  for (std::uint32_t g : group_of) ++start[g + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<std::uint32_t> source(n);  // source[p]: the record that goes to position p
  for (std::size_t r = 0; r < n; ++r) {
    const std::uint32_t g = group_of[r];
    list[r].Align_ID = g;
    list[r].Align_RT = group_rt[g];
    source[start[g]++] = static_cast<std::uint32_t>(r);
  }
  std::vector<std::uint32_t>().swap(group_of);
  std::vector<std::uint32_t>().swap(start);
  for (std::uint32_t p = 0; p < n; ++p) {
    if (source[p] == p) continue;  // in place, or its cycle is done
    Record held = std::move(list[p]);
    std::uint32_t q = p;
    // The records of a cycle lie anywhere in the list: fetch a few ahead.
    std::uint32_t ahead = source[p];
    for (int i = 0; i < kPlaceLookahead; ++i) {
      Prefetch(&list[ahead]);
      ahead = source[ahead];
    }
    for (;;) {
      const std::uint32_t s = source[q];
      source[q] = q;
      Prefetch(&list[ahead]);
      ahead = source[ahead];
      if (s == p) {
        list[q] = std::move(held);
        break;
      }
      list[q] = std::move(list[s]);
      q = s;
    }
  }
}

// Prints numbers in the default format (six significant digits) whatever the
// caller set, and gives the caller's format back.
class DefaultNumberFormat {
 public:
  explicit DefaultNumberFormat(std::ostream& out)
      : out_(out), flags_(out.flags()), precision_(out.precision()), width_(out.width()) {
    out.flags(std::ios_base::dec | std::ios_base::skipws);
    out.precision(6);
    out.width(0);
  }
  ~DefaultNumberFormat() {
    out_.flags(flags_);
    out_.precision(precision_);
    out_.width(width_);
  }
  DefaultNumberFormat(const DefaultNumberFormat&) = delete;
  DefaultNumberFormat& operator=(const DefaultNumberFormat&) = delete;

 private:
  std::ostream& out_;
  std::ios_base::fmtflags flags_;
  std::streamsize precision_;
  std::streamsize width_;
};

struct Groups {
  std::vector<std::uint32_t> group_of;    // Align_ID of each record, 0 = unaligned
  std::vector<double> group_rt;           // Align_RT of each Align_ID, [0] = 0.0
  std::vector<std::uint32_t> group_seed;  // the seed's record of each Align_ID, [0] unused
};

// The greedy loop. Prints the progress lines and leaves the records untouched.
template <typename Record>
Groups MakeGroups(bool two_phase, const Mass_Tolerance& tolerance, double first_half_width,
                  double half_width, const std::vector<Record>& list, const double* times,
                  std::ostream& progress, const Align_Progress& on_group,
                  const Pick_Spreads* scored = nullptr) {
  const bool ppm = tolerance.unit == Mass_Tolerance::Unit::kPpm;
  std::vector<SeedKey> seed_keys;
  std::vector<Entry> entries;
  const std::uint32_t top_sample = Gather(list, times, tolerance.value, seed_keys, entries);
  const std::vector<std::uint32_t> seeds = SeedOrder(std::move(seed_keys));
  double slab_tol = tolerance.value;
  if (ppm) {  // the widest tolerance of any seed: that of the largest |mass|
    double top_mass = 0.0;
    for (const Entry& e : entries) top_mass = std::max(top_mass, std::fabs(e.mass));
    slab_tol = Ppm_Tolerance(tolerance.value, top_mass);
  }
  MatchIndex index(std::move(entries), top_sample, slab_tol);
  Groups groups{std::vector<std::uint32_t>(list.size(), 0), std::vector<double>(1, 0.0),
                std::vector<std::uint32_t>(1, 0)};
  std::vector<std::uint32_t>& group_of = groups.group_of;
  std::vector<double> best(index.sample_count(), kInf);  // smallest distance per sample
  std::vector<std::uint32_t> matches;
  std::vector<double> distance;  // of each match: |dt|, or its score
  std::vector<double> values;

  std::size_t unaligned = list.size();
  std::uint32_t k = 1;
  std::size_t next_seed = 0;
  for (;;) {
    while (next_seed < seeds.size() && group_of[seeds[next_seed]] != 0) ++next_seed;
    if (next_seed == seeds.size()) break;
    const Record& seed = list[seeds[next_seed]];
    if (next_seed + 1 < seeds.size())
      __builtin_prefetch(&list[seeds[next_seed + 1]].Compound_Intensity);
    progress << "Compound alignment, Align_ID=" << k << std::endl;
    progress << "unalign peak number=" << unaligned
             << "Unalign Max_Compound_Intensity=" << seed.Compound_Intensity << std::endl;

    double t = times != nullptr ? times[seeds[next_seed]] : seed.Compound_Retention_Time;
    double m = seed.Compound_MolecularMass;
    const double mass_tol =
        ppm ? Ppm_Tolerance(tolerance.value, seed.Compound_MolecularMass) : tolerance.value;
    if (two_phase) {
      matches.clear();
      index.ForEachMatch(t, m, mass_tol, first_half_width,
                         [&](std::uint32_t p) { matches.push_back(p); });
      if (!matches.empty()) {
        values.clear();
        for (std::uint32_t p : matches) values.push_back(index.entry(p).rt);
        const double median_rt = Median(values);
        values.clear();
        for (std::uint32_t p : matches) values.push_back(index.entry(p).mass);
        m = Median(values);
        t = median_rt;
      }
    }

    matches.clear();
    distance.clear();
    index.ForEachMatch(t, m, mass_tol, half_width, [&](std::uint32_t p) {
      matches.push_back(p);
      const Entry& e = index.entry(p);
      double d = 0.0;
      if (scored == nullptr) {
        d = std::fabs(e.rt - t);
      } else {
        const double dm = scored->ppm ? (e.mass - m) / m * 1e6 : e.mass - m;
        d = Pick_Score(*scored, e.rt - t, dm, list[e.record].Compound_Intensity,
                       seed.Compound_Intensity);
      }
      distance.push_back(d);
      if (d < best[e.sample]) best[e.sample] = d;
    });
    if (matches.empty()) {
      ++next_seed;  // it would place nothing again: drop it from the seed choice
      continue;
    }
    for (std::size_t i = 0; i < matches.size(); ++i) {
      const std::uint32_t p = matches[i];
      const Entry& e = index.entry(p);
      if (!(best[e.sample] < distance[i])) {
        group_of[e.record] = k;
        index.Remove(p);
        --unaligned;
      }
    }
    for (std::uint32_t p : matches) best[index.entry(p).sample] = kInf;
    groups.group_rt.push_back(t);
    groups.group_seed.push_back(seeds[next_seed]);
    if (on_group) on_group(k, unaligned);
    ++k;
  }
  progress << "Compound Alignment Finished, Totoally, " << k - 1 << "Groups are generated!"
           << std::endl;
  return groups;
}

}  // namespace

void compound_align(Compound_Align_Mode Align_Mode, double Mass_Tol, double Align_Window1,
                    double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    std::ostream& progress, const Align_Progress& on_group) {
  compound_align(Align_Mode, Mass_Tolerance{Mass_Tolerance::Unit::kDa, Mass_Tol}, Align_Window1,
                 Align_Window2, peaklist_align, progress, on_group);
}

double Ppm_Tolerance(double ppm, double seed_mass) {
  if (!(ppm >= 0.0)) return std::numeric_limits<double>::quiet_NaN();  // matches nothing
  return ppm * 1e-6 * std::fabs(seed_mass);
}

void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    std::ostream& progress, const Align_Progress& on_group) {
  compound_align(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, peaklist_align, nullptr,
                 progress, on_group);
}

namespace {

template <typename Record>
void Align_List(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                double Align_Window1, double Align_Window2, std::vector<Record>& peaklist_align,
                const std::vector<double>* align_times, std::ostream& progress,
                const Align_Progress& on_group, std::vector<std::uint32_t>* group_seeds = nullptr) {
  if (peaklist_align.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("compound_align: more than 4294967294 peaks");
  }
  if (align_times != nullptr && align_times->size() != peaklist_align.size()) {
    throw std::invalid_argument("compound_align: align_times does not match the list");
  }
  const double* times = align_times != nullptr ? align_times->data() : nullptr;
  const bool two_phase = Align_Mode == Two_Phase_Align;
  const double first_half_width = Align_Window1 * 0.5;
  const double half_width = two_phase ? Align_Window2 * 0.5 : first_half_width;
  Groups groups;
  {
    DefaultNumberFormat format(progress);
    groups = MakeGroups(two_phase, Mass_Tol, first_half_width, half_width, peaklist_align, times,
                        progress, on_group);
  }
  if (group_seeds != nullptr) {
    groups.group_seed.erase(groups.group_seed.begin());
    *group_seeds = std::move(groups.group_seed);
  }
  Place(peaklist_align, groups.group_of, groups.group_rt);
}

}  // namespace

void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    const std::vector<double>* align_times, std::ostream& progress,
                    const Align_Progress& on_group) {
  Align_List(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, peaklist_align, align_times,
             progress, on_group);
}

void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2, std::vector<Align_Key>& keys,
                    const std::vector<double>* align_times, std::ostream& progress,
                    const Align_Progress& on_group) {
  Align_List(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, keys, align_times, progress,
             on_group);
}

void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2, std::vector<Align_Key>& keys,
                    const std::vector<double>* align_times, std::vector<std::uint32_t>& group_seeds,
                    std::ostream& progress, const Align_Progress& on_group) {
  Align_List(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, keys, align_times, progress,
             on_group, &group_seeds);
}

namespace {

template <typename Record>
std::vector<Member_Point> Points_Of(const std::vector<Record>& keys, const double* times) {
  std::vector<Member_Point> points(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const Record& k = keys[i];
    points[i] = {k.Compound_MolecularMass, times != nullptr ? times[i] : k.Compound_Retention_Time,
                 k.Compound_Intensity, k.SAMPLE_ID};
  }
  return points;
}

// Gives the groups the numbers of renumber (old -> new, several old ones may
// share a new one); a new group keeps the centre and seed of its smallest old
// number.
void Renumber(Groups& groups, const std::vector<std::uint32_t>& renumber) {
  for (std::uint32_t& g : groups.group_of) g = renumber[g];
  std::uint32_t top = 0;
  for (std::uint32_t g : renumber) top = std::max(top, g);
  std::vector<double> rt(std::size_t{top} + 1, 0.0);
  std::vector<std::uint32_t> seed(std::size_t{top} + 1, 0);
  std::vector<bool> set(std::size_t{top} + 1, false);
  for (std::size_t old = 1; old < renumber.size(); ++old) {
    const std::uint32_t g = renumber[old];
    if (g == 0 || set[g]) continue;
    set[g] = true;
    rt[g] = groups.group_rt[old];
    seed[g] = groups.group_seed[old];
  }
  groups.group_rt = std::move(rt);
  groups.group_seed = std::move(seed);
}

// The deviations of the groups the closest-in-time rule makes (the first run
// of the scored choice; its progress lines are not shown).
template <typename Record>
Spread_Deviations First_Pass_Deviations(bool two_phase, const Mass_Tolerance& Mass_Tol,
                                        double first_half_width, double half_width,
                                        const std::vector<Record>& keys, const double* times,
                                        const std::vector<Member_Point>& points,
                                        std::size_t samples, const Align_Progress& on_group) {
  std::ostream quiet(nullptr);
  const Groups first =
      MakeGroups(two_phase, Mass_Tol, first_half_width, half_width, keys, times, quiet, on_group);
  if (samples == 0) {
    for (const Record& k : keys) samples = std::max<std::size_t>(samples, k.SAMPLE_ID + 1);
  }
  return Group_Deviations(points, first.group_of, samples,
                          Mass_Tol.unit == Mass_Tolerance::Unit::kPpm);
}

template <typename Record>
Member_Choice_Outcome Align_With_Choice(Compound_Align_Mode Align_Mode,
                                        const Mass_Tolerance& Mass_Tol, double Align_Window1,
                                        double Align_Window2, std::vector<Record>& keys,
                                        const std::vector<double>* align_times,
                                        const Member_Choice& choice,
                                        std::vector<std::uint32_t>* group_seeds,
                                        std::ostream& progress, const Align_Progress& on_group) {
  Member_Choice_Outcome outcome;
  if (choice.pick == Member_Pick::kClosest && !choice.join_splits) {
    Align_List(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, keys, align_times, progress,
               on_group, group_seeds);
    return outcome;
  }
  if (keys.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("compound_align: more than 4294967294 peaks");
  }
  if (align_times != nullptr && align_times->size() != keys.size()) {
    throw std::invalid_argument("compound_align: align_times does not match the list");
  }
  const double* times = align_times != nullptr ? align_times->data() : nullptr;
  const bool two_phase = Align_Mode == Two_Phase_Align;
  const double first_half_width = Align_Window1 * 0.5;
  const double half_width = two_phase ? Align_Window2 * 0.5 : first_half_width;
  const bool ppm = Mass_Tol.unit == Mass_Tolerance::Unit::kPpm;
  const std::vector<Member_Point> points = Points_Of(keys, times);
  Groups groups;
  {
    DefaultNumberFormat format(progress);
    bool done = false;
    if (choice.pick == Member_Pick::kScored) {
      if (choice.spreads != nullptr) {
        outcome.spreads = *choice.spreads;
      } else {
        Spread_Deviations deviations =
            First_Pass_Deviations(two_phase, Mass_Tol, first_half_width, half_width, keys, times,
                                  points, choice.samples, on_group);
        outcome.spreads = Spreads_Of(deviations, ppm);
      }
      if (outcome.spreads.Found()) {
        groups = MakeGroups(two_phase, Mass_Tol, first_half_width, half_width, keys, times,
                            progress, on_group, &outcome.spreads);
        done = true;
      }
    }
    if (!done) {
      groups = MakeGroups(two_phase, Mass_Tol, first_half_width, half_width, keys, times, progress,
                          on_group);
    }
    if (choice.join_splits) {
      const auto made = static_cast<std::uint32_t>(groups.group_rt.size() - 1);
      // The time spread bounds the gap between a split compound's halves:
      // that of the scored choice, else of the groups as made.
      // Spreads given from elsewhere stand for the whole study's either way.
      double rt_spread = outcome.spreads.rt;
      if (choice.spreads != nullptr) {
        rt_spread = choice.spreads->rt;
      } else if (!outcome.spreads.Found()) {
        std::size_t samples = choice.samples;
        if (samples == 0) {
          for (const Record& k : keys) samples = std::max<std::size_t>(samples, k.SAMPLE_ID + 1);
        }
        Spread_Deviations deviations = Group_Deviations(points, groups.group_of, samples, ppm);
        rt_spread = Spreads_Of(deviations, ppm).rt;
      }
      const std::vector<std::uint32_t> renumber =
          Join_Split_Groups(points, groups.group_of, made, Mass_Tol, Align_Window1,
                            kJoinGapSpreads * rt_spread, outcome.joins);
      Renumber(groups, renumber);
      progress << "Split groups joined: " << outcome.joins
               << ", groups left: " << groups.group_rt.size() - 1 << std::endl;
    }
  }
  if (group_seeds != nullptr) {
    groups.group_seed.erase(groups.group_seed.begin());
    *group_seeds = std::move(groups.group_seed);
  }
  Place(keys, groups.group_of, groups.group_rt);
  return outcome;
}

}  // namespace

Member_Choice_Outcome compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                                     double Align_Window1, double Align_Window2,
                                     std::vector<Align_Key>& keys,
                                     const std::vector<double>* align_times,
                                     const Member_Choice& choice,
                                     std::vector<std::uint32_t>* group_seeds,
                                     std::ostream& progress, const Align_Progress& on_group) {
  return Align_With_Choice(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, keys, align_times,
                           choice, group_seeds, progress, on_group);
}

Member_Choice_Outcome compound_align(
    Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol, double Align_Window1,
    double Align_Window2, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
    const std::vector<double>* align_times, const Member_Choice& choice, std::ostream& progress,
    const Align_Progress& on_group) {
  return Align_With_Choice(Align_Mode, Mass_Tol, Align_Window1, Align_Window2, peaklist_align,
                           align_times, choice, nullptr, progress, on_group);
}

Spread_Deviations First_Pass_Deviations(Compound_Align_Mode Align_Mode,
                                        const Mass_Tolerance& Mass_Tol, double Align_Window1,
                                        double Align_Window2, const std::vector<Align_Key>& keys,
                                        const std::vector<double>* align_times,
                                        std::size_t samples) {
  if (keys.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("compound_align: more than 4294967294 peaks");
  }
  if (align_times != nullptr && align_times->size() != keys.size()) {
    throw std::invalid_argument("compound_align: align_times does not match the list");
  }
  const double* times = align_times != nullptr ? align_times->data() : nullptr;
  const bool two_phase = Align_Mode == Two_Phase_Align;
  const double first_half_width = Align_Window1 * 0.5;
  const double half_width = two_phase ? Align_Window2 * 0.5 : first_half_width;
  return First_Pass_Deviations(two_phase, Mass_Tol, first_half_width, half_width, keys, times,
                               Points_Of(keys, times), samples, {});
}
