#include "ui/widgets/quality_window.h"

#include <qcustomplot.h>

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <map>

#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "ui/text_codec.h"
#include "ui/widgets/wait_cursor.h"

namespace Varnel {

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 860;

// Which tab each chart goes to, and the tabs in order.
struct Tab_Layout {
  const char* title;
  std::vector<const char*> ids;  // side by side, left to right
};
const Tab_Layout kTabs[] = {
    {"Retention time", {"rt_deviation", "rt_deviation_before", "rt_deviation_after"}},
    {"Outliers", {"rt_outliers"}},
    {"Mass", {"mass_deviation", "mass_by_sample"}},
    {"Groups", {"samples_per_group", "intensity_cv"}},
    {"Samples", {"peaks_per_sample"}},
};

QWidget* Summary_Page(const Quality_Data& data) {
  const std::vector<Summary_Row> rows = Quality_Summary(data);
  auto* table = new QTableWidget(static_cast<int>(rows.size()), 2);
  table->setObjectName(QStringLiteral("quality_summary"));
  table->setHorizontalHeaderLabels({QStringLiteral("Figure"), QStringLiteral("Value")});
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    auto* label = new QTableWidgetItem(rows[r].label);
    if (rows[r].section) {
      QFont bold = label->font();
      bold.setBold(true);
      label->setFont(bold);
    }
    table->setItem(r, 0, label);
    table->setItem(r, 1, new QTableWidgetItem(rows[r].value));
  }
  table->resizeColumnToContents(0);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

}  // namespace

QString Quality_Window_Title(const QString& file_name) {
  return QStringLiteral("Alignment quality - %1").arg(file_name);
}

Quality_Window::Quality_Window(const Quality_Data& data, QWidget* parent,
                               Quality_Save_Dialog save_dialog)
    : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Quality_Window"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Quality_Window_Title(QFileInfo(From_Engine_String(data.file)).fileName()));
  resize(kWindowWidth, kWindowHeight);
  if (!save_dialog) save_dialog = Default_Quality_Save_Dialog();

  std::map<QString, const Quality_Chart*> by_id;
  const std::vector<Quality_Chart> charts = Build_Quality_Charts(data);
  for (const Quality_Chart& chart : charts) by_id[chart.id] = &chart;

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("quality_tabs"));
  for (const Tab_Layout& plan : kTabs) {
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(4, 4, 4, 4);
    for (const char* id : plan.ids) {
      auto it = by_id.find(QString::fromLatin1(id));
      if (it == by_id.end()) continue;
      row->addWidget(Make_Quality_Plot(*it->second, page, save_dialog));
    }
    if (row->count() == 0) {
      delete page;
      continue;
    }
    tabs_->addTab(page, QString::fromLatin1(plan.title));
  }
  tabs_->addTab(Summary_Page(data), QStringLiteral("Summary"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_);
}

QCustomPlot* Quality_Window::Chart(const QString& id) const { return findChild<QCustomPlot*>(id); }

Quality_Window* Open_Quality_Window(QWidget* parent, const QString& folder,
                                    const QString& file_name, Quality_Window_Hooks hooks) {
  Quality_Window* window = nullptr;
  QString failure;
  {
    Wait_Cursor wait;
    try {
      const Quality_Data data =
          Load_Quality_Data(Join_Path(To_Engine_String(folder), To_Engine_String(file_name)));
      window = new Quality_Window(data, parent, std::move(hooks.save_dialog));
    } catch (const std::exception& e) {
      failure = From_Engine_String(e.what());
    } catch (const CppSQLite3Exception& e) {
      failure = From_Engine_String(e.errorMessage());
    }
  }
  if (window == nullptr) {
    if (hooks.show_message)
      hooks.show_message(parent, failure);
    else
      QMessageBox::warning(parent, QStringLiteral("Alignment quality"), failure);
    return nullptr;
  }
  window->show();
  return window;
}

}  // namespace Varnel
