// The visualization tab on a result of about a million rows: 50 samples,
// every aligned group present in all 50 (1 to 3 ions each), 15-point shapes.
//   BM_GridModelLoad  read the table into the grid model until the first
//                     screen of rows can be shown (target < 2 s)
//   BM_OpenInWindow   the same through the window, column widths included
//   BM_SortByColumn   a header click on a real and on a text column
//   BM_RedrawLogic    the queries and the curve building of one redraw
//   BM_Redraw         a click on a row of a 50-sample group until both
//                     charts are repainted, offscreen (target < 50 ms)
// The result is written once into VARNEL_BENCH_VIZ_DATA (default
// /tmp/varnel-bench-viz-1m) and reused. Run with QT_QPA_PLATFORM=offscreen;
// medians with --benchmark_repetitions=5 (the default here).
#include <benchmark/benchmark.h>
#include <qcustomplot.h>

#include <QApplication>
#include <QTabWidget>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "storage/path.h"
#include "tests/ui/support/viz_study.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/viz_plot.h"
#include "ui/widgets/align_visualization_tab.h"
#include "ui/widgets/varnel_form.h"

using namespace Varnel;

namespace {

constexpr std::uint32_t kSamples = 50;
constexpr std::uint32_t kCompounds = 9500;  // about 1M peaks with 1-3 ions and some unaligned
constexpr int kPoints = 15;
constexpr int kFirstScreenRows = 40;
const char* const kFileName = "bench_1m.aligndb";

std::string Data_Folder() {
  const char* env = std::getenv("VARNEL_BENCH_VIZ_DATA");
  return env != nullptr ? env : "/tmp/varnel-bench-viz-1m";
}

// Writes the result once; a marker file tells a complete one.
void Ensure_Data() {
  const std::string folder = Data_Folder();
  const std::string marker = Join_Path(folder, ".complete");
  if (std::filesystem::exists(marker)) return;
  std::filesystem::create_directories(folder);
  std::fprintf(stderr, "writing the 1M-row result into %s (once)...\n", folder.c_str());
  {
    const auto peaks = Test::Make_Demo_Study(kSamples, kCompounds, 50, kPoints);
    std::fprintf(stderr, "%zu rows\n", peaks.size());
    Test::Write_Aligned_Result(peaks, folder, kFileName);
  }
  std::FILE* f = std::fopen(marker.c_str(), "w");
  if (f != nullptr) std::fclose(f);
}

// Answers every file dialog with the benchmark's result file.
class Silent_Dialogs final : public Form_Dialogs {
 public:
  std::optional<QStringList> Open_Files(QWidget*, const QString&, const QString&, const QString&,
                                        bool) override {
    return QStringList{QString::fromStdString(Join_Path(Data_Folder(), kFileName))};
  }
  void Show_Message(QWidget*, const QString& text) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
    failed = true;
  }
  bool failed = false;
};

void BM_GridModelLoad(benchmark::State& state) {
  for (auto _ : state) {
    Align_Table_Model model;
    model.Set_Table(Aligned_Table::Load(Data_Folder(), kFileName));
    for (int r = 0; r < kFirstScreenRows; ++r)
      for (int c = 0; c < model.columnCount(); ++c)
        benchmark::DoNotOptimize(model.data(model.index(r, c)));
    state.counters["rows"] = static_cast<double>(model.rowCount());
  }
}
BENCHMARK(BM_GridModelLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_OpenInWindow(benchmark::State& state) {
  auto dialogs = std::make_unique<Silent_Dialogs>();
  Varnel_Form form(std::move(dialogs));
  Align_Visualization_Tab* tab = form.Visualization_Tab();
  form.findChild<QTabWidget*>("tabControl1")->setCurrentWidget(tab);
  form.show();
  auto* grid = form.findChild<QTableView*>("dataGridView_Align_Peaklist_Table");
  QApplication::processEvents();
  for (auto _ : state) {
    tab->Button_Click_Align_File_Browse();
    grid->viewport()->repaint();
  }
}
BENCHMARK(BM_OpenInWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A click on a column header of the loaded grid: the model sorts 1M rows.
void BM_SortByColumn(benchmark::State& state) {
  Align_Table_Model model;
  model.Set_Table(Aligned_Table::Load(Data_Folder(), kFileName));
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    model.sort(column, Qt::AscendingOrder);
    state.PauseTiming();
    model.sort(kCol_Align_ID, Qt::AscendingOrder);  // back to the loaded order
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SortByColumn)
    ->Arg(kCol_Apex_MZ)
    ->Arg(kCol_SAMPLE_NAME)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The widget-free part of one redraw: the two queries and both charts' curves.
void BM_RedrawLogic(benchmark::State& state) {
  Align_Table_Model model;
  model.Set_Table(Aligned_Table::Load(Data_Folder(), kFileName));
  int row = model.rowCount() / 2;
  while (row < model.rowCount() && model.Int_Cell(row, kCol_Align_ID) == 0) ++row;
  Row_Keys keys;
  keys.Align_ID = *model.Int_Cell(row, kCol_Align_ID);
  keys.SAMPLE_ID = *model.Int_Cell(row, kCol_SAMPLE_ID);
  keys.EIC_ID = *model.Int_Cell(row, kCol_EIC_ID);
  keys.Peak_ID = *model.Int_Cell(row, kCol_Peak_ID);
  keys.Group_ID = *model.Int_Cell(row, kCol_Group_ID);
  keys.Compound_ID = *model.Int_Cell(row, kCol_Compound_ID);
  keys.sample_name = model.Text_Cell(row, kCol_SAMPLE_NAME);
  keys.align_id_text = model.Text_Cell(row, kCol_Align_ID);
  std::size_t curves = 0;
  for (auto _ : state) {
    const Redraw_Lists lists =
        Query_Redraw_Lists(Data_Folder(), kFileName, keys, Detail_Mode::kPeak);
    const Chart_Content upper =
        Build_Aligned_Chart(lists.aligned, keys.align_id_text, X_Axis::kScan, Y_Scale::kStandard);
    const Chart_Content lower = Build_Detail_Chart(lists.detail, keys.sample_name, {});
    curves = upper.curves.size() + lower.curves.size();
  }
  state.counters["curves"] = static_cast<double>(curves);
}
BENCHMARK(BM_RedrawLogic)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_Redraw(benchmark::State& state) {
  auto dialogs = std::make_unique<Silent_Dialogs>();
  Silent_Dialogs* messages = dialogs.get();
  Varnel_Form form(std::move(dialogs));
  Align_Visualization_Tab* tab = form.Visualization_Tab();
  form.findChild<QTabWidget*>("tabControl1")->setCurrentWidget(tab);
  form.show();
  tab->Button_Click_Align_File_Browse();
  auto* grid = form.findChild<QTableView*>("dataGridView_Align_Peaklist_Table");
  auto* model = qobject_cast<Align_Table_Model*>(grid->model());
  auto* upper = form.findChild<QCustomPlot*>("zedGraphControl_AlignedPeaks");
  auto* lower = form.findChild<QCustomPlot*>("zedGraphControl_SlectedPeaks");
  // A row in the middle of the table whose group spans all samples.
  int row = model->rowCount() / 2;
  while (row < model->rowCount() && model->Int_Cell(row, kCol_Align_ID) == 0) ++row;
  tab->DataGridView_CellMouseClick(row);  // warm-up: shows the chart panel
  QApplication::processEvents();
  for (auto _ : state) {
    tab->DataGridView_CellMouseClick(row);
    upper->repaint();
    lower->repaint();
    QApplication::processEvents();
  }
  state.counters["curves"] = upper->plottableCount();
  if (messages->failed) state.SkipWithError("the redraw reported a failure");
}
BENCHMARK(BM_Redraw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  Ensure_Data();
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  bool has_repetitions = false;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) has_repetitions = true;
  if (!has_repetitions) args.push_back(repetitions.data());
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
