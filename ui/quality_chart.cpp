#include "ui/quality_chart.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace Varnel {

Quality_Chart Titled_Chart(QString id, QString title, QString x_title, QString y_title) {
  Quality_Chart chart;
  chart.id = std::move(id);
  chart.title = std::move(title);
  chart.x_title = std::move(x_title);
  chart.y_title = std::move(y_title);
  return chart;
}

Quality_Series Scatter_Series(QString name, QColor color, double size, Quality_Marker marker) {
  Quality_Series s;
  s.kind = Quality_Series_Kind::kScatter;
  s.name = std::move(name);
  s.color = std::move(color);
  s.size = size;
  s.marker = marker;
  return s;
}

Quality_Series Line_Series(QString name, QColor color, double width) {
  Quality_Series s;
  s.kind = Quality_Series_Kind::kLine;
  s.name = std::move(name);
  s.color = std::move(color);
  s.size = width;
  return s;
}

void Pad_Range(double& low, double& high, double pad) {
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

void Set_Axes(Quality_Chart& chart, double x_low, double x_high, double y_low, double y_high) {
  chart.x_low = x_low;
  chart.x_high = x_high;
  chart.y_low = y_low;
  chart.y_high = y_high;
}

}  // namespace Varnel
