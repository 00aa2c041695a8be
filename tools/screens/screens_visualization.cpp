// Pictures of the visualization tab: after opening the result of a simulated
// and aligned study, then after clicking a row of a group present in every
// sample, in Scan, RT_Original, RT_Corrected and RT_Corrected + Normalized.
// Last, a group of a 50-sample study, to show a long legend, and that chart
// saved as PNG.
// Usage: screens_visualization OUTPUT_FOLDER
#include <qcustomplot.h>

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <map>
#include <set>

#include "run/alignment_run.h"
#include "storage/path.h"
#include "tests/ui/support/form_controls.h"
#include "tests/ui/support/scripted_dialogs.h"
#include "tests/ui/support/viz_study.h"
#include "tools/screens/screens.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/text_codec.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

// A displayed row of the aligned group that is present in every sample and
// has the most peaks; -1 when there is none.
int Row_Of_Group_In_All_Samples(const Align_Table_Model& model, std::size_t samples) {
  std::map<int, std::set<int>> samples_of;
  std::map<int, int> peaks_of;
  for (int r = 0; r < model.rowCount(); ++r) {
    const auto align_id = model.Int_Cell(r, kCol_Align_ID);
    const auto sample = model.Int_Cell(r, kCol_SAMPLE_ID);
    if (!align_id || !sample || *align_id == 0) continue;
    samples_of[*align_id].insert(*sample);
    ++peaks_of[*align_id];
  }
  int best = -1, best_peaks = 0;
  for (const auto& [align_id, set] : samples_of) {
    if (set.size() == samples && peaks_of[align_id] > best_peaks) {
      best = align_id;
      best_peaks = peaks_of[align_id];
    }
  }
  for (int r = 0; r < model.rowCount(); ++r)
    if (model.Int_Cell(r, kCol_Align_ID) == best) return r;
  return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Test::Screens screens("screens_visualization", argc, argv);
  if (!screens.Prepare(6, 150, 7)) return 1;
  const std::string& folder = screens.folder();
  try {
    Compound_Align_For_Annotation_Files(1, 0.1, 20.0, 10.0, folder, folder,
                                        screens.study().database_names);
    // Fifty samples, every compound in each: a group with a long legend.
    Test::Write_Aligned_Result(Test::Make_Demo_Study(50, 12, 3), folder, "fifty.aligndb");
  } catch (const std::exception& e) {
    screens.Fail(e.what());
    return 1;
  }
  auto dialogs = std::make_unique<Test::Scripted_Dialogs>();
  Test::Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  const Test::Form_Controls ui(form);
  // Opens a result; false when the window refused it.
  auto open = [&](const std::string& path) {
    script->answers.push_back(QStringList{From_Engine_String(path)});
    ui.button_Align_File_Browse->click();
    return script->messages.isEmpty() || screens.Fail(script->messages.join(" | ").toStdString());
  };
  // Clicks a row of a group present in all `samples`; false when there is none.
  auto* model = qobject_cast<Align_Table_Model*>(ui.dataGridView_Align_Peaklist_Table->model());
  auto click_full_group = [&](std::size_t samples) {
    const int row = model ? Row_Of_Group_In_All_Samples(*model, samples) : -1;
    if (row < 0) return screens.Fail("no group present in all samples");
    ui.dataGridView_Align_Peaklist_Table->scrollTo(model->index(row, 0),
                                                   QAbstractItemView::PositionAtCenter);
    form.Visualization_Tab()->DataGridView_CellMouseClick(row);
    return true;
  };

  ui.tabControl1->setCurrentWidget(ui.Tab_Align_Visualization);
  form.show();
  QApplication::processEvents();
  bool ok = screens.Save(&form, "viz_1_start.png");
  if (!open(Join_Path(folder, kAlignedDbName))) return 1;
  ok = screens.Save(&form, "viz_2_opened.png") && ok;
  if (!click_full_group(6)) return 1;
  ok = screens.Save(&form, "viz_3_scan.png") && ok;
  ui.radioButton_RT_Original->click();
  ok = screens.Save(&form, "viz_4_rt_original.png") && ok;
  ui.radioButton_RT_Corrected->click();
  ui.radioButton_GroupPlot->click();
  ok = screens.Save(&form, "viz_5_rt_corrected.png") && ok;
  ui.radioButton_Normalized->click();
  ui.radioButton_CompoundPlot->click();
  ok = screens.Save(&form, "viz_6_normalized.png") && ok;

  // Fifty samples (written above): one legend entry per sample.
  if (!open(Join_Path(folder, "fifty.aligndb")) || !click_full_group(50)) return 1;
  ok = screens.Save(&form, "viz_7_fifty_samples.png") && ok;

  // The upper chart saved as a picture to print, through its context menu.
  script->save_answers.push_back(screens.Path("viz_8_saved_chart.png"));
  emit ui.zedGraphControl_AlignedPeaks->customContextMenuRequested(QPoint(10, 10));
  auto* menu = ui.zedGraphControl_AlignedPeaks->findChild<QMenu*>();
  if (menu == nullptr || menu->actions().isEmpty()) return screens.Fail("no chart menu"), 1;
  menu->actions().front()->trigger();  // "Save as PNG..."
  delete menu;
  return ok && script->messages.isEmpty() ? 0 : 1;
}
