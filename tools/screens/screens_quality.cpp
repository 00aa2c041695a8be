// Pictures of the alignment-quality window and report: a 40-sample result
// with a stored retention-time correction, its anchors and a run record, one tab per
// picture (quality_window.png is the first), its report in quality_report/,
// and the report of a 500-sample result in quality_report_500/ to check that
// per-sample charts stay readable. scripts/screenshots.sh then renders
// quality_report/index.html with a headless browser (report_page.png).
// Usage: screens_quality OUTPUT_FOLDER
#include <QApplication>
#include <QTabWidget>
#include <fstream>

#include "export/sample_sheet.h"
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
    plan.anchors = true;
    const std::string path =
        Test::Write_Quality_Study(plan, screens.folder(), "study.aligndb", true);
    Test::Quality_Study_Plan many;
    many.samples = 500;
    many.compounds = 300;
    many.seed = 5;
    many.drifting_sample = 137;
    const std::string path_500 =
        Test::Write_Quality_Study(many, screens.folder(), "study500.aligndb", false);

    // A sample sheet: every fifth sample a QC, the others in two groups, in
    // injection order by SAMPLE_ID.
    const std::string sheet_path = Join_Path(screens.folder(), "sheet.csv");
    {
      std::ofstream sheet(sheet_path);
      sheet << "sample,group,order\n";
      const auto study = Test::Make_Quality_Study(plan);
      for (std::size_t s = 0; s < study.names.size(); ++s)
        sheet << study.names[s] << ','
              << (s % 5 == 0 ? "QC"
                  : s % 2    ? "Case"
                             : "Control")
              << ',' << s + 1 << '\n';
    }
    const Sample_Sheet sheet = Read_Sample_Sheet(sheet_path);
    Quality_Options options;
    options.sheet = &sheet;
    auto* window = new Quality_Window(Load_Quality_Data(path, options), nullptr,
                                      [](QWidget*, const QString&) { return QString(); });
    window->show();
    for (int t = 0; t < window->Tabs()->count(); ++t) {
      window->Tabs()->setCurrentIndex(t);
      const std::string name =
          t == 0
              ? std::string("quality_window.png")
              : "quality_window_" +
                    window->Tabs()->tabText(t).toLower().replace(' ', '_').toStdString() + ".png";
      if (!screens.Save(window, name.c_str())) return 1;
    }
    window->close();
    // The narrowest window the charts are laid out for: nothing clipped,
    // the 40 samples' labels thinned, every bar named by its tooltip.
    auto* narrow = new Quality_Window(Load_Quality_Data(path, options), nullptr,
                                      [](QWidget*, const QString&) { return QString(); });
    narrow->resize(900, 700);
    narrow->show();
    for (int t = 0; t < narrow->Tabs()->count(); ++t) {
      narrow->Tabs()->setCurrentIndex(t);
      const std::string name =
          "quality_900_" + narrow->Tabs()->tabText(t).toLower().replace(' ', '_').toStdString() +
          ".png";
      if (!screens.Save(narrow, name.c_str())) return 1;
    }
    narrow->close();

    Write_Quality_Report(path, Join_Path(out, "quality_report"), options);
    Write_Quality_Report(path_500, Join_Path(out, "quality_report_500"));
    std::printf("%s\n", Join_Path(Join_Path(out, "quality_report"), "index.html").c_str());
  } catch (const std::exception& e) {
    return screens.Fail(e.what()) ? 0 : 1;
  }
  return 0;
}
