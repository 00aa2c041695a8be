// Pictures of the alignment tab: at start, after loading a simulated study,
// after "Align Process Finished!", the progress dialog in the middle of a run,
// and the run options with estimated numbers. Usage: screens_align OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "storage/path.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tools/screens/screens.h"
#include "ui/text_codec.h"
#include "ui/widgets/run_progress_dialog.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Test::Screens screens("screens_align", argc, argv);
  if (!screens.Prepare(6, 150, 1)) return 1;

  auto dialogs = std::make_unique<Test::Scripted_Dialogs>();
  Test::Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  const Test::Form_Controls ui(form);
  form.show();
  QApplication::processEvents();
  bool ok = screens.Save(&form, "align_1_start.png");

  QStringList paths;
  for (const std::string& path : Study_Paths(screens.folder(), screens.study())) {
    paths.push_back(From_Engine_String(path));
  }
  script->answers.push_back(paths);
  ui.button_Annotation_File_Browse->click();
  ui.button_Annotation_Load->click();
  ok = screens.Save(&form, "align_2_loaded.png") && ok;

  auto* header_box =
      ui.dataGridView_Annotation_Filelist->findChild<QCheckBox*>("checkboxHeader_Align");
  if (header_box == nullptr) return 1;
  header_box->click();
  ui.radioButton_Two_Phase_Align->setChecked(true);
  ui.button_Align_Process->click();
  if (script->messages != QStringList{"Align Process Finished!"}) {
    screens.Fail("unexpected messages: " + script->messages.join(" | ").toStdString());
    return 1;
  }
  ok = screens.Save(&form, "align_3_finished.png") && ok;

  // The completion message as the user sees it, beside the window.
  QMessageBox box(QMessageBox::NoIcon, QString(), script->messages.back(), QMessageBox::Ok, &form);
  box.show();
  ok = screens.Save(&box, "align_4_finished_message.png") && ok;
  box.hide();

  // The progress dialog while a run aligns: the run keeps reporting until
  // the picture is taken.
  std::atomic<bool> pictured{false};
  form.Set_Align_Run([&pictured](const Alignment_Request&, const Alignment_Run_Observer& o) {
    o.on_stage(Run_Stage::kReading);
    o.on_read(6, 6, 15840);
    o.on_stage(Run_Stage::kAligning);
    std::uint32_t groups = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pictured && std::chrono::steady_clock::now() < give_up) {
      groups = std::min<std::uint32_t>(groups + 7, 1480);
      o.on_align(groups, 15840 - groups * 9);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Alignment_Run_Summary{};
  });
  QTimer::singleShot(1300, &form, [&] {
    if (auto* dialog = form.findChild<Run_Progress_Dialog*>()) {
      ok = screens.Save(dialog, "align_progress.png") && ok;
    } else {
      ok = screens.Fail("no progress dialog during the run");
    }
    pictured = true;
  });
  ui.button_Align_Process->click();

  // The run options, and the numbers an estimate put into the boxes.
  form.Set_Estimator([](const std::vector<Annotated_File>&, bool, const Alignment_Run_Observer&) {
    return Tolerance_Suggestion{{Mass_Tolerance::Unit::kDa, 0.0062}, 14.25, 6.5,
                                "Estimated from 6 samples.",         142,   3120};
  });
  ui.checkBox_RT_Drift_Correction->setChecked(true);
  ui.checkBox_Record_Run->setChecked(true);
  ui.button_Estimate->click();
  ok = screens.Save(&form, "align_5_options.png") && ok;
  return ok ? 0 : 1;
}
