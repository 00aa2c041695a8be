// The set-up every quality chart shares: a chart with its picture's name,
// title and axis titles, its series of points and its axis ranges. The
// quality charts and the QC correction's charts are made with these, so that
// they are titled, labelled and ranged alike (the view wraps titles, notes,
// legends and axis titles of all of them the same way).
#ifndef VARNEL_UI_QUALITY_CHART_H_
#define VARNEL_UI_QUALITY_CHART_H_

#include <QColor>
#include <QString>

#include "ui/quality_charts.h"

namespace Varnel {

// A chart whose picture is named id, with its title and axis titles.
Quality_Chart Titled_Chart(QString id, QString title, QString x_title, QString y_title);

// A scatter series: marks of size pixels; a named series has a legend entry.
Quality_Series Scatter_Series(QString name, QColor color, double size,
                              Quality_Marker marker = Quality_Marker::kDisc);

// A line series width pixels wide; a named series has a legend entry.
Quality_Series Line_Series(QString name, QColor color, double width);

// Widens [low, high] by the share pad of its span on each side; an empty or
// reversed range becomes one around low (a tenth of |low|, at least 1).
void Pad_Range(double& low, double& high, double pad);

// The chart's axis ranges as given.
void Set_Axes(Quality_Chart& chart, double x_low, double x_high, double y_low, double y_high);

}  // namespace Varnel

#endif  // VARNEL_UI_QUALITY_CHART_H_
