// The non-modal "Alignment quality" window: the quality charts of one aligned
// result in tabs, with the summary table. Each chart pans, zooms and saves
// through its context menu, as the report draws it.
#ifndef VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_
#define VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_

#include <QString>
#include <QWidget>
#include <functional>

#include "ui/quality_charts.h"
#include "ui/widgets/quality_charts_view.h"

class QCustomPlot;
class QTabWidget;

namespace Varnel {

class Quality_Window : public QWidget {
  Q_OBJECT

 public:
  // Shows nothing until show(); deletes itself when closed. save_dialog
  // answers the charts' "Save as ..." (a QFileDialog when empty).
  Quality_Window(const Quality_Data& data, QWidget* parent, Quality_Save_Dialog save_dialog = {});

  // The chart with this id (e.g. "rt_deviation"), or null.
  QCustomPlot* Chart(const QString& id) const;
  QTabWidget* Tabs() const { return tabs_; }

 private:
  QTabWidget* tabs_ = nullptr;
};

// The window's title text for a result file.
QString Quality_Window_Title(const QString& file_name);

// What Open_Quality_Window asks of the user; tests replace both so that
// nothing blocks. Empty members mean a QFileDialog and a QMessageBox.
struct Quality_Window_Hooks {
  Quality_Save_Dialog save_dialog;
  std::function<void(QWidget* parent, const QString& text)> show_message;
};

// Reads the result at Join_Path(folder, file_name) and shows its quality
// window, not modal, over parent. On a result that cannot be read it shows the
// reason (starting with the file's path) as a message instead and returns
// null. For the result grid's context menu entry "Alignment quality...".
Quality_Window* Open_Quality_Window(QWidget* parent, const QString& folder,
                                    const QString& file_name, Quality_Window_Hooks hooks = {});

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_QUALITY_WINDOW_H_
