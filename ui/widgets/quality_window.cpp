#include "ui/widgets/quality_window.h"

#include <qcustomplot.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "storage/aligned_result.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/text_codec.h"

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
    {"Correction", {"rt_correction"}},
    {"Outliers", {"rt_outliers", "correlation"}},
    {"Mass", {"mass_deviation", "mass_by_mz"}},
    {"Groups", {"samples_per_group", "intensity_cv", "cv_qc"}},
    {"Samples", {"peaks_per_sample", "missing_values"}},
    {"Intensity", {"intensity_boxes", "injection_trend"}},
    {"PCA", {"pca_scores"}},
    {"QC correction", {"signal_qc_rsd", "signal_pca_before", "signal_pca_after"}},
    {"QC worst groups", {"signal_worst_1", "signal_worst_2", "signal_worst_3"}},
};
constexpr int kPollMs = 30;

QString Failure_Text(const std::exception& e) { return From_Engine_String(e.what()); }

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

// The computation on its own thread: the figures and charts, or the failure.
struct Quality_Window::Worker {
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::atomic<std::size_t> rows{0};
  std::optional<Sample_Sheet> sheet;
  std::mutex mutex;  // guards the three below until done
  std::optional<Quality_Data> data;
  std::vector<Quality_Chart> charts;
  QString failure;
  std::thread thread;

  void Run(const std::string& path) {
    try {
      Quality_Options options;
      options.sheet = sheet ? &*sheet : nullptr;
      options.progress = [this](std::size_t n) {
        rows.store(n);
        return !stop.load();
      };
      Quality_Data figures = Load_Quality_Data(path, options);
      std::vector<Quality_Chart> built = Build_Quality_Charts(figures);
      std::lock_guard<std::mutex> lock(mutex);
      data = std::move(figures);
      charts = std::move(built);
    } catch (const Quality_Cancelled&) {
    } catch (const std::exception& e) {
      std::lock_guard<std::mutex> lock(mutex);
      failure = Failure_Text(e);
    } catch (const CppSQLite3Exception& e) {
      std::lock_guard<std::mutex> lock(mutex);
      failure = From_Engine_String(path + ": " + e.errorMessage());
    }
    done.store(true);
  }
};

void Quality_Window::Build_Frame() {
  setObjectName(QStringLiteral("Quality_Window"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(kWindowWidth, kWindowHeight);
  if (!hooks_.save_dialog) hooks_.save_dialog = Default_Quality_Save_Dialog();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(8, 6, 8, 0);
  verdict_ = new QLabel(this);
  verdict_->setObjectName(QStringLiteral("quality_verdict"));
  verdict_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  verdict_->setWordWrap(true);  // a long verdict must not widen the window
  QFont bold = verdict_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() + 1.0);
  verdict_->setFont(bold);
  top->addWidget(verdict_, 1);
  sheet_button_ = new QPushButton(QStringLiteral("Sample sheet..."), this);
  sheet_button_->setObjectName(QStringLiteral("quality_sample_sheet"));
  sheet_button_->setToolTip(QStringLiteral(
      "Colour the charts by group: a CSV with the lines sample,group (or, with the header "
      "sample,group,order, also the injection order). A group named QC adds the QC CV chart."));
  connect(sheet_button_, &QPushButton::clicked, this, &Quality_Window::Ask_Sample_Sheet);
  top->addWidget(sheet_button_);
  layout->addLayout(top);

  stack_ = new QStackedWidget(this);
  auto* waiting = new QWidget;
  auto* waiting_layout = new QVBoxLayout(waiting);
  waiting_layout->addStretch(1);
  progress_text_ = new QLabel(QStringLiteral("Reading the result..."), waiting);
  progress_text_->setObjectName(QStringLiteral("quality_progress"));
  progress_text_->setAlignment(Qt::AlignCenter);
  progress_bar_ = new QProgressBar(waiting);
  progress_bar_->setRange(0, 0);
  progress_bar_->setMaximumWidth(400);
  waiting_layout->addWidget(progress_text_);
  waiting_layout->addWidget(progress_bar_, 0, Qt::AlignHCenter);
  waiting_layout->addStretch(2);
  stack_->addWidget(waiting);
  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("quality_tabs"));
  stack_->addWidget(tabs_);
  layout->addWidget(stack_, 1);
}

Quality_Window::Quality_Window(const Quality_Data& data, QWidget* parent,
                               Quality_Save_Dialog save_dialog)
    : QWidget(parent, Qt::Window) {
  hooks_.save_dialog = std::move(save_dialog);
  Build_Frame();
  sheet_button_->setVisible(false);  // no result path to compute again from
  setWindowTitle(Quality_Window_Title(QFileInfo(From_Engine_String(data.file)).fileName()));
  Show_Figures(data, Build_Quality_Charts(data));
}

Quality_Window::Quality_Window(std::string path, std::optional<Sample_Sheet> sheet, QWidget* parent,
                               Quality_Window_Hooks hooks)
    : QWidget(parent, Qt::Window), path_(std::move(path)), hooks_(std::move(hooks)) {
  Build_Frame();
  setWindowTitle(Quality_Window_Title(QFileInfo(From_Engine_String(path_)).fileName()));
  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &Quality_Window::Poll);
  Start(std::move(sheet));
}

Quality_Window::~Quality_Window() { Stop(); }

void Quality_Window::Stop() {
  if (!worker_) return;
  worker_->stop.store(true);
  if (worker_->thread.joinable()) worker_->thread.join();
  worker_.reset();
}

void Quality_Window::Start(std::optional<Sample_Sheet> sheet) {
  Stop();
  stack_->setCurrentIndex(0);
  progress_text_->setText(QStringLiteral("Reading the result..."));
  verdict_->setText(QStringLiteral("Computing the figures..."));
  sheet_button_->setEnabled(false);
  worker_ = std::make_unique<Worker>();
  worker_->sheet = std::move(sheet);
  Worker* worker = worker_.get();
  const std::string path = path_;
  worker_->thread = std::thread([worker, path] { worker->Run(path); });
  poll_->start();
}

void Quality_Window::Poll() {
  if (!worker_) return;
  if (!worker_->done.load()) {
    progress_text_->setText(
        QStringLiteral("Reading the result: %1 peaks")
            .arg(
                QLocale(QLocale::English).toString(static_cast<qulonglong>(worker_->rows.load()))));
    return;
  }
  poll_->stop();
  worker_->thread.join();
  std::unique_ptr<Worker> finished = std::move(worker_);
  sheet_button_->setEnabled(true);
  if (finished->data) {
    Show_Figures(*finished->data, finished->charts);
    return;
  }
  if (finished->failure.isEmpty()) return;  // stopped
  // Over this window while it stays (it shows earlier figures), else over
  // the window that opened it.
  QWidget* asker = tabs_->count() > 0 ? this : parentWidget();
  if (hooks_.show_message)
    hooks_.show_message(asker, finished->failure);
  else
    QMessageBox::warning(asker, QStringLiteral("Alignment quality"), finished->failure);
  if (tabs_->count() == 0) {
    close();  // nothing to show
    return;
  }
  verdict_->setText(shown_verdict_);  // the figures shown stay
  stack_->setCurrentIndex(1);
}

void Quality_Window::Show_Figures(const Quality_Data& data,
                                  const std::vector<Quality_Chart>& charts) {
  while (tabs_->count() > 0) {
    QWidget* page = tabs_->widget(0);
    tabs_->removeTab(0);
    delete page;
  }
  std::map<QString, const Quality_Chart*> by_id;
  for (const Quality_Chart& chart : charts) by_id[chart.id] = &chart;
  group_id_ = nullptr;
  group_status_ = nullptr;
  group_area_ = nullptr;
  signal_ = data.signal;
  for (const Tab_Layout& plan : kTabs) {
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(4, 4, 4, 4);
    for (const char* id : plan.ids) {
      auto it = by_id.find(QString::fromLatin1(id));
      if (it == by_id.end()) continue;
      row->addWidget(Make_Quality_Plot(*it->second, page, hooks_.save_dialog));
    }
    if (row->count() == 0) {
      delete page;
      continue;
    }
    tabs_->addTab(page, QString::fromLatin1(plan.title));
  }
  if (signal_.shown) tabs_->addTab(Group_Page(), QStringLiteral("QC group"));
  tabs_->addTab(Summary_Page(data), QStringLiteral("Summary"));
  shown_verdict_ = Quality_Verdict(data);
  verdict_->setText(shown_verdict_);
  stack_->setCurrentIndex(1);
  emit Figures_Shown();
}

QWidget* Quality_Window::Group_Page() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(4, 4, 4, 4);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(4, 0, 4, 0);
  row->addWidget(new QLabel(QStringLiteral("Align_ID:"), page));
  group_id_ = new QLineEdit(page);
  group_id_->setObjectName(QStringLiteral("quality_signal_group_id"));
  group_id_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]{1,10}")), group_id_));
  group_id_->setMaximumWidth(140);
  if (!signal_.worst.empty()) group_id_->setText(QString::number(signal_.worst.front().align_id));
  row->addWidget(group_id_);
  auto* show = new QPushButton(QStringLiteral("Show"), page);
  show->setObjectName(QStringLiteral("quality_signal_group_show"));
  show->setToolTip(QStringLiteral(
      "Draw this group's intensity against injection order with the QC correction's fit in each "
      "batch (groups present in at least half of the samples)"));
  row->addWidget(show);
  group_status_ = new QLabel(page);
  group_status_->setObjectName(QStringLiteral("quality_signal_group_status"));
  group_status_->setWordWrap(true);
  // Until a group is drawn the page says how, instead of a blank area.
  group_status_->setText(QStringLiteral(
      "Click Show to draw this group's intensity against injection order with the QC "
      "correction's fit, or type another Align_ID."));
  row->addWidget(group_status_, 1);
  column->addLayout(row);
  group_area_ = new QWidget(page);
  auto* area = new QHBoxLayout(group_area_);
  area->setContentsMargins(0, 0, 0, 0);
  column->addWidget(group_area_, 1);
  connect(show, &QPushButton::clicked, this, &Quality_Window::Show_Chosen_Group);
  connect(group_id_, &QLineEdit::returnPressed, this, &Quality_Window::Show_Chosen_Group);
  return page;
}

void Quality_Window::Show_Chosen_Group() {
  if (group_id_ == nullptr) return;
  bool ok = false;
  const qulonglong id = group_id_->text().toULongLong(&ok);
  if (!ok || id > 0xFFFFFFFFULL) {
    group_status_->setText(QStringLiteral("Type a group's Align_ID (a whole number)"));
    return;
  }
  QString why;
  const std::optional<Quality_Chart> chart =
      Signal_Group_Chart(signal_, static_cast<std::uint32_t>(id), &why);
  if (!chart) {
    group_status_->setText(why);  // the chart shown before stays
    return;
  }
  QLayout* area = group_area_->layout();
  while (QLayoutItem* item = area->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  area->addWidget(Make_Quality_Plot(*chart, group_area_, hooks_.save_dialog));
  group_status_->clear();
}

void Quality_Window::Ask_Sample_Sheet() {
  const QString chosen =
      hooks_.sample_sheet_dialog
          ? hooks_.sample_sheet_dialog(this)
          : QFileDialog::getOpenFileName(this, QStringLiteral("Sample sheet"),
                                         QFileInfo(From_Engine_String(path_)).absolutePath(),
                                         QStringLiteral("Sample sheet, CSV sample,group[,order] "
                                                        "(*.csv *.txt);;All files (*)"));
  if (chosen.isEmpty()) return;
  try {
    Start(Read_Sample_Sheet(To_Engine_String(chosen)));
  } catch (const std::exception& e) {
    if (hooks_.show_message)
      hooks_.show_message(this, Failure_Text(e));
    else
      QMessageBox::warning(this, QStringLiteral("Alignment quality"), Failure_Text(e));
  }
}

bool Quality_Window::Ready() const { return stack_->currentIndex() == 1 && tabs_->count() > 0; }

QString Quality_Window::Verdict() const { return verdict_->text(); }

QCustomPlot* Quality_Window::Chart(const QString& id) const { return findChild<QCustomPlot*>(id); }

Quality_Window* Open_Quality_Window(QWidget* parent, const QString& folder,
                                    const QString& file_name, Quality_Window_Hooks hooks) {
  const std::string path = Join_Path(To_Engine_String(folder), To_Engine_String(file_name));
  QString failure;
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw Quality_Error(path + ": no such file");
    Aligned_Result result(path);
    if (!result.Has_Peaks()) throw Quality_Error(path + ": the result holds no peaks");
  } catch (const std::exception& e) {
    failure = Failure_Text(e);
  }
  if (!failure.isEmpty()) {
    if (hooks.show_message)
      hooks.show_message(parent, failure);
    else
      QMessageBox::warning(parent, QStringLiteral("Alignment quality"), failure);
    return nullptr;
  }
  auto* window = new Quality_Window(path, std::nullopt, parent, std::move(hooks));
  window->show();
  return window;
}

}  // namespace Varnel
