// The visualization tab ("Align_Visualization"): open an aligned result,
// browse its rows in a grid, and plot the peak shapes of the current row in
// two charts. The tab owns its controls, its handlers and the state they
// share; what is queried and drawn is built in ui/viz_plot.h.
#ifndef VARNEL_UI_WIDGETS_ALIGN_VISUALIZATION_TAB_H_
#define VARNEL_UI_WIDGETS_ALIGN_VISUALIZATION_TAB_H_

#include <QKeySequence>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "storage/rt_shift_curves.h"

class QAction;
class QCustomPlot;
class QEvent;
class QLineEdit;
class QPoint;
class QPushButton;
class QRadioButton;
class QTableView;

namespace Varnel {

// The caption of the grid's menu entry and the tab's button that open the
// viewer window.
inline constexpr char kOpenViewerCaption[] = "Open in viewer window…";

class Align_Table_Model;
class Failure_Guard;
class Form_Dialogs;
struct Radio_State;

class Align_Visualization_Tab : public QWidget {
  Q_OBJECT

 public:
  // dialogs and guard belong to the window and outlive the tab.
  // initial_folder gives the folder the result-file dialog opens in (the
  // result folder of the last Align request, empty for the dialog's default).
  Align_Visualization_Tab(Form_Dialogs& dialogs, const Failure_Guard& guard,
                          std::function<QString()> initial_folder, QWidget* parent = nullptr);
  ~Align_Visualization_Tab() override;

  // Folder and file name of the opened aligned database; empty until one
  // opened.
  const QString& alignFolderName() const { return align_folder_name_; }
  const QString& alignFileName() const { return align_file_name_; }

  // Opens the aligned database at path as Browse does after its dialog
  // (recovery of an unfinished replacement, grid, charts emptied with their
  // hint, scroll at the top). Failures are shown; false then.
  bool Open_Result(const QString& path);
  // The drift correction of the open result; null when it holds none.
  const Rt_Shift_Curves* Drift_Curves() const { return drift_curves_ ? &*drift_curves_ : nullptr; }

  // Fills the result grid from Join_Path(DataPath, DataFile). Throws what
  // Aligned_Table::Load throws; the grid then keeps its previous table.
  void PopulateAlignGrid(const QString& DataPath, const QString& DataFile);

  // ---- Hooks for work on the open result (find, export, reports ...) ----

  // Adds an entry to the result grid's context menu, after those added
  // before; the shortcut (may be empty) works while the grid has the focus.
  // With needs_result the entry is disabled, and its shortcut does nothing,
  // until a result is open. The action runs inside the window's failure
  // guard. Without entries the grid shows no menu.
  void Add_Grid_Action(const QString& text, const QKeySequence& shortcut,
                       std::function<void()> action, bool needs_result = true);
  // True once a result has been opened into the grid.
  bool Has_Result() const { return !align_file_name_.isEmpty(); }
  // The grid's current (displayed) row, -1 when none.
  int Current_Row() const;
  // Makes displayed row current, selected and visible, and redraws it as any
  // row change does (also when it was current already). Out of range: no-op.
  void Go_To_Row(int row);
  // The open result's rows as the grid shows them (sorted as shown).
  const Align_Table_Model& Grid_Model() const { return *align_table_model_; }
  // The same rows for another view of the result (the viewer window): its
  // sort and highlight are the grid's own.
  Align_Table_Model& Shared_Grid_Model() { return *align_table_model_; }
  // The context menu of a chart: save as PNG or PDF, fit to the curves.
  void Show_Chart_Menu(QCustomPlot* plot, const QPoint& pos);

 signals:
  // Emitted at the end of every chart redraw (tests count redraws with it).
  void Redrawn();
  // Emitted when another result has been opened into the grid.
  void Result_Opened();
  // The "Open in viewer window..." button was clicked.
  void Viewer_Requested();

 public slots:
  void Button_Click_Align_File_Browse();
  void DataGridView_CellMouseClick(int row_index);  // -1: the column-header row
  void Normalize_RadioButton_CheckChanged();
  void RT_Original_RadioButton_CheckChange();
  void RT_Corrected_RadioButton_CheckChanged();
  void GroupPlot_RadioButton_CheckChanged();
  void CompoundPlot_RadioButton_CheckChanged();
  void RT_Drift_Corrected_RadioButton_CheckChanged();
  void RadioButton_CheckChanged();  // the redraw of both charts

 protected:
  // Notes the grid's current row before a mouse press moves it (see
  // row_before_press_); answers tooltip requests on the grid's rows with
  // Result_Row_Tip.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The displayed row selected in the grid, -1 when none.
  int Selected_Grid_Row() const;
  // Places the option frames above the upper chart for the axis choices
  // shown, and the charts, the plot-mode frame and the viewer button below.
  void Lay_Out_Chart_Panel();
  // The checked state of the three radio groups.
  Radio_State Radio_State_Now() const;
  // The result grid's context menu from grid_actions_; nothing when empty.
  void Show_Grid_Menu(const QPoint& pos);
  // Enables each grid entry unless it needs a result and none is open.
  void Update_Grid_Actions();
  // Asks where to save the chart (suffix "png" or "pdf" preselected) and
  // saves it there; a file that cannot be written is reported.
  void Save_Chart_As(QCustomPlot* plot, const QString& suffix);

  Form_Dialogs& dialogs_;
  const Failure_Guard& guard_;
  std::function<QString()> initial_folder_;

  // The grid's current row when the last mouse press on its cells began. A
  // press that moves the current row redraws through currentRowChanged; the
  // click that ends it redraws only when the row stayed (a click on the
  // current row), so one click never draws twice.
  int row_before_press_ = -1;

  struct Grid_Action {
    QAction* action;  // owned by the tab, also added to the grid for its shortcut
    bool needs_result;
  };
  std::vector<Grid_Action> grid_actions_;

  QString align_folder_name_;
  QString align_file_name_;
  Align_Table_Model* align_table_model_ = nullptr;

  QLineEdit* textBox_Align_Result_File = nullptr;
  QPushButton* button_Align_File_Browse = nullptr;
  QWidget* panel_Align_Peaklist_Table = nullptr;
  QTableView* dataGridView_Align_Peaklist_Table = nullptr;
  QWidget* panel_align_peak_visualization = nullptr;
  QRadioButton* radioButton_Standard = nullptr;
  QRadioButton* radioButton_Normalized = nullptr;
  QRadioButton* radioButton_Scan = nullptr;
  QRadioButton* radioButton_RT_Original = nullptr;
  QRadioButton* radioButton_RT_Corrected = nullptr;
  // Shown only for a result aligned with the drift correction.
  QRadioButton* radioButton_RT_Drift_Corrected = nullptr;
  std::optional<Rt_Shift_Curves> drift_curves_;  // of the open result
  QCustomPlot* zedGraphControl_AlignedPeaks = nullptr;
  QRadioButton* radioButton_PeakPlot = nullptr;
  QRadioButton* radioButton_GroupPlot = nullptr;
  QRadioButton* radioButton_CompoundPlot = nullptr;
  QCustomPlot* zedGraphControl_SlectedPeaks = nullptr;
  QPushButton* button_Open_Viewer = nullptr;  // shown once a result is open
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_ALIGN_VISUALIZATION_TAB_H_
