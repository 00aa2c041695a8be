#include "ui/widgets/run_progress_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace Varnel {

namespace {

constexpr int kRefreshMs = 100;  // ten refreshes a second
constexpr int kDialogWidth = 420;

int Permille(std::size_t done, std::size_t total) {
  if (total == 0) return 0;
  done = std::min(done, total);
  return static_cast<int>(static_cast<double>(done) * 1000.0 / static_cast<double>(total));
}

}  // namespace

Alignment_Run_Observer Progress_Observer(Run_Progress& progress) {
  Alignment_Run_Observer observer;
  observer.on_stage = [&progress](Run_Stage stage) {
    if (Stage_Info(stage).count == Stage_Count::kRows) {
      progress.rows_written.store(0);
      progress.rows_total.store(0);
    }
    progress.stage.store(static_cast<int>(stage));
  };
  observer.on_read = [&progress](std::size_t read, std::size_t total, std::size_t peaks) {
    progress.files_total.store(total);
    progress.peaks.store(peaks);
    progress.files_read.store(read);
  };
  observer.on_align = [&progress](std::uint32_t groups, std::size_t left) {
    progress.groups.store(groups);
    progress.peaks_left.store(left);
  };
  observer.on_write = [&progress](Run_Stage stage, std::size_t rows, std::size_t total) {
    progress.stage.store(static_cast<int>(stage));
    progress.rows_total.store(total);
    progress.rows_written.store(rows);
  };
  return observer;
}

namespace {

// The row of the stage last reported; null before the first report.
const Run_Stage_Info* Reported_Stage(const Run_Progress& progress) {
  const int stage = progress.stage.load();
  if (stage < 0 || stage >= static_cast<int>(kRunStages.size())) return nullptr;
  return &Stage_Info(static_cast<Run_Stage>(stage));
}

}  // namespace

QString Run_Progress_Text(const Run_Progress& progress) {
  const Run_Stage_Info* info = Reported_Stage(progress);
  if (info == nullptr) return QStringLiteral("Starting...");
  const QString caption = QString::fromUtf8(info->caption);
  switch (info->count) {
    case Stage_Count::kFiles: {
      const std::size_t total = progress.files_total.load();
      // The file being read is the one after those read so far.
      const std::size_t current =
          std::min(progress.files_read.load() + 1, std::max<std::size_t>(total, 1));
      return QStringLiteral("%1 %2 of %3").arg(caption).arg(current).arg(total);
    }
    case Stage_Count::kGroups:
      return QStringLiteral("%1: %2 groups made, %3 peaks left")
          .arg(caption)
          .arg(progress.groups.load())
          .arg(progress.peaks_left.load());
    case Stage_Count::kRows: {
      const std::size_t total = progress.rows_total.load();
      if (total == 0) return caption;
      return QStringLiteral("%1: row %2 of %3")
          .arg(caption)
          .arg(progress.rows_written.load())
          .arg(total);
    }
    case Stage_Count::kNone:
      return caption;
  }
  return caption;
}

int Run_Progress_Permille(const Run_Progress& progress) {
  const Run_Stage_Info* info = Reported_Stage(progress);
  if (info == nullptr) return 0;
  switch (info->count) {
    case Stage_Count::kFiles:
      return Permille(progress.files_read.load(), progress.files_total.load());
    case Stage_Count::kGroups: {
      const std::size_t peaks = progress.peaks.load();
      const std::size_t left = std::min(progress.peaks_left.load(), peaks);
      if (progress.groups.load() == 0) return 0;
      return Permille(peaks - left, peaks);
    }
    case Stage_Count::kRows:
      return Permille(progress.rows_written.load(), progress.rows_total.load());
    case Stage_Count::kNone:
      return 0;
  }
  return 0;
}

QString Elapsed_Text(qint64 milliseconds) {
  const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
  const qint64 hours = seconds / 3600;
  const qint64 minutes = seconds / 60 % 60;
  const QString tail = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
  if (hours > 0) {
    return QStringLiteral("Elapsed: %1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(tail);
  }
  return QStringLiteral("Elapsed: %1:%2").arg(minutes).arg(tail);
}

Run_Progress_Dialog::Run_Progress_Dialog(const QString& title, std::size_t files_total,
                                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("Run_Progress_Dialog"));
  setWindowTitle(title);
  setModal(true);
  progress_.files_total.store(files_total);

  label_stage_ = new QLabel(this);
  label_stage_->setObjectName(QStringLiteral("label_Run_Stage"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("progressBar_Run"));
  bar_->setRange(0, 1000);
  bar_->setTextVisible(false);
  label_elapsed_ = new QLabel(this);
  label_elapsed_->setObjectName(QStringLiteral("label_Run_Elapsed"));
  button_cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  button_cancel_->setObjectName(QStringLiteral("button_Run_Cancel"));
  button_cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_stage_);
  layout->addWidget(bar_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(label_elapsed_, 1);
  bottom->addWidget(button_cancel_);
  layout->addLayout(bottom);
  setFixedWidth(kDialogWidth);

  refresh_ = new QTimer(this);
  refresh_->setInterval(kRefreshMs);
  connect(refresh_, &QTimer::timeout, this, [this] { Refresh(); });
  connect(button_cancel_, &QPushButton::clicked, this, &Run_Progress_Dialog::Request_Stop);
  clock_.start();
  Refresh();
}

Run_Progress_Dialog::~Run_Progress_Dialog() {
  stop_.store(true);
  if (worker_.joinable()) worker_.join();
}

void Run_Progress_Dialog::Run(Work work) {
  clock_.restart();
  Refresh();
  refresh_->start();
  worker_ = std::thread([this, work = std::move(work)] {
    try {
      work(Make_Cancellable(Progress_Observer(progress_), [this] { return stop_.load(); }));
    } catch (...) {
      failure_ = std::current_exception();
    }
    finished_.store(true);
    // Dropped with the dialog if it is gone; Refresh notices the end as well.
    QMetaObject::invokeMethod(
        this, [this] { Finish(); }, Qt::QueuedConnection);
  });
  if (!finished_.load()) exec();
  refresh_->stop();
  if (worker_.joinable()) worker_.join();
  if (failure_) std::rethrow_exception(failure_);
}

void Run_Progress_Dialog::Request_Stop() {
  if (stop_.exchange(true)) return;
  button_cancel_->setEnabled(false);
  button_cancel_->setText(QStringLiteral("Stopping..."));
}

void Run_Progress_Dialog::Stop_And_Wait() {
  Request_Stop();
  if (worker_.joinable()) worker_.join();
}

void Run_Progress_Dialog::reject() { Request_Stop(); }

void Run_Progress_Dialog::closeEvent(QCloseEvent* event) {
  // The dialog closes when the work has ended, never before.
  Request_Stop();
  event->ignore();
}

void Run_Progress_Dialog::Refresh() {
  label_stage_->setText(Run_Progress_Text(progress_));
  bar_->setValue(Run_Progress_Permille(progress_));
  label_elapsed_->setText(Elapsed_Text(clock_.elapsed()));
  if (finished_.load()) Finish();
}

void Run_Progress_Dialog::Finish() {
  // Before the dialog shows, Run skips exec; the refresh keeps going until then.
  if (!finished_.load() || !isVisible()) return;
  refresh_->stop();
  done(QDialog::Accepted);
}

}  // namespace Varnel
