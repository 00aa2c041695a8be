// The non-modal "Alignment quality" window: a verdict line over the quality
// charts of one aligned result in tabs, with the summary table. Each chart
// pans, zooms and saves through its context menu, as the report draws it.
//
// Opened on a result, the window shows at once with a progress line and
// computes the figures and charts (plain data) on a worker thread; only the
// drawing happens on the window's thread. Closing the window during the
// computation stops the worker at its next progress check and waits for it.
#ifndef VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_
#define VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "export/sample_sheet.h"
#include "ui/quality_charts.h"
#include "ui/widgets/quality_charts_view.h"

class QCustomPlot;
class QLineEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTimer;

namespace Varnel {

// What the window asks of the user; tests replace them so that nothing
// blocks. Empty members mean a QFileDialog and a QMessageBox.
struct Quality_Window_Hooks {
  Quality_Save_Dialog save_dialog;
  std::function<void(QWidget* parent, const QString& text)> show_message;
  // "Sample sheet...": the CSV to colour the charts by group with; an empty
  // text when the user cancelled.
  std::function<QString(QWidget* parent)> sample_sheet_dialog;
};

class Quality_Window : public QWidget {
  Q_OBJECT

 public:
  // Shows the figures at once. Shows nothing until show(); deletes itself
  // when closed. save_dialog answers the charts' "Save as ..." (a QFileDialog
  // when empty).
  Quality_Window(const Quality_Data& data, QWidget* parent, Quality_Save_Dialog save_dialog = {});
  // Starts computing the figures of the result at path (with the sheet when
  // given) on a worker thread and shows the progress until they are drawn. A
  // failure is shown through hooks.show_message and closes the window.
  Quality_Window(std::string path, std::optional<Sample_Sheet> sheet, QWidget* parent,
                 Quality_Window_Hooks hooks = {});
  ~Quality_Window() override;

  // The chart with this id (e.g. "rt_deviation"), or null.
  QCustomPlot* Chart(const QString& id) const;
  QTabWidget* Tabs() const { return tabs_; }
  // True once the charts are drawn (at once for the first constructor).
  bool Ready() const;
  // The verdict line as shown.
  QString Verdict() const;

 signals:
  // The charts of a computation are in place.
  void Figures_Shown();

 private:
  struct Worker;
  void Build_Frame();
  void Start(std::optional<Sample_Sheet> sheet);
  void Stop();
  void Poll();
  void Show_Figures(const Quality_Data& data, const std::vector<Quality_Chart>& charts);
  void Ask_Sample_Sheet();
  QWidget* Group_Page();
  void Show_Chosen_Group();

  std::string path_;
  Quality_Window_Hooks hooks_;
  std::unique_ptr<Worker> worker_;
  QStackedWidget* stack_ = nullptr;
  QLabel* progress_text_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLabel* verdict_ = nullptr;
  QPushButton* sheet_button_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTimer* poll_ = nullptr;
  QString shown_verdict_;  // of the figures on the tabs
  // The QC correction shown, for a group picked by its Align_ID on the tab
  // "QC group" (there when the correction is shown).
  Quality_Signal signal_;
  QLineEdit* group_id_ = nullptr;
  QLabel* group_status_ = nullptr;
  QWidget* group_area_ = nullptr;
};

// The window's title text for a result file.
QString Quality_Window_Title(const QString& file_name);

// Checks that Join_Path(folder, file_name) is an aligned result holding peaks
// and shows its quality window, not modal, over parent, computing in the
// background. A file that is no result (or holds no peak) is refused at once:
// the reason (starting with the file's path) is shown as a message and null
// returned. For the result grid's context menu entry "Alignment quality...".
Quality_Window* Open_Quality_Window(QWidget* parent, const QString& folder,
                                    const QString& file_name, Quality_Window_Hooks hooks = {});

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_
