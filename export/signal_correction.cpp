#include "export/signal_correction.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <stdexcept>

#include "export/output_file.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Median of values, reordered; NaN for none.
double Median_Of(std::vector<double>& values) {
  if (values.empty()) return kNaN;
  const std::size_t n = values.size();
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(values.begin(), middle, values.end());
  const double upper = *middle;
  if (n % 2) return upper;
  return (*std::max_element(values.begin(), middle) + upper) / 2;
}

// Median of a float list, reordered; NaN for none.
double Median_Of(std::vector<float>& values) {
  if (values.empty()) return kNaN;
  const std::size_t n = values.size();
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(values.begin(), middle, values.end());
  const double upper = *middle;
  if (n % 2) return upper;
  return (*std::max_element(values.begin(), middle) + upper) / 2;
}

double Tricube(double u) {
  if (u >= 1.0) return 0.0;
  const double t = 1.0 - u * u * u;
  return t * t * t;
}

// The local-linear level at x of the points (xs ascending, ys, robustness
// weights ws) other than skip (npos: all), over the nearest span of them
// (the k nearest form a run of the sorted points); x is held within the
// points' range (flat outside it).
double Local_Linear(const std::vector<double>& xs, const std::vector<double>& ys,
                    const std::vector<double>* ws, std::size_t skip, double x, double span) {
  const std::size_t n = xs.size();
  const std::size_t first = skip == 0 ? 1 : 0;
  const std::size_t last = skip == n - 1 ? n - 2 : n - 1;
  x = std::clamp(x, xs[first], xs[last]);
  const std::size_t m = skip < n ? n - 1 : n;
  const bool line = span >= kLineSpan;
  const std::size_t k =
      line ? m
           : std::clamp<std::size_t>(
                 static_cast<std::size_t>(std::ceil(span * static_cast<double>(m))),
                 std::min<std::size_t>(3, m), m);
  // The window [l, r) of the k points nearest x, skip left out.
  std::size_t l = static_cast<std::size_t>(std::lower_bound(xs.begin(), xs.end(), x) - xs.begin());
  std::size_t r = l;
  double h = 0;
  for (std::size_t taken = 0; taken < k; ++taken) {
    if (r < n && r == skip) ++r;
    if (l > 0 && l - 1 == skip) --l;
    const double dl = l > 0 ? x - xs[l - 1] : std::numeric_limits<double>::infinity();
    const double dr = r < n ? xs[r] - x : std::numeric_limits<double>::infinity();
    if (dl <= dr) {
      --l;
      h = std::max(h, dl);
    } else {
      ++r;
      h = std::max(h, dr);
    }
  }
  const double range = xs[last] - xs[first];
  h = h * 1.001 + 1e-9 * (range > 0 ? range : 1.0);
  double sw = 0, swx = 0, swy = 0, swxx = 0, swxy = 0;
  double mw = 0, mwy = 0, plain = 0;  // the weighted and plain means, should the line fail
  for (std::size_t j = l; j < r; ++j) {
    if (j == skip) continue;
    const double rw = ws ? (*ws)[j] : 1.0;
    mw += rw;
    mwy += rw * ys[j];
    plain += ys[j];
    const double dx = xs[j] - x;  // centred at x: the level is the intercept
    const double w = (line ? 1.0 : Tricube(std::fabs(dx) / h)) * rw;
    if (w <= 0) continue;
    sw += w;
    swx += w * dx;
    swy += w * ys[j];
    swxx += w * dx * dx;
    swxy += w * dx * ys[j];
  }
  if (sw <= 0) return mw > 0 ? mwy / mw : plain / static_cast<double>(k);
  const double mean_x = swx / sw;
  const double mean_y = swy / sw;
  const double var = swxx / sw - mean_x * mean_x;
  const double scale = range > 0 ? range : 1.0;
  if (var <= 1e-10 * scale * scale) return mean_y;
  const double slope = (swxy / sw - mean_x * mean_y) / var;
  return mean_y - slope * mean_x;
}

// The mean of ys weighted by ws, skip (npos: none) left out; the plain mean
// when the weights leave nothing.
double Weighted_Centre(const std::vector<double>& ys, const std::vector<double>& ws,
                       std::size_t skip) {
  double sw = 0, swy = 0, sum = 0;
  std::size_t count = 0;
  for (std::size_t j = 0; j < ys.size(); ++j) {
    if (j == skip) continue;
    sw += ws[j];
    swy += ws[j] * ys[j];
    sum += ys[j];
    ++count;
  }
  if (sw > 0) return swy / sw;
  return count ? sum / static_cast<double>(count) : kNaN;
}

double Rsd_Percent(const std::vector<double>& values) {
  if (values.size() < 2) return kNaN;
  double sum = 0;
  for (double v : values) sum += v;
  const double mean = sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  if (mean <= 0) return kNaN;
  return 100.0 * std::sqrt(squares / static_cast<double>(values.size() - 1)) / mean;
}

double Mad(std::vector<double>& values) {
  if (values.size() < 2) return kNaN;
  const double median = Median_Of(values);
  for (double& v : values) v = std::fabs(v - median);
  return Median_Of(values);
}

}  // namespace

std::optional<Signal_Method> Parse_Signal_Method(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kSignalMethodNames); ++i) {
    if (text == kSignalMethodNames[i]) return static_cast<Signal_Method>(i);
  }
  return std::nullopt;
}

std::optional<Signal_Normalization> Parse_Signal_Normalization(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kSignalNormalizationNames); ++i) {
    if (text == kSignalNormalizationNames[i]) return static_cast<Signal_Normalization>(i);
  }
  return std::nullopt;
}

bool Signal_Options::Active() const {
  return method != Signal_Method::kNone || normalize != Signal_Normalization::kNone ||
         !std::isnan(keep_qc_rsd) || !std::isnan(keep_d_ratio) || !std::isnan(keep_present) ||
         !std::isnan(blank_ratio);
}

Signal_Design Make_Signal_Design(const std::vector<Result_Sample>& samples,
                                 const Sample_Sheet& sheet, const Signal_Options& options) {
  const std::vector<std::size_t> rows = Sheet_Rows_Of(samples, sheet);
  Signal_Design design;
  design.has_order = !sheet.order.empty();
  const std::string qc = Lower(options.qc_label);
  const std::string blank = Lower(options.blank_label);
  std::map<std::string, std::size_t> batch_of;
  std::vector<double> first_order;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::size_t r = rows[i];
    Signal_Sample s;
    s.group = sheet.rows[r].second;
    const std::string group = Lower(s.group);
    s.role = group == qc      ? Sample_Role::kQc
             : group == blank ? Sample_Role::kBlank
                              : Sample_Role::kStudy;
    if (design.has_order) s.order = sheet.order[r];
    s.conditioning =
        s.role == Sample_Role::kQc && !sheet.conditioning.empty() && sheet.conditioning[r] != 0;
    const std::string batch = sheet.batch.empty() ? "1" : sheet.batch[r];
    const auto [it, added] = batch_of.emplace(batch, design.batch_names.size());
    if (added) {
      design.batch_names.push_back(batch);
      first_order.push_back(s.order);
    } else if (s.order < first_order[it->second]) {
      first_order[it->second] = s.order;
    }
    s.batch = it->second;
    design.samples.push_back(std::move(s));
  }
  const bool any_qc =
      std::any_of(design.samples.begin(), design.samples.end(),
                  [](const Signal_Sample& s) { return s.role == Sample_Role::kQc; });
  const bool corrects = options.method != Signal_Method::kNone ||
                        options.normalize == Signal_Normalization::kPqn ||
                        !std::isnan(options.keep_qc_rsd) || !std::isnan(options.keep_d_ratio);
  if (corrects && !any_qc) {
    throw std::runtime_error(sheet.path + ": no sample of the group \"" + options.qc_label +
                             "\" (the pooled QCs; --qc-label names another group)");
  }
  if (!design.has_order && options.method == Signal_Method::kQcCurve) {
    throw std::runtime_error(sheet.path +
                             ": a curve through the QCs needs the injection order (an order "
                             "column)");
  }
  if (!design.has_order && options.conditioning_qcs > 0) {
    throw std::runtime_error(sheet.path +
                             ": conditioning QCs by position need the injection order (an order "
                             "column)");
  }
  // Batches in run order: renumbered by their first injection.
  if (design.has_order) {
    std::vector<std::size_t> by_run(design.batch_names.size());
    std::iota(by_run.begin(), by_run.end(), 0);
    std::stable_sort(by_run.begin(), by_run.end(),
                     [&](std::size_t a, std::size_t b) { return first_order[a] < first_order[b]; });
    std::vector<std::size_t> new_index(by_run.size());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < by_run.size(); ++i) {
      new_index[by_run[i]] = i;
      names.push_back(design.batch_names[by_run[i]]);
    }
    design.batch_names = std::move(names);
    for (Signal_Sample& s : design.samples) s.batch = new_index[s.batch];
  }
  if (options.conditioning_qcs > 0) {
    for (std::size_t b = 0; b < design.batch_names.size(); ++b) {
      std::vector<std::size_t> qcs;
      for (std::size_t i = 0; i < design.samples.size(); ++i) {
        if (design.samples[i].batch == b && design.samples[i].role == Sample_Role::kQc) {
          qcs.push_back(i);
        }
      }
      std::stable_sort(qcs.begin(), qcs.end(), [&](std::size_t a, std::size_t c) {
        return design.samples[a].order < design.samples[c].order;
      });
      for (std::size_t k = 0; k < qcs.size() && k < options.conditioning_qcs; ++k) {
        design.samples[qcs[k]].conditioning = true;
      }
    }
  }
  return design;
}

double Batch_Fit::Level(double order) const {
  if (kind == kMedian) return median;
  if (kind == kUncorrected || std::isnan(order)) return kNaN;
  double level;
  if (order <= xs.front()) {
    level = levels.front();
  } else if (order >= xs.back()) {
    level = levels.back();
  } else {
    const std::size_t j =
        static_cast<std::size_t>(std::upper_bound(xs.begin(), xs.end(), order) - xs.begin());
    const double gap = xs[j] - xs[j - 1];
    level = gap <= 0 ? levels[j]
                     : levels[j - 1] + (order - xs[j - 1]) / gap * (levels[j] - levels[j - 1]);
  }
  return shrink == 1.0 ? level : centre + shrink * (level - centre);
}

Batch_Fit Fit_Batch(Batch_Fit::Kind kind, const std::vector<double>& xs,
                    const std::vector<double>& ys, std::vector<double>* errors,
                    std::vector<double>* held_out_levels, double span, double shrink) {
  Batch_Fit fit;
  fit.kind = kind;
  const std::size_t n = ys.size();
  if (errors) errors->clear();
  if (held_out_levels) held_out_levels->clear();
  if (kind == Batch_Fit::kUncorrected || n == 0) {
    fit.kind = Batch_Fit::kUncorrected;
    return fit;
  }
  if (kind == Batch_Fit::kMedian) {
    std::vector<double> sorted = ys;
    std::sort(sorted.begin(), sorted.end());
    fit.median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    if ((errors || held_out_levels) && n >= 2) {
      // The median of the others, from the sorted values without one copy
      // of ys[i] (at rank r).
      const std::size_t m = n - 1;
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = static_cast<std::size_t>(
            std::lower_bound(sorted.begin(), sorted.end(), ys[i]) - sorted.begin());
        auto at = [&](std::size_t k) { return sorted[k < r ? k : k + 1]; };
        const double level = m % 2 ? at(m / 2) : (at(m / 2 - 1) + at(m / 2)) / 2;
        if (errors) errors->push_back(std::fabs(ys[i] - level));
        if (held_out_levels) held_out_levels->push_back(level);
      }
    }
    return fit;
  }
  fit.xs = xs;
  fit.ys = ys;
  constexpr std::size_t kAll = static_cast<std::size_t>(-1);
  // The span with the smallest held-out error; on a tie the smoother one.
  double best = std::numeric_limits<double>::infinity();
  for (auto candidate = std::rbegin(kCurveSpans);
       std::isnan(span) && candidate != std::rend(kCurveSpans); ++candidate) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      sum += std::fabs(ys[i] - Local_Linear(xs, ys, nullptr, i, xs[i], *candidate));
    }
    if (sum < best * (1 - 1e-12)) {
      best = sum;
      fit.span = *candidate;
    }
  }
  if (!std::isnan(span)) fit.span = span;
  // One bisquare reweighting against the full fit's residuals.
  std::vector<double> residuals(n);
  for (std::size_t i = 0; i < n; ++i) {
    residuals[i] = ys[i] - Local_Linear(xs, ys, nullptr, kAll, xs[i], fit.span);
  }
  std::vector<double> magnitudes(n);
  for (std::size_t i = 0; i < n; ++i) magnitudes[i] = std::fabs(residuals[i]);
  const double s = Median_Of(magnitudes);
  fit.weights.assign(n, 1.0);
  // Residuals at rounding level (QCs on the curve) say nothing of outliers.
  double size = 0;
  for (double y : ys) size = std::max(size, std::fabs(y));
  if (s > 1e-12 * (1 + size)) {
    for (std::size_t i = 0; i < n; ++i) {
      const double u = residuals[i] / (6 * s);
      fit.weights[i] = std::fabs(u) >= 1 ? 0.0 : (1 - u * u) * (1 - u * u);
    }
  }
  fit.levels.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    fit.levels[i] = Local_Linear(xs, ys, &fit.weights, kAll, xs[i], fit.span);
  }
  fit.shrink = shrink;
  fit.centre = Weighted_Centre(ys, fit.weights, kAll);
  if (errors || held_out_levels) {
    for (std::size_t i = 0; i < n; ++i) {
      double level = Local_Linear(xs, ys, &fit.weights, i, xs[i], fit.span);
      if (shrink != 1.0) {
        const double centre = Weighted_Centre(ys, fit.weights, i);
        level = centre + shrink * (level - centre);
      }
      if (errors) errors->push_back(std::fabs(ys[i] - level));
      if (held_out_levels) held_out_levels->push_back(level);
    }
  }
  return fit;
}

Signal_Correction::Signal_Correction(Signal_Design design, Signal_Options options)
    : design_(std::move(design)), options_(std::move(options)) {
  const std::size_t batches = design_.batch_names.size();
  qcs_of_batch_.assign(batches, {});
  members_.assign(batches, {});
  for (std::size_t i = 0; i < design_.samples.size(); ++i) {
    const Signal_Sample& s = design_.samples[i];
    members_[s.batch].push_back(i);
    if (s.role == Sample_Role::kQc && !s.conditioning) qcs_of_batch_[s.batch].push_back(i);
  }
  for (std::vector<std::size_t>& qcs : qcs_of_batch_) {
    std::stable_sort(qcs.begin(), qcs.end(), [&](std::size_t a, std::size_t b) {
      return design_.samples[a].order < design_.samples[b].order;
    });
  }
  const Batch_Fit::Kind kind = options_.method == Signal_Method::kQcCurve ? Batch_Fit::kCurve
                               : options_.method == Signal_Method::kNone  ? Batch_Fit::kUncorrected
                                                                          : Batch_Fit::kMedian;
  choice_.assign(batches, kind);
  auto_errors_.assign(batches, {kNaN, kNaN});
  span_.assign(batches, kNaN);
  shrink_.assign(batches, 1.0);
  dilution_.assign(design_.samples.size(), 1.0);
}

bool Signal_Correction::Needs_First_Pass() const {
  return options_.method == Signal_Method::kAuto ||
         options_.normalize == Signal_Normalization::kPqn;
}

void Signal_Correction::Observe(const std::vector<double>& values) {
  std::vector<float> logs(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    logs[i] = values[i] > 0 && std::isfinite(values[i]) ? static_cast<float>(std::log(values[i]))
                                                        : std::numeric_limits<float>::quiet_NaN();
  }
  observed_.push_back(std::move(logs));
}

void Signal_Correction::Prepare() {
  const std::size_t n = design_.samples.size();
  if (options_.normalize == Signal_Normalization::kPqn) {
    std::vector<std::vector<float>> quotients(n);
    std::vector<float> qc_logs;
    for (const std::vector<float>& logs : observed_) {
      qc_logs.clear();
      for (std::size_t i = 0; i < n; ++i) {
        if (design_.samples[i].role == Sample_Role::kQc && !std::isnan(logs[i])) {
          qc_logs.push_back(logs[i]);
        }
      }
      const double reference = Median_Of(qc_logs);
      if (std::isnan(reference)) continue;
      for (std::size_t i = 0; i < n; ++i) {
        if (!std::isnan(logs[i])) quotients[i].push_back(static_cast<float>(logs[i] - reference));
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double q = Median_Of(quotients[i]);
      dilution_[i] = std::isnan(q) ? 1.0 : std::exp(q);
    }
  }
  if (options_.method == Signal_Method::kAuto) {
    std::vector<double> xs, ys, errors;
    for (std::size_t b = 0; b < choice_.size(); ++b) {
      choice_[b] = Batch_Fit::kMedian;
      if (!design_.has_order) continue;
      // flat_errors: the robust centre of the others, no slope at all. A
      // shrunk curve is near that centre, which beats the median on plain
      // scatter; the curve has to beat both flat levels to show a drift.
      std::vector<double> median_errors, flat_errors;
      constexpr std::size_t kShrinks = std::size(kCurveShrinks);
      std::vector<std::vector<double>> curve_errors(std::size(kCurveSpans) * kShrinks);
      std::vector<double> held;
      // Pooled over at most kAutoFeatures features spread over the table.
      const std::size_t stride = std::max<std::size_t>(1, observed_.size() / kAutoFeatures);
      for (std::size_t f = 0; f < observed_.size(); f += stride) {
        const std::vector<float>& logs = observed_[f];
        xs.clear();
        ys.clear();
        for (std::size_t i : qcs_of_batch_[b]) {
          if (std::isnan(logs[i])) continue;
          xs.push_back(design_.samples[i].order);
          ys.push_back(logs[i] - std::log(dilution_[i]));
        }
        if (ys.size() < kMinCurveQcs) continue;
        Fit_Batch(Batch_Fit::kMedian, xs, ys, &errors);
        median_errors.insert(median_errors.end(), errors.begin(), errors.end());
        for (std::size_t k = 0; k < std::size(kCurveSpans); ++k) {
          // Each QC's held-out curve, then pulled toward the centre of the
          // others at each share (as Fit_Batch does with that shrink).
          const Batch_Fit fit =
              Fit_Batch(Batch_Fit::kCurve, xs, ys, nullptr, &held, kCurveSpans[k]);
          for (std::size_t i = 0; i < ys.size(); ++i) {
            const double centre = Weighted_Centre(ys, fit.weights, i);
            if (kCurveSpans[k] >= kLineSpan) flat_errors.push_back(std::fabs(ys[i] - centre));
            for (std::size_t s = 0; s < kShrinks; ++s) {
              const double level = kCurveShrinks[s] == 1.0
                                       ? held[i]
                                       : centre + kCurveShrinks[s] * (held[i] - centre);
              curve_errors[k * kShrinks + s].push_back(std::fabs(ys[i] - level));
            }
          }
        }
      }
      const double median_error = Median_Of(median_errors);
      double curve_error = kNaN;
      for (std::size_t k = 0; k < curve_errors.size(); ++k) {
        const double e = Median_Of(curve_errors[k]);
        if (std::isnan(curve_error) || e < curve_error) {
          curve_error = e;
          span_[b] = kCurveSpans[k / kShrinks];
          shrink_[b] = kCurveShrinks[k % kShrinks];
        }
      }
      auto_errors_[b] = {median_error, curve_error};
      const double flat_error = Median_Of(flat_errors);
      if (curve_error < kAutoMargin * median_error && curve_error < flat_error) {
        choice_[b] = Batch_Fit::kCurve;
      }
    }
  }
  observed_.clear();
  observed_.shrink_to_fit();
}

void Signal_Correction::Qcs_Of(const std::vector<double>& values, std::size_t b,
                               std::vector<double>& xs, std::vector<double>& ys) const {
  xs.clear();
  ys.clear();
  for (std::size_t i : qcs_of_batch_[b]) {
    const double v = values[i];
    if (!(v > 0) || !std::isfinite(v)) continue;
    xs.push_back(design_.samples[i].order);
    ys.push_back(std::log(v));
  }
}

Batch_Fit::Kind Signal_Correction::Kind_For(std::size_t b, std::size_t fitted) const {
  if (fitted <= 1 || choice_[b] == Batch_Fit::kUncorrected) return Batch_Fit::kUncorrected;
  if (choice_[b] == Batch_Fit::kCurve && fitted >= kMinCurveQcs && design_.has_order) {
    return Batch_Fit::kCurve;
  }
  return Batch_Fit::kMedian;
}

std::vector<Batch_Fit> Signal_Correction::Fits(const std::vector<double>& values) const {
  std::vector<Batch_Fit> fits;
  std::vector<double> xs, ys;
  for (std::size_t b = 0; b < choice_.size(); ++b) {
    Qcs_Of(values, b, xs, ys);
    fits.push_back(
        Fit_Batch(Kind_For(b, ys.size()), xs, ys, nullptr, nullptr, span_[b], shrink_[b]));
  }
  return fits;
}

Feature_Signal Signal_Correction::Correct(std::vector<double>& values,
                                          std::vector<double>& factors) const {
  const std::size_t n = design_.samples.size();
  Feature_Signal out;
  factors.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    factors[i] = 1.0 / dilution_[i];
    values[i] *= factors[i];
  }
  const std::size_t batches = choice_.size();
  std::vector<Batch_Fit> fits(batches);
  std::vector<std::vector<double>> held(batches), logs(batches);
  std::vector<double> xs, all_logs;
  for (std::size_t b = 0; b < batches; ++b) {
    Qcs_Of(values, b, xs, logs[b]);
    out.qc_values += logs[b].size();
    fits[b] = Fit_Batch(Kind_For(b, logs[b].size()), xs, logs[b], nullptr, &held[b], span_[b],
                        shrink_[b]);
    all_logs.insert(all_logs.end(), logs[b].begin(), logs[b].end());
  }
  const double target = Median_Of(all_logs);
  std::vector<double> before, after, qc_logs_after;
  for (std::size_t b = 0; b < batches; ++b) {
    const Batch_Fit& fit = fits[b];
    const bool corrected = fit.kind != Batch_Fit::kUncorrected && !std::isnan(target);
    out.methods.push_back(!corrected                      ? "uncorrected"
                          : fit.kind == Batch_Fit::kCurve ? "curve"
                                                          : "median");
    if (!corrected) {
      if (options_.method != Signal_Method::kNone) ++out.flagged_cells;
      continue;
    }
    for (std::size_t i : members_[b]) {
      const double f = std::exp(target - fit.Level(design_.samples[i].order));
      factors[i] *= f;
      values[i] *= f;
    }
    for (std::size_t k = 0; k < held[b].size(); ++k) {
      before.push_back(std::exp(logs[b][k]));
      const double log_after = logs[b][k] - held[b][k] + target;
      after.push_back(std::exp(log_after));
      qc_logs_after.push_back(log_after);
    }
  }
  if (options_.method == Signal_Method::kNone) {
    // Normalisation alone: the QCs' spread as they stand.
    for (std::size_t b = 0; b < batches; ++b) {
      for (double y : logs[b]) {
        before.push_back(std::exp(y));
        after.push_back(std::exp(y));
        qc_logs_after.push_back(y);
      }
    }
  }
  out.qc_rsd_before = Rsd_Percent(before);
  out.qc_rsd_after = Rsd_Percent(after);
  std::vector<double> study_logs;
  std::vector<double> study_values, blank_values;
  std::size_t study = 0, study_present = 0;
  std::map<std::string, std::pair<std::size_t, std::size_t>> by_group;  // present, of
  for (std::size_t i = 0; i < n; ++i) {
    const Signal_Sample& s = design_.samples[i];
    const bool has = std::isfinite(values[i]);
    if (s.role == Sample_Role::kBlank && has) blank_values.push_back(values[i]);
    if (s.role != Sample_Role::kStudy) continue;
    ++study;
    auto& g = by_group[s.group];
    ++g.second;
    if (!has) continue;
    ++study_present;
    ++g.first;
    study_values.push_back(values[i]);
    if (values[i] > 0) study_logs.push_back(std::log(values[i]));
  }
  const double qc_mad = Mad(qc_logs_after);
  const double study_mad = Mad(study_logs);
  out.d_ratio = study_mad > 0 ? qc_mad / study_mad : kNaN;
  // The filters, in the order of their options.
  if (!std::isnan(options_.keep_qc_rsd) && !(out.qc_rsd_after <= options_.keep_qc_rsd)) {
    out.dropped = "keep-qc-rsd";
  } else if (!std::isnan(options_.keep_d_ratio) && !(out.d_ratio <= options_.keep_d_ratio)) {
    out.dropped = "keep-d-ratio";
  } else if (!std::isnan(options_.keep_present)) {
    bool keep = study > 0 && static_cast<double>(study_present) >=
                                 options_.keep_present * static_cast<double>(study);
    for (const auto& [name, g] : by_group) {
      if (g.second > 0 &&
          static_cast<double>(g.first) >= options_.keep_present * static_cast<double>(g.second)) {
        keep = true;
      }
    }
    if (!keep) out.dropped = "keep-present";
  }
  if (!out.dropped && !std::isnan(options_.blank_ratio) && !blank_values.empty()) {
    const double blank = Median_Of(blank_values);
    const double signal = Median_Of(study_values);
    if (!(signal >= options_.blank_ratio * blank)) out.dropped = "blank-ratio";
  }
  return out;
}

void Append_Signal_Record(std::uint32_t align_id, const Feature_Signal& feature, std::string& out) {
  Append_Unsigned(align_id, out);
  out.push_back('\t');
  for (std::size_t b = 0; b < feature.methods.size(); ++b) {
    if (b) out.push_back(';');
    out += feature.methods[b];
  }
  out.push_back('\t');
  Append_Unsigned(feature.qc_values, out);
  for (double v : {feature.qc_rsd_before, feature.qc_rsd_after, feature.d_ratio}) {
    out.push_back('\t');
    Append_Fixed(v, 2, out);
  }
  out.push_back('\t');
  Append_Unsigned(feature.flagged_cells, out);
  out.push_back('\t');
  if (feature.dropped) out += feature.dropped;
  out.push_back('\n');
}

namespace {
constexpr const char* kFilterNames[] = {"keep-qc-rsd", "keep-d-ratio", "keep-present",
                                        "blank-ratio"};
}  // namespace

Signal_Export::Signal_Export(Signal_Correction c, const std::string& out_path)
    : correction(std::move(c)), record_path(Signal_Record_Path(out_path)), record(record_path) {
  record.buffer() += kSignalRecordHeader;
}

bool Signal_Export::Apply(std::uint32_t align_id, std::vector<double>& values,
                          std::vector<double>& factors) {
  const Feature_Signal f = correction.Correct(values, factors);
  Append_Signal_Record(align_id, f, record.buffer());
  record.Flush_If_Full();
  ++features;
  cells += f.methods.size();
  flagged_cells += f.flagged_cells;
  for (const char* m : f.methods) curve_cells += std::string_view(m) == "curve";
  if (!f.dropped) return true;
  for (std::size_t r = 0; r < std::size(kFilterNames); ++r) {
    if (std::string_view(f.dropped) == kFilterNames[r]) ++dropped[r];
  }
  return false;
}

std::vector<std::string> Signal_Export::Notes() const {
  std::vector<std::string> notes;
  const Signal_Options& o = correction.options();
  const Signal_Design& d = correction.design();
  if (o.method != Signal_Method::kNone) {
    notes.push_back(std::string("signal: ") + kSignalMethodNames[static_cast<int>(o.method)] +
                    " over " + std::to_string(d.batch_names.size()) + " batch" +
                    (d.batch_names.size() == 1 ? "" : "es") + ", " + std::to_string(features) +
                    " features: " + std::to_string(cells - flagged_cells - curve_cells) +
                    " cells by the QC median, " + std::to_string(curve_cells) + " by the curve, " +
                    std::to_string(flagged_cells) +
                    " with at most one QC value left uncorrected (flagged in " + record_path + ")");
  }
  if (o.method == Signal_Method::kAuto) {
    for (std::size_t b = 0; b < d.batch_names.size(); ++b) {
      const auto [median, curve] = correction.auto_errors()[b];
      std::string line = "signal: batch " + d.batch_names[b] + ": " +
                         (correction.batch_choice()[b] == Batch_Fit::kCurve ? "curve" : "median");
      if (!std::isnan(median)) {
        line += " (held-out QC error median ";
        Append_Fixed(100 * median, 1, line);
        line += " %, curve ";
        Append_Fixed(100 * curve, 1, line);
        line += " %";
        const double span = correction.batch_span()[b];
        if (span >= kLineSpan) {
          line += " as a straight line";
        } else {
          line += " over ";
          Append_Fixed(100 * span, 0, line);
          line += " % of the QCs";
        }
        const double shrink = correction.batch_shrink()[b];
        if (shrink < 1.0) {
          line += ", ";
          Append_Fixed(100 * shrink, 0, line);
          line += " % of its departure from the batch's centre kept";
        }
        line += ")";
      } else {
        line += " (too few QCs for a curve)";
      }
      notes.push_back(line);
    }
  }
  if (o.normalize == Signal_Normalization::kPqn) {
    std::vector<double> dil = correction.dilutions();
    std::sort(dil.begin(), dil.end());
    std::string line = "signal: pqn dilutions from ";
    Append_Fixed(dil.front(), 3, line);
    line += " to ";
    Append_Fixed(dil.back(), 3, line);
    notes.push_back(line);
  }
  for (std::size_t r = 0; r < std::size(kFilterNames); ++r) {
    const bool asked = r == 0   ? !std::isnan(o.keep_qc_rsd)
                       : r == 1 ? !std::isnan(o.keep_d_ratio)
                       : r == 2 ? !std::isnan(o.keep_present)
                                : !std::isnan(o.blank_ratio);
    if (asked) {
      notes.push_back(std::string("signal: dropped by --") + kFilterNames[r] + ": " +
                      std::to_string(dropped[r]) + " of " + std::to_string(features) + " features");
    }
  }
  return notes;
}
