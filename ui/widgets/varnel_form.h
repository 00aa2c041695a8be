// The one window of Varnel: a tab control with the alignment tab and the
// visualization tab.
//
// The window builds the tabs and hands them what they share: the dialogs
// (injectable, so tests never block) and the one failure guard through which
// every handler runs. Every control carries its fixed control name as its Qt
// object name, so tests and scripts find it with findChild.
#ifndef VARNEL_UI_WIDGETS_VARNEL_FORM_H_
#define VARNEL_UI_WIDGETS_VARNEL_FORM_H_

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "ui/align_tab.h"
#include "ui/widgets/form_dialogs.h"
#include "ui/widgets/result_viewer_window.h"

class QCloseEvent;
class QColor;
class QStandardItemModel;
class QTabWidget;

namespace Varnel {

class Align_Process_Tab;
class Align_Visualization_Tab;

class Varnel_Form : public QWidget {
  Q_OBJECT

 public:
  explicit Varnel_Form(std::unique_ptr<Form_Dialogs> dialogs = Make_Standard_Dialogs(),
                       QWidget* parent = nullptr);
  ~Varnel_Form() override;

  // File table of the alignment tab: columns "File Name", "Folder Name",
  // "     Align" (unticked); col1/col2 receive the first two column names.
  static QStandardItemModel* ArrayToTable(const std::vector<Picked_File>& x, QString& col1,
                                          QString& col2, QObject* parent = nullptr);
  // Fills Color_Array[0 .. Color_NUM-1]; the caller allocates them.
  static void Generate_Color_Vect(int Color_NUM, QColor* Color_Array);

  // Replaces the alignment run that an accepted Align request calls (tests
  // pass their own). An empty function restores the real run.
  void Set_Align_Run(Align_Run_Function run);
  // Replaces what the alignment tab's Estimate calls (empty: not available).
  void Set_Estimator(Estimate_Function estimator);

  // Where the viewer window keeps its geometry (tests pass their own);
  // empty: the user's settings.
  void Set_Viewer_Settings(Settings_Factory settings) { viewer_settings_ = std::move(settings); }
  // Opens the viewer window of the open result, or raises the one open.
  // Needs an open result (no-op without). Returns the window, null without.
  Result_Viewer_Window* Open_Viewer();

  Align_Process_Tab* Align_Tab() const { return align_tab_; }
  Align_Visualization_Tab* Visualization_Tab() const { return visualization_tab_; }

 protected:
  // While an alignment works, holds it at its next report and asks
  // kStopRunAndCloseQuestion; Yes stops the run, waits for it and closes
  // (the earlier result files stay), No lets the run go on and keeps the
  // window. Reached from the close button, the window manager and Alt+F4.
  void closeEvent(QCloseEvent* event) override;

 signals:
  // Emitted at the end of every chart redraw (tests count redraws with it).
  void Redrawn();

 private:
  std::unique_ptr<Form_Dialogs> dialogs_;
  std::unique_ptr<Failure_Guard> guard_;
  QTabWidget* tabControl1 = nullptr;
  Align_Process_Tab* align_tab_ = nullptr;
  Align_Visualization_Tab* visualization_tab_ = nullptr;
  Settings_Factory viewer_settings_;
  QPointer<Result_Viewer_Window> viewer_;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_VARNEL_FORM_H_
