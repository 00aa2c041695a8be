// A working session as a new user has it, pictured from the screen (with the
// window manager's frames and every window that is open): the estimate in
// words and its own stage, a run's finish with the inputs that held no
// annotated table, Find saying how far the match is, the viewer window at
// 1600 x 1000 (and scrolled to its last column), the progress dialog beside
// the visualization tab in use, and closing the window during a run (Alt+F4
// through the window manager) with the earlier results kept.
// Usage: screens_workday OUTPUT_FOLDER. Needs a display (xvfb-run, with a
// window manager such as openbox for the frames and Alt+F4).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include "run/alignment_estimate.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/form_controls.h"
#include "tools/screens/screens.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/result_viewer_window.h"
#include "ui/widgets/run_progress_dialog.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

using Clock = std::chrono::steady_clock;

// The real message boxes and questions; file dialogs and Find from a script.
class Session_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    if (files.empty()) return std::nullopt;
    QStringList answer = files.front();
    files.pop_front();
    return answer;
  }
  void Show_Message(QWidget* parent, const QString& text) override {
    standard_->Show_Message(parent, text);
  }
  bool Ask_Yes_No(QWidget* parent, const QString& text) override {
    return standard_->Ask_Yes_No(parent, text);
  }
  bool Show_Notice(QWidget* parent, const QString& text, const QString& details,
                   const QString& action) override {
    return standard_->Show_Notice(parent, text, details, action);
  }
  std::optional<Find_Request> Ask_Find(QWidget*) override {
    if (finds.empty()) return std::nullopt;
    Find_Request answer = finds.front();
    finds.pop_front();
    return answer;
  }

  std::deque<QStringList> files;
  std::deque<Find_Request> finds;

 private:
  std::unique_ptr<Form_Dialogs> standard_ = Make_Standard_Dialogs();
};

// Calls then() once ready() holds: checked whenever a window is shown,
// painted, exposed or activated (no polling, no fixed pauses), then()
// running from the event loop once the events of that change are handled.
class Event_Wait : public QObject {
 public:
  Event_Wait(std::function<bool()> ready, std::function<void()> then)
      : ready_(std::move(ready)), then_(std::move(then)) {
    qApp->installEventFilter(this);
    QTimer::singleShot(0, this, [this] { Check(); });
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Paint:
      case QEvent::Expose:
      case QEvent::WindowActivate:
      case QEvent::Close:
        QTimer::singleShot(0, this, [this] { Check(); });
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void Check() {
    if (done_ || !ready_()) return;
    done_ = true;
    qApp->removeEventFilter(this);
    // Drawn and handed to the display server before then() pictures it.
    QGuiApplication::sync();
    then_();
    deleteLater();
  }
  std::function<bool()> ready_;
  std::function<void()> then_;
  bool done_ = false;
};

void When(QObject*, std::function<bool()> ready, std::function<void()> then) {
  new Event_Wait(std::move(ready), std::move(then));
}

// Handles events until done() holds (the watchdog ends a wait that never does).
void Wait_For(const std::function<bool()>& done) {
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  QGuiApplication::sync();
}

// Counts the paint events a widget receives.
class Paint_Count : public QObject {
 public:
  explicit Paint_Count(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// Counts the close events a window receives (before it handles them).
class Close_Count : public QObject {
 public:
  explicit Close_Count(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close) ++count;
    return false;
  }
};

QMessageBox* Open_Box() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

// Presses the box's button with the role (the default button when none).
void Press(QMessageBox* box, QMessageBox::StandardButton which = QMessageBox::NoButton) {
  if (box == nullptr) return;
  QAbstractButton* button =
      which == QMessageBox::NoButton ? box->defaultButton() : box->button(which);
  if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().front();
  if (button != nullptr) button->click();
}

}  // namespace

int main(int argc, char* argv[]) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each picture's line as it is saved
  QApplication app(argc, argv);
  Test::Screens screens("screens_workday", argc, argv);
  if (!screens.Prepare(12, 300, 5)) return 1;
  // One more input that holds no annotated table.
  const std::string blank = Join_Path(screens.folder(), "Blank_Run.db");
  Exec_Sql(blank, "create table Instrument_Log (line text)");

  bool ok = true;
  // A step that never ends (a window manager that never delivers Alt+F4)
  // fails the program instead of hanging it.
  const char* step = "start";
  QTimer::singleShot(std::chrono::minutes(3), &app, [&] {
    screens.Fail(std::string("stuck at ") + step);
    std::_Exit(1);
  });
  const auto shoot = [&](const char* name) {
    QGuiApplication::sync();
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = screens.Path(name);
    if (picture.isNull() || !picture.save(path)) {
      ok = screens.Fail(std::string("cannot save ") + name);
    } else {
      std::printf("%s\n", qPrintable(path));
    }
  };
  const auto give_up = [] { return Clock::now() + std::chrono::seconds(60); };

  auto owned = std::make_unique<Session_Dialogs>();
  Session_Dialogs* dialogs = owned.get();
  Varnel_Form form(std::move(owned));
  const QString settings_file = screens.Path("viewer_settings.ini");
  QFile::remove(settings_file);
  form.Set_Viewer_Settings(
      [settings_file] { return std::make_unique<QSettings>(settings_file, QSettings::IniFormat); });
  const Test::Form_Controls ui(form);
  form.move(40, 40);
  form.show();

  QStringList paths;
  for (const std::string& path : Study_Paths(screens.folder(), screens.study()))
    paths.push_back(From_Engine_String(path));
  paths.push_back(From_Engine_String(blank));
  dialogs->files.push_back(paths);
  ui.button_Annotation_File_Browse->click();
  ui.button_Annotation_Load->click();
  ui.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align")->click();

  step = "the estimate";
  // 1. The estimate: its own stage while it fits, then its words.
  std::atomic<bool> estimate_pictured{false};
  form.Set_Estimator([&](const std::vector<Annotated_File>& files, bool rt_correction,
                         const Alignment_Run_Observer& observer) {
    Alignment_Run_Observer held = observer;
    held.on_stage = [&, next = observer.on_stage](Run_Stage stage) {
      next(stage);
      const auto end = give_up();
      while (stage == Run_Stage::kAligning && !estimate_pictured && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    return Estimate_Study_Tolerances(files, rt_correction, kDefaultWindow1, 0, held);
  });
  When(
      &form,
      [&] {
        auto* dialog = form.findChild<Run_Progress_Dialog*>();
        return dialog != nullptr &&
               dialog->findChild<QLabel*>("label_Run_Stage")->text().startsWith("Estimating");
      },
      [&] {
        shoot("workday_1_estimate_stage.png");
        estimate_pictured = true;
      });
  ui.button_Estimate->click();
  shoot("workday_2_estimate_words.png");

  step = "the first run";
  // 2. A run to its end: the finish message, then the notice naming the
  // input without the annotated table.
  When(
      &form, [] { return Open_Box() != nullptr; },
      [&] {
        shoot("workday_3_align_finished.png");
        Press(Open_Box());
        When(
            &form, [] { return Open_Box() != nullptr; },
            [&] {
              shoot("workday_4_no_annotated_table.png");
              Press(Open_Box());
            });
      });
  ui.button_Align_Process->click();

  step = "Find";
  // 3. The result on the visualization tab, and Find by mass.
  const QString result_folder = form.Align_Tab()->FilePathOut();
  const QString result = result_folder + "/" + From_Engine_String(kAlignedDbName);
  ui.tabControl1->setCurrentIndex(1);
  dialogs->files.push_back(QStringList{result});
  ui.button_Align_File_Browse->click();
  dialogs->finds.push_back(Find_Request{Find_Key::kCompound_MolecularMass, "400"});
  When(
      &form, [] { return Open_Box() != nullptr; },
      [&] {
        shoot("workday_5_find_distance.png");
        Press(Open_Box());
      });
  for (QAction* action : ui.dataGridView_Align_Peaklist_Table->actions()) {
    if (action->text() == QLatin1String("Find...")) action->trigger();
  }

  step = "the viewer window";
  // 4. The viewer window at 1600 x 1000, on the row the tab shows; then at
  // its last column.
  // Waits for the widget's next paint.
  const auto repainted = [](QWidget* widget) {
    auto* paints = new Paint_Count(widget);
    widget->update();
    Wait_For([paints] { return paints->count > 0; });
    delete paints;
  };
  Result_Viewer_Window* viewer = form.Open_Viewer();
  if (viewer == nullptr) return screens.Fail("no viewer window"), 1;
  viewer->resize(1600, 1000);
  viewer->move(0, 0);
  Wait_For([viewer] { return viewer->isVisible() && viewer->width() == 1600; });
  repainted(viewer);
  shoot("workday_6_viewer_1600x1000.png");
  ok = screens.Save(viewer, "workday_6_viewer_window_only.png") && ok;
  QScrollBar* across = viewer->Grid()->horizontalScrollBar();
  across->setValue(across->maximum());
  repainted(viewer->Grid()->viewport());
  ok = screens.Save(viewer, "workday_7_viewer_last_columns.png") && ok;
  viewer->close();
  Wait_For([viewer = QPointer<Result_Viewer_Window>(viewer)] { return viewer.isNull(); });

  step = "closing during a run";
  // 5. A run under way: the progress dialog beside the visualization tab in
  // use; then Alt+F4 on the window: the question, Yes, the run stopped and
  // the earlier results kept.
  const std::string old_db = Read_File(To_Engine_String(result));
  std::atomic<bool> release{false};
  std::atomic<bool> stopped{false};
  form.Set_Align_Run([&](const Alignment_Request& request, const Alignment_Run_Observer& o) {
    Alignment_Run_Observer held = o;
    held.on_align = [&, next = o.on_align](std::uint32_t groups, std::size_t left) {
      const auto end = give_up();
      while (!release && Clock::now() < end) {
        next(groups, left);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      next(groups, left);
    };
    try {
      return Run_Alignment(request, held);
    } catch (const Run_Cancelled&) {
      stopped = true;
      throw;
    }
  });
  ui.tabControl1->setCurrentIndex(0);
  ui.textBox_Align_Mass_Tol->setText("0.5");
  When(
      &form, [&] { return form.findChild<Run_Progress_Dialog*>() != nullptr; },
      [&] {
        ui.tabControl1->setCurrentIndex(1);
        ui.dataGridView_Align_Peaklist_Table->selectRow(3);
        ui.dataGridView_Align_Peaklist_Table->setCurrentIndex(
            ui.dataGridView_Align_Peaklist_Table->model()->index(3, 0));
        When(
            &form, [] { return true; },
            [&] {
              shoot("workday_8_run_beside_the_visualization_tab.png");
              // The window manager's close (Alt+F4) on the main window.
              // xdotool is waited on, not timed: when it ends before the
              // window got its close (a busy window manager can take the
              // activation and drop the key), it is run again.
              auto* closes = new Close_Count(&form);
              auto* xdotool = new QProcess(&form);
              auto attempts = std::make_shared<int>(0);
              const auto press = [xdotool, attempts] {
                ++*attempts;
                xdotool->start("xdotool", {"search", "--name", "^Varnel$", "windowactivate",
                                           "--sync", "key", "--clearmodifiers", "alt+F4"});
              };
              QObject::connect(xdotool, &QProcess::finished, &form,
                               [closes, attempts, press](int, QProcess::ExitStatus) {
                                 if (closes->count == 0 && Open_Box() == nullptr && *attempts < 5)
                                   press();
                               });
              form.activateWindow();
              press();
              When(
                  &form, [] { return Open_Box() != nullptr; },
                  [&] {
                    shoot("workday_9_close_during_run.png");
                    release = true;  // the run may go on: the question holds it
                    Press(Open_Box(), QMessageBox::Yes);
                  });
            });
      });
  ui.button_Align_Process->click();
  Wait_For([&] { return !form.isVisible(); });
  shoot("workday_10_closed.png");
  const bool kept = Read_File(To_Engine_String(result)) == old_db;
  std::printf("closed during the run: %s, run stopped: %s, earlier result %s\n",
              form.isVisible() ? "no" : "yes", stopped ? "yes" : "no", kept ? "kept" : "REPLACED");
  if (form.isVisible() || !stopped || !kept) ok = screens.Fail("closing during the run failed");
  return ok ? 0 : 1;
}
