#include "ui/widgets/align_visualization_tab.h"

#include <qcustomplot.h>

#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <algorithm>
#include <stdexcept>
#include <string>

#include "run/result_pair.h"
#include "storage/path.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/result_find.h"
#include "ui/text_codec.h"
#include "ui/viz_plot.h"
#include "ui/widgets/control_factory.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/viz_chart.h"
#include "ui/widgets/wait_cursor.h"

namespace Varnel {

namespace {

using namespace Controls;

const QString kAlignDialogTitle = QStringLiteral("Select a Aligned Result File");
const QString kAlignDialogFilter = QStringLiteral("aligndb Files (*.aligndb)");
const QString kNoAlignFileMessage = QStringLiteral("Please select the aligndb(.aligndb) file(s)!");
const QString kSaveChartTitle = QStringLiteral("Save Chart");
const QString kPngFilter = QStringLiteral("PNG image (*.png)");
const QString kPdfFilter = QStringLiteral("PDF document (*.pdf)");
constexpr int kGridRowHeight = 22;  // pixels; fixed so that a million rows cost nothing to lay out
constexpr int kWidthSampleRows = 100;  // rows measured when fitting the column widths
constexpr int kOptionRowHeight = 40;   // pixels; the option frames above the upper chart

}  // namespace

Align_Visualization_Tab::Align_Visualization_Tab(Form_Dialogs& dialogs, const Failure_Guard& guard,
                                                 std::function<QString()> initial_folder,
                                                 QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      guard_(guard),
      initial_folder_(std::move(initial_folder)) {
  setObjectName(QStringLiteral("Tab_Align_Visualization"));
  QWidget* page = this;

  Make_Label(page, "label_Select_Align_Result", "Select Align Result File(*.aligndb)",
             QRect(kMargin, kRowTop, 240, kRowHeight));
  textBox_Align_Result_File =
      Make_Text_Box(page, "textBox_Align_Result_File", "", QRect(252, kRowTop, 490, kRowHeight));
  button_Align_File_Browse =
      Make_Button(page, "button_Align_File_Browse", "Browse", QRect(750, kRowTop, 80, kRowHeight));

  panel_Align_Peaklist_Table =
      Make<QWidget>(page, "panel_Align_Peaklist_Table", QRect(0, kPanelTop, 295, 600));
  dataGridView_Align_Peaklist_Table = Make<QTableView>(
      panel_Align_Peaklist_Table, "dataGridView_Align_Peaklist_Table", QRect(kMargin, 4, 279, 583));
  panel_Align_Peaklist_Table->hide();

  panel_align_peak_visualization =
      Make<QWidget>(page, "panel_align_peak_visualization", QRect(290, kPanelTop, 548, 600));
  QWidget* panel = panel_align_peak_visualization;
  QGroupBox* standard_normalize =
      Make_Radio_Group(panel, "groupBox_Standard_Normalize", QRect(4, 0, 206, 40), Qt::Horizontal);
  radioButton_Standard = Make_Radio(standard_normalize, "radioButton_Standard", "Standard", true);
  radioButton_Normalized =
      Make_Radio(standard_normalize, "radioButton_Normalized", "Normalized", false);
  QGroupBox* scan_rt =
      Make_Radio_Group(panel, "groupBox_Scan_RT", QRect(216, 0, 316, 40), Qt::Horizontal);
  radioButton_Scan = Make_Radio(scan_rt, "radioButton_Scan", "Scan Number", true);
  radioButton_RT_Original = Make_Radio(scan_rt, "radioButton_RT_Original", "RT_Original", false);
  radioButton_RT_Corrected = Make_Radio(scan_rt, "radioButton_RT_Corrected", "RT_Corrected", false);
  radioButton_RT_Corrected->setToolTip(QString::fromUtf8(kRT_Corrected_Tip));
  radioButton_RT_Drift_Corrected =
      Make_Radio(scan_rt, "radioButton_RT_Drift_Corrected", kRT_Drift_Corrected_Caption, false);
  radioButton_RT_Drift_Corrected->setToolTip(QString::fromUtf8(kRT_Drift_Corrected_Tip));
  radioButton_RT_Drift_Corrected->hide();
  // The axis frame's choices sit on a grid: one row of three, or two rows of
  // two once RT_Drift_Corrected shows (Lay_Out_Chart_Panel).
  delete scan_rt->layout();
  auto* scan_rt_grid = new QGridLayout(scan_rt);
  scan_rt_grid->setContentsMargins(6, 4, 6, 4);
  scan_rt_grid->setHorizontalSpacing(6);
  scan_rt_grid->setVerticalSpacing(2);
  zedGraphControl_AlignedPeaks =
      Make<QCustomPlot>(panel, "zedGraphControl_AlignedPeaks", QRect(4, 48, 474, 213));
  QGroupBox* mode =
      Make_Radio_Group(panel, "groupBox_SelectedPeak_Mode", QRect(4, 270, 350, 40), Qt::Horizontal);
  radioButton_PeakPlot = Make_Radio(mode, "radioButton_PeakPlot", "Peak Plot", true);
  radioButton_GroupPlot = Make_Radio(mode, "radioButton_GroupPlot", "Group Plot", false);
  radioButton_CompoundPlot = Make_Radio(mode, "radioButton_CompoundPlot", "Compound Plot", false);
  mode->resize(mode->sizeHint().width(), 40);
  zedGraphControl_SlectedPeaks =
      Make<QCustomPlot>(panel, "zedGraphControl_SlectedPeaks", QRect(4, 318, 462, 237));
  panel_align_peak_visualization->hide();
  // In the free space right of the plot-mode choice, between the charts.
  button_Open_Viewer = Make_Button(page, "button_Open_Viewer", kOpenViewerCaption, QRect());
  button_Open_Viewer->setToolTip(
      QStringLiteral("The whole grid and both charts in a large window of their own"));
  button_Open_Viewer->hide();
  connect(button_Open_Viewer, &QPushButton::clicked, this,
          &Align_Visualization_Tab::Viewer_Requested);
  Lay_Out_Chart_Panel();

  align_table_model_ = new Align_Table_Model(this);
  QTableView* grid = dataGridView_Align_Peaklist_Table;
  grid->setModel(align_table_model_);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setWordWrap(false);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // rows come by Align_ID
  grid->setSortingEnabled(true);
  // Every change of the current row (a click with any button, the keyboard,
  // the row numbers) draws that row; a click on the row already current
  // draws it again. A click on the header row only sorts, and reaches the
  // handler as row -1, which does nothing.
  connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) DataGridView_CellMouseClick(current.row());
          });
  grid->viewport()->installEventFilter(this);
  connect(grid, &QTableView::clicked, this, [this](const QModelIndex& index) {
    if (index.row() == row_before_press_) DataGridView_CellMouseClick(index.row());
  });
  connect(grid->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int) { DataGridView_CellMouseClick(-1); });
  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { Show_Grid_Menu(pos); });

  for (QCustomPlot* plot : {zedGraphControl_AlignedPeaks, zedGraphControl_SlectedPeaks}) {
    Setup_Chart(plot);
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plot, &QWidget::customContextMenuRequested, this,
            [this, plot](const QPoint& pos) { Show_Chart_Menu(plot, pos); });
  }

  connect(button_Align_File_Browse, &QPushButton::clicked, this,
          &Align_Visualization_Tab::Button_Click_Align_File_Browse);
  connect(radioButton_Normalized, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::Normalize_RadioButton_CheckChanged);
  connect(radioButton_RT_Original, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::RT_Original_RadioButton_CheckChange);
  connect(radioButton_RT_Corrected, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::RT_Corrected_RadioButton_CheckChanged);
  connect(radioButton_GroupPlot, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::GroupPlot_RadioButton_CheckChanged);
  connect(radioButton_CompoundPlot, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::CompoundPlot_RadioButton_CheckChanged);
  connect(radioButton_RT_Drift_Corrected, &QRadioButton::toggled, this,
          &Align_Visualization_Tab::RT_Drift_Corrected_RadioButton_CheckChanged);
}

Align_Visualization_Tab::~Align_Visualization_Tab() {
  // The grid and its selection model outlive this object's own part.
  dataGridView_Align_Peaklist_Table->viewport()->removeEventFilter(this);
  disconnect(dataGridView_Align_Peaklist_Table->selectionModel(), nullptr, this, nullptr);
  disconnect(dataGridView_Align_Peaklist_Table, nullptr, this, nullptr);
  disconnect(dataGridView_Align_Peaklist_Table->horizontalHeader(), nullptr, this, nullptr);
}

bool Align_Visualization_Tab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dataGridView_Align_Peaklist_Table->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    row_before_press_ = dataGridView_Align_Peaklist_Table->currentIndex().row();
  }
  if (watched == dataGridView_Align_Peaklist_Table->viewport() &&
      event->type() == QEvent::ToolTip) {
    // The grid is too narrow to show a row's compound: the tooltip names it.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = dataGridView_Align_Peaklist_Table->indexAt(help->pos());
    if (index.isValid()) {
      QToolTip::showText(help->globalPos(), Result_Row_Tip(*align_table_model_, index.row()),
                         dataGridView_Align_Peaklist_Table->viewport());
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

int Align_Visualization_Tab::Selected_Grid_Row() const {
  const QItemSelectionModel* selection = dataGridView_Align_Peaklist_Table->selectionModel();
  if (selection == nullptr) return -1;
  const QModelIndexList rows = selection->selectedRows();
  if (rows.isEmpty()) return -1;
  return rows.front().row();
}

void Align_Visualization_Tab::Add_Grid_Action(const QString& text, const QKeySequence& shortcut,
                                              std::function<void()> action, bool needs_result) {
  auto* entry = new QAction(text, this);
  entry->setShortcut(shortcut);
  entry->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(entry, &QAction::triggered, this, [this, needs_result, action = std::move(action)] {
    if (needs_result && !Has_Result()) return;
    if (action) guard_.Run(action);
  });
  dataGridView_Align_Peaklist_Table->addAction(entry);
  grid_actions_.push_back({entry, needs_result});
  Update_Grid_Actions();
}

int Align_Visualization_Tab::Current_Row() const {
  return dataGridView_Align_Peaklist_Table->currentIndex().row();
}

void Align_Visualization_Tab::Go_To_Row(int row) {
  if (row < 0 || row >= align_table_model_->rowCount()) return;
  QTableView* grid = dataGridView_Align_Peaklist_Table;
  const QModelIndex target = align_table_model_->index(row, 0);
  grid->scrollTo(target, QAbstractItemView::PositionAtCenter);
  if (grid->currentIndex().row() == row) {
    DataGridView_CellMouseClick(row);
  } else {
    grid->setCurrentIndex(target);  // redraws through currentRowChanged
  }
}

void Align_Visualization_Tab::Update_Grid_Actions() {
  for (const Grid_Action& entry : grid_actions_)
    entry.action->setEnabled(!entry.needs_result || Has_Result());
}

void Align_Visualization_Tab::Show_Grid_Menu(const QPoint& pos) {
  if (grid_actions_.empty()) return;
  Update_Grid_Actions();
  auto* menu = new QMenu(dataGridView_Align_Peaklist_Table);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const Grid_Action& entry : grid_actions_) menu->addAction(entry.action);
  menu->popup(dataGridView_Align_Peaklist_Table->viewport()->mapToGlobal(pos));
}

void Align_Visualization_Tab::Show_Chart_Menu(QCustomPlot* plot, const QPoint& pos) {
  auto* menu = new QMenu(plot);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("Save as PNG..."), this,
                  [this, plot] { Save_Chart_As(plot, QStringLiteral("png")); });
  menu->addAction(QStringLiteral("Save as PDF..."), this,
                  [this, plot] { Save_Chart_As(plot, QStringLiteral("pdf")); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("Fit to Curves"), plot, [plot] { Refit_Chart(plot); });
  menu->popup(plot->mapToGlobal(pos));
}

void Align_Visualization_Tab::Save_Chart_As(QCustomPlot* plot, const QString& suffix) {
  // Over the window the chart is in: this tab's, or the viewer window.
  QWidget* asker = plot->window();
  guard_.Run(
      [this, plot, asker, &suffix] {
        QString filter = suffix == QLatin1String("pdf") ? kPdfFilter : kPngFilter;
        std::optional<QString> path =
            dialogs_.Save_File(asker, kSaveChartTitle, align_folder_name_,
                               kPngFilter + QStringLiteral(";;") + kPdfFilter, &filter);
        if (!path || path->isEmpty()) return;
        if (QFileInfo(*path).suffix().isEmpty())
          *path += filter == kPdfFilter ? QStringLiteral(".pdf") : QStringLiteral(".png");
        if (!Save_Chart(plot, *path))
          dialogs_.Show_Message(asker, QStringLiteral("Cannot write %1").arg(*path));
      },
      asker);
}

void Align_Visualization_Tab::Button_Click_Align_File_Browse() {
  std::optional<QStringList> picked;
  const bool asked = guard_.Run([this, &picked] {
    const QString folder = initial_folder_ ? initial_folder_() : QString();
    picked = dialogs_.Open_Files(window(), kAlignDialogTitle, folder, kAlignDialogFilter, false);
  });
  if (!asked || !picked) return;
  if (picked->size() != 1) {
    textBox_Align_Result_File->clear();
    dialogs_.Show_Message(window(), kNoAlignFileMessage);
    return;
  }
  Open_Result(picked->front());
}

bool Align_Visualization_Tab::Open_Result(const QString& path) {
  return guard_.Run([this, &path] {
    const Split_Path_Result parts = Split_Path(To_Engine_String(path));
    const QString file_folder = From_Engine_String(parts.folder);
    const QString file = From_Engine_String(parts.name);
    // A replacement of the result pair that a killed run left unfinished is
    // completed first; a folder where that cannot be done still opens.
    const Result_Folder_Recovery recovery = Recover_Result_Folder(parts.folder);
    if (!recovery.problem.empty()) {
      dialogs_.Show_Message(window(), From_Engine_String(recovery.problem));
    }
    // The grid is loaded first: a file that cannot be read leaves the window
    // naming the database whose rows it still shows.
    PopulateAlignGrid(file_folder, file);
    align_folder_name_ = file_folder;
    align_file_name_ = file;
    textBox_Align_Result_File->setText(path);
    panel_Align_Peaklist_Table->show();
    Update_Grid_Actions();
    // A new result starts at its first row and column.
    QTableView* grid = dataGridView_Align_Peaklist_Table;
    grid->scrollToTop();
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->minimum());
    // The drift correction, for the axis that shows it; a result whose
    // correction cannot be read still opens, without that axis.
    drift_curves_.reset();
    try {
      drift_curves_ = Read_Drift_Curves(parts.folder, parts.name);
    } catch (const std::exception&) {
      drift_curves_.reset();
    }
    align_table_model_->Set_Drift_Corrected(drift_curves_.has_value());
    if (!drift_curves_ && radioButton_RT_Drift_Corrected->isChecked())
      radioButton_RT_Original->setChecked(true);
    radioButton_RT_Drift_Corrected->setVisible(drift_curves_.has_value());
    Lay_Out_Chart_Panel();
    // Nothing of the previous result stays on the charts.
    for (QCustomPlot* plot : {zedGraphControl_AlignedPeaks, zedGraphControl_SlectedPeaks})
      Show_Chart_Hint(plot, QString::fromUtf8(kChooseRowHint));
    button_Open_Viewer->show();
    button_Open_Viewer->raise();
    emit Result_Opened();
  });
}

void Align_Visualization_Tab::Lay_Out_Chart_Panel() {
  // The axis choices: one row of three, or with RT_Drift_Corrected two rows
  // of two, which keeps the row of option frames within the panel's width.
  QWidget* scan_rt = radioButton_Scan->parentWidget();
  auto* grid = static_cast<QGridLayout*>(scan_rt->layout());
  const bool four = !radioButton_RT_Drift_Corrected->isHidden();
  const QRadioButton* order[] = {radioButton_Scan, radioButton_RT_Original,
                                 radioButton_RT_Corrected, radioButton_RT_Drift_Corrected};
  const int per_row = four ? 2 : 3;
  for (int i = 0; i < 4; ++i) grid->removeWidget(const_cast<QRadioButton*>(order[i]));
  for (int i = 0; i < 4; ++i)
    grid->addWidget(const_cast<QRadioButton*>(order[i]), i / per_row, i % per_row);
  grid->invalidate();
  // Both frames of the row as tall as the taller one needs; everything below
  // moves down by what the row gained.
  QWidget* standard_normalize = radioButton_Standard->parentWidget();
  const int row_height = std::max(
      {kOptionRowHeight, scan_rt->sizeHint().height(), standard_normalize->sizeHint().height()});
  standard_normalize->setGeometry(4, 0, standard_normalize->sizeHint().width(), row_height);
  scan_rt->setGeometry(standard_normalize->geometry().right() + 6, 0, scan_rt->sizeHint().width(),
                       row_height);
  const int down = row_height - kOptionRowHeight;
  zedGraphControl_AlignedPeaks->move(4, 48 + down);
  QWidget* mode = radioButton_PeakPlot->parentWidget();
  mode->move(4, 270 + down);
  zedGraphControl_SlectedPeaks->move(4, 318 + down);
  button_Open_Viewer->setGeometry(panel_align_peak_visualization->x() + 364, kPanelTop + 275 + down,
                                  170, 30);
}

void Align_Visualization_Tab::PopulateAlignGrid(const QString& DataPath, const QString& DataFile) {
  Wait_Cursor wait;
  Aligned_Table table = Aligned_Table::Load(To_Engine_String(DataPath), To_Engine_String(DataFile));
  QTableView* grid = dataGridView_Align_Peaklist_Table;
  grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  align_table_model_->Set_Table(std::move(table));
  // Column widths from the header texts and the first rows only.
  grid->horizontalHeader()->setResizeContentsPrecision(kWidthSampleRows);
  grid->resizeColumnsToContents();
}

void Align_Visualization_Tab::DataGridView_CellMouseClick(int row_index) {
  if (row_index < 0 || row_index >= align_table_model_->rowCount()) return;
  panel_align_peak_visualization->show();
  dataGridView_Align_Peaklist_Table->selectRow(row_index);
  RadioButton_CheckChanged();
}

Radio_State Align_Visualization_Tab::Radio_State_Now() const {
  Radio_State s;
  s.scan = radioButton_Scan->isChecked();
  s.rt_original = radioButton_RT_Original->isChecked();
  s.rt_corrected = radioButton_RT_Corrected->isChecked();
  s.rt_drift_corrected = radioButton_RT_Drift_Corrected->isChecked();
  s.peak_plot = radioButton_PeakPlot->isChecked();
  s.group_plot = radioButton_GroupPlot->isChecked();
  s.compound_plot = radioButton_CompoundPlot->isChecked();
  return s;
}

void Align_Visualization_Tab::Normalize_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kNormalized, Radio_State_Now())) RadioButton_CheckChanged();
}
void Align_Visualization_Tab::RT_Original_RadioButton_CheckChange() {
  if (Handler_Redraws(Radio_Handler::kRT_Original, Radio_State_Now())) RadioButton_CheckChanged();
}
void Align_Visualization_Tab::RT_Corrected_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kRT_Corrected, Radio_State_Now())) RadioButton_CheckChanged();
}
void Align_Visualization_Tab::GroupPlot_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kGroupPlot, Radio_State_Now())) RadioButton_CheckChanged();
}
void Align_Visualization_Tab::CompoundPlot_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kCompoundPlot, Radio_State_Now())) RadioButton_CheckChanged();
}
void Align_Visualization_Tab::RT_Drift_Corrected_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kRT_Drift_Corrected, Radio_State_Now()))
    RadioButton_CheckChanged();
}

void Align_Visualization_Tab::RadioButton_CheckChanged() {
  bool drawn = false;
  guard_.Run([this, &drawn] {
    // Empty charts and white rows first, so that a failed query leaves
    // nothing of the previous selection behind.
    Clear_Chart(zedGraphControl_AlignedPeaks);
    Clear_Chart(zedGraphControl_SlectedPeaks);
    align_table_model_->Set_Highlight(std::nullopt);

    const int row = Selected_Grid_Row();
    if (row < 0) {  // nothing selected (another database was opened): the hint
      for (QCustomPlot* plot : {zedGraphControl_AlignedPeaks, zedGraphControl_SlectedPeaks})
        Show_Chart_Hint(plot, QString::fromUtf8(kChooseRowHint));
      drawn = true;
      return;
    }
    Plot_Options options;
    options.x_axis = radioButton_Scan->isChecked()                 ? X_Axis::kScan
                     : radioButton_RT_Corrected->isChecked()       ? X_Axis::kRT_Corrected
                     : radioButton_RT_Drift_Corrected->isChecked() ? X_Axis::kRT_Drift_Corrected
                                                                   : X_Axis::kRT_Original;
    options.y_scale =
        radioButton_Normalized->isChecked() ? Y_Scale::kNormalized : Y_Scale::kStandard;
    options.detail = radioButton_GroupPlot->isChecked()      ? Detail_Mode::kGroup
                     : radioButton_CompoundPlot->isChecked() ? Detail_Mode::kCompound
                                                             : Detail_Mode::kPeak;
    Draw_Row_Charts(zedGraphControl_AlignedPeaks, zedGraphControl_SlectedPeaks, *align_table_model_,
                    row, align_folder_name_, align_file_name_, options, Drift_Curves());
    drawn = true;
  });
  if (!drawn) {  // show the emptied charts
    zedGraphControl_AlignedPeaks->replot();
    zedGraphControl_SlectedPeaks->replot();
  }
  emit Redrawn();
}

}  // namespace Varnel
