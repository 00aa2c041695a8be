// The viewer window: the result the visualization tab shows, in a large
// resizable window of its own. The whole grid (Align_ID, SAMPLE_NAME, the
// mass and the times first, every other column after them) beside both
// charts, with splitters between them; a row selected in its grid is drawn
// as the tab draws it (Draw_Row_Charts), with the tab's plot options. The
// grid shows the tab's own rows (one model: one sort, one highlight). The
// window's size, place and splitters are kept in the settings it is given.
// It opens on the row current in the tab.
#ifndef VARNEL_UI_WIDGETS_RESULT_VIEWER_WINDOW_H_
#define VARNEL_UI_WIDGETS_RESULT_VIEWER_WINDOW_H_

#include <QSettings>
#include <QWidget>
#include <functional>
#include <memory>

class QCloseEvent;
class QCustomPlot;
class QRadioButton;
class QSplitter;
class QTableView;

namespace Varnel {

class Align_Visualization_Tab;
class Failure_Guard;

// Where the viewer keeps its geometry; tests pass settings of their own.
using Settings_Factory = std::function<std::unique_ptr<QSettings>()>;
// The user's settings of Varnel (organization and application "Varnel").
std::unique_ptr<QSettings> Make_User_Settings();

// The grid's columns in the order the viewer shows them first.
inline constexpr int kViewerLeadingColumns = 5;

class Result_Viewer_Window : public QWidget {
  Q_OBJECT

 public:
  // tab and guard must outlive the window (the main window owns all three;
  // parent is the main window). settings: empty means Make_User_Settings.
  Result_Viewer_Window(Align_Visualization_Tab& tab, const Failure_Guard& guard,
                       Settings_Factory settings, QWidget* parent);
  ~Result_Viewer_Window() override;

  QTableView* Grid() const { return grid_; }
  QCustomPlot* Aligned_Chart() const { return aligned_; }
  QCustomPlot* Detail_Chart() const { return detail_; }

 signals:
  // Emitted at the end of every chart redraw.
  void Redrawn();

 protected:
  // Keeps the geometry and the splitters in the settings.
  void closeEvent(QCloseEvent* event) override;

 private:
  // Title and charts for the tab's current result.
  void Follow_Result();
  // Column widths from the header and the first rows, a real number's room
  // at least.
  void Fit_Columns();
  // Draws the current row of the grid with the chosen options.
  void Redraw();
  void Restore_Layout();
  void Save_Layout() const;

  Align_Visualization_Tab& tab_;
  const Failure_Guard& guard_;
  Settings_Factory settings_;

  QTableView* grid_ = nullptr;
  QSplitter* split_ = nullptr;        // grid | charts
  QSplitter* chart_split_ = nullptr;  // upper chart over lower chart
  QCustomPlot* aligned_ = nullptr;
  QCustomPlot* detail_ = nullptr;
  QRadioButton* normalized_ = nullptr;
  QRadioButton* scan_ = nullptr;
  QRadioButton* rt_corrected_ = nullptr;
  QRadioButton* rt_original_ = nullptr;
  QRadioButton* rt_drift_corrected_ = nullptr;  // shown for a drift-corrected result
  QRadioButton* group_plot_ = nullptr;
  QRadioButton* compound_plot_ = nullptr;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_RESULT_VIEWER_WINDOW_H_
