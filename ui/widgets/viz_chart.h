// The charts of the visualization tab on QCustomPlot: one-time set-up (title
// element, grid, legend, plain tick labels, pan/zoom, double-click refit, a
// context menu that saves the chart), and drawing a Chart_Content.
#ifndef VARNEL_UI_WIDGETS_VIZ_CHART_H_
#define VARNEL_UI_WIDGETS_VIZ_CHART_H_

#include <QString>
#include <functional>

#include "ui/viz_plot.h"

class QCustomPlot;
class QCPTextElement;
class QWidget;

namespace Varnel {

// Asks where to save a chart; returns the chosen path or an empty text. The
// default is a QFileDialog; tests replace it so that nothing blocks.
using Save_Path_Hook = std::function<QString(QWidget* parent, const QString& title)>;
void Set_Save_Path_Hook(Save_Path_Hook hook);

// Prepares an empty chart once. REQUIRES: plot freshly made.
void Setup_Chart(QCustomPlot* plot);
// The chart's title element (made by Setup_Chart).
QCPTextElement* Chart_Title(QCustomPlot* plot);

// Removes all curves and drawn objects, clears the titles, undoes any zoom.
void Clear_Chart(QCustomPlot* plot);
// Clear_Chart, then the content's titles and curves, axes refitted, repainted.
void Draw_Chart(QCustomPlot* plot, const Chart_Content& content);
// Refits both axes to the curves and repaints.
void Refit_Chart(QCustomPlot* plot);

// Saves the chart as PNG or PDF, chosen by the path's suffix (PNG when it is
// neither "pdf" nor "png", the suffix then added). Returns false on failure.
bool Save_Chart(QCustomPlot* plot, const QString& path);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_VIZ_CHART_H_
