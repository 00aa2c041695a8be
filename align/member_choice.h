// How a group keeps one member per sample beyond the closest-in-time rule: the
// scored choice (time, mass and intensity, each against the study's own
// spreads) and the joining of a compound split over two groups.
#ifndef VARNEL_ALIGN_MEMBER_CHOICE_H_
#define VARNEL_ALIGN_MEMBER_CHOICE_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "model/mass_tolerance.h"

// Which of a sample's candidates a group keeps.
enum class Member_Pick {
  kClosest,  // those closest in retention time to the centre
  kScored,   // those with the smallest score (Pick_Score) against the spreads
};

// "closest" or "scored"; nothing else is read back.
const char* Member_Pick_Name(Member_Pick pick);
bool Member_Pick_Of_Name(const std::string& name, Member_Pick& pick);

// The spreads of a study's compounds, as the scored choice weighs them: how
// far a compound's members lie from their group's median retention time
// (seconds, on the times aligned), mass (Da, or ppm of the median mass when
// `ppm`) and log10 Compound_Intensity. Each is 1.4826 times the median absolute
// deviation of the pooled deviations of the groups that hold at least half of
// the samples and at least 3 records. NaN when there was nothing to pool.
struct Pick_Spreads {
  double rt = std::numeric_limits<double>::quiet_NaN();
  double mass = std::numeric_limits<double>::quiet_NaN();
  double log_intensity = std::numeric_limits<double>::quiet_NaN();
  bool ppm = false;          // mass in ppm of the group's median mass
  std::uint64_t groups = 0;  // groups the deviations came from; 0: none qualified

  bool Found() const { return groups > 0; }
  friend bool operator==(const Pick_Spreads&, const Pick_Spreads&) = default;
};

// One record as the choice sees it: the time aligned, mass, intensity, sample.
struct Member_Point {
  double mass = 0.0;
  double time = 0.0;
  double intensity = 0.0;
  std::uint32_t sample = 0;
};

// The pooled deviations of qualifying groups, kept apart so that the parts of
// a study aligned one by one (shards) can pool them before the spreads are
// taken.
struct Spread_Deviations {
  std::vector<double> rt;
  std::vector<double> mass;
  std::vector<double> log_intensity;  // records with a positive finite intensity only
  std::uint64_t groups = 0;

  void Append(const Spread_Deviations& other);
};

// The deviations of the groups of group_of (Align_ID per point, 0 =
// unaligned) that hold at least 3 points and whose distinct samples, doubled,
// reach `samples`. Mass deviations in ppm of the group's median mass when
// `ppm`.
Spread_Deviations Group_Deviations(const std::vector<Member_Point>& points,
                                   const std::vector<std::uint32_t>& group_of, std::size_t samples,
                                   bool ppm);

// The spreads of pooled deviations (the vectors are reordered).
Pick_Spreads Spreads_Of(Spread_Deviations& deviations, bool ppm);

// The score of a candidate against a group's centre: the sum of
// (delta / (sqrt 2 * spread))^2 over time, mass and log10 intensity, each
// measured to the centre (intensity: to the seed's). A spread that is 0, NaN
// or not finite drops its term, and so does an intensity (candidate's or
// seed's) that is not positive. dm in the spreads' unit.
double Pick_Score(const Pick_Spreads& spreads, double dt, double dm, double intensity,
                  double seed_intensity);

// Joins groups that hold one compound split in two: two groups with no sample
// in common whose median masses lie within mass_tol (in ppm: of the mean of
// the two medians) and whose median times lie within `window` seconds are
// joined when their nearest members lie within max_gap seconds of each other
// (a compound split in two leaves no gap between its halves; two isomers held
// by different samples do) and their median times within max_gap x
// kJoinMedianSpreads / kJoinGapSpreads (the halves of one compound centre
// within a few spreads of each other; two compounds of one mass whose groups
// touch through one stray member do not); a NaN, infinite or negative
// max_gap: neither check. The pairs closest in time first (ties: the smaller numbers first),
// each pair checked again on the groups as earlier joins left them. The
// joined group keeps the smaller number; the numbers are then made 1..G again
// in their order. Returns the new number of every old one (index 0 = 0) and
// sets `joins`.
std::vector<std::uint32_t> Join_Split_Groups(const std::vector<Member_Point>& points,
                                             const std::vector<std::uint32_t>& group_of,
                                             std::uint32_t groups, const Mass_Tolerance& mass_tol,
                                             double window, double max_gap, std::uint32_t& joins);

// The largest gap Join_Split_Groups allows between a split compound's halves
// for a retention-time spread: kJoinGapSpreads times it.
inline constexpr double kJoinGapSpreads = 2.0;
// The largest distance between the median times of two groups joined, in
// retention-time spreads (never more than the window).
inline constexpr double kJoinMedianSpreads = 12.0;

// A few lines for people: the rule, the spreads, the joins.
std::string Member_Choice_Text(Member_Pick pick, const Pick_Spreads& spreads, bool join_splits,
                               std::uint32_t joins);

#endif  // VARNEL_ALIGN_MEMBER_CHOICE_H_
