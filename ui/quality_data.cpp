#include "ui/quality_data.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "export/sample_sheet.h"
#include "storage/aligned_result.h"

namespace Varnel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPpm = 1e6;
constexpr double kPercent = 100.0;

// The sheet's group and order of each sample; throws naming the sheet and up
// to five samples it leaves out.
void Apply_Sheet(Quality_Data& q, const Sample_Sheet& sheet) {
  std::map<std::string, std::size_t> row_of;
  for (std::size_t r = 0; r < sheet.rows.size(); ++r) row_of.emplace(sheet.rows[r].first, r);
  std::map<std::string, int> uses;
  for (const Sample_Quality& s : q.samples) ++uses[s.name];
  std::map<std::string, std::uint32_t> group_index;
  std::vector<std::string> missing;
  for (Sample_Quality& s : q.samples) {
    auto it = row_of.end();
    if (uses[s.name] > 1) it = row_of.find(s.name + " (" + std::to_string(s.sample_id) + ")");
    if (it == row_of.end()) it = row_of.find(s.name);
    if (it == row_of.end()) {
      missing.push_back(s.name);
      continue;
    }
    const std::string& group = sheet.rows[it->second].second;
    const auto [g, added] =
        group_index.emplace(group, static_cast<std::uint32_t>(q.group_names.size()));
    if (added) q.group_names.push_back(group);
    s.group = g->second;
    s.order = sheet.order.empty() ? kNaN : sheet.order[it->second];
  }
  if (!missing.empty()) {
    std::string list;
    for (std::size_t i = 0; i < missing.size() && i < 5; ++i)
      list += (i ? ", \"" : "\"") + missing[i] + "\"";
    if (missing.size() > 5) list += " and " + std::to_string(missing.size() - 5) + " more";
    throw Quality_Error(sheet.path + ": no group for sample" + (missing.size() > 1 ? "s " : " ") +
                        list);
  }
  q.has_sheet = true;
  q.has_order = !sheet.order.empty();
}

bool Is_Qc(const std::string& group) {
  return group.size() == 2 && (group[0] == 'Q' || group[0] == 'q') &&
         (group[1] == 'C' || group[1] == 'c');
}

double Cv_Percent(double sum, double sum_sq, std::size_t n) {
  const double mean = sum / static_cast<double>(n);
  const double var = std::max(0.0, (sum_sq - n * mean * mean) / static_cast<double>(n - 1));
  return std::sqrt(var) / mean * kPercent;
}

// Correlation and PCA from the log10 intensities of the chosen groups:
// cells[g * n + s], NaN where the sample is missing.
void Sample_Matrix_Figures(Quality_Data& q, const std::vector<double>& cells, std::size_t groups) {
  const std::size_t n = q.samples.size();
  q.matrix_groups = groups;
  std::vector<std::vector<double>> column(n, std::vector<double>(groups));
  for (std::size_t g = 0; g < groups; ++g)
    for (std::size_t s = 0; s < n; ++s) column[s][g] = cells[g * n + s];
  std::vector<std::vector<double>> r(n);
  for (std::size_t a = 0; a < n; ++a)
    for (std::size_t b = a + 1; b < n; ++b) {
      const double v = Pearson(column[a], column[b]);
      r[a].push_back(v);
      r[b].push_back(v);
    }
  std::vector<double> medians(n);
  for (std::size_t s = 0; s < n; ++s) q.samples[s].median_correlation = medians[s] = Median(r[s]);
  const std::vector<double> scores = Robust_Scores(medians);
  for (std::size_t s = 0; s < n; ++s) q.samples[s].correlation_score = scores[s];

  std::vector<double> pc[2];
  q.has_pca = Pca_Scores(cells, n, groups, pc, q.pc_share);
  for (std::size_t s = 0; s < n; ++s) {
    q.samples[s].pc1 = pc[0][s];
    q.samples[s].pc2 = pc[1][s];
  }
}

void Find_Empty_Inputs(Quality_Data& q) {
  if (q.run_inputs.size() < 2) return;
  const std::vector<std::string>& header = q.run_inputs.front();
  const auto column = [&](const char* name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const std::size_t file = column("File_Name"), peaks = column("Peaks_Read"),
                    id = column("SAMPLE_ID");
  if (file >= header.size() || peaks >= header.size() || id >= header.size()) return;
  std::set<std::string> with_rows;
  for (const Sample_Quality& s : q.samples) with_rows.insert(std::to_string(s.sample_id));
  for (std::size_t r = 1; r < q.run_inputs.size(); ++r) {
    const std::vector<std::string>& row = q.run_inputs[r];
    if (row.size() > std::max({file, peaks, id}) && row[peaks] == "0" && !with_rows.count(row[id]))
      q.empty_inputs.push_back(row[file]);
  }
}

// The anchors of each sample, the longest stretch of the corrected range
// each corrected sample leaves without an anchor, and the corrected samples
// least supported first.
void Apply_Anchors(Quality_Data& q, Quality_Rows& raw) {
  q.has_anchors = true;
  bool any = false;
  for (const Sample_Quality& s : q.samples) {
    if (s.correction.rt.empty()) continue;
    if (!any)
      q.correction_low = s.correction.rt.front(), q.correction_high = s.correction.rt.back();
    any = true;
    q.correction_low = std::min(q.correction_low, s.correction.rt.front());
    q.correction_high = std::max(q.correction_high, s.correction.rt.back());
  }
  std::vector<std::uint32_t> corrected;
  for (std::uint32_t i = 0; i < q.samples.size(); ++i) {
    Sample_Quality& s = q.samples[i];
    auto it = raw.anchors.find(s.sample_id);
    if (it != raw.anchors.end()) s.anchors = std::move(it->second);
    if (s.correction.rt.empty()) continue;
    corrected.push_back(i);
    // The stretches between the range's ends and the anchors inside it.
    double from = q.correction_low;
    s.anchor_gap = -1.0;
    auto stretch = [&](double to) {
      if (to - from > s.anchor_gap) {
        s.anchor_gap = to - from;
        s.anchor_gap_from = from;
        s.anchor_gap_to = to;
      }
      from = std::max(from, to);
    };
    for (const Curve_Point& a : s.anchors)
      if (a.x >= q.correction_low && a.x <= q.correction_high) stretch(a.x);
    stretch(q.correction_high);
  }
  std::stable_sort(corrected.begin(), corrected.end(), [&](std::uint32_t a, std::uint32_t b) {
    const Sample_Quality& x = q.samples[a];
    const Sample_Quality& y = q.samples[b];
    if (x.anchor_gap != y.anchor_gap) return x.anchor_gap > y.anchor_gap;
    return x.anchors.size() < y.anchors.size();
  });
  q.least_supported = std::move(corrected);
  std::vector<double> gaps;
  for (std::uint32_t s : q.least_supported) gaps.push_back(q.samples[s].anchor_gap);
  q.median_anchor_gap = Median(gaps);
  while (q.weakly_supported < q.least_supported.size() &&
         q.samples[q.least_supported[q.weakly_supported]].anchor_gap > 0.0 &&
         q.samples[q.least_supported[q.weakly_supported]].anchor_gap >=
             kWeakSupportFactor * q.median_anchor_gap)
    ++q.weakly_supported;
}

Quality_Data Compute(Quality_Rows raw, const std::string& path, const Quality_Options& options) {
  Quality_Data q;
  q.file = path;
  q.peaks = raw.peaks;
  q.unaligned_peaks = raw.unaligned;
  q.has_correction = !raw.corrections.empty();
  q.has_run = raw.has_run;
  q.run_items = std::move(raw.run_items);
  q.run_inputs = std::move(raw.run_inputs);
  q.member_choice = raw.member_choice;
  q.gross_shift_not_applied = std::move(raw.gross_shift_not_applied);
  q.samples.resize(raw.samples.size());
  for (std::size_t s = 0; s < raw.samples.size(); ++s) {
    Quality_Sample_Rows& read = raw.samples[s];
    q.samples[s].sample_id = read.sample_id;
    q.samples[s].name = std::move(read.name);
    q.samples[s].peaks_read = read.peaks_read;
    q.samples[s].peaks_aligned = read.peaks_aligned;
  }
  const std::size_t n_samples = q.samples.size();
  Find_Empty_Inputs(q);
  if (options.sheet != nullptr) Apply_Sheet(q, *options.sheet);
  std::vector<bool> is_qc(n_samples, false);
  std::size_t n_qc = 0;
  if (q.has_sheet)
    for (std::size_t s = 0; s < n_samples; ++s) {
      is_qc[s] = Is_Qc(q.group_names[q.samples[s].group]);
      n_qc += is_qc[s] ? 1 : 0;
    }
  q.has_qc = n_qc > 0;
  q.median_anchor_gap = kNaN;
  for (Sample_Quality& s : q.samples) {
    if (!q.has_order) s.order = kNaN;
    s.anchor_gap = s.anchor_gap_from = s.anchor_gap_to = kNaN;
    auto it = raw.corrections.find(s.sample_id);
    if (it == raw.corrections.end()) continue;
    s.correction = it->second;
    for (double v : s.correction.shift) s.max_abs_shift = std::max(s.max_abs_shift, std::abs(v));
  }
  if (raw.has_anchors) Apply_Anchors(q, raw);
  if (options.progress && !options.progress(raw.peaks)) throw Quality_Cancelled();

  // Members: the first row of each (group, sample, compound).
  std::vector<Quality_Member_Row>& rows = raw.rows;
  const auto by_member = [](const Quality_Member_Row& a, const Quality_Member_Row& b) {
    if (a.align_id != b.align_id) return a.align_id < b.align_id;
    if (a.sample != b.sample) return a.sample < b.sample;
    return a.compound_id < b.compound_id;
  };
  if (!std::is_sorted(rows.begin(), rows.end(), by_member))
    std::stable_sort(rows.begin(), rows.end(), by_member);
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](const Quality_Member_Row& a, const Quality_Member_Row& b) {
                           return a.align_id == b.align_id && a.sample == b.sample &&
                                  a.compound_id == b.compound_id;
                         }),
             rows.end());
  q.members = rows.size();

  std::vector<const Rt_Correction*> correction_of(n_samples, nullptr);
  for (std::size_t s = 0; s < n_samples; ++s) {
    auto it = raw.corrections.find(q.samples[s].sample_id);
    if (it != raw.corrections.end()) correction_of[s] = &it->second;
  }

  q.groups_by_samples.assign(n_samples + 1, 0);
  std::vector<std::vector<double>> x_of(n_samples), before_of(n_samples), after_of(n_samples),
      ppm_of(n_samples);
  std::vector<double> all_ppm, all_cv, masses, per_sample_intensity(n_samples, 0.0);
  std::vector<std::vector<double>> log_intensity_of(n_samples);
  std::vector<std::size_t> in_filled(n_samples, 0);
  std::vector<double> filled_cells;       // log10 intensity, group-major, NaN when missing
  std::vector<std::uint32_t> filled_ids;  // Align_ID of each well-filled group
  std::vector<double> all_abs_before, all_abs_after;
  std::vector<std::uint32_t> group_samples;
  for (std::size_t begin = 0; begin < rows.size();) {
    std::size_t end = begin;
    while (end < rows.size() && rows[end].align_id == rows[begin].align_id) ++end;
    ++q.groups;
    group_samples.clear();
    for (std::size_t i = begin; i < end; ++i)
      if (group_samples.empty() || group_samples.back() != rows[i].sample)
        group_samples.push_back(rows[i].sample);
    const std::size_t k = group_samples.size();
    ++q.groups_by_samples[k];
    if (k == n_samples) ++q.groups_complete;
    if (2 * k >= n_samples) ++q.groups_half;
    if (k == 1) ++q.groups_single;

    if (end - begin >= 2) {
      masses.clear();
      for (std::size_t i = begin; i < end; ++i) masses.push_back(rows[i].mass);
      const double median_mass = Median(masses);
      for (std::size_t i = begin; i < end; ++i) {
        const Quality_Member_Row& m = rows[i];
        ++q.samples[m.sample].members;
        if (std::isfinite(median_mass) && median_mass != 0.0 && std::isfinite(m.mass)) {
          const double ppm = (m.mass - median_mass) / median_mass * kPpm;
          all_ppm.push_back(ppm);
          ppm_of[m.sample].push_back(ppm);
          if (std::isfinite(m.mz)) q.ppm_by_mz.push_back(Curve_Point{m.mz, ppm});
        }
        if (!std::isfinite(m.rt) || !std::isfinite(m.centre)) continue;
        const Rt_Correction* c = correction_of[m.sample];
        const double before = m.rt - m.centre;
        const double after = c != nullptr ? m.rt + c->Shift(m.rt) - m.centre : before;
        q.rt_deviations.push_back(Rt_Deviation{m.centre, before, after, m.sample});
        all_abs_before.push_back(std::abs(before));
        all_abs_after.push_back(std::abs(after));
        x_of[m.sample].push_back(m.centre);
        before_of[m.sample].push_back(before);
        after_of[m.sample].push_back(after);
      }
    }

    for (std::size_t i = begin; i < end; ++i)
      if (std::isfinite(rows[i].intensity) && rows[i].intensity > 0.0)
        per_sample_intensity[rows[i].sample] += rows[i].intensity;
    const bool filled = k >= 2 && 2 * k >= n_samples;
    if (filled) {
      filled_cells.resize(filled_cells.size() + n_samples, kNaN);
      filled_ids.push_back(rows[begin].align_id);
    }
    double sum = 0.0, sum_sq = 0.0, qc_sum = 0.0, qc_sum_sq = 0.0, st_sum = 0.0, st_sum_sq = 0.0;
    std::size_t n = 0, n_qc_here = 0, n_study_here = 0;
    for (std::uint32_t s : group_samples) {
      const double v = per_sample_intensity[s];
      per_sample_intensity[s] = 0.0;
      if (v <= 0.0) continue;
      log_intensity_of[s].push_back(std::log10(v));
      if (!filled) continue;
      ++in_filled[s];
      filled_cells[filled_cells.size() - n_samples + s] = std::log10(v);
      sum += v;
      sum_sq += v * v;
      ++n;
      (is_qc[s] ? qc_sum : st_sum) += v;
      (is_qc[s] ? qc_sum_sq : st_sum_sq) += v * v;
      ++(is_qc[s] ? n_qc_here : n_study_here);
    }
    if (filled) {
      for (std::uint32_t s : group_samples)
        if (!std::isfinite(filled_cells[filled_cells.size() - n_samples + s])) ++in_filled[s];
      if (n >= 2) {
        all_cv.push_back(Cv_Percent(sum, sum_sq, n));
        ++q.cv_groups;
      }
      if (q.has_qc && n_qc_here >= 2 && n_study_here >= 2) {
        q.cv_qc.push_back(Cv_Percent(qc_sum, qc_sum_sq, n_qc_here));
        q.cv_study.push_back(Cv_Percent(st_sum, st_sum_sq, n_study_here));
      }
    }
    begin = end;
  }

  // Range of the group centres, then the per-sample figures.
  bool any = false;
  for (const Rt_Deviation& d : q.rt_deviations) {
    if (!any) q.rt_low = q.rt_high = d.centre;
    q.rt_low = std::min(q.rt_low, d.centre);
    q.rt_high = std::max(q.rt_high, d.centre);
    any = true;
  }
  const double half_width = std::max(kSmoothHalfWindow * (q.rt_high - q.rt_low), 1e-9);
  std::vector<double> abs_medians(n_samples, kNaN), abs_medians_after(n_samples, kNaN);
  for (std::size_t s = 0; s < n_samples; ++s) {
    Sample_Quality& sample = q.samples[s];
    sample.median_rt_before = Median(before_of[s]);
    sample.median_rt_after = Median(after_of[s]);
    std::vector<double> abs_values = before_of[s];
    for (double& v : abs_values) v = std::abs(v);
    sample.median_abs_rt = abs_medians[s] = Median(std::move(abs_values));
    abs_values = after_of[s];
    for (double& v : abs_values) v = std::abs(v);
    sample.median_abs_rt_after = abs_medians_after[s] = Median(std::move(abs_values));
    sample.median_ppm = Median(ppm_of[s]);
    sample.curve_before = Running_Median(x_of[s], before_of[s], q.rt_low, q.rt_high, kSmoothPoints,
                                         half_width, kSmoothMinValues);
    sample.curve_after = q.has_correction
                             ? Running_Median(x_of[s], after_of[s], q.rt_low, q.rt_high,
                                              kSmoothPoints, half_width, kSmoothMinValues)
                             : sample.curve_before;
  }
  const std::size_t filled_groups = n_samples == 0 ? 0 : filled_cells.size() / n_samples;
  for (std::size_t s = 0; s < n_samples; ++s) {
    q.samples[s].missing = filled_groups - in_filled[s];
    q.samples[s].log_intensity = Make_Box(std::move(log_intensity_of[s]));
  }
  q.median_abs_rt = Median(std::move(all_abs_before));
  q.median_abs_rt_after = Median(std::move(all_abs_after));
  std::sort(q.cv_qc.begin(), q.cv_qc.end());
  std::sort(q.cv_study.begin(), q.cv_study.end());
  if (options.progress && !options.progress(raw.peaks)) throw Quality_Cancelled();
  {
    // At most kMaxMatrixGroups groups, evenly through the Align_IDs.
    const std::size_t stride =
        std::max<std::size_t>(1, (filled_groups + kMaxMatrixGroups - 1) / kMaxMatrixGroups);
    std::vector<double> chosen;
    std::size_t used = 0;
    for (std::size_t g = 0; g < filled_groups; g += stride, ++used)
      chosen.insert(chosen.end(), filled_cells.begin() + g * n_samples,
                    filled_cells.begin() + (g + 1) * n_samples);
    if (options.sheet != nullptr && q.has_order && q.has_qc) {
      std::vector<Result_Sample> named(n_samples);
      std::map<std::string, int> uses;
      for (const Sample_Quality& s : q.samples) ++uses[s.name];
      for (std::size_t s = 0; s < n_samples; ++s) {
        named[s].id = static_cast<std::uint32_t>(q.samples[s].sample_id);
        named[s].name = q.samples[s].name;
        named[s].shown =
            uses[q.samples[s].name] > 1
                ? q.samples[s].name + " (" + std::to_string(q.samples[s].sample_id) + ")"
                : q.samples[s].name;
      }
      for (double& v : filled_cells) v = std::isfinite(v) ? std::pow(10.0, v) : kNaN;
      q.signal = Make_Quality_Signal(named, *options.sheet, filled_cells, filled_ids);
    } else if (options.sheet != nullptr) {
      q.signal.why_not = q.has_order
                             ? "the QC correction needs QC samples in the sheet"
                             : "the QC correction needs an order column in the sample sheet";
    }
    filled_cells.clear();
    filled_cells.shrink_to_fit();
    Sample_Matrix_Figures(q, chosen, used);
  }
  const std::vector<double> scores = Robust_Scores(abs_medians);
  for (std::size_t s = 0; s < n_samples; ++s) q.samples[s].outlier_score = scores[s];
  q.outlier_order = Rank_Descending(abs_medians);
  q.outlier_order_after = Rank_Descending(abs_medians_after);

  q.mass_ppm = Make_Histogram(all_ppm, Histogram_Range::kSymmetric);
  for (double& v : all_ppm) v = std::abs(v);
  q.median_abs_ppm = Median(std::move(all_ppm));
  q.intensity_cv = Make_Histogram(all_cv, Histogram_Range::kFromZero);
  return q;
}

}  // namespace

Quality_Data Load_Quality_Data(const std::string& path, const Quality_Options& options) {
  return Compute(Read_Quality_Rows(path, options), path, options);
}

}  // namespace Varnel
