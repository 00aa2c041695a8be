// Visualization tab of Varnel_Form: the result grid and the two charts.
#include <qcustomplot.h>

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <stdexcept>
#include <string>

#include "storage/aligned_table.h"
#include "storage/path.h"
#include "ui/align_table_model.h"
#include "ui/text_codec.h"
#include "ui/viz_palette.h"
#include "ui/viz_plot.h"
#include "ui/widgets/varnel_form.h"
#include "ui/widgets/viz_chart.h"
#include "ui/widgets/wait_cursor.h"

namespace Varnel {

namespace {

const QString kAlignDialogTitle = QStringLiteral("Select a Aligned Result File");
const QString kAlignDialogFilter = QStringLiteral("aligndb Files (*.aligndb)");
const QString kNoAlignFileMessage = QStringLiteral("Please select the aligndb(.aligndb) file(s)!");
constexpr int kGridRowHeight = 22;  // pixels; fixed so that a million rows cost nothing to lay out
constexpr int kWidthSampleRows = 100;  // rows measured when fitting the column widths

// file: the database the grid shows, named in the failure.
int Int_Cell_Or_Throw(const Align_Table_Model& model, int row, int column,
                      const std::string& file) {
  if (std::optional<int> value = model.Int_Cell(row, column)) return *value;
  throw std::runtime_error(file + ": the selected row holds no whole number in column " +
                           model.Table().Column_Name(column) + ".");
}

Radio_State Radio_State_Now(const Varnel_Form& form) {
  Radio_State s;
  s.scan = form.radioButton_Scan->isChecked();
  s.rt_original = form.radioButton_RT_Original->isChecked();
  s.rt_corrected = form.radioButton_RT_Corrected->isChecked();
  s.peak_plot = form.radioButton_PeakPlot->isChecked();
  s.group_plot = form.radioButton_GroupPlot->isChecked();
  s.compound_plot = form.radioButton_CompoundPlot->isChecked();
  return s;
}

Plot_Options Plot_Options_Now(const Varnel_Form& form) {
  Plot_Options options;
  options.x_axis = form.radioButton_Scan->isChecked()           ? X_Axis::kScan
                   : form.radioButton_RT_Corrected->isChecked() ? X_Axis::kRT_Corrected
                                                                : X_Axis::kRT_Original;
  options.y_scale =
      form.radioButton_Normalized->isChecked() ? Y_Scale::kNormalized : Y_Scale::kStandard;
  options.detail = form.radioButton_GroupPlot->isChecked()      ? Detail_Mode::kGroup
                   : form.radioButton_CompoundPlot->isChecked() ? Detail_Mode::kCompound
                                                                : Detail_Mode::kPeak;
  return options;
}

// The displayed row selected in the grid, -1 when none.
int Selected_Grid_Row(const Varnel_Form& form) {
  const QItemSelectionModel* selection = form.dataGridView_Align_Peaklist_Table->selectionModel();
  if (selection == nullptr) return -1;
  const QModelIndexList rows = selection->selectedRows();
  if (rows.isEmpty()) return -1;
  return rows.front().row();
}

}  // namespace

void Varnel_Form::Setup_Visualization() {
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
  // A click on a data cell gives its row; a click on the header row only
  // sorts, and reaches the handler as row -1, which does nothing.
  connect(grid, &QTableView::clicked, this,
          [this](const QModelIndex& index) { DataGridView_CellMouseClick(index.row()); });
  connect(grid->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int) { DataGridView_CellMouseClick(-1); });

  Setup_Chart(zedGraphControl_AlignedPeaks);
  Setup_Chart(zedGraphControl_SlectedPeaks);

  connect(radioButton_Normalized, &QRadioButton::toggled, this,
          &Varnel_Form::Normalize_RadioButton_CheckChanged);
  connect(radioButton_RT_Original, &QRadioButton::toggled, this,
          &Varnel_Form::RT_Original_RadioButton_CheckChange);
  connect(radioButton_RT_Corrected, &QRadioButton::toggled, this,
          &Varnel_Form::RT_Corrected_RadioButton_CheckChanged);
  connect(radioButton_GroupPlot, &QRadioButton::toggled, this,
          &Varnel_Form::GroupPlot_RadioButton_CheckChanged);
  connect(radioButton_CompoundPlot, &QRadioButton::toggled, this,
          &Varnel_Form::CompoundPlot_RadioButton_CheckChanged);
}

void Varnel_Form::Generate_Color_Vect(int Color_NUM, QColor* Color_Array) {
  Fill_Color_Vect(Color_NUM, Color_Array);
}

void Varnel_Form::Button_Click_Align_File_Browse() {
  Guarded([this] {
    const std::optional<QStringList> picked =
        dialogs_->Open_Files(this, kAlignDialogTitle, FilePathOut, kAlignDialogFilter, false);
    if (!picked) return;
    if (picked->size() != 1) {
      textBox_Align_Result_File->clear();
      dialogs_->Show_Message(this, kNoAlignFileMessage);
      return;
    }
    const QString& path = picked->front();
    const Split_Path_Result parts = Split_Path(To_Engine_String(path));
    const QString folder = From_Engine_String(parts.folder);
    const QString file = From_Engine_String(parts.name);
    // The grid is loaded first: a file that cannot be read leaves the window
    // naming the database whose rows it still shows.
    PopulateAlignGrid(folder, file);
    alignFolderName = folder;
    alignFileName = file;
    textBox_Align_Result_File->setText(path);
    panel_Align_Peaklist_Table->show();
  });
}

void Varnel_Form::PopulateAlignGrid(const QString& DataPath, const QString& DataFile) {
  Wait_Cursor wait;
  Aligned_Table table = Aligned_Table::Load(To_Engine_String(DataPath), To_Engine_String(DataFile));
  QTableView* grid = dataGridView_Align_Peaklist_Table;
  grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  align_table_model_->Set_Table(std::move(table));
  // Column widths from the header texts and the first rows only.
  grid->horizontalHeader()->setResizeContentsPrecision(kWidthSampleRows);
  grid->resizeColumnsToContents();
}

void Varnel_Form::DataGridView_CellMouseClick(int row_index) {
  if (row_index < 0 || row_index >= align_table_model_->rowCount()) return;
  panel_align_peak_visualization->show();
  dataGridView_Align_Peaklist_Table->selectRow(row_index);
  RadioButton_CheckChanged();
}

void Varnel_Form::Normalize_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kNormalized, Radio_State_Now(*this)))
    RadioButton_CheckChanged();
}
void Varnel_Form::RT_Original_RadioButton_CheckChange() {
  if (Handler_Redraws(Radio_Handler::kRT_Original, Radio_State_Now(*this)))
    RadioButton_CheckChanged();
}
void Varnel_Form::RT_Corrected_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kRT_Corrected, Radio_State_Now(*this)))
    RadioButton_CheckChanged();
}
void Varnel_Form::GroupPlot_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kGroupPlot, Radio_State_Now(*this)))
    RadioButton_CheckChanged();
}
void Varnel_Form::CompoundPlot_RadioButton_CheckChanged() {
  if (Handler_Redraws(Radio_Handler::kCompoundPlot, Radio_State_Now(*this)))
    RadioButton_CheckChanged();
}

void Varnel_Form::RadioButton_CheckChanged() {
  bool drawn = false;
  Guarded([this, &drawn] {
    // Empty charts and white rows first, so that a failed query below leaves
    // nothing of the previous selection behind.
    Clear_Chart(zedGraphControl_AlignedPeaks);
    Clear_Chart(zedGraphControl_SlectedPeaks);
    align_table_model_->Set_Highlight(std::nullopt);

    const int row = Selected_Grid_Row(*this);
    if (row < 0) return;  // nothing selected (another database was opened): empty charts
    const Align_Table_Model& model = *align_table_model_;
    const std::string file =
        Join_Path(To_Engine_String(alignFolderName), To_Engine_String(alignFileName));
    Row_Keys keys;
    keys.Align_ID = Int_Cell_Or_Throw(model, row, kCol_Align_ID, file);
    keys.SAMPLE_ID = Int_Cell_Or_Throw(model, row, kCol_SAMPLE_ID, file);
    keys.EIC_ID = Int_Cell_Or_Throw(model, row, kCol_EIC_ID, file);
    keys.Peak_ID = Int_Cell_Or_Throw(model, row, kCol_Peak_ID, file);
    keys.Group_ID = Int_Cell_Or_Throw(model, row, kCol_Group_ID, file);
    keys.Compound_ID = Int_Cell_Or_Throw(model, row, kCol_Compound_ID, file);
    keys.sample_name = model.Text_Cell(row, kCol_SAMPLE_NAME);
    keys.align_id_text = model.Text_Cell(row, kCol_Align_ID);
    if (keys.Align_ID != 0) align_table_model_->Set_Highlight(keys.Align_ID);

    const Plot_Options options = Plot_Options_Now(*this);
    const Redraw_Lists lists = Query_Redraw_Lists(
        To_Engine_String(alignFolderName), To_Engine_String(alignFileName), keys, options.detail);
    Draw_Chart(zedGraphControl_AlignedPeaks, Build_Aligned_Chart(lists.aligned, keys.align_id_text,
                                                                 options.x_axis, options.y_scale));
    Draw_Chart(zedGraphControl_SlectedPeaks,
               Build_Detail_Chart(lists.detail, keys.sample_name, options));
    drawn = true;
  });
  if (!drawn) {  // show the emptied charts
    zedGraphControl_AlignedPeaks->replot();
    zedGraphControl_SlectedPeaks->replot();
  }
  emit Redrawn();
}

}  // namespace Varnel
