// What the quality charts show, built without widgets from Quality_Data:
// series, colours, titles, axis titles, axis ranges, category labels and a
// note per chart, and the summary table. The quality window and varnel-report
// both draw these with Make_Quality_Plot, so the two never disagree.
#ifndef VARNEL_UI_QUALITY_CHARTS_H_
#define VARNEL_UI_QUALITY_CHARTS_H_

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ui/quality_data.h"

namespace Varnel {

enum class Quality_Series_Kind { kLine, kScatter, kBars, kBoxes };
// The mark of a scatter point: a filled disc or an open circle.
enum class Quality_Marker { kDisc, kCircle };

// One plotted series. Bars stand on the category axis (x, or y for a
// horizontal chart) at the x (resp. y) positions, bar_width wide in axis units.
struct Quality_Series {
  Quality_Series_Kind kind = Quality_Series_Kind::kLine;
  QString name;         // legend entry; empty: none
  QList<double> key;    // x (y for bars of a horizontal chart)
  QList<double> value;  // y (x for bars of a horizontal chart)
  QColor color;
  double size = 1.5;    // line width or point diameter, pixels
  bool dashed = false;  // lines
  Quality_Marker marker = Quality_Marker::kDisc;
  double bar_width = 0.8;  // axis units (bars and boxes)
  // Boxes: value is the median; whiskers and quartiles per key.
  QList<double> low, q1, q3, high;
};

struct Quality_Chart {
  QString id;  // file stem of the chart's picture, e.g. "rt_deviation"
  QString title;
  QString x_title;
  QString y_title;
  double x_low = 0.0, x_high = 1.0;
  double y_low = 0.0, y_high = 1.0;
  // Horizontal bar charts: the key axis is y, categories are the labels of
  // positions 0, 1, 2 ... (bottom up); the view thins them so none overlap.
  bool horizontal = false;
  QStringList categories;
  QString note;  // one or two short lines drawn in a corner of the chart
  std::vector<Quality_Series> series;
  // Height the chart needs at full width to keep its category labels
  // readable, in pixels.
  int preferred_height = 800;
};

// Samples labelled by name in the retention-time deviation chart.
inline constexpr int kLabelledOutliers = 5;
// Scatter points drawn in a deviation chart at most (every k-th member beyond).
inline constexpr int kMaxScatterPoints = 20000;

// Samples named in the correction-curve chart: the largest corrections, then
// the weakly supported ones (see Quality_Data::weakly_supported) not named yet.
// The chart draws every corrected sample's anchors as points: the named
// samples' as open circles in their colour (every k-th of a sample beyond
// kMaxNamedAnchors), the others' as small grey discs (every k-th beyond
// kMaxScatterPoints in all).
inline constexpr int kNamedCorrections = 5;
inline constexpr int kNamedLeastSupported = 3;
inline constexpr std::size_t kMaxNamedAnchors = 500;

// The charts in display order: retention-time deviation (two, before and after,
// with a stored correction), the correction curves (with a correction), the
// per-sample outlier ranking, the median correlation per sample, mass
// deviation and mass deviation against m/z, samples per group, the intensity
// CV, the CV of QC against study samples (with a QC group), peaks and missing
// values per sample, intensity boxes per sample, the intensity trend in
// injection order (with an order column) and the PCA scores.
std::vector<Quality_Chart> Build_Quality_Charts(const Quality_Data& data);

// The chart of one group corrected by the QC correction, against injection
// order as the worst groups are drawn (picture "signal_group_<Align_ID>").
// Nothing when the correction is not shown or does not hold the group; why
// (when given) then says so.
std::optional<Quality_Chart> Signal_Group_Chart(const Quality_Signal& signal,
                                                std::uint32_t align_id, QString* why = nullptr);

// One line on top of the window and the page: "median |RT deviation| 9.3 s ->
// 0.44 s after correction; 2 samples stand out; 81 % of groups in at least
// half of the samples" (an arrow, not "->"; without a correction the first
// part is "median |RT deviation| 9.3 s").
QString Quality_Verdict(const Quality_Data& data);

// Indexes of the samples that stand out, in sample order: a robust score of
// kOutlierScore or more in retention time, or a median correlation scoring
// kCorrelationOutlierScore or less.
std::vector<std::uint32_t> Standing_Out(const Quality_Data& data);

// The summary table: label and value, in display order (samples, peaks,
// groups, unaligned peaks, ..., then the run's parameters when recorded).
struct Summary_Row {
  QString label;
  QString value;
  bool section = false;  // a heading row; value empty
};
std::vector<Summary_Row> Quality_Summary(const Quality_Data& data);

// The summary's label of a run item: a worded label for the known items
// ("mass_tol" is "Mass tolerance (Da)"), any other item as it is stored.
QString Run_Item_Label(const QString& item);

// The member choice in a line: "scored: spreads 2.1 s, 0.0012 Da, 0.15 log10
// intensity, from 340 groups; 12 split groups joined", or "closest in time"
// when the choice is today's; "-" for a spread that is no number.
QString Member_Choice_Summary(const Member_Choice_Record& choice);

// Number as the charts print it: at most `decimals` decimals, trailing zeros
// dropped, "." as decimal point; "-" for NaN.
QString Quality_Number(double value, int decimals);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_CHARTS_H_
