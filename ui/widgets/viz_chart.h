// The charts of the visualization tab on QCustomPlot: one-time set-up (title
// element, grid, legend, plain tick labels, pan/zoom, double-click refit),
// drawing a Chart_Content, and saving a chart as a picture to print.
#ifndef VARNEL_UI_WIDGETS_VIZ_CHART_H_
#define VARNEL_UI_WIDGETS_VIZ_CHART_H_

#include <QString>

#include "ui/viz_plot.h"

class QCustomPlot;
class Rt_Shift_Curves;
class QString;
class QCPTextElement;
class QWidget;

namespace Varnel {

class Align_Table_Model;
struct Plot_Options;

// Prepares an empty chart once. REQUIRES: plot freshly made.
void Setup_Chart(QCustomPlot* plot);
// The chart's title element (made by Setup_Chart).
QCPTextElement* Chart_Title(QCustomPlot* plot);

// Removes all curves and drawn objects, clears the titles, undoes any zoom.
void Clear_Chart(QCustomPlot* plot);
// Clear_Chart, then the content's titles and curves, axes refitted, repainted.
void Draw_Chart(QCustomPlot* plot, const Chart_Content& content);
// Draws displayed row `row` of model, a row of the result
// Join_Path(folder, file): every peak of its alignment into `aligned`, its
// peak, group or compound within its sample (options.detail) into `detail`;
// then highlights the rows of its Align_ID (none for Align_ID 0). Both charts
// and the highlight are cleared first, so a failure (what Grid_Row_Keys and
// the queries throw, passed on) leaves nothing of an earlier row; the caller
// then repaints them.
// Under X_Axis::kRT_Drift_Corrected the times are moved by `drift`.
void Draw_Row_Charts(QCustomPlot* aligned, QCustomPlot* detail, Align_Table_Model& model, int row,
                     const QString& folder, const QString& file, const Plot_Options& options,
                     const Rt_Shift_Curves* drift = nullptr);

// The words an empty chart shows until a row is chosen.
inline constexpr char kChooseRowHint[] = "Click a row of the grid to plot its alignment group";
// Clear_Chart, then `hint` in the middle of the empty chart, without axes'
// numbers, repainted.
void Show_Chart_Hint(QCustomPlot* plot, const QString& hint);

// Refits both axes to the curves and repaints.
void Refit_Chart(QCustomPlot* plot);

// Width a saved PNG reaches at least, pixels: enough to print sharply.
inline constexpr int kMinSavedPngWidth = 1600;

// Saves the chart as PNG or PDF, chosen by the path's suffix (PNG when it is
// neither "pdf" nor "png", ".png" then added). The PNG is the chart drawn at
// the smallest whole scale factor that makes it at least kMinSavedPngWidth
// pixels wide (text grows with it); the PDF is vector. Returns false when the
// file cannot be written.
bool Save_Chart(QCustomPlot* plot, const QString& path);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_VIZ_CHART_H_
