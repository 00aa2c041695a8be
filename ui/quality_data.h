// The figures of an alignment's quality, computed without widgets from one
// aligned result: retention-time and mass deviations of each group's members,
// per-sample counts and smoothed drift curves, an outlier ranking of the
// samples, how many samples each group holds, the intensity spread of the
// well-filled groups, missing values, intensity distributions, correlation
// and PCA scores of the samples, the stored correction curves and, with a
// sample sheet, the groups, the CV of QC samples and the injection order.
// The quality window and varnel-report draw these.
//
// A well-filled group holds members of at least half of the samples (and of
// two). The intensity of a sample in a group is the sum of its members'
// Compound_Intensity; correlation, PCA, CV and missing values use the
// well-filled groups only.
//
// A member is one compound of one sample in an alignment group: the rows of an
// aligned result that share Align_ID (not 0), SAMPLE_ID and Compound_ID (the
// ions of one compound) count once, with the compound's fields of the first
// such row. Groups with one member carry no deviation and are left out of the
// deviation figures; they still count in the group and sample figures.
#ifndef VARNEL_UI_QUALITY_DATA_H_
#define VARNEL_UI_QUALITY_DATA_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/run_record.h"
#include "ui/quality_load.h"
#include "ui/quality_signal.h"
#include "ui/quality_stats.h"

namespace Varnel {

inline constexpr double kOutlierScoreMagnitude = 3.5;
inline constexpr double kWeakSupportFactor = 2.0;

// Correlation and PCA use at most this many well-filled groups (every k-th).
inline constexpr std::size_t kMaxMatrixGroups = 3000;
// Samples whose median correlation lies this far below the others' (robust
// score) stand out, as in retention time.
inline constexpr double kCorrelationOutlierScore = -kOutlierScoreMagnitude;

// A sample is flagged as an outlier when its robust score reaches this.
inline constexpr double kOutlierScore = kOutlierScoreMagnitude;
// Smoothed curves: evaluation positions across the retention-time range, the
// window (a fraction of that range on each side) and the fewest members of a
// window that give a point.
inline constexpr int kSmoothPoints = 60;
inline constexpr double kSmoothHalfWindow = 0.05;
inline constexpr std::size_t kSmoothMinValues = 5;

struct Sample_Quality {
  std::int64_t sample_id = 0;
  std::string name;
  std::size_t peaks_read = 0;     // rows of the sample
  std::size_t peaks_aligned = 0;  // rows with Align_ID other than 0
  std::size_t members = 0;        // members in groups of two or more members
  // Seconds. "before" is Compound_Retention_Time - Align_RT; "after" uses the
  // corrected retention time and equals "before" without a stored correction.
  double median_rt_before = 0.0;
  double median_rt_after = 0.0;
  double median_abs_rt = 0.0;        // of |before|: the outlier measure
  double median_abs_rt_after = 0.0;  // of |after|
  double outlier_score = 0.0;        // robust score of median_abs_rt among samples
  double median_ppm = 0.0;           // of the members' mass deviations
  std::vector<Curve_Point> curve_before;
  std::vector<Curve_Point> curve_after;
  // Well-filled groups without a member of this sample.
  std::size_t missing = 0;
  Box_Summary log_intensity;  // log10 of the sample's intensity in each group it is in
  // Median correlation of log10 intensities with every other sample; NaN
  // when no pair had enough shared groups.
  double median_correlation = 0.0;
  double correlation_score = 0.0;  // robust score of median_correlation among samples
  double pc1 = 0.0, pc2 = 0.0;     // PCA scores; NaN without a PCA
  // The stored correction curve (empty without one) and its largest |Shift|.
  Rt_Correction correction;
  double max_abs_shift = 0.0;
  // The anchor points its curve was fitted to (Align_RT_Anchor): x the
  // retention time as read, y the shift the anchor asked for, seconds,
  // ascending x; empty without the table.
  std::vector<Curve_Point> anchors;
  // With anchors stored and a curve: the longest stretch of the corrected
  // range (Quality_Data::correction_low .. correction_high) without an anchor
  // of the sample, its ends included, in seconds; NaN otherwise.
  double anchor_gap = 0.0;
  double anchor_gap_from = 0.0;
  double anchor_gap_to = 0.0;
  // From the sample sheet: index into Quality_Data::group_names (0 without a
  // sheet) and the injection order (NaN without the column).
  std::uint32_t group = 0;
  double order = 0.0;

  double Share_Aligned() const {
    return peaks_read == 0 ? 0.0 : static_cast<double>(peaks_aligned) / peaks_read;
  }
};

// One member's retention-time deviation, for scatter points.
struct Rt_Deviation {
  double centre = 0.0;  // Align_RT, seconds
  double before = 0.0;
  double after = 0.0;
  std::uint32_t sample = 0;  // index into Quality_Data::samples
};

struct Quality_Data {
  std::string file;  // the result's path, for titles and messages
  std::size_t peaks = 0;
  std::size_t unaligned_peaks = 0;  // rows with Align_ID 0
  std::size_t groups = 0;           // distinct Align_ID other than 0
  std::size_t members = 0;
  std::vector<Sample_Quality> samples;  // by ascending SAMPLE_ID
  // Sample indexes by descending median_abs_rt (resp. median_abs_rt_after),
  // ties by SAMPLE_ID; samples without deviations last.
  std::vector<std::uint32_t> outlier_order;
  std::vector<std::uint32_t> outlier_order_after;

  bool has_correction = false;
  // Whether the result stores the correction's anchors (Align_RT_Anchor), the
  // range of the stored curves (seconds, as read), and the corrected samples
  // least supported first: the longest anchor_gap first, then the fewest
  // anchors, then by SAMPLE_ID. Every sample whose curve has no anchor gets
  // the whole range as its gap. Empty without anchors.
  bool has_anchors = false;
  double correction_low = 0.0;
  double correction_high = 0.0;
  std::vector<std::uint32_t> least_supported;
  // The median anchor_gap of the corrected samples (NaN without anchors), and
  // how many of least_supported, from the first, are weakly supported: an
  // anchor_gap of kWeakSupportFactor times that median or more. (Few anchors
  // leave a long stretch too: n anchors leave one of at least range / (n + 1).)
  double median_anchor_gap = 0.0;
  std::size_t weakly_supported = 0;
  // Medians of |deviation| over every member, before and after correction.
  double median_abs_rt = 0.0;
  double median_abs_rt_after = 0.0;
  std::vector<Rt_Deviation> rt_deviations;  // members of groups with >= 2 members
  double rt_low = 0.0;                      // range of the group centres, seconds
  double rt_high = 0.0;

  Histogram mass_ppm;           // members' deviation from their group's median mass, ppm
  double median_abs_ppm = 0.0;  // of |deviation|; NaN without deviations
  // groups_by_samples[k]: groups holding exactly k distinct samples (k >= 1).
  std::vector<std::size_t> groups_by_samples;
  std::size_t groups_complete = 0;  // all samples
  std::size_t groups_half = 0;      // at least half of the samples (complete included)
  std::size_t groups_single = 0;    // one sample
  Histogram intensity_cv;           // percent, groups present in >= half the samples
  std::size_t cv_groups = 0;
  // Members' mass deviation (ppm, as in mass_ppm) against their Apex_MZ.
  std::vector<Curve_Point> ppm_by_mz;

  // Sample sheet: the groups in the order first named; QC is the group named
  // "QC" (any case). CVs in percent per well-filled group over the QC samples
  // and over the others, where each side has two values or more.
  bool has_sheet = false;
  bool has_order = false;
  std::vector<std::string> group_names;
  bool has_qc = false;
  std::vector<double> cv_qc, cv_study;  // ascending
  // Share of the variance of the first two principal components; PCA is
  // done when there are three samples and two groups to use.
  bool has_pca = false;
  double pc_share[2] = {0.0, 0.0};
  std::size_t matrix_groups = 0;  // well-filled groups the correlation and PCA used

  // The run record, when the result holds table Align_Run: items in stored
  // order; Align_Run_Input as a header row and data rows, when present.
  bool has_run = false;
  std::vector<std::pair<std::string, std::string>> run_items;
  std::vector<std::vector<std::string>> run_inputs;
  // File_Name of each recorded input that gave 0 peaks (Peaks_Read 0 and no
  // row of its SAMPLE_ID in Align_Peaklist).
  std::vector<std::string> empty_inputs;

  // How each group kept one member per sample (Align_Member_Choice): the
  // choice and the spreads it used; none when the result holds no such table
  // (closest in time, no joining).
  std::optional<Member_Choice_Record> member_choice;
  // The samples whose gross shift the correction turned down (its matches
  // against the reference did not single one out), by SAMPLE_ID ascending;
  // empty when the result stores none (Align_RT_Gross_Shift).
  std::vector<std::int64_t> gross_shift_not_applied;
  // With a sheet giving an injection order and QCs: the QC correction of the
  // well-filled groups and its figures (ui/quality_signal.h).
  Quality_Signal signal;
};

// Reads Align_Peaklist (and Align_RT_Correction, Align_RT_Anchor, Align_Run,
// Align_Run_Input when present) of the file at `path` read-only, once
// (Read_Quality_Rows), and computes the figures. Throws Quality_Error starting with the path when
// the file is missing, is no SQLite database, lacks Align_Peaklist or one of its columns, holds no
// row or a malformed Align_RT_Anchor; starting with the sheet's path when it names no group for a
// sample.
Quality_Data Load_Quality_Data(const std::string& path, const Quality_Options& options = {});

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_DATA_H_
