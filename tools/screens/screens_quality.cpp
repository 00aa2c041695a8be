// Pictures of the alignment-quality window and report: a 40-sample result
// with a stored retention-time correction and a run record, one tab per
// picture (quality_window.png is the first), its report in quality_report/,
// and the report of a 500-sample result in quality_report_500/ to check that
// per-sample charts stay readable. scripts/screenshots.sh then renders
// quality_report/index.html with a headless browser (report_page.png).
// Usage: screens_quality OUTPUT_FOLDER
#include <QApplication>
#include <QTabWidget>

#include "storage/path.h"
#include "tests/ui/support/quality_study.h"
#include "tools/screens/screens.h"
#include "ui/quality_data.h"
#include "ui/widgets/quality_report.h"
#include "ui/widgets/quality_window.h"

using namespace Varnel;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Test::Screens screens("screens_quality", argc, argv);
  if (!screens.Prepare(1, 1, 1)) return 1;
  const std::string out = argc > 1 ? argv[1] : ".";
  try {
    Test::Quality_Study_Plan plan;
    plan.samples = 40;
    plan.compounds = 800;
    plan.seed = 11;
    plan.correction = true;
    const std::string path =
        Test::Write_Quality_Study(plan, screens.folder(), "study.aligndb", true);
    Test::Quality_Study_Plan many;
    many.samples = 500;
    many.compounds = 300;
    many.seed = 5;
    many.drifting_sample = 137;
    const std::string path_500 =
        Test::Write_Quality_Study(many, screens.folder(), "study500.aligndb", false);

    auto* window = new Quality_Window(Load_Quality_Data(path), nullptr,
                                      [](QWidget*, const QString&) { return QString(); });
    window->show();
    static const char* const kNames[] = {
        "quality_window.png",        "quality_window_outliers.png", "quality_window_mass.png",
        "quality_window_groups.png", "quality_window_samples.png",  "quality_window_summary.png"};
    for (int t = 0; t < window->Tabs()->count() && t < 6; ++t) {
      window->Tabs()->setCurrentIndex(t);
      if (!screens.Save(window, kNames[t])) return 1;
    }
    window->close();

    Write_Quality_Report(path, Join_Path(out, "quality_report"));
    Write_Quality_Report(path_500, Join_Path(out, "quality_report_500"));
    std::printf("%s\n", Join_Path(Join_Path(out, "quality_report"), "index.html").c_str());
  } catch (const std::exception& e) {
    return screens.Fail(e.what()) ? 0 : 1;
  }
  return 0;
}
