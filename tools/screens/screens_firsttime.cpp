// A first-time analyst's stumbling blocks, pictured from the screen with the
// window manager's frames and the real dialogs: the estimate's words for two
// samples with RT_Drift_Correction ticked, a decimal comma in a box, an
// input that is no database, the export dialog for each format (and what a
// MetaboAnalyst table needs), the import dialog after a failed import, a
// late Cancel, and the RT_Drift_Corrected axis of a corrected result.
// Usage: screens_firsttime OUTPUT_FOLDER. Needs a display (xvfb-run, with a
// window manager such as openbox for the frames).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
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
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/result_export_ui.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_process_tab.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/import_dialog.h"
#include "ui/widgets/result_grid_actions.h"
#include "ui/widgets/run_progress_dialog.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

// The real dialogs, but file picks from a script.
class Session_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    if (files.empty()) return std::nullopt;
    QStringList answer = files.front();
    files.pop_front();
    return answer;
  }
  std::optional<QString> Save_File(QWidget* parent, const QString& title, const QString& folder,
                                   const QString& filter, QString* selected) override {
    return standard_->Save_File(parent, title, folder, filter, selected);
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
  std::optional<Import_Form_Values> Ask_Import(QWidget* parent) override {
    return standard_->Ask_Import(parent);
  }
  std::optional<Export_Quantity> Ask_Export_Quantity(QWidget* parent) override {
    return standard_->Ask_Export_Quantity(parent);
  }

  std::deque<QStringList> files;

 private:
  std::unique_ptr<Form_Dialogs> standard_ = Make_Standard_Dialogs();
};

// Runs then() once a modal window of kind T (named `name`, when given) is
// open and shown; checked on every show, paint and activation (no fixed
// pauses).
template <typename T>
class Modal_Wait : public QObject {
 public:
  Modal_Wait(std::function<void(T*)> then, QString name)
      : then_(std::move(then)), name_(std::move(name)) {
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
        QTimer::singleShot(0, this, [this] { Check(); });
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void Check() {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (done_ || modal == nullptr || !modal->isVisible()) return;
    if (!name_.isEmpty() && modal->objectName() != name_) return;
    done_ = true;
    qApp->removeEventFilter(this);
    modal->repaint();
    QGuiApplication::sync();
    then_(modal);
    deleteLater();
  }
  std::function<void(T*)> then_;
  QString name_;
  bool done_ = false;
};

template <typename T>
void When_Modal(std::function<void(T*)> then, const QString& name = {}) {
  new Modal_Wait<T>(std::move(then), name);
}

void Press_Default(QMessageBox* box) {
  QAbstractButton* button = box->defaultButton();
  if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().front();
  if (button != nullptr) button->click();
}

}  // namespace

int main(int argc, char* argv[]) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  QApplication app(argc, argv);
  Test::Screens screens("screens_firsttime", argc, argv);
  if (!screens.Prepare(2, 120, 11)) return 1;
  const std::string& folder = screens.folder();
  bool ok = true;
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
  // Runs on the next modal message box: pictures it, then presses its default.
  const auto shoot_box = [&](const char* name) {
    When_Modal<QMessageBox>([&shoot, name](QMessageBox* box) {
      shoot(name);
      Press_Default(box);
    });
  };

  auto owned = std::make_unique<Session_Dialogs>();
  Session_Dialogs* dialogs = owned.get();
  Varnel_Form form(std::move(owned));
  const Test::Form_Controls ui(form);
  form.move(40, 40);
  form.show();

  QStringList paths;
  for (const std::string& path : Study_Paths(folder, screens.study()))
    paths.push_back(From_Engine_String(path));
  const auto load = [&](const QStringList& files) {
    dialogs->files.push_back(files);
    ui.button_Annotation_File_Browse->click();
    ui.button_Annotation_Load->click();
    ui.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align")->click();
  };
  load(paths);

  step = "the estimate of two samples";
  // 1. Two samples with RT_Drift_Correction ticked: the words say they stay
  // uncorrected.
  form.Set_Estimator([](const std::vector<Annotated_File>& files, bool rt_correction,
                        const Alignment_Run_Observer& observer) {
    return Estimate_Study_Tolerances(files, rt_correction, kDefaultWindow1, 0, observer);
  });
  ui.checkBox_RT_Drift_Correction->setChecked(true);
  ui.button_Estimate->click();
  form.repaint();
  shoot("first_1_estimate_two_samples_drift.png");
  ui.checkBox_RT_Drift_Correction->setChecked(false);

  step = "bad input";
  // 2. A decimal comma in the mass tolerance; then an input that is no
  // database.
  const QString tolerance = ui.textBox_Align_Mass_Tol->text();
  ui.textBox_Align_Mass_Tol->setText(QStringLiteral("0,01"));
  shoot_box("first_2_decimal_comma.png");
  ui.button_Align_Process->click();
  ui.textBox_Align_Mass_Tol->setText(tolerance);
  const std::string not_db = Join_Path(folder, "notes_annotated_grouped_chromatograph_peaklist.db");
  Write_File(not_db, "Sample notes, typed by hand.\n");
  load({paths.front(), From_Engine_String(not_db)});
  shoot_box("first_3_not_a_database.png");
  ui.button_Align_Process->click();

  step = "a late Cancel";
  // 3. A Cancel during the last step of a run: the notice says the results
  // were written.
  load(paths);
  std::atomic<bool> cancelled{false};
  std::atomic<bool> last_step{false};  // the run no longer reports
  form.Set_Align_Run([&](const Alignment_Request& request, const Alignment_Run_Observer& o) {
    Alignment_Run_Summary summary = Run_Alignment(request, o);
    o.on_stage(Run_Stage::kWritingDatabase);
    last_step = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cancelled && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return summary;
  });
  // Cancel, pressed once the run is in its last step.
  std::function<void()> press_cancel = [&] {
    auto* dialog = form.findChild<Run_Progress_Dialog*>();
    auto* cancel = dialog ? dialog->findChild<QPushButton*>("button_Run_Cancel") : nullptr;
    if (cancel == nullptr || !last_step) {
      QTimer::singleShot(20, &form, press_cancel);
      return;
    }
    cancel->click();
    cancelled = true;
  };
  QTimer::singleShot(0, &form, press_cancel);
  shoot_box("first_4_late_cancel.png");
  ui.button_Align_Process->click();
  form.Set_Align_Run({});

  step = "the export dialog";
  // 4. The export dialog of the result, once per format: the name follows
  // the format; the MetaboAnalyst table's need is said in the body.
  const std::string result =
      Join_Path(To_Engine_String(form.Align_Tab()->FilePathOut()), kAlignedDbName);
  ui.tabControl1->setCurrentIndex(1);
  dialogs->files.push_back(QStringList{From_Engine_String(result)});
  ui.button_Align_File_Browse->click();
  When_Modal<QFileDialog>([&](QFileDialog* dialog) {
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (types == nullptr) {
      ok = screens.Fail("no file type box in the save dialog");
      dialog->reject();
      return;
    }
    for (int i = 0; i < types->count(); ++i) {
      types->setCurrentIndex(i);
      emit types->activated(i);  // as a user's pick: both signals
      emit types->textActivated(types->itemText(i));
      dialog->repaint();
      const std::string name = "first_5_export_" + std::to_string(i + 1) + ".png";
      shoot(name.c_str());
    }
    types->setCurrentIndex(types->findText(Export_Filter_Of(Export_Format::kMetaboAnalyst)));
    emit types->activated(types->currentIndex());
    emit types->textActivated(types->currentText());
    When_Modal<QDialog>(
        [&](QDialog* quantity) {
          shoot("first_6_export_quantity.png");
          shoot_box("first_7_export_sheet_needed.png");
          quantity->accept();
        },
        QStringLiteral("Export_Quantity_Dialog"));
    static_cast<QDialog*>(dialog)->accept();
  });
  for (QAction* action : ui.dataGridView_Align_Peaklist_Table->actions()) {
    if (action->text() == QString::fromUtf8(kExportEntry)) action->trigger();
  }

  step = "the import dialog";
  // 5. An import whose table is no feature list: the failure, then the next
  // dialog with every field as it was.
  const std::string broken = Join_Path(folder, "broken.tsv");
  Write_File(broken, "this is not a feature table\n");
  const QString import_out = From_Engine_String(Join_Path(folder, "imported"));
  ui.tabControl1->setCurrentIndex(0);
  When_Modal<Import_Dialog>([&](Import_Dialog* dialog) {
    dialog->Set_Inputs({From_Engine_String(broken)});
    dialog->folder_box()->setText(import_out);
    dialog->rt_unit_box()->setCurrentIndex(2);
    dialog->repaint();
    shoot("first_8_import_filled.png");
    When_Modal<QMessageBox>([&](QMessageBox* box) {
      shoot("first_9_import_failed.png");
      When_Modal<Import_Dialog>([&](Import_Dialog* again) {
        shoot("first_10_import_after_the_failure.png");
        again->reject();
      });
      Press_Default(box);
    });
    dialog->accept();
  });
  for (QAction* action : form.Align_Tab()->actions()) {
    if (action->objectName() == QLatin1String("action_Import_Feature_Lists")) action->trigger();
  }
  // The failure closes the first dialog; the picture of the second needs
  // the import asked once more.
  for (QAction* action : form.Align_Tab()->actions()) {
    if (action->objectName() == QLatin1String("action_Import_Feature_Lists")) action->trigger();
  }

  step = "RT_Drift_Corrected";
  // 6. A result with a stored drift correction: the fourth axis choice, and
  // the peaks at their drift-corrected times.
  const std::string corrected = Join_Path(folder, "corrected.aligndb");
  Write_File(corrected, Read_File(result));
  Exec_Sql(corrected,
           "create table Align_RT_Correction (SAMPLE_ID integer, RT real, Shift real);"
           "insert into Align_RT_Correction values (1, 0, 4), (1, 5000, 12);");
  ui.tabControl1->setCurrentIndex(1);
  dialogs->files.push_back(QStringList{From_Engine_String(corrected)});
  ui.button_Align_File_Browse->click();
  auto* model = qobject_cast<Align_Table_Model*>(ui.dataGridView_Align_Peaklist_Table->model());
  int row = 0;
  while (model != nullptr && row < model->rowCount() &&
         model->Int_Cell(row, kCol_Align_ID).value_or(0) == 0)
    ++row;
  if (model == nullptr || row >= model->rowCount()) return screens.Fail("no aligned row"), 1;
  form.Visualization_Tab()->DataGridView_CellMouseClick(row);
  ui.radioButton_RT_Original->click();
  form.repaint();
  shoot("first_11_rt_original.png");
  form.findChild<QRadioButton*>("radioButton_RT_Drift_Corrected")->click();
  form.repaint();
  shoot("first_12_rt_drift_corrected.png");
  return ok ? 0 : 1;
}
