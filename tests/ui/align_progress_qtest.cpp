// Alignment and estimate in the background: the progress dialog's stages and
// Cancel under a slow scripted run, the real run stopped at each stage, the
// window repainting while a run works, and closing the window during a run.
//
// Align and Estimate return only when their work has ended, so everything a
// test does during the work runs from a timer inside the dialog's own loop
// (While_Running).
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "run/alignment_run.h"
#include "storage/aligned_result.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/window_test.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/run_progress_dialog.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;
using Varnel::Test::Scripted_Dialogs;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);  // a gate never opened fails, not hangs

// Where a scripted run waits for the test. The run keeps reporting while it
// waits, as a real run does, so a Cancel stops it there.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  // True when opened in time; report is called every few milliseconds.
  bool Wait(const std::function<void()>& report) {
    const auto deadline = Clock::now() + kPatience;
    std::unique_lock lock(mutex_);
    while (!open_) {
      if (Clock::now() > deadline) return false;
      lock.unlock();
      report();
      lock.lock();
      opened_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Counts the paint events a widget receives (on the window's thread).
class Paint_Counter : public QObject {
 public:
  explicit Paint_Counter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

}  // namespace

class AlignProgressTest : public Varnel::Test::Window_Test {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  Simulation_Result study_;
  std::unique_ptr<Gate[]> gates_;

  std::string Result_File(const char* name) const {
    return Join_Path(Join_Path(dir_->path(), "Result"), name);
  }
  // Picks the simulated study, loads it and ticks every file.
  void Load_Study() {
    QStringList paths;
    for (const std::string& path : Study_Paths(dir_->path(), study_)) {
      paths.push_back(From_Engine_String(path));
    }
    dialogs_->answers.push_back(paths);
    ui_.button_Annotation_File_Browse->click();
    ui_.button_Annotation_Load->click();
    ui_.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align")->click();
  }
  Run_Progress_Dialog* Dialog() const { return form_->findChild<Run_Progress_Dialog*>(); }
  QString Stage_Text() const {
    Run_Progress_Dialog* dialog = Dialog();
    return dialog ? dialog->findChild<QLabel*>("label_Run_Stage")->text() : QString();
  }
  int Bar() const { return Dialog()->findChild<QProgressBar*>("progressBar_Run")->value(); }
  void Click_Cancel() const { Dialog()->findChild<QPushButton*>("button_Run_Cancel")->click(); }
  // Clicks button; steps run from the window's loop while the work goes on.
  static void While_Running(QPushButton* button, std::function<void()> steps) {
    QTimer::singleShot(0, button, std::move(steps));
    button->click();
  }
  // A run that reports one stage after the other and waits at each gate.
  Align_Run_Function Slow_Run() {
    return [this](const Alignment_Request&, const Alignment_Run_Observer& o) {
      o.on_stage(Run_Stage::kReading);
      o.on_read(1, 3, 100);
      gates_[0].Wait([&] { o.on_read(1, 3, 100); });
      o.on_stage(Run_Stage::kAligning);
      o.on_align(5, 40);
      gates_[1].Wait([&] { o.on_align(5, 40); });
      o.on_stage(Run_Stage::kWritingCsv);
      o.on_write(Run_Stage::kWritingCsv, 10, 60);
      gates_[2].Wait([&] { o.on_write(Run_Stage::kWritingCsv, 10, 60); });
      o.on_stage(Run_Stage::kWritingDatabase);
      o.on_write(Run_Stage::kWritingDatabase, 30, 60);
      gates_[3].Wait([&] { o.on_write(Run_Stage::kWritingDatabase, 30, 60); });
      return Alignment_Run_Summary{};
    };
  }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    study_ = Make_Study(dir_->path(), 3, 25);
    gates_ = std::make_unique<Gate[]>(4);
    Make_Window();
    QVERIFY(Show_Window());
    Load_Study();
  }
  void cleanup() {
    for (int i = 0; i < 4; ++i) gates_[i].Open();
    form_.reset();
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void dialogFollowsEveryStageUnderTheWaitCursor() {
    form_->Set_Align_Run(Slow_Run());
    While_Running(ui_.button_Align_Process, [this] {
      QVERIFY(Dialog() != nullptr);
      // Only the alignment tab waits: the visualization tab stays usable.
      QVERIFY(!Dialog()->isModal());
      QCOMPARE(QApplication::activeModalWidget(), nullptr);
      QVERIFY(!ui_.button_Align_Process->isEnabled());
      QVERIFY(!ui_.button_Estimate->isEnabled());
      ui_.tabControl1->setCurrentIndex(1);
      QVERIFY(ui_.button_Align_File_Browse->isEnabled());
      QVERIFY(ui_.button_Align_File_Browse->isVisible());
      ui_.tabControl1->setCurrentIndex(0);
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      QTRY_COMPARE(Stage_Text(), QString("Reading file 2 of 3"));
      QCOMPARE(Bar(), 333);
      QVERIFY(Dialog()->findChild<QLabel*>("label_Run_Elapsed")->text().startsWith("Elapsed: 0:0"));
      gates_[0].Open();
      QTRY_COMPARE(Stage_Text(), QString("Aligning: 5 groups made, 40 peaks left"));
      QCOMPARE(Bar(), 600);  // 60 of the 100 peaks gathered are in groups
      gates_[1].Open();
      QTRY_COMPARE(Stage_Text(), QString("Writing the CSV file: row 10 of 60"));
      gates_[2].Open();
      QTRY_COMPARE(Stage_Text(), QString("Writing the database: row 30 of 60"));
      QCOMPARE(Bar(), 500);
      gates_[3].Open();
    });
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QVERIFY(Dialog() == nullptr);
    QVERIFY(ui_.button_Align_Process->isEnabled());
  }

  void cancelStopsAtTheNextReportWithItsOwnMessage() {
    std::atomic<bool> stopped_by_cancel{false};
    const Align_Run_Function slow = Slow_Run();
    form_->Set_Align_Run([&](const Alignment_Request& r, const Alignment_Run_Observer& o) {
      try {
        return slow(r, o);
      } catch (const Run_Cancelled&) {
        stopped_by_cancel = true;
        throw;
      }
    });
    While_Running(ui_.button_Align_Process, [this] {
      gates_[0].Open();
      QTRY_COMPARE(Stage_Text(), QString("Aligning: 5 groups made, 40 peaks left"));
      Click_Cancel();
      QVERIFY(Dialog()->isVisible());  // until the run has stopped
    });
    QVERIFY(stopped_by_cancel);
    QCOMPARE(dialogs_->messages,
             QStringList{"The alignment was cancelled; earlier results are unchanged."});
  }

  void failureOnTheWorkerIsOneMessage() {
    form_->Set_Align_Run(
        [](const Alignment_Request&, const Alignment_Run_Observer& o) -> Alignment_Run_Summary {
          o.on_stage(Run_Stage::kReading);
          throw std::runtime_error("/data/s2.db: file is not a database");
        });
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages, QStringList{"/data/s2.db: file is not a database"});
  }

  void inputsWithoutTheAnnotatedTableAreNamedAfterTheRun() {
    form_->Set_Align_Run([](const Alignment_Request&, const Alignment_Run_Observer&) {
      Alignment_Run_Summary summary;
      summary.inputs_without_table = {"/data/s2.db", "/data/s5.db"};
      return summary;
    });
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages,
             (QStringList{"Align Process Finished!",
                          "These 2 inputs hold no table \"Annotate_Peaklist\" and were read as 0 "
                          "peaks:\n/data/s2.db\n/data/s5.db"}));
  }

  void windowRepaintsWhileTheRunWorks() {
    auto* paints = new Paint_Counter(ui_.tabControl1);
    bool gui_answered = false;
    form_->Set_Align_Run([&](const Alignment_Request&, const Alignment_Run_Observer& o) {
      o.on_stage(Run_Stage::kAligning);
      // Opened by a timer on the window's thread: a blocked window never opens it.
      gui_answered = gates_[0].Wait([&] { o.on_align(1, 1); });
      return Alignment_Run_Summary{};
    });
    While_Running(ui_.button_Align_Process, [&] {
      const int before = paints->count;
      ui_.tabControl1->update();
      QTRY_VERIFY(paints->count > before);
      gates_[0].Open();
    });
    QVERIFY(gui_answered);
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
  }

  void closingDuringARunAsksThenStopsIt() {
    std::atomic<bool> stopped_by_cancel{false};
    form_->Set_Align_Run([&](const Alignment_Request&, const Alignment_Run_Observer& o) {
      try {
        o.on_stage(Run_Stage::kAligning);
        gates_[0].Wait([&] { o.on_align(1, 1); });
      } catch (const Run_Cancelled&) {
        stopped_by_cancel = true;
        throw;
      }
      return Alignment_Run_Summary{};
    });
    dialogs_->yes_no_answers = {false, true};
    While_Running(ui_.button_Align_Process, [this] {
      QTRY_VERIFY(Stage_Text().startsWith("Aligning"));
      QVERIFY(!form_->close());  // No: the window and the run stay
      QVERIFY(form_->isVisible());
      QVERIFY(Dialog()->isVisible());
      QVERIFY(form_->close());  // Yes: stopped and waited for before it closes
    });
    QCOMPARE(dialogs_->questions, QStringList(2, "An alignment is running. Stop it and close?"));
    QVERIFY(stopped_by_cancel);
    QVERIFY(!form_->isVisible());
    QVERIFY(dialogs_->messages.isEmpty());
    // Shown again, the window runs and tells as before; without a run it
    // closes without a question.
    form_->show();
    gates_[0].Open();
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QVERIFY(form_->close());
    QCOMPARE(dialogs_->questions.size(), 2);
  }

  void closingDuringARealRunKeepsTheOldResults() {
    form_->Set_Align_Run({});
    ui_.button_Align_Process->click();
    const std::string old_csv = Read_File(Result_File(kAlignedCsvName));
    const std::string old_db = Read_File(Result_File(kAlignedDbName));
    // The real run, held at its first row written until the question is open.
    std::atomic<bool> reached{false};
    std::atomic<bool> asked{false};
    bool cancelled = false;
    form_->Set_Align_Run([&](const Alignment_Request& request, const Alignment_Run_Observer& o) {
      Alignment_Run_Observer held_observer = o;
      held_observer.on_write = [&, next = o.on_write](Run_Stage s, std::size_t r, std::size_t t) {
        if (!reached.exchange(true)) {
          const auto deadline = Clock::now() + kPatience;
          while (!asked && Clock::now() < deadline) std::this_thread::yield();
        }
        next(s, r, t);
      };
      try {
        return Run_Alignment(request, held_observer);
      } catch (const Run_Cancelled&) {
        cancelled = true;
        throw;
      }
    });
    ui_.textBox_Align_Mass_Tol->setText("0.5");  // a run to the end would change the files
    // While the question is open the run is free to go on, and would replace
    // the files within this time were it not held.
    dialogs_->on_question = [&] {
      asked = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    dialogs_->yes_no_answers = {true};
    While_Running(ui_.button_Align_Process, [&] {
      QTRY_VERIFY(reached.load());
      QVERIFY(form_->close());
    });
    QVERIFY(cancelled);
    QVERIFY(!form_->isVisible());
    QVERIFY(dialogs_->messages.size() == 1);  // the first run's, none for the stopped one
    QVERIFY(Read_File(Result_File(kAlignedCsvName)) == old_csv);
    QVERIFY(Read_File(Result_File(kAlignedDbName)) == old_db);
    const std::vector<std::string> expected = {kAlignedDbName, kAlignedCsvName};
    QVERIFY(List_Folder(Join_Path(dir_->path(), "Result")) == expected);
  }

  // Scored_Member_Choice reaches the run as --pick scored --join-splits: the
  // result holds the spreads the choice used, and so does the run's record.
  void scoredMemberChoiceReachesTheRunAndItsResult() {
    Alignment_Request seen;
    form_->Set_Align_Run([&](const Alignment_Request& request, const Alignment_Run_Observer& o) {
      seen = request;
      return Run_Alignment(request, o);
    });
    ui_.button_Align_Process->click();  // unticked: today's rule, no table
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    QVERIFY(seen.pick == Member_Pick::kClosest && !seen.join_splits);
    QVERIFY(!Aligned_Result(Result_File(kAlignedDbName)).Read_Member_Choice());

    ui_.checkBox_Scored_Member_Choice->setChecked(true);
    ui_.checkBox_Record_Run->setChecked(true);
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages.size(), 2);
    QCOMPARE(dialogs_->messages.back(), QString("Align Process Finished!"));
    QVERIFY(seen.pick == Member_Pick::kScored && seen.join_splits);
    Aligned_Result result(Result_File(kAlignedDbName));
    const std::optional<Member_Choice_Record> choice = result.Read_Member_Choice();
    QVERIFY(choice.has_value());
    QCOMPARE(choice->pick, std::string("scored"));
    QVERIFY(choice->join_splits);
    QVERIFY(choice->spread_groups > 0);  // every sample holds the simulated compounds
    QVERIFY(std::isfinite(choice->spread_rt) && choice->spread_rt > 0);
    QVERIFY(std::isfinite(choice->spread_mass) && !choice->spread_mass_ppm);
    const std::optional<Run_Record> record = result.Read_Run_Record();
    QVERIFY(record.has_value());
    QVERIFY(record->member_choice == choice);
  }

  void realRunCancelledAtEachStageLeavesTheOldResults_data() {
    QTest::addColumn<int>("stage");
    QTest::newRow("reading") << static_cast<int>(Run_Stage::kReading);
    QTest::newRow("aligning") << static_cast<int>(Run_Stage::kAligning);
    QTest::newRow("writing CSV") << static_cast<int>(Run_Stage::kWritingCsv);
    QTest::newRow("writing database") << static_cast<int>(Run_Stage::kWritingDatabase);
  }
  void realRunCancelledAtEachStageLeavesTheOldResults() {
    QFETCH(int, stage);
    form_->Set_Align_Run({});
    ui_.button_Align_Process->click();
    QCOMPARE(dialogs_->messages, QStringList{"Align Process Finished!"});
    const std::string old_csv = Read_File(Result_File(kAlignedCsvName));
    const std::string old_db = Read_File(Result_File(kAlignedDbName));

    // The real run, held at its first report of the stage until Cancel.
    std::atomic<bool> held{false};
    std::atomic<bool> cancelled{false};
    const auto hold = [&](Run_Stage at) {
      if (static_cast<int>(at) != stage || held.exchange(true)) return;
      const auto deadline = Clock::now() + kPatience;
      while (!cancelled && Clock::now() < deadline) std::this_thread::yield();
    };
    form_->Set_Align_Run([&](const Alignment_Request& request, const Alignment_Run_Observer& o) {
      Alignment_Run_Observer held_observer = o;
      held_observer.on_read = [&, next = o.on_read](std::size_t r, std::size_t t, std::size_t p) {
        hold(Run_Stage::kReading);
        next(r, t, p);
      };
      held_observer.on_align = [&, next = o.on_align](std::uint32_t g, std::size_t l) {
        hold(Run_Stage::kAligning);
        next(g, l);
      };
      held_observer.on_write = [&, next = o.on_write](Run_Stage s, std::size_t r, std::size_t t) {
        hold(s);
        next(s, r, t);
      };
      return Run_Alignment(request, held_observer);
    });
    ui_.textBox_Align_Mass_Tol->setText("0.5");  // a run to the end would change the files
    While_Running(ui_.button_Align_Process, [&] {
      QTRY_VERIFY(held.load());
      Click_Cancel();
      cancelled = true;
    });
    QCOMPARE(dialogs_->messages.back(),
             QString("The alignment was cancelled; earlier results are unchanged."));
    QVERIFY(Read_File(Result_File(kAlignedCsvName)) == old_csv);
    QVERIFY(Read_File(Result_File(kAlignedDbName)) == old_db);
    const std::vector<std::string> expected = {kAlignedDbName, kAlignedCsvName};
    QVERIFY(List_Folder(Join_Path(dir_->path(), "Result")) == expected);  // no temporary file
  }

  // "Align Process Finished!" stays the notice's text; below it the folder
  // and the two files, and a button that opens the result on the other tab.
  void finishNoticeNamesTheFolderAndOpensTheResult() {
    form_->Set_Align_Run({});
    ui_.button_Align_Process->click();  // declined: the tab stays
    QCOMPARE(dialogs_->notices.size(), std::size_t{1});
    const auto& notice = dialogs_->notices.back();
    QCOMPARE(notice.text, QString("Align Process Finished!"));
    const QString folder = QString::fromStdString(Join_Path(dir_->path(), "Result"));
    QCOMPARE(notice.details,
             "The results are in " + folder + ":\n" + kAlignedCsvName + "\n" + kAlignedDbName);
    QCOMPARE(notice.action, QString("Open in Align_Visualization"));
    QCOMPARE(ui_.tabControl1->currentIndex(), 0);
    QVERIFY(form_->Visualization_Tab()->alignFileName().isEmpty());

    dialogs_->notice_answers.push_back(true);
    ui_.button_Align_Process->click();
    QCOMPARE(ui_.tabControl1->currentWidget(), ui_.Tab_Align_Visualization);
    QCOMPARE(form_->Visualization_Tab()->alignFolderName(), folder);
    QCOMPARE(form_->Visualization_Tab()->alignFileName(), QString(kAlignedDbName));
    QVERIFY(ui_.panel_Align_Peaklist_Table->isVisible());
    QCOMPARE(dialogs_->messages,
             (QStringList{"Align Process Finished!", "Align Process Finished!"}));
  }

  // A Cancel that comes once the run no longer reports (its files are being
  // put in place) cannot stop it: the notice says the results were written.
  void lateCancelSaysTheRunHadFinished() {
    form_->Set_Align_Run([this](const Alignment_Request&, const Alignment_Run_Observer& o) {
      o.on_stage(Run_Stage::kWritingDatabase);
      o.on_write(Run_Stage::kWritingDatabase, 60, 60);
      gates_[0].Wait([] {});  // the last step: nothing more is reported
      return Alignment_Run_Summary{};
    });
    While_Running(ui_.button_Align_Process, [this] {
      QTRY_VERIFY(Stage_Text().startsWith("Writing"));
      Click_Cancel();
      gates_[0].Open();
    });
    QCOMPARE(dialogs_->notices.size(), std::size_t{1});
    QCOMPARE(dialogs_->notices[0].text, QString("Align Process Finished!"));
    QVERIFY2(dialogs_->notices[0].details.startsWith(
                 "The Cancel came after the run had finished: the new results were written"),
             qPrintable(dialogs_->notices[0].details));
  }

  void estimateFillsTheBoxesFromTheTickedFiles() {
    form_->Set_Estimator({});
    ui_.button_Estimate->click();  // nothing wired: says so
    QCOMPARE(dialogs_->messages,
             QStringList{"Estimating tolerances is not available in this build."});
    dialogs_->messages.clear();

    std::vector<Annotated_File> files_seen;
    bool correction_seen = false;
    form_->Set_Estimator([&](const std::vector<Annotated_File>& files, bool rt_correction,
                             const Alignment_Run_Observer& o) {
      files_seen = files;
      correction_seen = rt_correction;
      o.on_stage(Run_Stage::kReading);
      gates_[0].Wait([&] { o.on_read(2, 3, 10); });
      o.on_stage(Run_Stage::kAligning);
      gates_[1].Wait([&] { o.on_align(0, 0); });
      return Tolerance_Suggestion{{Mass_Tolerance::Unit::kDa, 0.012345},
                                  21.456789,
                                  8.5,
                                  "mass spread 4.1 ppm\nRT spread 7 s\n--mass-tol 0.0123\n",
                                  1234,
                                  50000};
    });
    ui_.checkBox_RT_Drift_Correction->setChecked(true);
    ui_.checkBox_Scored_Member_Choice->setChecked(true);
    While_Running(ui_.button_Estimate, [this] {
      QTRY_COMPARE(Stage_Text(), QString("Reading file 3 of 3"));
      gates_[0].Open();
      QTRY_COMPARE(Stage_Text(), QString("Estimating the spreads of mass and retention time"));
      gates_[1].Open();
    });
    QCOMPARE(files_seen.size(), std::size_t{3});
    QCOMPARE(files_seen[1].name, study_.database_names[1]);
    QVERIFY(correction_seen);
    QCOMPARE(ui_.textBox_Align_Mass_Tol->text(), QString("0.0123"));
    QCOMPARE(ui_.textBox_Align_Window1->text(), QString("21.4568"));
    QCOMPARE(ui_.textBox_Align_Window2->text(), QString("8.5"));
    // Said in words beside the boxes, in no message box.
    QVERIFY(dialogs_->messages.isEmpty());
    auto* said = form_->findChild<QLabel*>("label_Estimate_Result");
    QVERIFY(said->isVisible());
    const QString words =
        "Mass tolerance 0.0123 Da, windows 21.5 s (Fast_Align) and 8.5 s (Deep_Align), from the "
        "spreads of 1,234 anchor compounds (the most intense ones found in at least half of the "
        "samples). The windows are for drift-corrected times. Align will choose each sample's "
        "member by time, "
        "mass and intensity and join split groups (--pick scored --join-splits).";
    QCOMPARE(said->text(), words);
    QCOMPARE(said->toolTip(), QString("mass spread 4.1 ppm\nRT spread 7 s"));
    const QRect box = ui_.textBox_Align_Mass_Tol->geometry();
    QVERIFY(!said->geometry().intersects(box));

    // The words follow the tab: the tick, a box, a file's tick, and back.
    ui_.checkBox_RT_Drift_Correction->setChecked(false);
    QVERIFY(said->text().contains("Estimated with RT_Drift_Correction, which is now off"));
    ui_.checkBox_RT_Drift_Correction->setChecked(true);
    QCOMPARE(said->text(), words);
    QTest::keyClicks(ui_.textBox_Align_Window1, "1");
    QVERIFY(said->text().contains("The boxes have been edited since."));
    ui_.textBox_Align_Window1->setText("21.4568");
    QCOMPARE(said->text(), words);
    auto* table = qobject_cast<QStandardItemModel*>(ui_.dataGridView_Annotation_Filelist->model());
    table->item(2, 2)->setCheckState(Qt::Unchecked);
    QVERIFY(said->text().contains("The ticked files have changed since"));
    table->item(2, 2)->setCheckState(Qt::Checked);
    QCOMPARE(said->text(), words);
    ui_.button_Annotation_Load->click();  // a new load clears the ticks
    QVERIFY(said->text().contains("The ticked files have changed since"));
  }

  void estimateOfTwoSamplesSaysTheyStayUncorrected() {
    form_->Set_Estimator(
        [](const std::vector<Annotated_File>&, bool, const Alignment_Run_Observer&) {
          return Tolerance_Suggestion{
              {Mass_Tolerance::Unit::kDa, 0.01}, 30, 20, "spread\n--x\n", 800, 9000, 2};
        });
    auto* table = qobject_cast<QStandardItemModel*>(ui_.dataGridView_Annotation_Filelist->model());
    table->item(2, 2)->setCheckState(Qt::Unchecked);
    ui_.checkBox_RT_Drift_Correction->setChecked(true);
    ui_.button_Estimate->click();
    auto* said = form_->findChild<QLabel*>("label_Estimate_Result");
    QVERIFY(
        said->text().endsWith("RT_Drift_Correction needs at least 3 samples: these 2 keep their "
                              "times as read, and the windows are for those times."));
    QVERIFY(!said->text().contains("drift-corrected times"));
  }

  void estimateRefusesWithoutFilesAndStopsOnCancel() {
    int calls = 0;
    form_->Set_Estimator(
        [&](const std::vector<Annotated_File>&, bool, const Alignment_Run_Observer& o) {
          ++calls;
          gates_[0].Wait([&] { o.on_stage(Run_Stage::kReading); });
          return Tolerance_Suggestion{{Mass_Tolerance::Unit::kDa, 1}, 2, 3, "never shown"};
        });
    While_Running(ui_.button_Estimate, [this] {
      QTRY_VERIFY(Stage_Text().startsWith("Reading"));
      Click_Cancel();
    });
    QCOMPARE(dialogs_->messages, QStringList{"The estimate was cancelled."});
    QCOMPARE(ui_.textBox_Align_Mass_Tol->text(), QString("0.1"));
    ui_.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align")->click();
    ui_.button_Estimate->click();
    QCOMPARE(dialogs_->messages.back(),
             QString("Please tick at least one Annotation result File(.db) to align!"));
    QCOMPARE(calls, 1);
  }
};

QTEST_MAIN(AlignProgressTest)
#include "align_progress_qtest.moc"
