// Drift and batch correction of a feature's intensities with the pooled QC
// injections, a sample-wise normalisation before it, and the feature filters
// judged on QCs held out of the fit.
//
// The design comes from the sample sheet (export/sample_sheet.h): a sample
// whose group is the QC label (any case) is a pooled QC, one whose group is
// the blank label a blank, any other a study sample. Batches are the sheet's
// batch column (one batch without it), in the order of their first injection.
//
// Correction of one feature, all on the natural log of the values:
//   - the fitted QCs of a batch are its QCs with a value above 0 that are not
//     conditioning QCs; their count is the cell's "detected QC values";
//   - `qc-median`: the batch's level is the median of its fitted QCs;
//   - `qc-curve`: a robust local-linear curve through the fitted QCs against
//     injection order (tricube weights over the nearest span of them, one
//     bisquare reweighting) or a straight line through all of them, taken
//     at the QCs and joined by straight lines between them, the span
//     chosen among kCurveSpans by the
//     smallest sum of |error| on each QC left out of its own fit; flat before
//     the first and after the last fitted QC. Below kMinCurveQcs fitted QCs a
//     cell falls back to the median;
//   - `auto`: per batch, pooled over the features (up to kAutoFeatures, spread
//     over the table) with kMinCurveQcs fitted QCs there, the median of the
//     held-out errors of the median method and of the curve at each span of
//     kCurveSpans and each share of kCurveShrinks kept of its departure from
//     the batch's centre (the QCs' mean under the curve's robustness
//     weights); the curve at its best span and share when that is below
//     kAutoMargin times the median method's and below the flat centre's,
//     else the median. Span and share are the batch's, not chosen per
//     feature (a choice per feature among a few QCs adds noise of its own);
//   - with at most one fitted QC a cell cannot be corrected: its values keep
//     their (normalised) level and the cell is flagged;
//   - every value of a corrected cell is multiplied by exp(target - level at
//     its injection order), target being the median of the feature's fitted
//     QCs over all batches: the feature lands on its overall QC median.
// A missing value stays missing and a value of 0 stays 0; nothing is dropped
// but whole features, by the filters.
//
// PQN (probabilistic quotient normalisation): each sample's values are
// divided by its dilution, the median over features of its value over the
// feature's median among the QCs (all QCs, conditioning ones included, values
// above 0).
//
// Held-out figures: each fitted QC of a batch with at least two of them is
// corrected by the fit of its batch made without it. QC_RSD_Before is the
// relative standard deviation (sample standard deviation over mean, percent)
// of those QCs' normalised values, QC_RSD_After of their held-out corrected
// values; D_Ratio is the median absolute deviation of the held-out corrected
// QCs' logs over that of the corrected study samples' logs.
#ifndef VARNEL_EXPORT_SIGNAL_CORRECTION_H_
#define VARNEL_EXPORT_SIGNAL_CORRECTION_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/output_file.h"
#include "export/sample_sheet.h"
#include "storage/aligned_result.h"

enum class Signal_Method { kNone, kQcMedian, kQcCurve, kAuto };
enum class Signal_Normalization { kNone, kPqn };

// "none", "qc-median", "qc-curve", "auto" and "none", "pqn": as typed.
inline constexpr const char* kSignalMethodNames[] = {"none", "qc-median", "qc-curve", "auto"};
inline constexpr const char* kSignalNormalizationNames[] = {"none", "pqn"};
std::optional<Signal_Method> Parse_Signal_Method(std::string_view text);
std::optional<Signal_Normalization> Parse_Signal_Normalization(std::string_view text);

inline constexpr std::size_t kMinCurveQcs = 4;  // fitted QCs a curve needs in a batch
// Share of a batch's fitted QCs a local line is fitted over; kLineSpan: one
// straight line through all of them, equally weighted.
inline constexpr double kLineSpan = 2.0;
inline constexpr double kCurveSpans[] = {0.5, 0.75, 1.0, kLineSpan};
// auto: how much of a curve's departure from its batch's centre is kept, one
// share per batch. With a handful of QCs a fitted slope is mostly their
// noise; taking part of it trades that noise for a little of the drift.
inline constexpr double kCurveShrinks[] = {0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1.0};
// auto: the features (spread over the table) whose held-out errors are
// pooled per batch, at most.
inline constexpr std::size_t kAutoFeatures = 2000;
// auto: the curve's held-out error must be below this share of the median's.
inline constexpr double kAutoMargin = 0.95;

struct Signal_Options {
  Signal_Method method = Signal_Method::kNone;
  Signal_Normalization normalize = Signal_Normalization::kNone;
  std::string qc_label = "QC";
  std::string blank_label = "blank";
  // The first this many QCs of each batch (by injection order) are
  // conditioning QCs, beside those the sheet marks.
  unsigned conditioning_qcs = 0;
  // Filters, off when NaN. A feature is kept when:
  double keep_qc_rsd = kNaN;   // its held-out QC_RSD_After <= this, percent
  double keep_d_ratio = kNaN;  // its D_Ratio <= this
  double keep_present =
      kNaN;  // a share >= this of the study samples, or of one study group, has a value
  double blank_ratio =
      kNaN;  // its study median >= this times its blank median (no blank value: kept)
  // Whether anything is asked beyond the plain export.
  bool Active() const;

  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
};

enum class Sample_Role : char { kStudy, kQc, kBlank };

struct Signal_Sample {
  Sample_Role role = Sample_Role::kStudy;
  bool conditioning = false;
  std::size_t batch = 0;
  double order = std::numeric_limits<double>::quiet_NaN();
  std::string group;
};

struct Signal_Design {
  std::vector<Signal_Sample> samples;    // in sample-column order
  std::vector<std::string> batch_names;  // by first injection (sheet order without order)
  bool has_order = false;
};

// The design of the result's samples from the sheet. Throws
// std::runtime_error "<sheet path>: ..." for a sample the sheet does not
// name, no QC sample, a curve or conditioning QCs asked without an order
// column.
Signal_Design Make_Signal_Design(const std::vector<Result_Sample>& samples,
                                 const Sample_Sheet& sheet, const Signal_Options& options);

// What one feature's correction found.
struct Feature_Signal {
  std::vector<const char*> methods;  // per batch: "median", "curve" or "uncorrected"
  std::size_t qc_values = 0;         // fitted QC values over all batches
  std::size_t flagged_cells = 0;     // batches left uncorrected (at most one fitted QC)
  double qc_rsd_before = std::numeric_limits<double>::quiet_NaN();  // percent
  double qc_rsd_after = std::numeric_limits<double>::quiet_NaN();   // percent
  double d_ratio = std::numeric_limits<double>::quiet_NaN();
  const char* dropped = nullptr;  // the first filter that drops it, by option name
};

// One batch's fit, reusable for plotting: the level (log) at any order.
struct Batch_Fit {
  enum Kind { kUncorrected, kMedian, kCurve } kind = kUncorrected;
  double median = 0.0;
  double span = 1.0;
  // curve: the level is centre + shrink * (curve - centre), centre being the
  // robustly weighted mean of the QCs' logs.
  double shrink = 1.0;
  double centre = 0.0;
  std::vector<double> xs, ys, weights;  // the fitted QCs, by order (curve)
  std::vector<double> levels;           // the curve at xs
  // The level at order: the median, or the curve's levels at the QCs joined
  // by straight lines, flat before the first and after the last; NaN for an
  // uncorrected batch (or a curve asked at no order).
  double Level(double order) const;
};

// Fits one batch's QCs (xs ascending, ys logs) the given way; with curve the
// span is chosen by leave-one-out. errors, when given, receives the
// held-out |log error| of each QC (empty below two QCs).
// span, when not NaN, is used as it is instead of chosen; shrink pulls the
// curve toward its centre (1: the curve as fitted).
Batch_Fit Fit_Batch(Batch_Fit::Kind kind, const std::vector<double>& xs,
                    const std::vector<double>& ys, std::vector<double>* errors = nullptr,
                    std::vector<double>* held_out_levels = nullptr,
                    double span = std::numeric_limits<double>::quiet_NaN(), double shrink = 1.0);

// The correction of a study's features: Observe each feature's values in a
// first pass when Needs_First_Pass(), then Prepare(), then Correct each
// feature in the writing pass.
class Signal_Correction {
 public:
  Signal_Correction(Signal_Design design, Signal_Options options);

  bool Needs_First_Pass() const;
  // values: the feature's quantity per sample, NaN where none.
  void Observe(const std::vector<double>& values);
  // Ends the first pass: dilutions and the choice of each batch.
  void Prepare();
  // Corrects values in place; factors gets each sample's multiplier (for
  // other quantities of the same feature). Returns what it found; dropped
  // is set when a filter drops the feature (values are corrected anyway).
  Feature_Signal Correct(std::vector<double>& values, std::vector<double>& factors) const;

  // The method chosen for each batch (after Prepare).
  const std::vector<Batch_Fit::Kind>& batch_choice() const { return choice_; }
  // The span of each batch's curve chosen by auto (NaN: chosen per feature).
  const std::vector<double>& batch_span() const { return span_; }
  // The share of each batch's curve kept by auto (1 otherwise).
  const std::vector<double>& batch_shrink() const { return shrink_; }
  // Pooled held-out |log error| medians of each batch (auto): median, curve.
  const std::vector<std::pair<double, double>>& auto_errors() const { return auto_errors_; }
  const std::vector<double>& dilutions() const { return dilution_; }
  const Signal_Design& design() const { return design_; }
  const Signal_Options& options() const { return options_; }

  // The level fits of one feature (normalised values), by batch: for figures.
  std::vector<Batch_Fit> Fits(const std::vector<double>& values) const;

 private:
  // Fitted QCs of batch b among values (normalised): orders and logs.
  void Qcs_Of(const std::vector<double>& values, std::size_t b, std::vector<double>& xs,
              std::vector<double>& ys) const;
  Batch_Fit::Kind Kind_For(std::size_t b, std::size_t fitted) const;

  Signal_Design design_;
  Signal_Options options_;
  std::vector<std::vector<std::size_t>> qcs_of_batch_;  // fitted QC samples by order
  std::vector<std::vector<std::size_t>> members_;       // samples of each batch
  std::vector<Batch_Fit::Kind> choice_;
  std::vector<std::pair<double, double>> auto_errors_;
  std::vector<double> span_;
  std::vector<double> shrink_;
  std::vector<double> dilution_;
  std::vector<std::vector<float>> observed_;  // first pass: log values per feature
};

// The record's header line and one line per feature (tab-separated, "\n").
inline constexpr const char* kSignalRecordHeader =
    "Align_ID\tMethod\tQC_Values\tQC_RSD_Before\tQC_RSD_After\tD_Ratio\tFlagged_Cells\tDropped\n";
void Append_Signal_Record(std::uint32_t align_id, const Feature_Signal& feature, std::string& out);

// The correction as an export runs it: the corrector, the record beside the
// output and what it did, by rule.
struct Signal_Export {
  Signal_Export(Signal_Correction c, const std::string& out_path);
  // Corrects one feature's values (factors: each sample's multiplier), writes
  // its record line; false when a filter drops it.
  bool Apply(std::uint32_t align_id, std::vector<double>& values, std::vector<double>& factors);
  // What the export says on its standard error, one line each.
  std::vector<std::string> Notes() const;

  Signal_Correction correction;
  std::string record_path;
  Export_File record;
  std::size_t features = 0;
  std::size_t cells = 0;          // feature x batch cells
  std::size_t curve_cells = 0;    // corrected by the curve
  std::size_t flagged_cells = 0;  // left uncorrected
  std::size_t dropped[4] = {};    // by keep-qc-rsd, keep-d-ratio, keep-present, blank-ratio
};

// The file name of the record beside an export.
inline std::string Signal_Record_Path(const std::string& out_path) {
  return out_path + ".signal.tsv";
}

#endif  // VARNEL_EXPORT_SIGNAL_CORRECTION_H_
