#include "ui/quality_charts.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "ui/text_codec.h"

namespace Varnel {

namespace {

// Colours: the named outliers, then the quiet tones of everything else.
const QColor kOutlierColors[kLabelledOutliers] = {QColor(214, 39, 40), QColor(31, 119, 180),
                                                  QColor(255, 127, 14), QColor(44, 160, 44),
                                                  QColor(148, 103, 189)};
const QColor kScatterColor(150, 150, 150, 70);
const QColor kOtherCurveColor(120, 140, 170, 110);
const QColor kBarColor(70, 130, 180);
const QColor kFlaggedColor(214, 39, 40);
const QColor kReadColor(200, 200, 200);
const QColor kMedianColor(214, 39, 40);
const QColor kCompleteColor(44, 160, 44);
const QColor kHalfColor(70, 130, 180);
const QColor kFewColor(255, 127, 14);
const QColor kZeroColor(60, 60, 60);

constexpr int kChartHeight = 800;
constexpr int kPairHeight = 1400;
constexpr int kCategoryPixels = 28;  // per row in a saved picture: every name shows up to ~140 rows
constexpr int kCategoryFrame = 180;  // title, axis and margins
constexpr int kMaxCategoryHeight = 4000;
constexpr double kRangePad = 0.04;  // of the span, on each side of data ranges
constexpr double kDeviationQuantile = 0.002;

QString Name_Of(const Sample_Quality& s) { return From_Engine_String(s.name); }

void Pad(double& low, double& high, double pad = kRangePad) {
  if (!(high > low)) {
    const double half = std::max(std::abs(low) * 0.1, 1.0);
    low -= half;
    high += half;
    return;
  }
  const double span = high - low;
  low -= span * pad;
  high += span * pad;
}

int Category_Height(std::size_t categories) {
  const auto wanted = static_cast<long long>(categories) * kCategoryPixels + kCategoryFrame;
  return static_cast<int>(std::clamp<long long>(wanted, kChartHeight, kMaxCategoryHeight));
}

Quality_Series Line(QString name, QColor color, double width) {
  Quality_Series s;
  s.kind = Quality_Series_Kind::kLine;
  s.name = std::move(name);
  s.color = std::move(color);
  s.size = width;
  return s;
}

// A horizontal bar chart over the samples, sorted so that the largest value is
// on top.
Quality_Chart Sample_Bars(const Quality_Data& data, const std::vector<double>& values,
                          const std::vector<bool>& flagged) {
  Quality_Chart chart;
  chart.horizontal = true;
  std::vector<std::uint32_t> order;
  for (std::uint32_t s = 0; s < data.samples.size(); ++s)
    if (std::isfinite(values[s])) order.push_back(s);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
  Quality_Series plain, marked;
  plain.kind = marked.kind = Quality_Series_Kind::kBars;
  plain.color = kBarColor;
  marked.color = kFlaggedColor;
  double low = 0.0, high = 0.0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::uint32_t s = order[i];
    chart.categories << Name_Of(data.samples[s]);
    Quality_Series& target = flagged[s] ? marked : plain;
    target.key << static_cast<double>(i);
    target.value << values[s];
    low = std::min(low, values[s]);
    high = std::max(high, values[s]);
  }
  const bool negative = low < 0.0;
  Pad(low, high);
  chart.x_low = negative ? low : 0.0;  // bars grow from zero
  chart.x_high = high;
  chart.y_low = -0.75;
  chart.y_high = static_cast<double>(order.size()) - 0.25;
  if (!plain.key.isEmpty()) chart.series.push_back(std::move(plain));
  if (!marked.key.isEmpty()) chart.series.push_back(std::move(marked));
  chart.preferred_height = Category_Height(order.size());
  return chart;
}

// Histogram bars plus a vertical line at the median.
void Histogram_Series(Quality_Chart& chart, const Histogram& h, const QString& unit,
                      const QString& what) {
  Quality_Series bars;
  bars.kind = Quality_Series_Kind::kBars;
  bars.color = kBarColor;
  bars.bar_width = h.width;
  double top = 1.0;
  for (std::size_t i = 0; i < h.counts.size(); ++i) {
    bars.key << h.low + (static_cast<double>(i) + 0.5) * h.width;
    bars.value << static_cast<double>(h.counts[i]);
    top = std::max(top, static_cast<double>(h.counts[i]));
  }
  chart.x_low = h.low;
  chart.x_high = h.low + static_cast<double>(std::max<std::size_t>(h.counts.size(), 1)) * h.width;
  Pad(chart.x_low, chart.x_high, 0.02);
  chart.y_low = 0.0;
  chart.y_high = top * 1.08;
  chart.series.push_back(std::move(bars));
  if (std::isfinite(h.median)) {
    Quality_Series median = Line(
        QStringLiteral("median %1 %2").arg(Quality_Number(h.median, 2), unit), kMedianColor, 2.0);
    median.key << h.median << h.median;
    median.value << 0.0 << chart.y_high;
    chart.series.push_back(std::move(median));
  }
  chart.note = QStringLiteral("%1 %2, bins of %3 %4")
                   .arg(h.values)
                   .arg(what, Quality_Number(h.width, 4), unit);
  const std::size_t outside = h.below + h.above;
  if (outside > 0)
    chart.note += QStringLiteral("\n%1 beyond the axis (%2 below, %3 above)")
                      .arg(outside)
                      .arg(h.below)
                      .arg(h.above);
}

Quality_Chart Rt_Deviation_Chart(const Quality_Data& data, bool after, const QString& title) {
  Quality_Chart chart;
  chart.id = !data.has_correction ? QStringLiteral("rt_deviation")
             : after              ? QStringLiteral("rt_deviation_after")
                                  : QStringLiteral("rt_deviation_before");
  chart.title = title;
  chart.x_title = QStringLiteral("Group retention time, Align_RT (seconds)");
  chart.y_title = after ? QStringLiteral("Corrected RT minus group centre (seconds)")
                        : QStringLiteral("Compound RT minus group centre (seconds)");
  chart.x_low = data.rt_low;
  chart.x_high = data.rt_high;
  Pad(chart.x_low, chart.x_high, 0.02);
  if (data.has_correction) chart.preferred_height = kPairHeight;  // shown half as wide

  // Scatter of all members (thinned evenly), then the quiet curves, then the
  // named outliers on top.
  Quality_Series scatter;
  scatter.kind = Quality_Series_Kind::kScatter;
  scatter.color = kScatterColor;
  scatter.size = 3.0;
  scatter.name = QStringLiteral("members");
  const std::size_t n = data.rt_deviations.size();
  const std::size_t stride =
      std::max<std::size_t>(1, (n + kMaxScatterPoints - 1) / kMaxScatterPoints);
  std::vector<double> devs;
  devs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Rt_Deviation& d = data.rt_deviations[i];
    const double v = after ? d.after : d.before;
    devs.push_back(v);
    if (i % stride != 0) continue;
    scatter.key << d.centre;
    scatter.value << v;
  }
  double y_low = -1.0, y_high = 1.0;
  if (!devs.empty()) {
    const auto at = [&](double q) {  // O(n) selection instead of a sort
      const auto k = static_cast<std::size_t>(q * static_cast<double>(devs.size() - 1));
      std::nth_element(devs.begin(), devs.begin() + k, devs.end());
      return devs[k];
    };
    y_low = std::min(at(kDeviationQuantile), -0.5);
    y_high = std::max(at(1.0 - kDeviationQuantile), 0.5);
  }
  // Every smoothed curve stays in view, the drifting sample's above all.
  for (const Sample_Quality& sample : data.samples)
    for (const Curve_Point& p : after ? sample.curve_after : sample.curve_before) {
      y_low = std::min(y_low, p.y);
      y_high = std::max(y_high, p.y);
    }
  Pad(y_low, y_high, 0.1);
  chart.y_low = y_low;
  chart.y_high = y_high;
  chart.series.push_back(std::move(scatter));

  Quality_Series zero = Line(QString(), kZeroColor, 1.0);
  zero.key << chart.x_low << chart.x_high;
  zero.value << 0.0 << 0.0;
  chart.series.push_back(std::move(zero));

  const std::vector<std::uint32_t>& order = after ? data.outlier_order_after : data.outlier_order;
  const std::size_t labelled = std::min<std::size_t>(kLabelledOutliers, order.size());
  std::vector<bool> is_labelled(data.samples.size(), false);
  for (std::size_t i = 0; i < labelled; ++i) is_labelled[order[i]] = true;
  bool other_named = false;
  for (std::uint32_t s = 0; s < data.samples.size(); ++s) {
    if (is_labelled[s]) continue;
    const auto& curve = after ? data.samples[s].curve_after : data.samples[s].curve_before;
    if (curve.empty()) continue;
    Quality_Series line =
        Line(other_named ? QString()
                         : QStringLiteral("other samples (%1)").arg(data.samples.size() - labelled),
             kOtherCurveColor, 1.0);
    other_named = true;
    for (const Curve_Point& p : curve) {
      line.key << p.x;
      line.value << p.y;
    }
    chart.series.push_back(std::move(line));
  }
  for (std::size_t i = labelled; i-- > 0;) {
    const Sample_Quality& sample = data.samples[order[i]];
    const auto& curve = after ? sample.curve_after : sample.curve_before;
    Quality_Series line =
        Line(QStringLiteral("%1: %2 s")
                 .arg(Name_Of(sample),
                      Quality_Number(after ? sample.median_abs_rt_after : sample.median_abs_rt, 2)),
             kOutlierColors[i], 2.5);
    for (const Curve_Point& p : curve) {
      line.key << p.x;
      line.value << p.y;
    }
    chart.series.push_back(std::move(line));
  }
  chart.note = QStringLiteral(
                   "%1 members of groups of two or more; lines: running median per "
                   "sample")
                   .arg(n);
  return chart;
}

}  // namespace

QString Run_Item_Label(const QString& item) {
  static const std::pair<const char*, const char*> kKnown[] = {
      {"program", "Program"},
      {"version", "Version"},
      {"mode", "Mode"},
      {"mass_tol", "Mass tolerance (Da)"},
      {"mass_tol_ppm", "Mass tolerance (ppm)"},
      {"fast_window", "Fast_Align RT window (s)"},
      {"deep_window", "Deep_Align RT window (s)"},
      {"rt_correction", "Retention-time correction"},
      {"samples", "Samples of the run"},
      {"peaks", "Peaks of the run"},
      {"groups", "Groups of the run"},
      {"unaligned", "Unaligned peaks of the run"},
  };
  for (const auto& [name, label] : kKnown)
    if (item == QLatin1String(name)) return QString::fromLatin1(label);
  return item;
}

QString Quality_Number(double value, int decimals) {
  if (std::isnan(value)) return QStringLiteral("-");
  QString text = QString::number(value, 'f', decimals);
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  if (text == QLatin1String("-0")) text = QStringLiteral("0");
  return text;
}

std::vector<Quality_Chart> Build_Quality_Charts(const Quality_Data& data) {
  std::vector<Quality_Chart> charts;
  const std::size_t n_samples = data.samples.size();
  const QString deviation = QStringLiteral("Retention-time deviation from the group centre");
  if (data.has_correction) {
    charts.push_back(
        Rt_Deviation_Chart(data, false, deviation + QStringLiteral(", before correction")));
    charts.push_back(
        Rt_Deviation_Chart(data, true, deviation + QStringLiteral(", after correction")));
  } else {
    charts.push_back(Rt_Deviation_Chart(data, false, deviation));
  }

  {  // Outlier ranking.
    std::vector<double> values(n_samples);
    std::vector<bool> flagged(n_samples);
    std::size_t n_flagged = 0;
    for (std::size_t s = 0; s < n_samples; ++s) {
      values[s] = data.samples[s].median_abs_rt;
      flagged[s] = data.samples[s].outlier_score >= kOutlierScore;
      n_flagged += flagged[s] ? 1 : 0;
    }
    Quality_Chart chart = Sample_Bars(data, values, flagged);
    chart.id = QStringLiteral("rt_outliers");
    chart.title = data.has_correction
                      ? QStringLiteral(
                            "Median |retention-time deviation| per sample, before "
                            "correction")
                      : QStringLiteral("Median |retention-time deviation| per sample");
    chart.x_title = QStringLiteral("Median |deviation| (seconds)");
    chart.y_title = QStringLiteral("Sample");
    chart.note = n_flagged == 0 ? QStringLiteral("no sample stands out (robust score < %1)")
                                      .arg(Quality_Number(kOutlierScore, 1))
                                : QStringLiteral("red: %1 sample(s) with robust score >= %2")
                                      .arg(n_flagged)
                                      .arg(Quality_Number(kOutlierScore, 1));
    charts.push_back(std::move(chart));
  }

  {  // Mass deviation histogram.
    Quality_Chart chart;
    chart.id = QStringLiteral("mass_deviation");
    chart.title = QStringLiteral("Mass deviation from the group's median mass");
    chart.x_title = QStringLiteral("Compound_MolecularMass deviation (ppm)");
    chart.y_title = QStringLiteral("Members");
    Histogram_Series(chart, data.mass_ppm, QStringLiteral("ppm"), QStringLiteral("members"));
    charts.push_back(std::move(chart));
  }

  {  // Median mass deviation per sample.
    std::vector<double> values(n_samples);
    for (std::size_t s = 0; s < n_samples; ++s) values[s] = data.samples[s].median_ppm;
    Quality_Chart chart = Sample_Bars(data, values, std::vector<bool>(n_samples, false));
    chart.id = QStringLiteral("mass_by_sample");
    chart.title = QStringLiteral("Median mass deviation per sample");
    chart.x_title = QStringLiteral("Median deviation (ppm)");
    chart.y_title = QStringLiteral("Sample");
    const double m = std::max(std::abs(chart.x_low), std::abs(chart.x_high));
    chart.x_low = -m;  // zero in the middle, so a sample's bias reads at a glance
    chart.x_high = m;
    charts.push_back(std::move(chart));
  }

  {  // Samples per group.
    Quality_Chart chart;
    chart.id = QStringLiteral("samples_per_group");
    chart.title = QStringLiteral("Samples per group");
    chart.x_title = QStringLiteral("Samples in the group");
    chart.y_title = QStringLiteral("Groups");
    Quality_Series all, half, few;
    all.kind = half.kind = few.kind = Quality_Series_Kind::kBars;
    all.color = kCompleteColor;
    half.color = kHalfColor;
    few.color = kFewColor;
    all.name = QStringLiteral("all %1 samples: %2").arg(n_samples).arg(data.groups_complete);
    half.name =
        QStringLiteral("half or more, not all: %1").arg(data.groups_half - data.groups_complete);
    few.name = QStringLiteral("fewer than half: %1").arg(data.groups - data.groups_half);
    double top = 1.0;
    for (std::size_t k = 1; k < data.groups_by_samples.size(); ++k) {
      const double count = static_cast<double>(data.groups_by_samples[k]);
      Quality_Series& target = k == n_samples ? all : (2 * k >= n_samples ? half : few);
      target.key << static_cast<double>(k);
      target.value << count;
      top = std::max(top, count);
    }
    chart.x_low = 0.4;
    chart.x_high = static_cast<double>(n_samples) + 0.6;
    chart.y_high = top * 1.08;
    for (Quality_Series* s : {&few, &half, &all})
      if (!s->key.isEmpty()) chart.series.push_back(std::move(*s));
    chart.note = QStringLiteral("%1 groups; %2 hold one sample only")
                     .arg(data.groups)
                     .arg(data.groups_single);
    charts.push_back(std::move(chart));
  }

  {  // Peaks per sample, worst share aligned on top.
    Quality_Chart chart;
    chart.id = QStringLiteral("peaks_per_sample");
    chart.title = QStringLiteral("Peaks read and aligned per sample (share aligned in brackets)");
    chart.x_title = QStringLiteral("Peaks");
    chart.y_title = QStringLiteral("Sample");
    chart.horizontal = true;
    std::vector<std::uint32_t> order(n_samples);
    std::iota(order.begin(), order.end(), 0U);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return data.samples[a].Share_Aligned() > data.samples[b].Share_Aligned();
    });
    Quality_Series read, aligned;
    read.kind = aligned.kind = Quality_Series_Kind::kBars;
    read.color = kReadColor;
    aligned.color = kBarColor;
    read.name = QStringLiteral("peaks read");
    aligned.name = QStringLiteral("peaks aligned");
    aligned.bar_width = 0.5;
    double top = 1.0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Sample_Quality& s = data.samples[order[i]];
      chart.categories << QStringLiteral("%1 (%2 %)")
                              .arg(Name_Of(s), Quality_Number(100.0 * s.Share_Aligned(), 1));
      read.key << static_cast<double>(i);
      read.value << static_cast<double>(s.peaks_read);
      aligned.key << static_cast<double>(i);
      aligned.value << static_cast<double>(s.peaks_aligned);
      top = std::max(top, static_cast<double>(s.peaks_read));
    }
    chart.x_high = top * 1.05;
    chart.y_low = -0.75;
    chart.y_high = static_cast<double>(order.size()) - 0.25;
    chart.series.push_back(std::move(read));
    chart.series.push_back(std::move(aligned));
    chart.preferred_height = Category_Height(order.size());
    charts.push_back(std::move(chart));
  }

  {  // Intensity CV.
    Quality_Chart chart;
    chart.id = QStringLiteral("intensity_cv");
    chart.title = QStringLiteral("Intensity CV of groups present in at least half of the samples");
    chart.x_title = QStringLiteral("Coefficient of variation of Compound_Intensity (%)");
    chart.y_title = QStringLiteral("Groups");
    Histogram_Series(chart, data.intensity_cv, QStringLiteral("%"), QStringLiteral("groups"));
    charts.push_back(std::move(chart));
  }
  return charts;
}

std::vector<Summary_Row> Quality_Summary(const Quality_Data& data) {
  std::vector<Summary_Row> rows;
  auto add = [&rows](QString label, QString value) {
    rows.push_back(Summary_Row{std::move(label), std::move(value), false});
  };
  auto count = [](std::size_t n) { return QString::number(static_cast<qulonglong>(n)); };
  auto share = [](std::size_t part, std::size_t whole) {
    return whole == 0 ? QStringLiteral("-")
                      : Quality_Number(100.0 * static_cast<double>(part) / whole, 1) +
                            QStringLiteral(" %");
  };
  const std::size_t n = data.samples.size();
  add(QStringLiteral("Result"), From_Engine_String(data.file));
  add(QStringLiteral("Samples"), count(n));
  add(QStringLiteral("Peaks"), count(data.peaks));
  add(QStringLiteral("Groups"), count(data.groups));
  add(QStringLiteral("Unaligned peaks"),
      QStringLiteral("%1 (%2)").arg(count(data.unaligned_peaks),
                                    share(data.unaligned_peaks, data.peaks)));
  add(QStringLiteral("Groups holding all samples"),
      QStringLiteral("%1 (%2)").arg(count(data.groups_complete),
                                    share(data.groups_complete, data.groups)));
  add(QStringLiteral("Groups holding at least half"),
      QStringLiteral("%1 (%2)").arg(count(data.groups_half), share(data.groups_half, data.groups)));
  add(QStringLiteral("Groups holding one sample"),
      QStringLiteral("%1 (%2)").arg(count(data.groups_single),
                                    share(data.groups_single, data.groups)));
  add(QStringLiteral("Median mass deviation"),
      Quality_Number(data.mass_ppm.median, 2) + QStringLiteral(" ppm"));
  add(QStringLiteral("Median |mass deviation|"),
      Quality_Number(data.median_abs_ppm, 2) + QStringLiteral(" ppm"));
  add(QStringLiteral("Median intensity CV"), Quality_Number(data.intensity_cv.median, 1) +
                                                 QStringLiteral(" % of ") + count(data.cv_groups) +
                                                 QStringLiteral(" groups"));
  add(QStringLiteral("Retention-time correction"),
      data.has_correction ? QStringLiteral("stored") : QStringLiteral("none"));
  QStringList flagged;
  for (std::uint32_t s : data.outlier_order)
    if (data.samples[s].outlier_score >= kOutlierScore)
      flagged << From_Engine_String(data.samples[s].name);
  add(QStringLiteral("Samples standing out in RT"),
      flagged.isEmpty() ? QStringLiteral("none") : flagged.join(QStringLiteral(", ")));
  if (data.has_run) {
    rows.push_back(Summary_Row{QStringLiteral("Run parameters"), QString(), true});
    if (data.run_items.empty()) add(QStringLiteral("(none recorded)"), QString());
    for (const auto& [item, value] : data.run_items)
      add(Run_Item_Label(From_Engine_String(item)), From_Engine_String(value));
    if (data.run_inputs.size() > 1)
      add(QStringLiteral("Input files recorded"), count(data.run_inputs.size() - 1));
  }
  return rows;
}

}  // namespace Varnel
