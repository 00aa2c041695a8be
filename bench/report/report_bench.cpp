// The alignment-quality figures on a result of about a million peaks: 50
// samples, 28000 groups, a stored retention-time correction and a run record.
//   BM_QualityData   read the result once and compute every figure
//   BM_Report        varnel-report's whole work: figures, eight pictures
//                    1600 pixels wide, the page, moved into place
//                    (target <= 10 s)
//   BM_OpenWindow    Open_Quality_Window until the window is first painted
//                    (its progress line; target <= 2 s)
//   BM_WindowCharts  Open_Quality_Window until the figures, computed in the
//                    background, are drawn and the first tab painted
// The result is written once with the aligned database writer into
// VARNEL_BENCH_REPORT_DATA (default /tmp/varnel-bench-report-1m) and reused.
// Run with QT_QPA_PLATFORM=offscreen; medians of --benchmark_repetitions=5
// (the default here).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "storage/path.h"
#include "tests/ui/support/quality_study.h"
#include "ui/quality_data.h"
#include "ui/widgets/quality_report.h"
#include "ui/widgets/quality_window.h"

using namespace Varnel;

namespace {

const char* const kFileName = "bench_1m.aligndb";

std::string Data_Folder() {
  const char* env = std::getenv("VARNEL_BENCH_REPORT_DATA");
  return env != nullptr ? env : "/tmp/varnel-bench-report-1m";
}

std::string Result_Path() { return Join_Path(Data_Folder(), kFileName); }

// Writes the result once; a marker file tells a complete one.
void Ensure_Data() {
  const std::string folder = Data_Folder();
  const std::string marker = Join_Path(folder, ".complete");
  if (std::filesystem::exists(marker)) return;
  std::filesystem::create_directories(folder);
  std::fprintf(stderr, "writing the 1M-peak result into %s (once)...\n", folder.c_str());
  Test::Quality_Study_Plan plan;
  plan.samples = 50;
  plan.compounds = 28000;
  plan.seed = 50;
  plan.correction = true;
  plan.points = 3;
  Test::Write_Quality_Study(plan, folder, kFileName, true);
  std::FILE* f = std::fopen(marker.c_str(), "w");
  if (f != nullptr) std::fclose(f);
}

void BM_QualityData(benchmark::State& state) {
  std::size_t peaks = 0;
  for (auto _ : state) {
    const Quality_Data data = Load_Quality_Data(Result_Path());
    peaks = data.peaks;
    benchmark::DoNotOptimize(data.samples.data());
  }
  state.counters["peaks"] = static_cast<double>(peaks);
}
BENCHMARK(BM_QualityData)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Report(benchmark::State& state) {
  const std::string out = Join_Path(Data_Folder(), "report");
  for (auto _ : state) Write_Quality_Report(Result_Path(), out);
}
BENCHMARK(BM_Report)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenWindow(benchmark::State& state) {
  const QString folder = QString::fromStdString(Data_Folder());
  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  };
  for (auto _ : state) {
    Quality_Window* window =
        Open_Quality_Window(nullptr, folder, QString::fromLatin1(kFileName), hooks);
    if (window == nullptr) {
      state.SkipWithError("the window refused the result");
      return;
    }
    window->repaint();  // the first tab's charts drawn
    QApplication::processEvents();
    state.PauseTiming();
    delete window;
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowCharts(benchmark::State& state) {
  const QString folder = QString::fromStdString(Data_Folder());
  for (auto _ : state) {
    Quality_Window* window = Open_Quality_Window(nullptr, folder, QString::fromLatin1(kFileName));
    if (window == nullptr) {
      state.SkipWithError("the window refused the result");
      return;
    }
    QEventLoop loop;
    QObject::connect(window, &Quality_Window::Figures_Shown, &loop, &QEventLoop::quit);
    if (!window->Ready()) loop.exec();
    window->repaint();
    QApplication::processEvents();
    state.PauseTiming();
    delete window;
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WindowCharts)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Ensure_Data();
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  bool has_repetitions = false;
  for (int i = 1; i < argc; ++i)
    has_repetitions =
        has_repetitions || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  if (!has_repetitions) args.push_back(repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
