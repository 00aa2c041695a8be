// Pictures of the visualization tab: after opening the result of a simulated
// and aligned study, then after clicking a row of a group present in every
// sample, in Scan, RT_Original, RT_Corrected and RT_Corrected + Normalized.
// Last, a group of a 50-sample study, to show a long legend.
// Usage: screens_visualization OUTPUT_FOLDER
#include <qcustomplot.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <deque>
#include <map>
#include <set>

#include "align/alignment_run.h"
#include "storage/aligned_table.h"
#include "tests/ui/support/viz_study.h"
#include "tools/simulate.h"
#include "ui/align_table_model.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

class Scripted_Dialogs : public Form_Dialogs {
 public:
  std::deque<QStringList> answers;
  QStringList messages;

  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    if (answers.empty()) return std::nullopt;
    QStringList answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Show_Message(QWidget*, const QString& text) override { messages.push_back(text); }
};

bool Save(QWidget* widget, const QDir& out, const char* name) {
  QApplication::processEvents();
  const QString path = out.filePath(QString::fromLatin1(name));
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "screens_visualization: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

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
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "screens_visualization: cannot create %s\n", qPrintable(out.path()));
    return 1;
  }
  QTemporaryDir study_dir;
  if (!study_dir.isValid()) return 1;
  const std::string folder = study_dir.path().toStdString();
  Simulation_Options options;
  options.samples = 6;
  options.compounds = 150;
  options.seed = 7;
  try {
    const Simulation_Result study = Simulate_Study(options, folder);
    Compound_Align_For_Annotation_Files(1, 0.1, 20.0, 10.0, folder, folder, study.database_names);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "screens_visualization: %s\n", e.what());
    return 1;
  }

  auto dialogs = std::make_unique<Scripted_Dialogs>();
  Scripted_Dialogs* script = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  form.tabControl1->setCurrentWidget(form.Tab_Align_Visualization);
  form.show();
  QApplication::processEvents();
  bool ok = Save(&form, out, "viz_1_start.png");

  script->answers.push_back({study_dir.filePath(QString::fromLatin1(kAlignedDbName))});
  form.button_Align_File_Browse->click();
  if (!script->messages.isEmpty()) {
    std::fprintf(stderr, "screens_visualization: %s\n", qPrintable(script->messages.join(" | ")));
    return 1;
  }
  ok = Save(&form, out, "viz_2_opened.png") && ok;

  auto* model = qobject_cast<Align_Table_Model*>(form.dataGridView_Align_Peaklist_Table->model());
  const int row = model ? Row_Of_Group_In_All_Samples(*model, options.samples) : -1;
  if (row < 0) {
    std::fprintf(stderr, "screens_visualization: no group present in all samples\n");
    return 1;
  }
  form.dataGridView_Align_Peaklist_Table->scrollTo(model->index(row, 0),
                                                   QAbstractItemView::PositionAtCenter);
  form.DataGridView_CellMouseClick(row);
  ok = Save(&form, out, "viz_3_scan.png") && ok;
  form.radioButton_RT_Original->click();
  ok = Save(&form, out, "viz_4_rt_original.png") && ok;
  form.radioButton_RT_Corrected->click();
  form.radioButton_GroupPlot->click();
  ok = Save(&form, out, "viz_5_rt_corrected.png") && ok;
  form.radioButton_Normalized->click();
  form.radioButton_CompoundPlot->click();
  ok = Save(&form, out, "viz_6_normalized.png") && ok;

  // Fifty samples: one legend entry per sample.
  try {
    Test::Write_Aligned_Result(Test::Make_Demo_Study(50, 12, 3), folder, "fifty.aligndb");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "screens_visualization: %s\n", e.what());
    return 1;
  }
  script->answers.push_back({study_dir.filePath(QStringLiteral("fifty.aligndb"))});
  form.button_Align_File_Browse->click();
  const int fifty_row = Row_Of_Group_In_All_Samples(*model, 50);
  if (fifty_row < 0) return 1;
  form.dataGridView_Align_Peaklist_Table->scrollTo(model->index(fifty_row, 0),
                                                   QAbstractItemView::PositionAtCenter);
  form.DataGridView_CellMouseClick(fifty_row);
  ok = Save(&form, out, "viz_7_fifty_samples.png") && ok;
  if (!script->messages.isEmpty()) {
    std::fprintf(stderr, "screens_visualization: %s\n", qPrintable(script->messages.join(" | ")));
    return 1;
  }
  return ok ? 0 : 1;
}
