#include "ui/quality_charts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "ui/quality_chart.h"
#include "ui/text_codec.h"

namespace Varnel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Colours: the named outliers, then the quiet tones of everything else.
const QColor kOutlierColors[kLabelledOutliers] = {QColor(214, 39, 40), QColor(31, 119, 180),
                                                  QColor(255, 127, 14), QColor(44, 160, 44),
                                                  QColor(148, 103, 189)};
// The least supported corrections, after the named outliers' colours.
const QColor kSupportColors[kNamedLeastSupported] = {QColor(140, 86, 75), QColor(227, 119, 194),
                                                     QColor(23, 190, 207)};
const QColor kScatterColor(150, 150, 150, 70);
constexpr int kNamedAnchorAlpha = 170;  // the named samples' anchor circles under their lines
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

void Pad(double& low, double& high, double pad = kRangePad) { Pad_Range(low, high, pad); }

int Category_Height(std::size_t categories) {
  const auto wanted = static_cast<long long>(categories) * kCategoryPixels + kCategoryFrame;
  return static_cast<int>(std::clamp<long long>(wanted, kChartHeight, kMaxCategoryHeight));
}

Quality_Series Line(QString name, QColor color, double width) {
  return Line_Series(std::move(name), std::move(color), width);
}

void Add_Points(Quality_Series& series, const std::vector<Curve_Point>& points) {
  for (const Curve_Point& p : points) {
    series.key << p.x;
    series.value << p.y;
  }
}

// Per-sample lines: each of `quiet` thin and grey (the first one carries
// quiet_legend), then `between` (points under the named lines), then each of
// `named` on top with its own legend and colour, the first named drawn last.
struct Named_Curve {
  std::uint32_t sample;
  QString legend;
  QColor color;
  bool dashed = false;
};
template <typename Points_Of>
void Add_Sample_Curves(Quality_Chart& chart, const std::vector<std::uint32_t>& quiet,
                       const QString& quiet_legend, const std::vector<Named_Curve>& named,
                       Points_Of points_of, std::vector<Quality_Series> between = {}) {
  bool legend_given = false;
  for (std::uint32_t s : quiet) {
    const std::vector<Curve_Point>& points = points_of(s);
    if (points.empty()) continue;
    Quality_Series line = Line(legend_given ? QString() : quiet_legend, kOtherCurveColor, 1.0);
    legend_given = true;
    Add_Points(line, points);
    chart.series.push_back(std::move(line));
  }
  for (Quality_Series& series : between) chart.series.push_back(std::move(series));
  for (std::size_t i = named.size(); i-- > 0;) {
    Quality_Series line = Line(named[i].legend, named[i].color, 2.5);
    line.dashed = named[i].dashed;
    Add_Points(line, points_of(named[i].sample));
    chart.series.push_back(std::move(line));
  }
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
  Quality_Chart chart =
      Titled_Chart(!data.has_correction ? QStringLiteral("rt_deviation")
                   : after              ? QStringLiteral("rt_deviation_after")
                                        : QStringLiteral("rt_deviation_before"),
                   title, QStringLiteral("Group retention time, Align_RT (seconds)"),
                   after ? QStringLiteral("Corrected RT minus group centre (seconds)")
                         : QStringLiteral("Compound RT minus group centre (seconds)"));
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
  std::vector<std::uint32_t> quiet;
  for (std::uint32_t s = 0; s < data.samples.size(); ++s)
    if (!is_labelled[s]) quiet.push_back(s);
  std::vector<Named_Curve> named;
  for (std::size_t i = 0; i < labelled; ++i) {
    const Sample_Quality& sample = data.samples[order[i]];
    named.push_back(
        {order[i],
         QStringLiteral("%1: %2 s")
             .arg(Name_Of(sample),
                  Quality_Number(after ? sample.median_abs_rt_after : sample.median_abs_rt, 2)),
         kOutlierColors[i]});
  }
  Add_Sample_Curves(chart, quiet,
                    QStringLiteral("other samples (%1)").arg(data.samples.size() - labelled), named,
                    [&](std::uint32_t s) -> const std::vector<Curve_Point>& {
                      return after ? data.samples[s].curve_after : data.samples[s].curve_before;
                    });
  chart.note = QStringLiteral(
                   "%1 members of groups of two or more; lines: running median per "
                   "sample")
                   .arg(n);
  return chart;
}

const QColor kGroupColors[] = {QColor(31, 119, 180),  QColor(255, 127, 14), QColor(44, 160, 44),
                               QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194),
                               QColor(188, 189, 34),  QColor(23, 190, 207)};
const QColor kQcColor(214, 39, 40);

// The colour of a sheet group: QC red, the others in turn.
QColor Group_Color(const Quality_Data& data, std::uint32_t group) {
  const std::string& name = data.group_names[group];
  if (name.size() == 2 && (name[0] == 'Q' || name[0] == 'q') && (name[1] == 'C' || name[1] == 'c'))
    return kQcColor;
  return kGroupColors[group % (sizeof kGroupColors / sizeof kGroupColors[0])];
}

// One series of `kind` per sheet group (QC red, the others in turn, each
// named after its group), or one unnamed series in kBarColor without a sheet.
std::vector<Quality_Series> Group_Series(const Quality_Data& data, Quality_Series_Kind kind) {
  std::vector<Quality_Series> by_group(data.has_sheet ? data.group_names.size() : 1);
  for (std::size_t g = 0; g < by_group.size(); ++g) {
    by_group[g].kind = kind;
    by_group[g].color =
        data.has_sheet ? Group_Color(data, static_cast<std::uint32_t>(g)) : kBarColor;
    by_group[g].name = data.has_sheet ? From_Engine_String(data.group_names[g]) : QString();
  }
  return by_group;
}

// Moves the series that hold any point into the chart, in their order.
void Add_Filled(Quality_Chart& chart, std::vector<Quality_Series>& series) {
  for (Quality_Series& s : series)
    if (!s.key.isEmpty()) chart.series.push_back(std::move(s));
}

Quality_Chart Correction_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(QStringLiteral("rt_correction"),
                                     QStringLiteral("Retention-time correction per sample"),
                                     QStringLiteral("Retention time (seconds)"),
                                     QStringLiteral("Shift added to the retention time (seconds)"));
  const std::size_t n_samples = data.samples.size();
  std::vector<std::vector<Curve_Point>> curves(n_samples);
  std::vector<double> largest;
  std::vector<std::uint32_t> corrected;
  double x_low = 0.0, x_high = 0.0, y_low = -1.0, y_high = 1.0;
  bool any = false;
  for (std::uint32_t s = 0; s < n_samples; ++s) {
    const Rt_Correction& c = data.samples[s].correction;
    largest.push_back(c.rt.empty() ? std::nan("") : data.samples[s].max_abs_shift);
    if (c.rt.empty()) continue;
    corrected.push_back(s);
    for (std::size_t i = 0; i < c.rt.size(); ++i) curves[s].push_back({c.rt[i], c.shift[i]});
    if (!any) x_low = x_high = c.rt.front();
    any = true;
    x_low = std::min(x_low, c.rt.front());
    x_high = std::max(x_high, c.rt.back());
    for (double v : c.shift) {
      y_low = std::min(y_low, v);
      y_high = std::max(y_high, v);
    }
  }
  const auto anchors_of = [&](std::uint32_t s) {
    return QStringLiteral("%1 anchors").arg(data.samples[s].anchors.size());
  };

  // Named: the largest corrections, then the least supported not named yet.
  const std::vector<std::uint32_t> order = Rank_Descending(largest);
  const std::size_t largest_named = std::min<std::size_t>(kNamedCorrections, corrected.size());
  std::vector<bool> is_named(n_samples, false);
  std::vector<Named_Curve> named;
  for (std::size_t i = 0; i < largest_named; ++i) {
    const Sample_Quality& sample = data.samples[order[i]];
    QString legend = QStringLiteral("%1: up to %2 s")
                         .arg(Name_Of(sample), Quality_Number(sample.max_abs_shift, 1));
    if (data.has_anchors) legend += QStringLiteral(", ") + anchors_of(order[i]);
    named.push_back({order[i], legend, kOutlierColors[i]});
    is_named[order[i]] = true;
  }
  std::size_t support_named = 0;
  for (std::size_t i = 0; i < data.weakly_supported; ++i) {
    const std::uint32_t s = data.least_supported[i];
    if (support_named == kNamedLeastSupported) break;
    if (is_named[s]) continue;
    const Sample_Quality& sample = data.samples[s];
    named.push_back({s,
                     QStringLiteral("%1: %2, %3 s without one")
                         .arg(Name_Of(sample), anchors_of(s), Quality_Number(sample.anchor_gap, 0)),
                     kSupportColors[support_named], true});
    is_named[s] = true;
    ++support_named;
  }
  std::vector<std::uint32_t> quiet;
  for (std::uint32_t s : corrected)
    if (!is_named[s]) quiet.push_back(s);

  // The anchors: the quiet samples' under every line, the named ones' on top.
  std::vector<double> shifts;  // of every corrected sample's anchors
  bool thinned = false;        // some anchors not drawn
  if (data.has_anchors) {
    std::size_t quiet_points = 0;
    for (std::uint32_t s : corrected) {
      for (const Curve_Point& p : data.samples[s].anchors) shifts.push_back(p.y);
      if (!is_named[s]) quiet_points += data.samples[s].anchors.size();
    }
    if (!shifts.empty()) {  // wild anchors may fall beyond the axis, the bulk of them not
      std::sort(shifts.begin(), shifts.end());
      const auto at = [&](double q) {
        return shifts[static_cast<std::size_t>(q * static_cast<double>(shifts.size() - 1))];
      };
      y_low = std::min(y_low, at(kDeviationQuantile));
      y_high = std::max(y_high, at(1.0 - kDeviationQuantile));
    }
    Quality_Series others;
    others.kind = Quality_Series_Kind::kScatter;
    others.color = kScatterColor;
    others.size = 3.5;
    others.name = QStringLiteral("anchors of other samples");
    const std::size_t stride =
        std::max<std::size_t>(1, (quiet_points + kMaxScatterPoints - 1) / kMaxScatterPoints);
    thinned = stride > 1;
    std::size_t i = 0;
    for (std::uint32_t s : quiet)
      for (const Curve_Point& p : data.samples[s].anchors)
        if (i++ % stride == 0) {
          others.key << p.x;
          others.value << p.y;
        }
    if (!others.key.isEmpty()) chart.series.push_back(std::move(others));
  }
  std::vector<Quality_Series> named_anchors;
  if (data.has_anchors) {
    for (std::size_t i = named.size(); i-- > 0;) {
      Quality_Series points;
      points.kind = Quality_Series_Kind::kScatter;
      points.marker = Quality_Marker::kCircle;
      points.color = named[i].color;
      points.color.setAlpha(kNamedAnchorAlpha);
      points.size = 5.5;
      const std::vector<Curve_Point>& anchors = data.samples[named[i].sample].anchors;
      const std::size_t step = (anchors.size() + kMaxNamedAnchors - 1) / kMaxNamedAnchors;
      thinned = thinned || step > 1;
      for (std::size_t k = 0; k < anchors.size(); k += std::max<std::size_t>(step, 1)) {
        points.key << anchors[k].x;
        points.value << anchors[k].y;
      }
      named_anchors.push_back(std::move(points));
    }
  }
  Add_Sample_Curves(
      chart, quiet, QStringLiteral("other samples (%1)").arg(corrected.size() - named.size()),
      named, [&](std::uint32_t s) -> const std::vector<Curve_Point>& { return curves[s]; },
      std::move(named_anchors));

  chart.x_low = x_low;
  chart.x_high = x_high;
  Pad(chart.x_low, chart.x_high, 0.02);
  Pad(y_low, y_high, 0.1);
  chart.y_low = y_low;
  chart.y_high = y_high;
  std::size_t beyond = 0;
  for (double v : shifts) beyond += v < y_low || v > y_high ? 1 : 0;
  if (!data.has_anchors) {
    chart.note = QStringLiteral(
                     "%1 of %2 samples corrected; corrected time = RT + shift; named: the %3 "
                     "largest corrections")
                     .arg(corrected.size())
                     .arg(n_samples)
                     .arg(largest_named);
    if (corrected.size() < n_samples)
      chart.note += QStringLiteral("\n%1 sample(s) left uncorrected (too few anchors)")
                        .arg(n_samples - corrected.size());
    return chart;
  }
  // Three lines: what is corrected, what is named, what the points are.
  chart.note = QStringLiteral("%1 of %2 samples corrected").arg(corrected.size()).arg(n_samples);
  if (corrected.size() < n_samples)
    chart.note +=
        QStringLiteral(" (%1 left uncorrected: too few anchors)").arg(n_samples - corrected.size());
  chart.note += QStringLiteral("; corrected time = RT + shift");
  if (beyond > 0) chart.note += QStringLiteral("; %1 anchors beyond the axis").arg(beyond);
  if (thinned) chart.note += QStringLiteral("; anchors thinned evenly");
  const QString factor = Quality_Number(kWeakSupportFactor, 1);
  chart.note +=
      QStringLiteral("\nsolid: the %1 largest corrections; ").arg(largest_named) +
      (support_named > 0
           ? QStringLiteral("dashed: the %1 least supported (a stretch without "
                            "anchors %2 x the median or longer)")
                 .arg(support_named)
                 .arg(factor)
           : QStringLiteral("no sample lacks anchors over %1 x the median stretch").arg(factor)) +
      QStringLiteral(
          "\ncircles: a named sample's anchors (the shift each asked for); grey dots: the other "
          "samples' anchors");
  return chart;
}

Quality_Chart Mass_By_Mz_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(
      QStringLiteral("mass_by_mz"), QStringLiteral("Mass deviation against m/z"),
      QStringLiteral("Apex_MZ"), QStringLiteral("Deviation from the group's median mass (ppm)"));
  Quality_Series scatter;
  scatter.kind = Quality_Series_Kind::kScatter;
  scatter.color = kScatterColor;
  scatter.size = 3.0;
  const std::size_t n = data.ppm_by_mz.size();
  const std::size_t stride =
      std::max<std::size_t>(1, (n + kMaxScatterPoints - 1) / kMaxScatterPoints);
  double x_low = 0.0, x_high = 1.0;
  std::vector<double> xs, ys;
  for (std::size_t i = 0; i < n; ++i) {
    const Curve_Point& p = data.ppm_by_mz[i];
    if (i == 0) x_low = x_high = p.x;
    x_low = std::min(x_low, p.x);
    x_high = std::max(x_high, p.x);
    xs.push_back(p.x);
    ys.push_back(p.y);
    if (i % stride != 0) continue;
    scatter.key << p.x;
    scatter.value << p.y;
  }
  chart.series.push_back(std::move(scatter));
  const std::vector<Curve_Point> median =
      Running_Median(xs, ys, x_low, x_high, kSmoothPoints,
                     std::max(kSmoothHalfWindow * (x_high - x_low), 1e-9), kSmoothMinValues);
  Quality_Series line = Line(QStringLiteral("running median"), kMedianColor, 2.0);
  for (const Curve_Point& p : median) {
    line.key << p.x;
    line.value << p.y;
  }
  if (!line.key.isEmpty()) chart.series.push_back(std::move(line));
  chart.x_low = x_low;
  chart.x_high = x_high;
  Pad(chart.x_low, chart.x_high, 0.02);
  const double m =
      std::max({std::abs(data.mass_ppm.low),
                std::abs(data.mass_ppm.low +
                         data.mass_ppm.width * static_cast<double>(data.mass_ppm.counts.size())),
                0.5});
  chart.y_low = -m;
  chart.y_high = m;
  chart.note = QStringLiteral("%1 members; a trend with m/z points at a calibration error").arg(n);
  return chart;
}

Quality_Chart Qc_Cv_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(
      QStringLiteral("cv_qc"), QStringLiteral("Intensity CV of QC samples against study samples"),
      QStringLiteral("Coefficient of variation (%)"),
      QStringLiteral("Share of groups with a CV up to x (%)"));
  double top = 1.0;
  const auto cumulative = [&](const std::vector<double>& cvs, QString name, QColor color) {
    Quality_Series line = Line(std::move(name), std::move(color), 2.5);
    const std::size_t step = std::max<std::size_t>(1, cvs.size() / 400);
    for (std::size_t i = 0; i < cvs.size(); i += step) {
      line.key << cvs[i];
      line.value << 100.0 * static_cast<double>(i + 1) / static_cast<double>(cvs.size());
    }
    if (!cvs.empty()) {
      line.key << cvs.back();
      line.value << 100.0;
    }
    return line;
  };
  std::vector<double> qc = data.cv_qc, study = data.cv_study;
  const double qc_median = Median(qc), study_median = Median(study);
  chart.series.push_back(
      cumulative(data.cv_study,
                 QStringLiteral("study samples: median %1 %").arg(Quality_Number(study_median, 1)),
                 kBarColor));
  chart.series.push_back(cumulative(
      data.cv_qc, QStringLiteral("QC samples: median %1 %").arg(Quality_Number(qc_median, 1)),
      kQcColor));
  if (!data.cv_study.empty()) {
    std::vector<double> both = data.cv_study;
    top = std::max(top, both[static_cast<std::size_t>(0.95 * (both.size() - 1))]);
  }
  Set_Axes(chart, 0.0, top * 1.05, 0.0, 102.0);
  std::size_t qc_below_30 = 0;
  for (double v : data.cv_qc) qc_below_30 += v <= 30.0 ? 1 : 0;
  chart.note =
      QStringLiteral(
          "%1 well-filled groups with two QC and two study values; %2 % of "
          "them have a QC CV of 30 % or less")
          .arg(data.cv_qc.size())
          .arg(Quality_Number(
              data.cv_qc.empty() ? std::nan("") : 100.0 * qc_below_30 / data.cv_qc.size(), 1));
  return chart;
}

Quality_Chart Missing_Chart(const Quality_Data& data) {
  const std::size_t n_samples = data.samples.size();
  std::vector<double> values(n_samples);
  std::vector<bool> flagged(n_samples);
  const double groups = static_cast<double>(data.groups_half);
  for (std::size_t s = 0; s < n_samples; ++s)
    values[s] = groups > 0.0 ? 100.0 * static_cast<double>(data.samples[s].missing) / groups : 0.0;
  const std::vector<double> scores = Robust_Scores(values);
  std::size_t n_flagged = 0;
  for (std::size_t s = 0; s < n_samples; ++s) {
    flagged[s] = scores[s] >= kOutlierScore && values[s] > 0.0;
    n_flagged += flagged[s] ? 1 : 0;
  }
  Quality_Chart chart = Sample_Bars(data, values, flagged);
  chart.id = QStringLiteral("missing_values");
  chart.title = QStringLiteral("Missing values per sample");
  chart.x_title = QStringLiteral("Well-filled groups without the sample (%)");
  chart.y_title = QStringLiteral("Sample");
  chart.x_low = 0.0;
  chart.x_high = std::max(chart.x_high, 1.0);
  chart.note = QStringLiteral(
                   "of %1 groups holding at least half of the samples; red: %2 "
                   "sample(s) missing far more than the others")
                   .arg(data.groups_half)
                   .arg(n_flagged);
  return chart;
}

Quality_Chart Intensity_Box_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(
      QStringLiteral("intensity_boxes"), QStringLiteral("Intensity distribution per sample"),
      QStringLiteral("log10 intensity in a group (box: quartiles, whiskers: 1.5 IQR)"),
      QStringLiteral("Sample"));
  chart.horizontal = true;
  // One series per sheet group (or one for all), in sample order bottom up.
  std::vector<Quality_Series> by_group = Group_Series(data, Quality_Series_Kind::kBoxes);
  for (Quality_Series& series : by_group) series.bar_width = 0.7;
  double low = 0.0, high = 1.0;
  bool any = false;
  std::size_t position = 0;
  for (const Sample_Quality& s : data.samples) {
    const Box_Summary& b = s.log_intensity;
    if (b.values == 0) continue;
    chart.categories << Name_Of(s);
    Quality_Series& target = by_group[data.has_sheet ? s.group : 0];
    target.key << static_cast<double>(position++);
    target.value << b.median;
    target.low << b.low;
    target.q1 << b.q1;
    target.q3 << b.q3;
    target.high << b.high;
    if (!any) low = b.low, high = b.high;
    any = true;
    low = std::min(low, b.low);
    high = std::max(high, b.high);
  }
  Add_Filled(chart, by_group);
  Pad(low, high, 0.04);
  Set_Axes(chart, low, high, -0.75, static_cast<double>(position) - 0.25);
  chart.preferred_height = Category_Height(position);
  return chart;
}

Quality_Chart Injection_Trend_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(QStringLiteral("injection_trend"),
                                     QStringLiteral("Median intensity in injection order"),
                                     QStringLiteral("Injection order (sample sheet)"),
                                     QStringLiteral("Median log10 intensity of the sample"));
  std::vector<std::uint32_t> order;
  for (std::uint32_t s = 0; s < data.samples.size(); ++s)
    if (std::isfinite(data.samples[s].order) && data.samples[s].log_intensity.values > 0)
      order.push_back(s);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return data.samples[a].order < data.samples[b].order;
  });
  Quality_Series path = Line(QString(), kOtherCurveColor, 1.0);
  std::vector<Quality_Series> by_group = Group_Series(data, Quality_Series_Kind::kScatter);
  for (Quality_Series& series : by_group) series.size = 8.0;
  double x_low = 0.0, x_high = 1.0, y_low = 0.0, y_high = 1.0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Sample_Quality& s = data.samples[order[i]];
    const double y = s.log_intensity.median;
    path.key << s.order;
    path.value << y;
    by_group[s.group].key << s.order;
    by_group[s.group].value << y;
    if (i == 0) x_low = x_high = s.order, y_low = y_high = y;
    x_low = std::min(x_low, s.order);
    x_high = std::max(x_high, s.order);
    y_low = std::min(y_low, y);
    y_high = std::max(y_high, y);
  }
  chart.series.push_back(std::move(path));
  Add_Filled(chart, by_group);
  Pad(x_low, x_high, 0.03);
  Pad(y_low, y_high, 0.15);
  Set_Axes(chart, x_low, x_high, y_low, y_high);
  chart.note = QStringLiteral("%1 samples with an injection order; a drift shows as a slope")
                   .arg(order.size());
  return chart;
}

Quality_Chart Pca_Chart(const Quality_Data& data) {
  Quality_Chart chart = Titled_Chart(
      QStringLiteral("pca_scores"), QStringLiteral("PCA scores of the samples"),
      QStringLiteral("PC1 (%1 % of the variance)").arg(Quality_Number(100.0 * data.pc_share[0], 1)),
      QStringLiteral("PC2 (%1 % of the variance)")
          .arg(Quality_Number(100.0 * data.pc_share[1], 1)));
  std::vector<Quality_Series> by_group = Group_Series(data, Quality_Series_Kind::kScatter);
  for (Quality_Series& series : by_group) series.size = 8.0;
  double x_low = -1.0, x_high = 1.0, y_low = -1.0, y_high = 1.0;
  for (const Sample_Quality& s : data.samples) {
    if (!std::isfinite(s.pc1) || !std::isfinite(s.pc2)) continue;
    Quality_Series& target = by_group[data.has_sheet ? s.group : 0];
    target.key << s.pc1;
    target.value << s.pc2;
    x_low = std::min(x_low, s.pc1);
    x_high = std::max(x_high, s.pc1);
    y_low = std::min(y_low, s.pc2);
    y_high = std::max(y_high, s.pc2);
  }
  Add_Filled(chart, by_group);
  Pad(x_low, x_high, 0.08);
  Pad(y_low, y_high, 0.08);
  Set_Axes(chart, x_low, x_high, y_low, y_high);
  chart.note = data.has_pca ? QStringLiteral(
                                  "log10 intensities of %1 well-filled groups, centred; a "
                                  "missing value counts as the group's smallest")
                                  .arg(data.matrix_groups)
                            : QStringLiteral("too few samples or groups for a PCA");
  if (!data.has_sheet)
    chart.note += QStringLiteral("\ncolours by group with a sample sheet (--groups)");
  return chart;
}

// The QC correction's charts (data.signal.shown).
const QColor kBeforeColor(150, 150, 150);
const QColor kAfterColor(31, 119, 180);
const QColor kConditioningColor(255, 127, 14);
const QColor kStudyColor(120, 120, 120, 150);
const QColor kBorderColor(90, 90, 90);
constexpr double kLn10 = 2.302585092994046;

QColor Batch_Color(std::size_t batch) {
  return kGroupColors[batch % (sizeof kGroupColors / sizeof kGroupColors[0])];
}

// Held-out QC RSD before and after as two outlines over the same bins.
Quality_Chart Signal_Rsd_Chart(const Quality_Signal& signal) {
  Quality_Chart chart =
      Titled_Chart(QStringLiteral("signal_qc_rsd"),
                   QStringLiteral("QC RSD of held-out QCs, before and after the QC correction"),
                   QStringLiteral("Held-out QC RSD (%)"), QStringLiteral("Groups"));
  std::vector<double> both = signal.rsd_before;
  both.insert(both.end(), signal.rsd_after.begin(), signal.rsd_after.end());
  const Histogram range = Make_Histogram(both, Histogram_Range::kFromZero);
  const std::size_t bins = std::max<std::size_t>(range.counts.size(), 1);
  double top = 1.0;
  const auto outline = [&](const std::vector<double>& values, const QString& name, QColor color,
                           double median) {
    std::vector<std::size_t> counts(bins, 0);
    std::size_t beyond = 0;
    for (double v : values) {
      const double at = std::floor((v - range.low) / range.width);
      if (at >= 0.0 && at < static_cast<double>(bins))
        ++counts[static_cast<std::size_t>(at)];
      else
        ++beyond;
    }
    Quality_Series line =
        Line(QStringLiteral("%1 (median %2 %)").arg(name, Quality_Number(median, 1)), color, 2.0);
    // A step outline: each bin's count across its width.
    for (std::size_t i = 0; i < bins; ++i) {
      const double left = range.low + static_cast<double>(i) * range.width;
      line.key << left << left + range.width;
      line.value << static_cast<double>(counts[i]) << static_cast<double>(counts[i]);
      top = std::max(top, static_cast<double>(counts[i]));
    }
    chart.series.push_back(std::move(line));
    return beyond;
  };
  const std::size_t beyond_before =
      outline(signal.rsd_before, QStringLiteral("before"), kBeforeColor, signal.median_before);
  const std::size_t beyond_after =
      outline(signal.rsd_after, QStringLiteral("after"), kAfterColor, signal.median_after);
  Set_Axes(chart, range.low, range.low + static_cast<double>(bins) * range.width, 0.0, top * 1.08);
  for (const auto& [median, color] : {std::pair{signal.median_before, kBeforeColor},
                                      std::pair{signal.median_after, kAfterColor}}) {
    Quality_Series m = Line(QString(), color, 1.0);
    m.dashed = true;
    m.key << median << median;
    m.value << 0.0 << chart.y_high;
    chart.series.push_back(std::move(m));
  }
  chart.note = QStringLiteral("%1 groups; each QC corrected by its batch's fit without it")
                   .arg(signal.rsd_before.size());
  if (beyond_before + beyond_after > 0)
    chart.note += QStringLiteral("\nbeyond the axis: %1 before, %2 after")
                      .arg(beyond_before)
                      .arg(beyond_after);
  return chart;
}

// PCA scores before or after: study samples coloured by batch, QCs red circles.
Quality_Chart Signal_Pca_Chart(const Quality_Signal& signal, bool after) {
  const std::vector<double>* pc = after ? signal.pc_after : signal.pc_before;
  const double* share = after ? signal.share_after : signal.share_before;
  Quality_Chart chart = Titled_Chart(
      after ? QStringLiteral("signal_pca_after") : QStringLiteral("signal_pca_before"),
      after ? QStringLiteral("PCA scores after the QC correction")
            : QStringLiteral("PCA scores before the QC correction"),
      QStringLiteral("PC1 (%1 % of the variance)").arg(Quality_Number(100.0 * share[0], 1)),
      QStringLiteral("PC2 (%1 % of the variance)").arg(Quality_Number(100.0 * share[1], 1)));
  const Signal_Design& design = signal.design;
  std::vector<Quality_Series> by_batch(design.batch_names.size());
  for (std::size_t b = 0; b < by_batch.size(); ++b) {
    by_batch[b].kind = Quality_Series_Kind::kScatter;
    by_batch[b].color = Batch_Color(b);
    by_batch[b].size = 7.0;
    by_batch[b].name = by_batch.size() == 1
                           ? QStringLiteral("samples")
                           : QStringLiteral("batch ") + From_Engine_String(design.batch_names[b]);
  }
  Quality_Series qc = Scatter_Series(QStringLiteral("QC"), kQcColor, 10.0, Quality_Marker::kCircle);
  // Before and after share their axes, so that the spread they lose shows.
  double x_low = 0.0, x_high = 0.0, y_low = 0.0, y_high = 0.0;
  for (const std::vector<double>* both : {signal.pc_before, signal.pc_after})
    for (std::size_t s = 0; s < both[0].size(); ++s) {
      if (!std::isfinite(both[0][s]) || !std::isfinite(both[1][s])) continue;
      x_low = std::min(x_low, both[0][s]);
      x_high = std::max(x_high, both[0][s]);
      y_low = std::min(y_low, both[1][s]);
      y_high = std::max(y_high, both[1][s]);
    }
  for (std::size_t s = 0; s < design.samples.size() && s < pc[0].size(); ++s) {
    const double x = pc[0][s], y = pc[1][s];
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    const Signal_Sample& sample = design.samples[s];
    Quality_Series& target = sample.role == Sample_Role::kQc ? qc : by_batch[sample.batch];
    target.key << x;
    target.value << y;
  }
  Add_Filled(chart, by_batch);
  if (!qc.key.isEmpty()) chart.series.push_back(std::move(qc));
  Pad(x_low, x_high, 0.08);
  Pad(y_low, y_high, 0.08);
  Set_Axes(chart, x_low, x_high, y_low, y_high);
  chart.note = QStringLiteral(
      "log10 intensities of the well-filled groups, centred; axes shared before and after");
  return chart;
}

// One group's log10 intensity against injection order with its batch fits.
Quality_Chart Signal_View_Chart(const Quality_Signal& signal, const Signal_Feature_View& view,
                                QString id, QString title) {
  const Signal_Design& design = signal.design;
  Quality_Chart chart =
      Titled_Chart(std::move(id), std::move(title), QStringLiteral("Injection order"),
                   QStringLiteral("log10 intensity"));
  Quality_Series study = Scatter_Series(QStringLiteral("study sample"), kStudyColor, 5.0);
  Quality_Series qc = Scatter_Series(QStringLiteral("QC"), kQcColor, 8.0);
  Quality_Series conditioning = Scatter_Series(QStringLiteral("conditioning QC (not fitted)"),
                                               kConditioningColor, 9.0, Quality_Marker::kCircle);
  double x_low = kNaN, x_high = kNaN, y_low = kNaN, y_high = kNaN;
  const auto extend = [](double& low, double& high, double v) {
    if (!(v >= low)) low = v;
    if (!(v <= high)) high = v;
  };
  std::vector<double> batch_low(design.batch_names.size(), kNaN),
      batch_high(design.batch_names.size(), kNaN);
  for (std::size_t s = 0; s < design.samples.size(); ++s) {
    const Signal_Sample& sample = design.samples[s];
    if (!std::isfinite(sample.order)) continue;
    extend(x_low, x_high, sample.order);
    extend(batch_low[sample.batch], batch_high[sample.batch], sample.order);
    const double v = view.values[s];
    if (!(v > 0.0)) continue;
    const double y = std::log10(v);
    extend(y_low, y_high, y);
    Quality_Series& target = sample.role != Sample_Role::kQc ? study
                             : sample.conditioning           ? conditioning
                                                             : qc;
    target.key << sample.order;
    target.value << y;
  }
  bool named_curve = false;
  for (std::size_t b = 0; b < view.fits.size() && b < batch_low.size(); ++b) {
    const Batch_Fit& fit = view.fits[b];
    if (fit.kind == Batch_Fit::kUncorrected || !std::isfinite(batch_low[b])) continue;
    Quality_Series curve = Line(named_curve ? QString() : QStringLiteral("QC fit"), kQcColor, 2.0);
    named_curve = true;
    constexpr int kSteps = 40;
    for (int i = 0; i <= kSteps; ++i) {
      const double x = batch_low[b] + (batch_high[b] - batch_low[b]) * i / kSteps;
      const double level = fit.Level(x);
      if (!std::isfinite(level)) continue;
      curve.key << x;
      curve.value << level / kLn10;
      extend(y_low, y_high, level / kLn10);
    }
    if (!curve.key.isEmpty()) chart.series.push_back(std::move(curve));
  }
  if (!std::isfinite(x_low)) x_low = x_high = 0.0;
  if (!std::isfinite(y_low)) y_low = y_high = 0.0;
  Pad(x_low, x_high, 0.03);
  Pad(y_low, y_high, 0.08);
  bool named_border = false;
  for (double border : signal.batch_borders) {
    Quality_Series line =
        Line(named_border ? QString() : QStringLiteral("batch border"), kBorderColor, 1.0);
    named_border = true;
    line.dashed = true;
    line.key << border << border;
    line.value << y_low << y_high;
    chart.series.push_back(std::move(line));
  }
  for (Quality_Series* s : {&study, &qc, &conditioning})
    if (!s->key.isEmpty()) chart.series.push_back(std::move(*s));
  Set_Axes(chart, x_low, x_high, y_low, y_high);
  chart.note = QStringLiteral("Align_ID %1, as measured, with each batch's fit").arg(view.align_id);
  QString methods;
  for (std::size_t b = 0; b < signal.batch_methods.size(); ++b)
    methods += (b ? QStringLiteral(", ") : QString()) + QLatin1String(signal.batch_methods[b]);
  chart.note += QStringLiteral("\nbatches: ") + methods;
  return chart;
}

Quality_Chart Signal_Worst_Chart(const Quality_Signal& signal, std::size_t rank) {
  const Signal_Feature_View& view = signal.worst[rank];
  return Signal_View_Chart(
      signal, view, QStringLiteral("signal_worst_%1").arg(rank + 1),
      QStringLiteral("Worst group %1 after the QC correction: held-out QC RSD %2 % \u2192 %3 %")
          .arg(rank + 1)
          .arg(Quality_Number(view.rsd_before, 1), Quality_Number(view.rsd_after, 1)));
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
      {"pick", "Member choice"},
      {"join_splits", "Join split groups"},
      {"spread_rt", "Member choice: RT spread (s)"},
      {"spread_mass", "Member choice: mass spread (Da)"},
      {"spread_mass_ppm", "Member choice: mass spread (ppm)"},
      {"spread_log_intensity", "Member choice: log10 intensity spread"},
      {"spread_groups", "Member choice: groups behind the spreads"},
      {"joins", "Split groups joined"},
  };
  for (const auto& [name, label] : kKnown)
    if (item == QLatin1String(name)) return QString::fromLatin1(label);
  return item;
}

QString Member_Choice_Summary(const Member_Choice_Record& choice) {
  const auto significant = [](double value) {
    return std::isfinite(value) ? QString::number(value, 'g', 3) : QStringLiteral("-");
  };
  QString text;
  if (choice.pick == "scored") {
    if (choice.spread_groups == 0) {
      text = QStringLiteral("scored, but no group held half of the samples: closest in time kept");
    } else {
      text = QStringLiteral("scored: spreads %1 s, %2 %3, %4 log10 intensity, from %5 groups")
                 .arg(significant(choice.spread_rt), significant(choice.spread_mass),
                      choice.spread_mass_ppm ? QStringLiteral("ppm") : QStringLiteral("Da"),
                      significant(choice.spread_log_intensity))
                 .arg(static_cast<qulonglong>(choice.spread_groups));
    }
  } else {
    text = QStringLiteral("closest in time");
  }
  if (choice.join_splits)
    text += QStringLiteral("; %1 split groups joined").arg(static_cast<qulonglong>(choice.joins));
  return text;
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
  if (data.has_correction) charts.push_back(Correction_Chart(data));

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

  {  // Median correlation per sample.
    std::vector<double> values(n_samples);
    std::vector<bool> flagged(n_samples);
    for (std::size_t s = 0; s < n_samples; ++s) {
      values[s] = data.samples[s].median_correlation;
      flagged[s] = data.samples[s].correlation_score <= kCorrelationOutlierScore;
    }
    Quality_Chart chart = Sample_Bars(data, values, flagged);
    // Lowest on top: the sample least like the others reads first.
    for (Quality_Series& series : chart.series)
      for (double& k : series.key) k = static_cast<double>(chart.categories.size()) - 1.0 - k;
    std::reverse(chart.categories.begin(), chart.categories.end());
    chart.id = QStringLiteral("correlation");
    chart.title = QStringLiteral("Median correlation of each sample with the others");
    chart.x_title = QStringLiteral("Median Pearson r of log10 intensities");
    chart.y_title = QStringLiteral("Sample");
    // From a little below the lowest r to 1, so that small differences near
    // r = 1 show.
    double lowest = 1.0;
    for (const Quality_Series& series : chart.series)
      for (double v : series.value) lowest = std::min(lowest, v);
    chart.x_low = std::max(-1.0, lowest - std::max(0.25 * (1.0 - lowest), 0.005));
    chart.x_high = 1.0;
    chart.note = QStringLiteral("over %1 well-filled groups; red: stands out (robust score <= %2)")
                     .arg(data.matrix_groups)
                     .arg(Quality_Number(kCorrelationOutlierScore, 1));
    charts.push_back(std::move(chart));
  }

  {  // Mass deviation histogram.
    Quality_Chart chart = Titled_Chart(
        QStringLiteral("mass_deviation"),
        QStringLiteral("Mass deviation from the group's median mass"),
        QStringLiteral("Compound_MolecularMass deviation (ppm)"), QStringLiteral("Members"));
    Histogram_Series(chart, data.mass_ppm, QStringLiteral("ppm"), QStringLiteral("members"));
    charts.push_back(std::move(chart));
  }

  charts.push_back(Mass_By_Mz_Chart(data));

  {  // Samples per group.
    Quality_Chart chart =
        Titled_Chart(QStringLiteral("samples_per_group"), QStringLiteral("Samples per group"),
                     QStringLiteral("Samples in the group"), QStringLiteral("Groups"));
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
    Quality_Chart chart = Titled_Chart(
        QStringLiteral("peaks_per_sample"),
        QStringLiteral("Peaks read and aligned per sample (share aligned in brackets)"),
        QStringLiteral("Peaks"), QStringLiteral("Sample"));
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
    Quality_Chart chart = Titled_Chart(
        QStringLiteral("intensity_cv"),
        QStringLiteral("Intensity CV of groups present in at least half of the samples"),
        QStringLiteral("Coefficient of variation of Compound_Intensity (%)"),
        QStringLiteral("Groups"));
    Histogram_Series(chart, data.intensity_cv, QStringLiteral("%"), QStringLiteral("groups"));
    charts.push_back(std::move(chart));
  }
  if (data.has_qc) charts.push_back(Qc_Cv_Chart(data));
  charts.push_back(Missing_Chart(data));
  charts.push_back(Intensity_Box_Chart(data));
  if (data.has_order) charts.push_back(Injection_Trend_Chart(data));
  charts.push_back(Pca_Chart(data));
  if (data.signal.shown) {
    charts.push_back(Signal_Rsd_Chart(data.signal));
    if (data.signal.has_pca) {
      charts.push_back(Signal_Pca_Chart(data.signal, false));
      charts.push_back(Signal_Pca_Chart(data.signal, true));
    }
    for (std::size_t i = 0; i < data.signal.worst.size(); ++i)
      charts.push_back(Signal_Worst_Chart(data.signal, i));
  }
  return charts;
}

std::vector<std::uint32_t> Standing_Out(const Quality_Data& data) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t s = 0; s < data.samples.size(); ++s)
    if (data.samples[s].outlier_score >= kOutlierScore ||
        data.samples[s].correlation_score <= kCorrelationOutlierScore)
      out.push_back(s);
  return out;
}

QString Quality_Verdict(const Quality_Data& data) {
  QString rt =
      QStringLiteral("median |RT deviation| %1 s").arg(Quality_Number(data.median_abs_rt, 2));
  if (data.has_correction)
    rt += QStringLiteral(" \u2192 %1 s after correction")
              .arg(Quality_Number(data.median_abs_rt_after, 2));
  const std::size_t out = Standing_Out(data).size();
  const QString samples = out == 0   ? QStringLiteral("no sample stands out")
                          : out == 1 ? QStringLiteral("1 sample stands out")
                                     : QStringLiteral("%1 samples stand out").arg(out);
  const QString groups =
      data.groups == 0 ? QStringLiteral("no groups")
                       : QStringLiteral("%1 % of groups in at least half of the samples")
                             .arg(Quality_Number(
                                 100.0 * static_cast<double>(data.groups_half) / data.groups, 0));
  QString verdict = rt + QStringLiteral("; ") + samples + QStringLiteral("; ") + groups;
  if (data.signal.shown)
    verdict += QStringLiteral("; ") + QString::fromStdString(data.signal.verdict);
  return verdict;
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
  QStringList unlike;
  for (std::uint32_t s : Standing_Out(data))
    if (data.samples[s].correlation_score <= kCorrelationOutlierScore)
      unlike << From_Engine_String(data.samples[s].name);
  add(QStringLiteral("Samples unlike the others (correlation)"),
      unlike.isEmpty() ? QStringLiteral("none") : unlike.join(QStringLiteral(", ")));
  if (data.has_correction) {
    std::vector<double> largest;
    for (const Sample_Quality& s : data.samples)
      largest.push_back(s.correction.rt.empty() ? std::nan("") : s.max_abs_shift);
    QStringList named;
    std::size_t uncorrected = 0;
    for (const Sample_Quality& s : data.samples) uncorrected += s.correction.rt.empty() ? 1 : 0;
    for (std::uint32_t s : Rank_Descending(largest)) {
      if (named.size() >= 3 || !std::isfinite(largest[s])) break;
      named << QStringLiteral("%1 (%2 s)")
                   .arg(Name_Of(data.samples[s]), Quality_Number(largest[s], 1));
    }
    add(QStringLiteral("Largest corrections"), named.join(QStringLiteral(", ")));
    if (data.has_anchors) {
      QStringList weakest;
      for (std::size_t i = 0; i < data.weakly_supported && weakest.size() < 3; ++i) {
        const Sample_Quality& sample = data.samples[data.least_supported[i]];
        weakest << QStringLiteral("%1 (%2 anchors, none from %3 to %4 s)")
                       .arg(Name_Of(sample))
                       .arg(sample.anchors.size())
                       .arg(Quality_Number(sample.anchor_gap_from, 0),
                            Quality_Number(sample.anchor_gap_to, 0));
      }
      if (data.weakly_supported > 3)
        weakest << QStringLiteral("and %1 more").arg(data.weakly_supported - 3);
      const QString median = QStringLiteral(
                                 "a sample's longest stretch without an anchor: "
                                 "median %1 s")
                                 .arg(Quality_Number(data.median_anchor_gap, 0));
      add(QStringLiteral("Least supported corrections"),
          (weakest.isEmpty() ? QStringLiteral("none") : weakest.join(QStringLiteral(", "))) +
              QStringLiteral("; ") + median);
    }
    add(QStringLiteral("Samples left uncorrected"), count(uncorrected));
  }
  if (!data.gross_shift_not_applied.empty()) {
    QStringList names;
    for (const std::int64_t id : data.gross_shift_not_applied) {
      const auto found = std::find_if(data.samples.begin(), data.samples.end(),
                                      [id](const Sample_Quality& s) { return s.sample_id == id; });
      names << (found != data.samples.end() ? QStringLiteral("%1 (%2)").arg(Name_Of(*found)).arg(id)
                                            : QString::number(id));
    }
    add(QStringLiteral("Gross shift not applied"),
        names.join(QStringLiteral(", ")) +
            QStringLiteral(" (the reference's matches do not single one out)"));
  }
  if (data.member_choice)
    add(QStringLiteral("Member choice"), Member_Choice_Summary(*data.member_choice));
  if (data.has_qc)
    add(QStringLiteral("Median intensity CV, QC / study samples"),
        QStringLiteral("%1 % / %2 % of %3 groups")
            .arg(Quality_Number(Median(data.cv_qc), 1), Quality_Number(Median(data.cv_study), 1),
                 count(data.cv_qc.size())));
  if (!data.empty_inputs.empty()) {
    QStringList names;
    constexpr qsizetype kNamed = 10;
    for (const std::string& name : data.empty_inputs)
      if (names.size() < kNamed) names << From_Engine_String(name);
    if (static_cast<qsizetype>(data.empty_inputs.size()) > kNamed)
      names << QStringLiteral("and %1 more").arg(data.empty_inputs.size() - kNamed);
    add(QStringLiteral("Inputs that gave no peaks"),
        names.join(QStringLiteral(", ")) +
            QStringLiteral(" (0 peaks read: no table Annotate_Peaklist, or an empty one)"));
  }
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

std::optional<Quality_Chart> Signal_Group_Chart(const Quality_Signal& signal,
                                                std::uint32_t align_id, QString* why) {
  std::optional<Signal_Feature_View> view = Signal_Feature_Of(signal, align_id);
  if (!view) {
    if (why == nullptr) return std::nullopt;
    if (!signal.shown) {
      *why = signal.why_not.empty()
                 ? QStringLiteral(
                       "the QC correction needs a sample sheet with an order column and QC samples")
                 : From_Engine_String(signal.why_not);
    } else {
      *why = QStringLiteral(
                 "Align_ID %1 is not among the %2 groups the QC correction shows (those present "
                 "in at least half of the samples)")
                 .arg(align_id)
                 .arg(signal.source ? signal.source->align_ids.size() : 0);
    }
    return std::nullopt;
  }
  return Signal_View_Chart(
      signal, *view, QStringLiteral("signal_group_%1").arg(align_id),
      QStringLiteral("Group %1 against injection order: held-out QC RSD %2 % \u2192 %3 %")
          .arg(align_id)
          .arg(Quality_Number(view->rsd_before, 1), Quality_Number(view->rsd_after, 1)));
}

}  // namespace Varnel
