// Retention-time drift correction: a smooth per-sample curve that moves each
// sample's compound retention times onto the study's common scale before the
// alignment, fitted on anchor compounds found in most samples.
//
// How it is made:
// 1. Compound units: one per (SAMPLE_ID, Compound_ID other than 0) with a
//    finite mass and retention time; the first record of the
//    pair in list order gives the values (the ions of a compound share them).
//    Only each sample's candidates count from here on: its
//    candidates_per_sample most intense units (Anchor_Candidate_Before), so
//    the curves depend on nothing else and a plan that keeps just those fits
//    the same ones.
// 2a. Gross shift: each sample against the reference sample (the one with
//    most candidates, the first of those). Among the first 1000 candidates
//    of each, every pair within the mass tolerance gives a time difference;
//    the median of the differences in the stretch half an anchor window
//    wide that holds most of them is the sample's shift. In each of 12
//    stretches of the sample's times (with its neighbours) the same is done
//    within one anchor window of that shift, kept when the stretch holds at least min_anchors / 2
//    matches there and three times its share of the other matches: the gross
//    shift is linear between the stretches. Any drift, however large, that
//    keeps the order of the compounds is found without a wider window.
//    A shift is applied only when its stretch clearly dominates the next
//    densest one, agrees with the shift through a second reference and with
//    the samples next to it in input order (see Gross_Shifts); the
//    reference is another of the three samples with most candidates when
//    that one gives clear shifts to more samples. A sample whose shift fails
//    keeps its times at this step and is named in the summary.
// 2. Anchors, on the times as read less the gross shift: the candidates
//    are aligned one-phase with the user's mass tolerance and a wide window
//    (Rt_Anchor_Rule::window, full width, s). Each group of at least
//    min_samples candidates proposes a box: the mass tolerance and
//    +/- window / 2 around the candidates' median mass and time. The box is
//    an anchor when no sample has a rival in it and it holds candidates of
//    at least max(min_samples, ceil(min_share x samples)) samples. A sample's
//    member is its most intense candidate in the box
//    (Anchor_Candidate_Before); its other candidates there are rivals unless
//    all lie within 2 s of each other (they elute as one peak: an isomer pair
//    or a compound split in two, whose time is the same evidence). The
//    members' median time is the anchor's reference. Bounds inclusive.
// 3. Per sample, the deviations (member time as read - reference) are
//    smoothed against the member time; points of one sample within 0.5 s of
//    the first of their run are one point (their medians), since co-eluting
//    compounds (the ions or fragments of one peak) are one piece of evidence
//    and a cluster of them must not outweigh its neighbours. The smoother is
//    LOWESS: local quadratic fits with tricube weights over the nearest
//    `span` share of the sample's points (at least 12), then
//    `robust_iterations` refits with bisquare weights (6 median absolute
//    residuals), so wrong anchor members barely move the curve.
// 4. The span is chosen from the anchors (unless `span` > 0): for each of
//    0.03, 0.05, 0.08, 0.12, 0.18, 0.27 and 0.4, up to 150 points per sample
//    are left out in turn (in the first and the last pass, on at most 12
//    samples spread evenly over the study), each with any anchor at the very
//    same time, and predicted by the others; the span whose left-out
//    residuals, pooled over the samples and clipped at 3 robust SDs, have
//    the least sum of squares wins, or the smoothest within 2 % of it. The curve is sampled
//    at grid_points evenly spaced times from the sample's first to its last
//    anchor time. A grid point farther from every anchor than one grid step
//    (or than half the median reach of the local fits, if less) has too
//    little evidence: its value is linear between the nearest supported grid
//    points (the end value beyond them), never a bend a local fit
//    extrapolated into the gap. A supported grid point keeps within the
//    deviations of the anchor points within one grid step (those the robust
//    weights kept), so a fit does not overshoot the few anchors at a gap's
//    edge. Then the corrected times
//    of the grid are made non-decreasing (pool-adjacent-violators), so the
//    mapping keeps the order of elution. Shift = -(smoothed deviation);
//    corrected time = RT + Shift(RT), linear between grid points, the end
//    value beyond the ends. A sample with fewer than min_anchors anchors gets
//    no curve (Shift 0) and is named in the summary.
// 5. Each further pass finds the anchors again on the times the last pass
//    corrected, with the anchor window times `narrowing` (never under
//    min_window), so that groups split by a large drift come together,
//    neighbours that crowded a wide box stop hiding anchors, and the medians
//    stop depending on which samples a split left in; it fits (time as
//    read, time as read - reference) afresh; the passes between the first
//    and the last keep the first one's span. The spread "before" is that
//    of the first pass's anchors on the times as read, "after" that of the last pass's anchors on
//    corrected times.
#ifndef VARNEL_ALIGN_RT_CORRECTION_H_
#define VARNEL_ALIGN_RT_CORRECTION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "align/compound_align.h"
#include "model/peak.h"

using Align_Peak_Records = std::vector<Chromatogram_Peak_Group_Compound_Align>;

// One compound of one sample, as the correction and the estimate see it.
struct Compound_Unit {
  std::uint32_t sample = 0;  // SAMPLE_ID
  double mass = 0.0;         // Compound_MolecularMass, Da
  double rt = 0.0;           // Compound_Retention_Time, s
  double intensity = 0.0;    // Compound_Intensity
};

// The compound units of list (step 1 above), ordered by (SAMPLE_ID,
// Compound_ID).
std::vector<Compound_Unit> Gather_Compound_Units(const Align_Peak_Records& list);
std::vector<Compound_Unit> Gather_Compound_Units(const std::vector<Align_Key>& list);

struct Rt_Anchor_Member {
  std::uint32_t sample = 0;
  double rt = 0.0;
  double mass = 0.0;
  std::size_t unit = 0;  // position in the units searched
};

struct Rt_Anchor {
  double reference_rt = 0.0;              // median of the members' times, s
  double reference_mass = 0.0;            // median of the members' masses, Da
  std::vector<Rt_Anchor_Member> members;  // one per sample, ascending sample
};

// The anchor window for a user's fast window (full widths, s): the fast
// window, and never under kMinAnchorWindow. The gross shift (step 2a) has
// already taken off large drifts, so the box need only hold what is left; a
// wider one takes in more rivals. The estimate's correction uses the window of
// the default fast window, so the run with its suggested windows (up to
// kMinAnchorWindow) fits the very correction the suggestion was made on.
inline constexpr double kMinAnchorWindow = 120.0;
double Rt_Anchor_Window(double fast_window);

struct Rt_Anchor_Rule {
  Mass_Tolerance mass_tol;           // the user's: Da, or ppm of the group's median mass
  double window = kMinAnchorWindow;  // s, full width; NaN or negative finds none
  double min_share = 0.5;            // of the samples holding units
  std::uint32_t min_samples = 3;
  std::size_t candidates_per_sample = 2000;
};

// Whether a unit of intensity_a and Compound_ID id_a comes before one of
// intensity_b and id_b as an anchor candidate: more intense first, a NaN
// intensity last, ties by ascending Compound_ID. A sample's candidates are
// its first candidates_per_sample units in this order, so that a plan that
// keeps only those of each input fits the same correction.
bool Anchor_Candidate_Before(double intensity_a, std::uint32_t id_a, double intensity_b,
                             std::uint32_t id_b);

// The anchors of units (step 2) among their candidates (units in list order
// stand for ascending Compound_ID), ordered by their group's seed intensity;
// a member's unit is its position in units.
std::vector<Rt_Anchor> Find_Rt_Anchors(const std::vector<Compound_Unit>& units,
                                       const Rt_Anchor_Rule& rule);

// The anchors of units found again with rule, as for a pass, and for each
// anchor every pair of its members: |difference of their times| (s), in
// anchor order. The estimate's windows come from these on corrected times.
std::vector<double> Rt_Anchor_Pair_Gaps(const std::vector<Compound_Unit>& units,
                                        const Rt_Anchor_Rule& rule);

struct Rt_Correction_Params {
  Rt_Anchor_Rule anchors;
  std::size_t min_anchors = 10;  // fewer: the sample stays uncorrected
  // Share of a sample's anchors in each local fit; 0 or less: chosen from the
  // anchors (step 4).
  double span = 0.0;
  int robust_iterations = 3;
  int passes = 3;                 // see step 5
  double narrowing = 0.5;         // anchor window of each further pass, per the last
  double min_window = 0.0;        // s, the narrowest anchor window of a further pass
  std::size_t grid_points = 101;  // at least 2
};

// One sample's curve; rt ascending, shift[i] at rt[i], both in seconds.
struct Rt_Sample_Curve {
  std::uint32_t sample = 0;
  std::string name;         // SAMPLE_NAME of its first record
  std::size_t anchors = 0;  // anchors holding the sample
  bool corrected = false;   // false: fewer than min_anchors, rt and shift empty
  std::vector<double> rt;
  std::vector<double> shift;
  // The last pass's anchor points, as the curve was fitted to them: member
  // time as read (ascending) and the shift it asks for (reference - member
  // time); members of the sample within 0.5 s of each other are one point
  // (the medians of both, step 3).
  std::vector<double> anchor_rt;
  std::vector<double> anchor_shift;
  // The matches against the reference named a gross shift that failed its
  // checks (step 2a), so none was applied: the curve, if any, comes from
  // anchors found on the times as read.
  bool gross_shift_rejected = false;
};

struct Rt_Correction {
  std::vector<Rt_Sample_Curve> samples;  // every sample with compound units, ascending
  std::size_t anchors = 0;
  // Robust spread (1.4826 x median absolute deviation) of anchor members'
  // times around their anchor's median, before and after the correction, s.
  double rt_spread_before = 0.0;
  double rt_spread_after = 0.0;
  double span = 0.0;  // of the last pass's local fits, share of a sample's anchors

  // Shift of `sample` at rt (s); 0 for a sample without a curve. NaN rt: NaN.
  double Shift(std::uint32_t sample, double rt) const;
  std::vector<std::uint32_t> Uncorrected_Samples() const;
};

// Called now and then while a correction is fitted (every 1024 groups of an
// anchor search, every sample of a pass): a caller that wants the fit to
// stop throws from it, and the exception leaves the fit as it is thrown.
using Fit_Check = std::function<void()>;

// Fits the correction of list (steps 1-4). Reads only the compound fields,
// SAMPLE_ID and SAMPLE_NAME; the list is not changed. Cost: one one-phase
// alignment of the compound units plus O(samples x grid x span x anchors).
Rt_Correction Fit_Rt_Correction(const Align_Peak_Records& list, const Rt_Correction_Params& params,
                                const Fit_Check& check = {});
// The same over keys; the curves' names are left empty (keys have none).
Rt_Correction Fit_Rt_Correction(const std::vector<Align_Key>& list,
                                const Rt_Correction_Params& params, const Fit_Check& check = {});

// The times the alignment uses: Compound_Retention_Time + Shift(SAMPLE_ID,
// Compound_Retention_Time) of each record, in list order.
std::vector<double> Corrected_Times(const Align_Peak_Records& list,
                                    const Rt_Correction& correction);
std::vector<double> Corrected_Times(const std::vector<Align_Key>& list,
                                    const Rt_Correction& correction);

// compound_align on Corrected_Times: the records keep their original
// Compound_Retention_Time; Align_RT is on the corrected scale. With a
// correction whose samples have no curve it equals compound_align.
void Compound_Align_With_Rt_Correction(Compound_Align_Mode mode, const Mass_Tolerance& mass_tol,
                                       double window1, double window2, Align_Peak_Records& list,
                                       const Rt_Correction& correction, std::ostream& progress,
                                       const Align_Progress& on_group = {});
void Compound_Align_With_Rt_Correction(Compound_Align_Mode mode, const Mass_Tolerance& mass_tol,
                                       double window1, double window2, std::vector<Align_Key>& list,
                                       const Rt_Correction& correction, std::ostream& progress,
                                       const Align_Progress& on_group = {});

// The curves as rows (SAMPLE_ID, RT, Shift): one per grid point of each
// corrected sample, ascending (SAMPLE_ID, RT). A sample without rows is
// uncorrected.
struct Rt_Correction_Row {
  std::uint32_t sample;
  double rt;
  double shift;
};
std::vector<Rt_Correction_Row> Rt_Correction_Rows(const Rt_Correction& correction);

// A few lines for the user: anchors, anchors per sample, the samples whose
// gross shift was not applied and those left uncorrected, by name, the
// spread before and after.
std::string Rt_Correction_Summary(const Rt_Correction& correction);

#endif  // VARNEL_ALIGN_RT_CORRECTION_H_
