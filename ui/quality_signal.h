// The QC correction's figures for the quality window and varnel-report: the
// well-filled groups' intensities corrected as `varnel-export --correct-signal
// auto` would, with the held-out QC RSD of each group before and after, PCA
// scores before and after, the groups that stay worst after correction with
// their batch fits, and a verdict line built on the held-out figures.
// Computed when the sample sheet gives an injection order and holds QCs.
#ifndef VARNEL_UI_QUALITY_SIGNAL_H_
#define VARNEL_UI_QUALITY_SIGNAL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/signal_correction.h"

namespace Varnel {

// Groups shown against injection order: those with the largest held-out QC
// RSD after correction.
inline constexpr std::size_t kWorstSignalFeatures = 3;
// A group counts as "stable" at or below this held-out QC RSD, percent.
inline constexpr double kStableQcRsd = 20.0;

struct Signal_Feature_View {
  std::size_t group = 0;       // index among the groups given
  std::uint32_t align_id = 0;  // the group's Align_ID
  double rsd_before = 0.0, rsd_after = 0.0;
  std::vector<double> values;   // normalised, per sample; NaN where missing
  std::vector<Batch_Fit> fits;  // by batch, natural-log levels
};

// The correction as prepared and the corrected groups' intensities, kept so
// that any of them can be shown after the figures are made.
struct Signal_Source {
  explicit Signal_Source(Signal_Correction c) : correction(std::move(c)) {}
  Signal_Correction correction;
  std::vector<std::uint32_t> align_ids;  // ascending
  std::vector<std::size_t> group_of;     // the group of each Align_ID above
  std::size_t samples = 0;
  std::vector<float> cells;  // group-major, linear, NaN where missing
};

struct Quality_Signal {
  bool shown = false;
  std::string why_not;  // when not shown with a sheet: the reason
  Signal_Design design;
  std::vector<const char*> batch_methods;  // per batch: "median", "curve" or "uncorrected"
  // Held-out QC RSD per group (percent), of the groups that have both.
  std::vector<double> rsd_before, rsd_after;
  double median_before = 0.0, median_after = 0.0;
  std::size_t stable_before = 0, stable_after = 0;  // groups at or below kStableQcRsd
  std::size_t flagged_cells = 0;
  // PCA scores per sample before and after (NaN without a PCA).
  bool has_pca = false;
  std::vector<double> pc_before[2], pc_after[2];
  double share_before[2] = {0.0, 0.0}, share_after[2] = {0.0, 0.0};
  // Replicate groups (study groups with two or more samples): median RSD of
  // the study groups' values per group, before and after; NaN without.
  double replicate_before = 0.0, replicate_after = 0.0;
  // Injection orders halfway between consecutive batches.
  std::vector<double> batch_borders;
  std::vector<Signal_Feature_View> worst;
  std::string verdict;
  std::shared_ptr<const Signal_Source> source;  // set when shown
};

// The view of the group with this Align_ID, as the worst groups are shown;
// nothing when the correction is not shown or does not hold the group (it
// holds the groups present in at least half of the samples).
std::optional<Signal_Feature_View> Signal_Feature_Of(const Quality_Signal& signal,
                                                     std::uint32_t align_id);

// The figures from the groups' intensities (cells[g * n + s], linear, NaN or 0
// where missing; align_ids[g] each group's Align_ID) of the samples, looked up
// in the sheet by their shown names. Without an order column or a QC it is not shown, and
// why_not says so; never throws for the sheet's content.
Quality_Signal Make_Quality_Signal(const std::vector<Result_Sample>& samples,
                                   const ::Sample_Sheet& sheet, const std::vector<double>& cells,
                                   const std::vector<std::uint32_t>& align_ids);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_SIGNAL_H_
