// The alignment tab ("Align_Process"): pick annotated databases, load them
// into a list with a tick box per file, set the parameters and start a run.
// The tab owns its controls, its handlers and the state they share; what is
// checked and called lives in ui/align_tab.h.
#ifndef VARNEL_UI_WIDGETS_ALIGN_PROCESS_TAB_H_
#define VARNEL_UI_WIDGETS_ALIGN_PROCESS_TAB_H_

#include <QString>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "run/alignment_estimate.h"
#include "ui/align_tab.h"

class QCheckBox;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStandardItemModel;
class QTableView;

namespace Varnel {

class Failure_Guard;
class Form_Dialogs;
class Run_Progress_Dialog;

class Align_Process_Tab : public QWidget {
  Q_OBJECT

 public:
  // dialogs and guard belong to the window and outlive the tab.
  Align_Process_Tab(Form_Dialogs& dialogs, const Failure_Guard& guard, QWidget* parent = nullptr);
  ~Align_Process_Tab() override;

  // File table of the tab: columns "File Name", "Folder Name", "     Align"
  // (unticked); col1/col2 receive the first two column names.
  static QStandardItemModel* ArrayToTable(const std::vector<Picked_File>& x, QString& col1,
                                          QString& col2, QObject* parent = nullptr);

  // Replaces the alignment run that an accepted Align request calls (tests
  // pass their own). An empty function restores the real run.
  void Set_Align_Run(Align_Run_Function run);
  // Replaces what Estimate calls; empty (the default) says that estimating
  // is not available.
  void Set_Estimator(Estimate_Function estimator);

  // Opens a result on the visualization tab (the finish notice's button);
  // empty: the notice offers none.
  void Set_Result_Opener(std::function<void(const QString& path)> opener) {
    result_opener_ = std::move(opener);
  }

  // True while an alignment or an estimate works under its progress dialog.
  bool Run_Active() const { return running_ != nullptr; }
  // Stops the work for a closing window and waits for its thread; the
  // handler then ends without a message. No-op without work.
  void Stop_Run_For_Close();
  // Holds the work at its next report (Run_Progress_Dialog::Hold) while the
  // window asks whether to stop it. No-op without work.
  void Hold_Run(bool held);

  // The databases of the last pick; absent until the first pick.
  const std::optional<std::vector<Picked_File>>& Result_Data_Load() const {
    return result_data_load_;
  }
  // The result folder of the last Align request; empty until then.
  const QString& FilePathOut() const { return file_path_out_; }

 public slots:
  void Button_Click_Annotation_File_Browse();
  void Button_Click_Annotation_File_Load();
  void checkboxHeader_Align_CheckedChanged();
  void Button_Click_Align_Process();
  void Button_Click_Estimate();
  // "Import feature lists..." (the tab's context menu): imports into a
  // chosen folder and loads the written databases into the file list.
  void Import_Feature_Lists();

 protected:
  // Keeps the header tick box over its header cell when the header moves,
  // resizes or scrolls.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Puts the header tick box at the header cell of the Align column, moved
  // 2 pixels right and 4 down. No-op without a tick box.
  void Place_Header_Check_Box();
  // The controls as Align and Estimate read them.
  Align_Form_Values Read_Form_Values() const;
  // Rewrites the estimate's words for the tab as it stands (files, ticks,
  // RT_Drift_Correction, boxes). No-op before the first estimate.
  void Refresh_Estimate_Words();
  // Runs work under a progress dialog titled title (see
  // Run_Progress_Dialog::Run), the tab's controls disabled meanwhile while
  // the rest of the window stays usable; rethrows what the work threw.
  // Returns whether a stop was asked for (also when the work ended anyway).
  bool Run_Under_Progress(const QString& title, std::size_t files,
                          std::function<void(const Alignment_Run_Observer&)> work,
                          std::function<QString(const struct Run_Progress&)> caption = {});

  Form_Dialogs& dialogs_;
  const Failure_Guard& guard_;
  Align_Run_Function align_run_;  // empty: the real alignment run
  std::function<void(const QString&)> result_opener_;
  // Reads the study on the worker thread; the anchors of its drift fit are
  // searched around the default fast window. Empty: not available.
  Estimate_Function estimator_ = [](const std::vector<Annotated_File>& files, bool rt_correction,
                                    const Alignment_Run_Observer& observer) {
    return Estimate_Study_Tolerances(files, rt_correction, kDefaultWindow1, 0, observer);
  };
  Run_Progress_Dialog* running_ = nullptr;  // the dialog of the work in progress
  bool closing_ = false;  // the window closed during the last work: no more messages

  std::optional<std::vector<Picked_File>> result_data_load_;
  QString file_path_out_;
  QStandardItemModel* annotation_table_ = nullptr;  // file table of the last load

  QLabel* label_Input_Annotation = nullptr;
  QLineEdit* textBox_Align_FilePath = nullptr;
  QPushButton* button_Annotation_File_Browse = nullptr;
  QPushButton* button_Annotation_Load = nullptr;
  QWidget* panel_Align_Process = nullptr;
  QTableView* dataGridView_Annotation_Filelist = nullptr;
  QGroupBox* groupBox_Align_Mode = nullptr;
  QRadioButton* radioButton_One_Phase_Align = nullptr;
  QRadioButton* radioButton_Two_Phase_Align = nullptr;
  QLineEdit* textBox_Align_Window1 = nullptr;
  QLineEdit* textBox_Align_Window2 = nullptr;
  QLineEdit* textBox_Align_Mass_Tol = nullptr;
  QPushButton* button_Align_Process = nullptr;
  QPushButton* button_Estimate = nullptr;
  QCheckBox* checkBox_RT_Drift_Correction = nullptr;
  QCheckBox* checkBox_Scored_Member_Choice = nullptr;  // beside RT_Drift_Correction
  QCheckBox* checkBox_Record_Run = nullptr;
  QLabel* label_Estimate_Result = nullptr;          // the last estimate in words; hidden until one
  std::optional<Estimate_Record> estimate_record_;  // what the last estimate read and filled
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_ALIGN_PROCESS_TAB_H_
