// The window's controls for tests, each found by its fixed object name with
// findChild; a missing or doubled name stops the test program at once.
#ifndef VARNEL_TESTS_UI_SUPPORT_FORM_CONTROLS_H_
#define VARNEL_TESTS_UI_SUPPORT_FORM_CONTROLS_H_

#include <qcustomplot.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QWidget>
#include <QtGlobal>

namespace Varnel::Test {

template <typename W>
W* Find_Control(const QWidget& form, const char* name) {
  const QList<W*> found = form.findChildren<W*>(QString::fromLatin1(name));
  if (found.size() != 1) qFatal("%d controls named %s", static_cast<int>(found.size()), name);
  return found.front();
}

struct Form_Controls {
  Form_Controls() = default;
  explicit Form_Controls(const QWidget& form) {
#define VARNEL_FIND(name) name = Find_Control<std::remove_pointer_t<decltype(name)>>(form, #name)
    VARNEL_FIND(tabControl1);
    VARNEL_FIND(Tab_Align_Process);
    VARNEL_FIND(textBox_Align_FilePath);
    VARNEL_FIND(button_Annotation_File_Browse);
    VARNEL_FIND(button_Annotation_Load);
    VARNEL_FIND(panel_Align_Process);
    VARNEL_FIND(dataGridView_Annotation_Filelist);
    VARNEL_FIND(groupBox_Align_Mode);
    VARNEL_FIND(radioButton_One_Phase_Align);
    VARNEL_FIND(radioButton_Two_Phase_Align);
    VARNEL_FIND(textBox_Align_Window1);
    VARNEL_FIND(textBox_Align_Window2);
    VARNEL_FIND(textBox_Align_Mass_Tol);
    VARNEL_FIND(button_Align_Process);
    VARNEL_FIND(button_Estimate);
    VARNEL_FIND(checkBox_RT_Drift_Correction);
    VARNEL_FIND(checkBox_Scored_Member_Choice);
    VARNEL_FIND(checkBox_Record_Run);
    VARNEL_FIND(Tab_Align_Visualization);
    VARNEL_FIND(textBox_Align_Result_File);
    VARNEL_FIND(button_Align_File_Browse);
    VARNEL_FIND(panel_Align_Peaklist_Table);
    VARNEL_FIND(dataGridView_Align_Peaklist_Table);
    VARNEL_FIND(panel_align_peak_visualization);
    VARNEL_FIND(radioButton_Standard);
    VARNEL_FIND(radioButton_Normalized);
    VARNEL_FIND(radioButton_Scan);
    VARNEL_FIND(radioButton_RT_Original);
    VARNEL_FIND(radioButton_RT_Corrected);
    VARNEL_FIND(zedGraphControl_AlignedPeaks);
    VARNEL_FIND(radioButton_PeakPlot);
    VARNEL_FIND(radioButton_GroupPlot);
    VARNEL_FIND(radioButton_CompoundPlot);
    VARNEL_FIND(zedGraphControl_SlectedPeaks);
#undef VARNEL_FIND
  }

  QTabWidget* tabControl1 = nullptr;
  QWidget* Tab_Align_Process = nullptr;
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
  QCheckBox* checkBox_Scored_Member_Choice = nullptr;
  QCheckBox* checkBox_Record_Run = nullptr;
  QWidget* Tab_Align_Visualization = nullptr;
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
  QCustomPlot* zedGraphControl_AlignedPeaks = nullptr;
  QRadioButton* radioButton_PeakPlot = nullptr;
  QRadioButton* radioButton_GroupPlot = nullptr;
  QRadioButton* radioButton_CompoundPlot = nullptr;
  QCustomPlot* zedGraphControl_SlectedPeaks = nullptr;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_FORM_CONTROLS_H_
