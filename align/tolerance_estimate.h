// Tolerances from the data: how far a compound's mass and retention time
// stray from sample to sample, and the alignment options that follow.
//
// The rule. Work on compound units (see Gather_Compound_Units). The spreads
// come from the differences within cross-sample pairs of units, never from
// the groups some tolerance would make, so the answer is not the tolerance
// searched with:
// 1. Mass: every pair of units of different samples whose masses differ by at
//    most mass_search_ppm and whose times by at most mass_search_rt seconds.
//    Their mass differences (ppm of the lighter mass) are fitted as a normal of
//    mean 0 (pairs of one compound) plus a flat background over the search
//    range (pairs of neighbouring compounds), by expectation-maximisation. A
//    unit's spread is the normal's SD / sqrt(2): mass_sd_ppm. mass_sd_da is
//    that at the root mean square of the units' masses.
// 2. Retention time: the same fit on the time differences of the pairs whose
//    masses differ by at most kPairMassSds x sqrt(2) x mass_sd_ppm; the range
//    starts at rt_search_start seconds and doubles (up to rt_search_max)
//    while 3 fitted SDs reach past it: rt_sd_before.
// 3. The retention-time correction (align/rt_correction.h) is fitted with
//    anchors found under the estimated mass tolerance and a window of
//    Rt_Anchor_Window(fast_window) (its gross shift finds large drifts);
//    step 2 on the corrected times gives rt_sd_after (equal to rt_sd_before
//    when no sample could be corrected). The anchors are then found once
//    more on the corrected times with that window, and every pair of
//    members of one anchor gives a time gap: rt_gap_high is their 99.9th
//    percentile (NaN with fewer than kMinPairs pairs). Real residuals have
//    heavy tails (compounds that stray by tens of seconds beyond any smooth
//    drift), which a normal fitted to the core misses.
// 4. Suggested options, z = 2.576 (99 % of a normal within z SDs):
//    - mass tol (Da) = z x sqrt(2) x mass_sd_ppm x 1e-6 x the 95th percentile
//      of the units' masses: the fast alignment compares two members (the seed
//      and another), whose difference has SD sqrt(2) x the spread;
//    - fast window = 2 x z x sqrt(2) x rt_sd (full width, same reason);
//    - deep window = 2 x z x 1.1 x rt_sd: deep members are compared with the
//      median of the first phase, a little noisier than the true centre;
//    with rt_sd = rt_sd_after for corrected times, rt_sd_before otherwise;
//    for corrected times the fast window is at least 2 x rt_gap_high (a
//    seed and a member of one compound lie at most rt_gap_high apart but
//    for 0.1 % of pairs) and the deep window at least
//    sqrt(2) x 1.1 x rt_gap_high (a member's distance to the centre is
//    about a pair gap / sqrt(2)); for normal residuals that is about 1.28 x
//    the values above (3.29 instead of 2.576 SDs).
// Needs pairs: with fewer than kMinPairs in a fit the figures are NaN and
// Tolerance_Estimate::ok is false.
#ifndef VARNEL_ALIGN_TOLERANCE_ESTIMATE_H_
#define VARNEL_ALIGN_TOLERANCE_ESTIMATE_H_

#include <cstddef>
#include <string>

#include "align/compound_align.h"
#include "align/rt_correction.h"

inline constexpr double kPairMassSds = 3.0;
inline constexpr std::size_t kMinPairs = 30;

struct Tolerance_Estimate_Params {
  double fast_window = 20.0;       // s, the user's; sets the anchor window of step 3
  double mass_search_ppm = 100.0;  // ppm of the lighter mass
  double mass_search_rt = 120.0;   // s
  double rt_search_start = 60.0;   // s
  double rt_search_max = 1000.0;   // s
};

struct Tolerance_Estimate {
  bool ok = false;
  std::size_t units = 0;
  std::size_t mass_pairs = 0;
  std::size_t rt_pairs = 0;
  std::size_t anchors = 0;  // anchor groups of the correction in step 3
  double mass_sd_ppm = 0.0;
  double mass_sd_da = 0.0;
  double rt_sd_before = 0.0;     // s
  double rt_sd_after = 0.0;      // s
  std::size_t anchor_pairs = 0;  // pairs of members of one anchor, step 3
  double rt_gap_high = 0.0;      // s, their 99.9th percentile time gap (NaN: too few)
  std::vector<std::uint32_t> uncorrected_samples;
  // Suggestions (step 4): for times as read, and for corrected times.
  Mass_Tolerance mass_tol{Mass_Tolerance::Unit::kDa, 0.0};  // always in Da
  double fast_window = 0.0;
  double deep_window = 0.0;
  double fast_window_corrected = 0.0;
  double deep_window_corrected = 0.0;
};

// Steps 1-4 on list (read only). Cost: the pairs of step 1 and 2 (capped at
// a few million by taking every k-th unit) times a few dozen fit iterations,
// plus one correction fit.
Tolerance_Estimate Estimate_Tolerances(const Align_Peak_Records& list,
                                       const Tolerance_Estimate_Params& params);
Tolerance_Estimate Estimate_Tolerances(const std::vector<Align_Key>& list,
                                       const Tolerance_Estimate_Params& params);

// "--mass-tol X --fast-window Y --deep-window Z", three significant digits,
// plain decimals; the corrected windows when `corrected`.
std::string Suggested_Options(const Tolerance_Estimate& estimate, bool corrected);

// The lines for the user: units, pairs, anchors, the mass spread in ppm and
// Da, the time spread before and after the correction, and last the
// Suggested_Options line. Without enough pairs, one line saying so.
std::string Tolerance_Estimate_Report(const Tolerance_Estimate& estimate, bool corrected);

#endif  // VARNEL_ALIGN_TOLERANCE_ESTIMATE_H_
