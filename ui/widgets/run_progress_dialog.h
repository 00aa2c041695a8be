// Long work (an alignment run, an estimate) on a thread of its own under a
// modal dialog that shows how far it got, the time it has taken, and Cancel.
//
// The work reports through an Alignment_Run_Observer. Its callbacks run on
// the work's thread and only store numbers into atomics; the dialog reads
// them on the window's thread about ten times a second, so a million reports
// cost no more than a few repaints. Nothing on the work's thread touches a
// widget.
#ifndef VARNEL_UI_WIDGETS_RUN_PROGRESS_DIALOG_H_
#define VARNEL_UI_WIDGETS_RUN_PROGRESS_DIALOG_H_

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>

#include "run/alignment_run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace Varnel {

// What the work reported last. Written by the work's thread, read by the
// dialog; each number on its own (a display needs no consistent snapshot).
struct Run_Progress {
  std::atomic<int> stage{-1};  // a Run_Stage, -1 before the first report
  std::atomic<std::size_t> files_read{0};
  std::atomic<std::size_t> files_total{0};
  std::atomic<std::size_t> peaks{0};  // gathered while reading
  std::atomic<std::uint32_t> groups{0};
  std::atomic<std::size_t> peaks_left{0};
  std::atomic<std::size_t> rows_written{0};
  std::atomic<std::size_t> rows_total{0};
};

// An observer that stores every report into progress (which must outlive it).
Alignment_Run_Observer Progress_Observer(Run_Progress& progress);

// The dialog's line for the last report: the stage's caption (kRunStages)
// with its count ("Reading file 2 of 5", "Aligning: 120 groups made, 3400
// peaks left", "Writing the CSV file: row 10000 of 52000"), or "Starting..."
// before the first report.
QString Run_Progress_Text(const Run_Progress& progress);
// How far the current stage got, 0 to 1000.
int Run_Progress_Permille(const Run_Progress& progress);
// "Elapsed: m:ss" (hours when needed: "Elapsed: h:mm:ss").
QString Elapsed_Text(qint64 milliseconds);

class Run_Progress_Dialog : public QDialog {
  Q_OBJECT

 public:
  // The work gets the observer to report through; it is cancellable: after
  // Cancel every callback throws Run_Cancelled.
  using Work = std::function<void(const Alignment_Run_Observer& observer)>;

  // title: the dialog's window title. files_total: shown as "file 1 of n"
  // before the first file has been read.
  Run_Progress_Dialog(const QString& title, std::size_t files_total, QWidget* parent);
  // Requests a stop and waits for the work's thread when it still runs.
  ~Run_Progress_Dialog() override;

  // Starts work on its own thread and shows the dialog modally (the window
  // keeps repainting) until the work ended; then rethrows here what the work
  // threw (Run_Cancelled after Cancel). Call once.
  void Run(Work work);

  // What Cancel does: the work stops at its next report.
  void Request_Stop();
  // Request_Stop, then blocks until the work's thread ended (the dialog still
  // closes through Run).
  void Stop_And_Wait();
  bool Stop_Requested() const { return stop_.load(); }

 public slots:
  // Cancel and Escape stop the work; the dialog closes when it ended.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Refresh();
  void Finish();

  Run_Progress progress_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::exception_ptr failure_;  // written by the work's thread before finished_
  std::thread worker_;
  QElapsedTimer clock_;

  QLabel* label_stage_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* label_elapsed_ = nullptr;
  QPushButton* button_cancel_ = nullptr;
  QTimer* refresh_ = nullptr;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_RUN_PROGRESS_DIALOG_H_
