// The one window of Varnel: an alignment tab and a visualization tab.
//
// Every control carries its fixed control name as its Qt object name, so tests
// and scripts find it with findChild. Handlers never let an exception escape:
// they restore the cursor and show the failure's message in a message box.
#ifndef VARNEL_UI_WIDGETS_VARNEL_FORM_H_
#define VARNEL_UI_WIDGETS_VARNEL_FORM_H_

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ui/align_tab.h"

class QCheckBox;
class QColor;
class QCustomPlot;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;

namespace Varnel {

class Align_Table_Model;  // the result grid's model (visualization tab)

// What the window asks of the user outside itself: file dialogs and message
// boxes. Tests inject their own so that nothing ever blocks.
class Form_Dialogs {
 public:
  virtual ~Form_Dialogs() = default;
  // An open-file dialog. std::nullopt when it is not closed with OK; otherwise
  // the chosen full paths (possibly none), in the dialog's order.
  virtual std::optional<QStringList> Open_Files(QWidget* parent, const QString& title,
                                                const QString& folder, const QString& filter,
                                                bool multi_select) = 0;
  // A message box with the text alone, one OK button and an empty title.
  virtual void Show_Message(QWidget* parent, const QString& text) = 0;
};

// QFileDialog and QMessageBox.
std::unique_ptr<Form_Dialogs> Make_Standard_Dialogs();

class Varnel_Form : public QWidget {
  Q_OBJECT

 public:
  explicit Varnel_Form(std::unique_ptr<Form_Dialogs> dialogs = Make_Standard_Dialogs(),
                       QWidget* parent = nullptr);
  ~Varnel_Form() override;

  // File table of the alignment tab: columns "File Name", "Folder Name",
  // "     Align" (unticked); col1/col2 receive the first two column names.
  static QStandardItemModel* ArrayToTable(const std::vector<Load_Row>& x, QString& col1,
                                          QString& col2, QObject* parent = nullptr);
  // Fills Color_Array[0 .. Color_NUM-1]; the caller allocates them.
  static void Generate_Color_Vect(int Color_NUM, QColor* Color_Array);

  // Replaces the alignment run that an accepted Align request calls (tests
  // pass their own). An empty function restores the real run.
  void Set_Align_Run(Align_Run_Function run);

  // Window state carried between handlers.
  std::optional<std::vector<Load_Row>> Result_Data_Load;  // absent until the first pick
  QString FilePathOut;
  QString alignFolderName;
  QString alignFileName;

 signals:
  // Emitted at the end of every chart redraw (tests count redraws with it).
  void Redrawn();

 public slots:
  // Alignment tab.
  void Button_Click_Annotation_File_Browse();
  void Button_Click_Annotation_File_Load();
  void checkboxHeader_Align_CheckedChanged();
  void Button_Click_Align_Process();
  // Visualization tab.
  void Button_Click_Align_File_Browse();
  void DataGridView_CellMouseClick(int row_index);  // -1: the column-header row
  void Normalize_RadioButton_CheckChanged();
  void RT_Original_RadioButton_CheckChange();
  void RT_Corrected_RadioButton_CheckChanged();
  void GroupPlot_RadioButton_CheckChanged();
  void CompoundPlot_RadioButton_CheckChanged();
  void RadioButton_CheckChanged();  // the redraw of both charts

 public:
  void PopulateAlignGrid(const QString& DataPath, const QString& DataFile);

  // The control tree.
  QTabWidget* tabControl1 = nullptr;
  QWidget* Tab_Align_Process = nullptr;
  QLabel* label_Input_Annotation = nullptr;
  QLineEdit* textBox_Align_FilePath = nullptr;
  QPushButton* button_Annotation_File_Browse = nullptr;
  QPushButton* button_Annotation_Load = nullptr;
  QWidget* panel_Align_Process = nullptr;
  QTableView* dataGridView_Annotation_Filelist = nullptr;
  QGroupBox* groupBox_Align_Mode = nullptr;
  QRadioButton* radioButton_One_Phase_Align = nullptr;
  QRadioButton* radioButton_Two_Phase_Align = nullptr;
  QLabel* label_Align_Window1 = nullptr;
  QLineEdit* textBox_Align_Window1 = nullptr;
  QLabel* label_Align_Window1_Unit = nullptr;
  QLabel* label_Align_Window2 = nullptr;
  QLineEdit* textBox_Align_Window2 = nullptr;
  QLabel* label_Align_Window2_Unit = nullptr;
  QLabel* label_Align_Mass_Tol = nullptr;
  QLineEdit* textBox_Align_Mass_Tol = nullptr;
  QLabel* label_Align_Mass_Tol_Unit = nullptr;
  QPushButton* button_Align_Process = nullptr;

  QWidget* Tab_Align_Visualization = nullptr;
  QLabel* label_Select_Align_Result = nullptr;
  QLineEdit* textBox_Align_Result_File = nullptr;
  QPushButton* button_Align_File_Browse = nullptr;
  QWidget* panel_Align_Peaklist_Table = nullptr;
  QTableView* dataGridView_Align_Peaklist_Table = nullptr;
  QWidget* panel_align_peak_visualization = nullptr;
  QGroupBox* groupBox_Standard_Normalize = nullptr;
  QRadioButton* radioButton_Standard = nullptr;
  QRadioButton* radioButton_Normalized = nullptr;
  QGroupBox* groupBox_Scan_RT = nullptr;
  QRadioButton* radioButton_Scan = nullptr;
  QRadioButton* radioButton_RT_Original = nullptr;
  QRadioButton* radioButton_RT_Corrected = nullptr;
  QCustomPlot* zedGraphControl_AlignedPeaks = nullptr;
  QGroupBox* groupBox_SelectedPeak_Mode = nullptr;
  QRadioButton* radioButton_PeakPlot = nullptr;
  QRadioButton* radioButton_GroupPlot = nullptr;
  QRadioButton* radioButton_CompoundPlot = nullptr;
  QCustomPlot* zedGraphControl_SlectedPeaks = nullptr;

 protected:
  // Keeps the header tick box over its header cell when the header moves,
  // resizes or scrolls.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs a handler's body; a failure that escapes it (CppSQLite3Exception,
  // std::exception, anything else) restores the default cursor and is shown
  // in a message box. Every slot body goes through here.
  void Guarded(const std::function<void()>& body);

  // Puts the header tick box at the header cell of the Align column, moved
  // 2 pixels right and 4 down. No-op without a tick box.
  void Place_Header_Check_Box();

  // Builds the visualization tab's behaviour (chart set-up, wiring of the
  // grid click and the radio handlers). Called once at the end of the
  // constructor, after the whole control tree exists and after the
  // constructor has wired button_Align_File_Browse to its handler.
  void Setup_Visualization();

  std::unique_ptr<Form_Dialogs> dialogs_;
  QStandardItemModel* annotation_table_ = nullptr;  // file table of the last load
  Align_Run_Function align_run_;                    // empty: the real alignment run

  // ---- visualization state (owned by varnel_form_visualization.cpp) ----
  Align_Table_Model* align_table_model_ = nullptr;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_VARNEL_FORM_H_
