// Drawing a Quality_Chart on QCustomPlot: the one function the quality window
// and varnel-report share, and saving a chart as PNG (at least
// kMinSavedWidth pixels wide) or PDF.
#ifndef VARNEL_UI_WIDGETS_QUALITY_CHARTS_VIEW_H_
#define VARNEL_UI_WIDGETS_QUALITY_CHARTS_VIEW_H_

#include <QFont>
#include <QString>
#include <functional>

#include "ui/quality_charts.h"

class QCustomPlot;
class QWidget;

namespace Varnel {

// Saved PNGs are at least this many pixels wide, sharp enough to print.
inline constexpr int kMinSavedWidth = 1600;

// Asks where to save a chart: returns the chosen path, or an empty text when
// the user cancelled. suggested is a file name such as "rt_deviation.png".
using Quality_Save_Dialog = std::function<QString(QWidget* parent, const QString& suggested)>;
// A QFileDialog asking for a PNG or PDF file.
Quality_Save_Dialog Default_Quality_Save_Dialog();

// A new plot (owned by parent, or by the caller when parent is null) showing
// the chart: title, note, legend above the axes, category labels thinned so
// that none overlap, plain tick labels. Drag pans, the wheel zooms, a double
// click restores the chart's ranges, and when save_dialog is set the context
// menu offers "Save as PNG...", "Save as PDF..." and "Reset View".
QCustomPlot* Make_Quality_Plot(const Quality_Chart& chart, QWidget* parent,
                               Quality_Save_Dialog save_dialog = {});

// Saves the plot as PDF when the path ends in ".pdf" (any case), else as PNG
// at least kMinSavedWidth pixels wide, scaled up from the plot's size so that
// it looks as on screen. Returns false when the file cannot be written.
bool Save_Quality_Plot(QCustomPlot* plot, const QString& path);

// Renders the chart offscreen into a PNG of width pixels (>= kMinSavedWidth)
// and the chart's preferred height scaled alike, drawn at 1/scale of that size
// and magnified by scale (larger scale: larger text; 1.5 suits a picture shown
// about 1300 pixels wide, 2.0 one shown half as wide). Returns false on failure.
inline constexpr double kReportScale = 1.5;
bool Render_Quality_Png(const Quality_Chart& chart, const QString& path, int width = kMinSavedWidth,
                        double scale = kReportScale);

// The text broken at spaces into lines no wider than width pixels in font;
// each of its own lines wraps by itself, and a word wider than width stands
// on a line of its own, broken between characters.
QString Wrap_To_Width(const QString& text, const QFont& font, int width);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_QUALITY_CHARTS_VIEW_H_
