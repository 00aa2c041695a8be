#include "ui/quality_data.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <numeric>
#include <unordered_map>

#include "storage/aligned_result.h"

namespace Varnel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMadToSigma = 1.4826;
constexpr double kPpm = 1e6;
constexpr double kPercent = 100.0;

// The columns the figures need, read once.
constexpr Result_Columns kFigureColumns = {"SAMPLE_ID",
                                           "SAMPLE_NAME",
                                           "Align_ID",
                                           "Compound_ID",
                                           "Compound_MolecularMass",
                                           "Compound_Retention_Time",
                                           "Compound_Intensity",
                                           "Align_RT"};
constexpr std::size_t kSampleId = Column_Of("SAMPLE_ID");
constexpr std::size_t kSampleName = Column_Of("SAMPLE_NAME");
constexpr std::size_t kAlignId = Column_Of("Align_ID");
constexpr std::size_t kCompoundId = Column_Of("Compound_ID");
constexpr std::size_t kMass = Column_Of("Compound_MolecularMass");
constexpr std::size_t kRt = Column_Of("Compound_Retention_Time");
constexpr std::size_t kIntensity = Column_Of("Compound_Intensity");
constexpr std::size_t kAlignRt = Column_Of("Align_RT");

// Value at quantile q (0..1) of the values, linear between neighbours as in
// a sorted list. Reorders values (nth_element): O(n) instead of a sort.
double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return kNaN;
  const double pos = q * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(pos));
  std::nth_element(values.begin(), values.begin() + below, values.end());
  const double low = values[below];
  if (below + 1 >= values.size()) return low;
  const double high = *std::min_element(values.begin() + below + 1, values.end());
  return low + (pos - static_cast<double>(below)) * (high - low);
}

// A member candidate: one row of an aligned peak.
struct Member_Row {
  std::uint32_t align_id;
  std::uint32_t sample;  // index into samples
  std::int64_t compound_id;
  double mass;
  double rt;
  double intensity;
  double centre;
};

struct Raw_Result {
  std::vector<Sample_Quality> samples;
  std::vector<Member_Row> rows;
  std::size_t peaks = 0;
  std::size_t unaligned = 0;
  std::map<std::int64_t, Rt_Correction> corrections;
  bool has_run = false;
  std::vector<std::pair<std::string, std::string>> run_items;
  std::vector<std::vector<std::string>> run_inputs;
};

void Read_Peaks(Aligned_Result& result, Raw_Result& raw) {
  Result_Rows rows = result.Scan(kFigureColumns);
  std::unordered_map<std::int64_t, std::uint32_t> index_of;
  std::int64_t last_id = 0;
  std::uint32_t last_index = std::numeric_limits<std::uint32_t>::max();
  while (rows.Next()) {
    const std::int64_t sample_id = rows.Int(kSampleId);
    if (last_index == std::numeric_limits<std::uint32_t>::max() || sample_id != last_id) {
      auto [it, added] =
          index_of.try_emplace(sample_id, static_cast<std::uint32_t>(index_of.size()));
      if (added) {
        Sample_Quality sample;
        sample.sample_id = sample_id;
        sample.name = std::string(rows.Text(kSampleName));
        raw.samples.push_back(std::move(sample));
      }
      last_id = sample_id;
      last_index = it->second;
    }
    ++raw.peaks;
    Sample_Quality& sample = raw.samples[last_index];
    ++sample.peaks_read;
    const std::int64_t align_id = rows.Int(kAlignId);
    if (align_id == 0) {
      ++raw.unaligned;
      continue;
    }
    ++sample.peaks_aligned;
    raw.rows.push_back(Member_Row{static_cast<std::uint32_t>(align_id), last_index,
                                  rows.Int(kCompoundId), rows.Real(kMass), rows.Real(kRt),
                                  rows.Real(kIntensity), rows.Real(kAlignRt)});
  }
}

void Read_Extras(Aligned_Result& result, Raw_Result& raw) {
  if (const auto points = result.Read_Rt_Correction()) {
    for (const Rt_Shift_Point& p : *points) {
      if (!std::isfinite(p.rt) || !std::isfinite(p.shift)) continue;
      Rt_Correction& c = raw.corrections[p.sample];
      c.rt.push_back(p.rt);
      c.shift.push_back(p.shift);
    }
  }
  Run_Record_Text run = result.Read_Run_Record_Text();
  raw.has_run = run.has_items;
  raw.run_items = std::move(run.items);
  if (run.has_inputs) {
    raw.run_inputs.push_back(std::move(run.input_columns));
    for (std::vector<std::string>& row : run.inputs) raw.run_inputs.push_back(std::move(row));
  }
}

Raw_Result Read_Result(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw Quality_Error(path + ": no such file");
  Raw_Result raw;
  try {
    Aligned_Result result(path);
    Read_Peaks(result, raw);
    Read_Extras(result, raw);
  } catch (const Aligned_Result_Error& e) {
    throw Quality_Error(e.what());
  }
  if (raw.peaks == 0) throw Quality_Error(path + ": the result holds no peaks");
  return raw;
}

// Sorts the samples by SAMPLE_ID and renumbers the rows' sample indexes.
void Order_Samples(Raw_Result& raw) {
  std::vector<std::uint32_t> order(raw.samples.size());
  std::iota(order.begin(), order.end(), 0U);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return raw.samples[a].sample_id < raw.samples[b].sample_id;
  });
  std::vector<std::uint32_t> new_index(order.size());
  std::vector<Sample_Quality> by_id;
  by_id.reserve(order.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) {
    new_index[order[i]] = i;
    by_id.push_back(std::move(raw.samples[order[i]]));
  }
  raw.samples = std::move(by_id);
  for (Member_Row& row : raw.rows) row.sample = new_index[row.sample];
}

Quality_Data Compute(Raw_Result raw, const std::string& path) {
  Order_Samples(raw);
  Quality_Data q;
  q.file = path;
  q.peaks = raw.peaks;
  q.unaligned_peaks = raw.unaligned;
  q.has_correction = !raw.corrections.empty();
  q.has_run = raw.has_run;
  q.run_items = std::move(raw.run_items);
  q.run_inputs = std::move(raw.run_inputs);
  q.samples = std::move(raw.samples);
  const std::size_t n_samples = q.samples.size();

  // Members: the first row of each (group, sample, compound).
  std::vector<Member_Row>& rows = raw.rows;
  const auto by_member = [](const Member_Row& a, const Member_Row& b) {
    if (a.align_id != b.align_id) return a.align_id < b.align_id;
    if (a.sample != b.sample) return a.sample < b.sample;
    return a.compound_id < b.compound_id;
  };
  if (!std::is_sorted(rows.begin(), rows.end(), by_member))
    std::stable_sort(rows.begin(), rows.end(), by_member);
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](const Member_Row& a, const Member_Row& b) {
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
        const Member_Row& m = rows[i];
        ++q.samples[m.sample].members;
        if (std::isfinite(median_mass) && median_mass != 0.0 && std::isfinite(m.mass)) {
          const double ppm = (m.mass - median_mass) / median_mass * kPpm;
          all_ppm.push_back(ppm);
          ppm_of[m.sample].push_back(ppm);
        }
        if (!std::isfinite(m.rt) || !std::isfinite(m.centre)) continue;
        const Rt_Correction* c = correction_of[m.sample];
        const double before = m.rt - m.centre;
        const double after = c != nullptr ? m.rt + c->Shift(m.rt) - m.centre : before;
        q.rt_deviations.push_back(Rt_Deviation{m.centre, before, after, m.sample});
        x_of[m.sample].push_back(m.centre);
        before_of[m.sample].push_back(before);
        after_of[m.sample].push_back(after);
      }
    }

    if (k >= 2 && 2 * k >= n_samples) {
      for (std::size_t i = begin; i < end; ++i)
        if (std::isfinite(rows[i].intensity) && rows[i].intensity > 0.0)
          per_sample_intensity[rows[i].sample] += rows[i].intensity;
      double sum = 0.0, sum_sq = 0.0;
      std::size_t n = 0;
      for (std::uint32_t s : group_samples) {
        const double v = per_sample_intensity[s];
        per_sample_intensity[s] = 0.0;
        if (v <= 0.0) continue;
        sum += v;
        sum_sq += v * v;
        ++n;
      }
      if (n >= 2) {
        const double mean = sum / static_cast<double>(n);
        const double var = std::max(0.0, (sum_sq - n * mean * mean) / static_cast<double>(n - 1));
        all_cv.push_back(std::sqrt(var) / mean * kPercent);
        ++q.cv_groups;
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

double Nice_Step(double step) {
  const double power = std::pow(10.0, std::floor(std::log10(step)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= step * (1.0 - 1e-12)) return m * power;
  return 10.0 * power;
}

double Median(std::vector<double> values) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty()) return kNaN;
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  const double upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + mid);
  return 0.5 * (lower + upper);
}

Histogram Make_Histogram(const std::vector<double>& values, Histogram_Range range) {
  Histogram h;
  std::vector<double> finite;
  finite.reserve(values.size());
  for (double v : values)
    if (std::isfinite(v)) finite.push_back(v);
  h.values = finite.size();
  h.median = kNaN;
  if (finite.empty()) return h;
  h.median = Quantile(finite, 0.5);

  double low = Quantile(finite, kHistogramTailQuantile);
  double high = Quantile(finite, 1.0 - kHistogramTailQuantile);
  if (range == Histogram_Range::kFromZero) {
    low = 0.0;
    high = std::max(high, 0.0);
  } else if (range == Histogram_Range::kSymmetric) {
    const double m = std::max(std::abs(low), std::abs(high));
    low = -m;
    high = m;
  }
  const double iqr = Quantile(finite, 0.75) - Quantile(finite, 0.25);
  const double fd = 2.0 * iqr / std::cbrt(static_cast<double>(finite.size()));
  // Freedman-Diaconis, held between kMaxHistogramBins bins and a handful
  // (5 to kMinHistogramBins, growing as the square root of the count).
  const double fewest = std::clamp(std::sqrt(static_cast<double>(finite.size())), 5.0,
                                   static_cast<double>(kMinHistogramBins));
  double width = std::clamp(fd, (high - low) / kMaxHistogramBins, (high - low) / fewest);
  if (!(width > 0.0) || !std::isfinite(width)) {
    // All values (nearly) equal: one bin around them.
    const double scale = std::max(std::abs(finite.front()), 1.0);
    width = Nice_Step(scale * 1e-3);
  } else {
    width = Nice_Step(width);
  }
  h.width = width;
  h.low = std::floor(low / width) * width;
  std::size_t bins = static_cast<std::size_t>(std::floor((high - h.low) / width)) + 1;
  bins = std::clamp<std::size_t>(bins, 1, kMaxHistogramBins + 2);
  h.counts.assign(bins, 0);
  const double end = h.low + static_cast<double>(bins) * width;
  for (double v : finite) {
    if (v < h.low) {
      ++h.below;
    } else if (v >= end) {
      ++h.above;
    } else {
      const auto i = std::min(bins - 1, static_cast<std::size_t>((v - h.low) / width));
      ++h.counts[i];
    }
  }
  return h;
}

std::vector<Curve_Point> Running_Median(const std::vector<double>& xs,
                                        const std::vector<double>& ys, double x_low, double x_high,
                                        int points, double half_width, std::size_t min_values) {
  const std::size_t n = std::min(xs.size(), ys.size());
  const std::size_t stride =
      std::max<std::size_t>(1, (n + kSmoothMaxValues - 1) / kSmoothMaxValues);
  std::vector<std::pair<double, double>> pairs;
  pairs.reserve(n / stride + 1);
  for (std::size_t i = 0; i < n; i += stride)
    if (std::isfinite(xs[i]) && std::isfinite(ys[i])) pairs.emplace_back(xs[i], ys[i]);
  std::sort(pairs.begin(), pairs.end());
  std::vector<Curve_Point> curve;
  if (pairs.empty() || points < 1) return curve;
  std::vector<double> window;
  std::size_t first = 0, last = 0;  // [first, last) within the window
  for (int p = 0; p < points; ++p) {
    const double x =
        points == 1 ? 0.5 * (x_low + x_high) : x_low + (x_high - x_low) * p / (points - 1);
    while (first < pairs.size() && pairs[first].first < x - half_width) ++first;
    if (last < first) last = first;
    while (last < pairs.size() && pairs[last].first <= x + half_width) ++last;
    if (last - first < std::max<std::size_t>(min_values, 1)) continue;
    window.clear();
    for (std::size_t i = first; i < last; ++i) window.push_back(pairs[i].second);
    curve.push_back(Curve_Point{x, Median(window)});
  }
  return curve;
}

std::vector<double> Robust_Scores(const std::vector<double>& values) {
  const double centre = Median(values);
  std::vector<double> deviations;
  deviations.reserve(values.size());
  for (double v : values) deviations.push_back(std::abs(v - centre));
  const double spread = std::max(kMadToSigma * Median(deviations), kMinSpread);
  std::vector<double> scores;
  scores.reserve(values.size());
  for (double v : values) scores.push_back(std::isfinite(v) ? (v - centre) / spread : kNaN);
  return scores;
}

std::vector<std::uint32_t> Rank_Descending(const std::vector<double>& values) {
  std::vector<std::uint32_t> order(values.size());
  std::iota(order.begin(), order.end(), 0U);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const double va = values[a], vb = values[b];
    if (std::isnan(va) || std::isnan(vb)) return !std::isnan(va) && std::isnan(vb);
    return va > vb;
  });
  return order;
}

double Rt_Correction::Shift(double at) const {
  if (rt.empty()) return 0.0;
  if (at <= rt.front()) return shift.front();
  if (at >= rt.back()) return shift.back();
  const auto it = std::upper_bound(rt.begin(), rt.end(), at);
  const std::size_t hi = static_cast<std::size_t>(it - rt.begin());
  const std::size_t lo = hi - 1;
  const double span = rt[hi] - rt[lo];
  if (span <= 0.0) return shift[hi];
  return shift[lo] + (at - rt[lo]) / span * (shift[hi] - shift[lo]);
}

Quality_Data Load_Quality_Data(const std::string& path) { return Compute(Read_Result(path), path); }

}  // namespace Varnel
