// Cross-sample compound alignment: greedy, intensity-first clustering of
// annotated peaks on (Compound_MolecularMass, Compound_Retention_Time).
#ifndef VARNEL_ALIGN_COMPOUND_ALIGN_H_
#define VARNEL_ALIGN_COMPOUND_ALIGN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

#include "align/member_choice.h"
#include "model/mass_tolerance.h"
#include "model/peak.h"

enum Compound_Align_Mode {
  One_Phase_Align = 0,  // "Fast_Align": one phase around the seed, Align_Window1
  Two_Phase_Align = 1,  // "Deep_Align": medians within Align_Window1, then Align_Window2
};

// Called after every group made, with the number of groups so far and the
// number of records left unaligned.
using Align_Progress = std::function<void(std::uint32_t groups_made, std::size_t peaks_left)>;

// Aligns peaklist_align in place: gives the records of each compound measured
// in several samples one Align_ID (1, 2, 3 ...) and one Align_RT.
//
// The rules:
// - Matching. A record matches a centre (t, m) with half-width h when its
//   Compound_ID is not 0, |Compound_MolecularMass - m| <= Mass_Tol and
//   |Compound_Retention_Time - t| <= h. Mass_Tol is in Da, t and h in seconds;
//   both bounds are inclusive, exactly as the two expressions evaluate in
//   double precision. Any NaN makes the comparison false (never matches); a
//   negative tolerance or window matches nothing, 0 matches equal values only,
//   an infinite one matches every finite value.
// - Seeds. The seed of a group is the unaligned record with the largest
//   positive Compound_Intensity; among equal intensities the one earlier in the
//   list as passed in. A NaN, zero or negative intensity never seeds.
// - Phases. One_Phase_Align: the centre is the seed's (retention time, mass),
//   h = Align_Window1 / 2. Two_Phase_Align: first the records matching the seed
//   with h = Align_Window1 / 2 give the centre as their median retention time
//   and their median mass (each by itself); then h = Align_Window2 / 2 around
//   that centre. When nothing matches the seed, the centre stays at the seed.
// - One peak per sample. Every unaligned record matching the centre is a
//   candidate; each SAMPLE_ID keeps only its candidates closest in retention
//   time to the centre (equal distances all stay: the compound's adducts and
//   isotopes share its retention time); the others stay unaligned and can join
//   later groups. The members get Align_ID k and Align_RT t.
// - With a tolerance in ppm (the overloads below), the mass bound of a group
//   is Ppm_Tolerance(ppm, seed mass), the same in both phases.
// - Numbering. An iteration that places no record drops its seed from every
//   later seed choice (the record stays unaligned and may still join a group)
//   and uses up no group number, so groups are numbered 1..G without gaps.
// Align_ID and Align_RT as passed in are ignored (the run passes 0 and 0.0).
//
// ENSURES: same records, ascending Align_ID (unaligned first, then groups
// 1..G); within one Align_ID, the order of the list as passed in.
// Progress lines go to `progress` in its default number format, flushed at
// every line; on_group, if set, is called after every group.
// THROWS: std::length_error for 2^32 - 1 records or more; whatever on_group or
// the stream throws. The list is unchanged when anything throws.
// O(n log n) plus the candidates met per group; under 64 bytes per record of
// working memory; records are moved, never copied.
void compound_align(Compound_Align_Mode Align_Mode, double Mass_Tol, double Align_Window1,
                    double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    std::ostream& progress, const Align_Progress& on_group = {});

// The bound of a group in ppm mode: ppm * 1e-6 * |seed_mass|, in that order,
// in double precision; used for both phases of Two_Phase_Align. A NaN or
// negative ppm, or a NaN mass, gives NaN (nothing matches); a mass of 0 gives
// 0 (only equal masses match).
double Ppm_Tolerance(double ppm, double seed_mass);

// The same alignment with a tolerance in either unit; kDa gives exactly the
// result of the overload above, bounds inclusive in both units.
void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    std::ostream& progress, const Align_Progress& on_group = {});

// The same with the retention time of the record at position i taken from
// (*align_times)[i] instead of its Compound_Retention_Time (null: the field),
// e.g. drift-corrected times; Align_RT is then on that scale. No record field
// but Align_ID and Align_RT changes. THROWS std::invalid_argument when
// align_times is not null and its size differs from the list's.
void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    const std::vector<double>* align_times, std::ostream& progress,
                    const Align_Progress& on_group = {});

// The fields the alignment reads and writes, for callers that keep the rest
// of each peak elsewhere (the run keeps it on disk): 48 bytes a peak instead
// of a whole record. `row` is carried through untouched.
struct Align_Key {
  double Compound_MolecularMass = 0.0;
  double Compound_Retention_Time = 0.0;
  double Compound_Intensity = 0.0;
  double Align_RT = 0.0;
  std::uint32_t Compound_ID = 0;
  std::uint32_t SAMPLE_ID = 0;
  std::uint32_t Align_ID = 0;
  std::uint32_t row = 0;
};

// The same alignment over keys: the same rules, groups, order and progress as
// over records with the same fields.
void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2, std::vector<Align_Key>& keys,
                    const std::vector<double>* align_times, std::ostream& progress,
                    const Align_Progress& on_group = {});

// The same, also giving the seed of every group: group_seeds[k - 1] is the
// position, in the list as passed in, of the record that seeded group k (a
// seed that a deep-mode centre move left out of its group seeds the next group
// too, so one record can seed several groups in a row). Groups are made in
// the seeds' order: falling Compound_Intensity, ties by that position.
void compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                    double Align_Window1, double Align_Window2, std::vector<Align_Key>& keys,
                    const std::vector<double>* align_times, std::vector<std::uint32_t>& group_seeds,
                    std::ostream& progress, const Align_Progress& on_group = {});

// How the groups keep their members beyond the closest-in-time rule.
struct Member_Choice {
  // kScored: the loop runs once with the closest-in-time rule (its progress
  // lines are not printed), the spreads of its groups are taken
  // (Group_Deviations, Spreads_Of), and the loop runs again, with the same
  // seeds and matching, each sample keeping its candidates of the smallest
  // Pick_Score against the centre and the seed's intensity (equal scores all
  // stay). When no group qualifies for the spreads, the first run stands.
  Member_Pick pick = Member_Pick::kClosest;
  // Then Join_Split_Groups with the mass tolerance and Align_Window1.
  bool join_splits = false;
  // Samples of the study for the spreads' half-of-the-samples rule; 0: the
  // largest SAMPLE_ID + 1.
  std::size_t samples = 0;
  // Spreads taken elsewhere (a part of a larger study): used as they are,
  // with no first run, when they were found; their time spread bounds the
  // joins (NaN: no bound) whether found or not.
  const Pick_Spreads* spreads = nullptr;
};

// What the choice found.
struct Member_Choice_Outcome {
  Pick_Spreads spreads;     // those used (pick kScored)
  std::uint32_t joins = 0;  // split groups joined
};

// The alignment over keys with a member choice. With the defaults it gives
// exactly the overloads above. group_seeds, when not null, receives the seed
// of every final group (a joined group: that of its smaller number).
Member_Choice_Outcome compound_align(Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol,
                                     double Align_Window1, double Align_Window2,
                                     std::vector<Align_Key>& keys,
                                     const std::vector<double>* align_times,
                                     const Member_Choice& choice,
                                     std::vector<std::uint32_t>* group_seeds,
                                     std::ostream& progress, const Align_Progress& on_group = {});

// The deviations the scored choice takes its spreads from (Group_Deviations of
// the groups the closest-in-time rule makes), without aligning: a part of a
// study (a shard) gives its own, and the study's spreads are taken from them
// all pooled (Spreads_Of). samples as in Member_Choice.
Spread_Deviations First_Pass_Deviations(Compound_Align_Mode Align_Mode,
                                        const Mass_Tolerance& Mass_Tol, double Align_Window1,
                                        double Align_Window2, const std::vector<Align_Key>& keys,
                                        const std::vector<double>* align_times,
                                        std::size_t samples);

// The same over whole records.
Member_Choice_Outcome compound_align(
    Compound_Align_Mode Align_Mode, const Mass_Tolerance& Mass_Tol, double Align_Window1,
    double Align_Window2, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
    const std::vector<double>* align_times, const Member_Choice& choice, std::ostream& progress,
    const Align_Progress& on_group = {});

#endif  // VARNEL_ALIGN_COMPOUND_ALIGN_H_
