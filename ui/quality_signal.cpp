#include "ui/quality_signal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "ui/quality_data.h"

namespace Varnel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Relative standard deviation (percent) of the finite values above 0; NaN
// below two.
double Rsd(const std::vector<double>& values) {
  double sum = 0.0, sum_sq = 0.0;
  std::size_t n = 0;
  for (double v : values)
    if (std::isfinite(v) && v > 0.0) {
      sum += v;
      sum_sq += v * v;
      ++n;
    }
  if (n < 2) return kNaN;
  const double mean = sum / static_cast<double>(n);
  const double var = std::max(0.0, (sum_sq - n * mean * mean) / static_cast<double>(n - 1));
  return std::sqrt(var) / mean * 100.0;
}

// Median over the groups of the median RSD of the study groups with two or
// more values. groups_of: study group index per sample (-1 for others).
double Replicate_Rsd(const std::vector<double>& cells, std::size_t n, std::size_t groups,
                     const std::vector<int>& group_of, int n_groups) {
  std::vector<double> per_feature;
  std::vector<std::vector<double>> by_group(static_cast<std::size_t>(n_groups));
  for (std::size_t g = 0; g < groups; ++g) {
    for (auto& v : by_group) v.clear();
    for (std::size_t s = 0; s < n; ++s)
      if (group_of[s] >= 0)
        by_group[static_cast<std::size_t>(group_of[s])].push_back(cells[g * n + s]);
    std::vector<double> rsds;
    for (const auto& v : by_group) {
      const double r = Rsd(v);
      if (std::isfinite(r)) rsds.push_back(r);
    }
    const double m = Median(rsds);
    if (std::isfinite(m)) per_feature.push_back(m);
  }
  return Median(per_feature);
}

std::string Percent(double v) {
  if (!std::isfinite(v)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", v);
  return text;
}

}  // namespace

Quality_Signal Make_Quality_Signal(const std::vector<Result_Sample>& samples,
                                   const Sample_Sheet& sheet, const std::vector<double>& cells,
                                   const std::vector<std::uint32_t>& align_ids) {
  Quality_Signal out;
  const std::size_t groups = align_ids.size();
  const std::size_t n = samples.size();
  if (sheet.order.empty()) {
    out.why_not = "the QC correction needs an order column in the sample sheet";
    return out;
  }
  Signal_Options options;
  options.method = Signal_Method::kAuto;
  try {
    out.design = Make_Signal_Design(samples, sheet, options);
  } catch (const std::exception& e) {
    out.why_not = e.what();
    return out;
  }
  if (groups == 0 || n == 0) {
    out.why_not = "no well-filled group to correct";
    return out;
  }
  Signal_Correction correction(out.design, options);
  std::vector<double> values(n), factors;
  const auto feature = [&](std::size_t g) {
    for (std::size_t s = 0; s < n; ++s) values[s] = cells[g * n + s];
  };
  if (correction.Needs_First_Pass()) {
    for (std::size_t g = 0; g < groups; ++g) {
      feature(g);
      correction.Observe(values);
    }
  }
  correction.Prepare();
  const std::size_t n_batches = out.design.batch_names.size();
  out.batch_methods.assign(n_batches, "median");
  for (std::size_t b = 0; b < n_batches && b < correction.batch_choice().size(); ++b)
    out.batch_methods[b] = correction.batch_choice()[b] == Batch_Fit::kCurve    ? "curve"
                           : correction.batch_choice()[b] == Batch_Fit::kMedian ? "median"
                                                                                : "uncorrected";

  std::vector<double> log_before(groups * n), log_after(groups * n);
  std::vector<std::pair<double, std::size_t>> by_rsd;
  for (std::size_t g = 0; g < groups; ++g) {
    feature(g);
    for (std::size_t s = 0; s < n; ++s)
      log_before[g * n + s] = values[s] > 0.0 ? std::log10(values[s]) : kNaN;
    const Feature_Signal f = correction.Correct(values, factors);
    for (std::size_t s = 0; s < n; ++s)
      log_after[g * n + s] = values[s] > 0.0 ? std::log10(values[s]) : kNaN;
    out.flagged_cells += f.flagged_cells;
    if (std::isfinite(f.qc_rsd_before) && std::isfinite(f.qc_rsd_after)) {
      out.rsd_before.push_back(f.qc_rsd_before);
      out.rsd_after.push_back(f.qc_rsd_after);
      out.stable_before += f.qc_rsd_before <= kStableQcRsd ? 1 : 0;
      out.stable_after += f.qc_rsd_after <= kStableQcRsd ? 1 : 0;
      by_rsd.emplace_back(f.qc_rsd_after, g);
    }
  }
  if (out.rsd_before.empty()) {
    out.why_not = "no group has two detected QC values in a batch";
    return out;
  }
  out.shown = true;
  out.median_before = Median(out.rsd_before);
  out.median_after = Median(out.rsd_after);

  auto source = std::make_shared<Signal_Source>(correction);
  source->samples = n;
  source->cells.assign(cells.begin(), cells.end());
  source->group_of.resize(groups);
  std::iota(source->group_of.begin(), source->group_of.end(), std::size_t{0});
  std::stable_sort(source->group_of.begin(), source->group_of.end(),
                   [&](std::size_t a, std::size_t b) { return align_ids[a] < align_ids[b]; });
  for (std::size_t g : source->group_of) source->align_ids.push_back(align_ids[g]);
  out.source = source;

  // The worst after correction, ties by group.
  std::stable_sort(by_rsd.begin(), by_rsd.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; i < by_rsd.size() && i < kWorstSignalFeatures; ++i) {
    std::optional<Signal_Feature_View> view = Signal_Feature_Of(out, align_ids[by_rsd[i].second]);
    if (view) out.worst.push_back(std::move(*view));
  }

  const bool pca_before = Pca_Scores(log_before, n, groups, out.pc_before, out.share_before);
  const bool pca_after = Pca_Scores(log_after, n, groups, out.pc_after, out.share_after);
  out.has_pca = pca_before && pca_after;

  // Batch borders: halfway between a batch's last and the next one's first injection.
  std::vector<double> first(n_batches, kNaN), last(n_batches, kNaN);
  for (const Signal_Sample& s : out.design.samples) {
    if (!std::isfinite(s.order) || s.batch >= n_batches) continue;
    if (!(s.order >= first[s.batch])) first[s.batch] = s.order;
    if (!(s.order <= last[s.batch])) last[s.batch] = s.order;
  }
  for (std::size_t b = 0; b + 1 < n_batches; ++b)
    if (std::isfinite(last[b]) && std::isfinite(first[b + 1]))
      out.batch_borders.push_back((last[b] + first[b + 1]) / 2.0);

  // Replicate groups: the study samples' groups with two or more samples.
  std::map<std::string, int> index;
  std::map<std::string, int> count;
  for (const Signal_Sample& s : out.design.samples)
    if (s.role == Sample_Role::kStudy) ++count[s.group];
  std::vector<int> group_of(n, -1);
  for (std::size_t s = 0; s < n; ++s) {
    const Signal_Sample& sample = out.design.samples[s];
    if (sample.role != Sample_Role::kStudy || count[sample.group] < 2) continue;
    group_of[s] = index.emplace(sample.group, static_cast<int>(index.size())).first->second;
  }
  out.replicate_before = out.replicate_after = kNaN;
  if (!index.empty()) {
    std::vector<double> linear_before(cells.size()), linear_after(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      linear_before[i] = std::isfinite(log_before[i]) ? std::pow(10.0, log_before[i]) : kNaN;
      linear_after[i] = std::isfinite(log_after[i]) ? std::pow(10.0, log_after[i]) : kNaN;
    }
    const int n_groups = static_cast<int>(index.size());
    out.replicate_before = Replicate_Rsd(linear_before, n, groups, group_of, n_groups);
    out.replicate_after = Replicate_Rsd(linear_after, n, groups, group_of, n_groups);
  }

  std::size_t curves = 0;
  for (const char* m : out.batch_methods) curves += std::string(m) == "curve" ? 1 : 0;
  out.verdict = "QC correction (auto, curve in " + std::to_string(curves) + " of " +
                std::to_string(n_batches) + (n_batches == 1 ? " batch" : " batches") +
                "): held-out QC RSD median " + Percent(out.median_before) + " \u2192 " +
                Percent(out.median_after) + "; groups at or below " +
                std::to_string(static_cast<int>(kStableQcRsd)) +
                " %: " + std::to_string(out.stable_before) + " \u2192 " +
                std::to_string(out.stable_after) + " of " + std::to_string(out.rsd_before.size());
  if (std::isfinite(out.replicate_before) && std::isfinite(out.replicate_after))
    out.verdict += "; replicate RSD median " + Percent(out.replicate_before) + " \u2192 " +
                   Percent(out.replicate_after);
  if (out.flagged_cells > 0)
    out.verdict += "; " + std::to_string(out.flagged_cells) + " group x batch cells uncorrected";
  return out;
}

std::optional<Signal_Feature_View> Signal_Feature_Of(const Quality_Signal& signal,
                                                     std::uint32_t align_id) {
  if (!signal.shown || !signal.source) return std::nullopt;
  const Signal_Source& source = *signal.source;
  const auto at = std::lower_bound(source.align_ids.begin(), source.align_ids.end(), align_id);
  if (at == source.align_ids.end() || *at != align_id) return std::nullopt;
  const std::size_t n = source.samples;
  Signal_Feature_View view;
  view.group = source.group_of[static_cast<std::size_t>(at - source.align_ids.begin())];
  view.align_id = align_id;
  const auto first = source.cells.begin() + static_cast<std::ptrdiff_t>(view.group * n);
  view.values.assign(first, first + static_cast<std::ptrdiff_t>(n));
  // The held-out figures from a correction of a copy; the view keeps the
  // values as measured.
  std::vector<double> corrected = view.values, factors;
  const Feature_Signal f = source.correction.Correct(corrected, factors);
  view.rsd_before = f.qc_rsd_before;
  view.rsd_after = f.qc_rsd_after;
  view.fits = source.correction.Fits(view.values);
  return view;
}

}  // namespace Varnel
