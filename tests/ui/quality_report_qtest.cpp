// The quality report and window on the offscreen platform: the files of a
// report, refusals that leave nothing half-written, varnel-report's exit
// status and message, and the window's charts and saving.
#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolTip>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "export/sample_sheet.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/quality_study.h"
#include "ui/quality_charts.h"
#include "ui/quality_data.h"
#include "ui/widgets/quality_charts_view.h"
#include "ui/widgets/quality_report.h"
#include "ui/widgets/quality_window.h"

using namespace Varnel;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A small result with a correction and a run record.
std::string Tiny_Result(const std::string& folder, bool correction = true) {
  Test::Quality_Study_Plan plan;
  plan.samples = 5;
  plan.compounds = 40;
  plan.correction = correction;
  return Test::Write_Quality_Study(plan, folder, "tiny.aligndb", true);
}

// The message of Write_Quality_Report, or "" when it succeeded.
QString Report_Refusal(const std::string& result, const std::string& out) {
  try {
    Write_Quality_Report(result, out);
  } catch (const Quality_Error& e) {
    return QString::fromStdString(e.what());
  }
  return {};
}

}  // namespace

class Quality_Report_Test : public QObject {
  Q_OBJECT

 private slots:
  void tinyResultGivesPageAndSharpPictures();
  void resultWithoutGroupsStillGivesEveryChart();
  void earlierReportIsReplaced();
  void killedWhileReplacingKeepsOneWholeReport();
  void refusalsNameTheFileAndLeaveNothing_data();
  void refusalsNameTheFileAndLeaveNothing();
  void programExitStatus();
  void windowShowsTheChartsAndSavesWide();
  void windowRefusesABadResultWithAMessage();
  void windowClosedWhileComputingGoesQuietly();
  void windowAsksForASampleSheet();
  void narrowWindowClipsNoTextAndBarsNameTheirSample();
  void sheetFailureIsShownOverTheQualityWindow();
  void qcCorrectionIsDrawnInTheWindowAndOnThePage();
  void chosenGroupIsDrawnInTheWindowAndOnThePage();
  void narrowChartsKeepTickLabelsApartAndNoteLines();
};

void Quality_Report_Test::tinyResultGivesPageAndSharpPictures() {
  Temp_Folder folder;
  const std::string result = Tiny_Result(folder.path());
  const std::string out = Join_Path(folder.path(), "report");
  QCOMPARE(Report_Refusal(result, out), QString());

  const QStringList expected = {"correlation.png",        "index.html",
                                "intensity_boxes.png",    "intensity_cv.png",
                                "mass_by_mz.png",         "mass_deviation.png",
                                "missing_values.png",     "pca_scores.png",
                                "peaks_per_sample.png",   "rt_correction.png",
                                "rt_deviation_after.png", "rt_deviation_before.png",
                                "rt_outliers.png",        "samples_per_group.png"};
  QStringList files = QDir(Q(out)).entryList(QDir::Files, QDir::Name);
  QCOMPARE(files, expected);
  const QString html = QString::fromUtf8(Read_File(Join_Path(out, "index.html")));
  for (const QString& f : expected) {
    if (!f.endsWith(QLatin1String(".png"))) continue;
    QVERIFY2(html.contains(QStringLiteral("src=\"%1\"").arg(f)), qPrintable(f));
    const QImage image(QDir(Q(out)).filePath(f));
    QVERIFY2(image.width() >= kMinSavedWidth, qPrintable(f));
  }
  QVERIFY(!html.contains(QLatin1String("http")));  // offline: nothing fetched
  QVERIFY(html.contains(QLatin1String("<td>Mass tolerance (Da)</td><td>0.1</td>")));
  QVERIFY(html.contains(QLatin1String("Plasma_B1_S003")));
  QVERIFY(html.contains(QLatin1String("<p class=\"verdict\">median |RT deviation| ")));
  // Nothing left beside the report.
  QCOMPARE(QDir(Q(folder.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
           QStringList({"report", "tiny.aligndb"}));
}

void Quality_Report_Test::resultWithoutGroupsStillGivesEveryChart() {
  Temp_Folder folder;
  Test::Quality_Study_Plan plan;
  plan.samples = 3;
  plan.compounds = 10;
  auto peaks = Test::Make_Quality_Study(plan).peaks;
  for (auto& p : peaks) p.Align_ID = 0;
  Test::Write_Aligned_Result(peaks, folder.path(), "loose.aligndb");
  const std::string out = Join_Path(folder.path(), "report");
  QCOMPARE(Report_Refusal(Join_Path(folder.path(), "loose.aligndb"), out), QString());
  QCOMPARE(QDir(Q(out)).entryList(QDir::Files).size(), 12);  // eleven charts and the page
}

void Quality_Report_Test::earlierReportIsReplaced() {
  Temp_Folder folder;
  const std::string out = Join_Path(folder.path(), "report");
  QCOMPARE(Report_Refusal(Tiny_Result(folder.path(), true), out), QString());
  QVERIFY(QFile::exists(Q(Join_Path(out, "rt_deviation_before.png"))));
  QCOMPARE(Report_Refusal(Tiny_Result(folder.path(), false), out), QString());
  QVERIFY(!QFile::exists(Q(Join_Path(out, "rt_deviation_before.png"))));
  QVERIFY(QFile::exists(Q(Join_Path(out, "rt_deviation.png"))));
}

// varnel-report killed just before and just after it puts the new report in
// place: the folder holds one whole report, the earlier or the new; the next
// report removes what the killed one left beside it.
void Quality_Report_Test::killedWhileReplacingKeepsOneWholeReport() {
  Temp_Folder folder;
  const std::string earlier_dir = Join_Path(folder.path(), "earlier");
  const std::string new_dir = Join_Path(folder.path(), "new");
  std::filesystem::create_directories(earlier_dir);
  std::filesystem::create_directories(new_dir);
  const std::string earlier = Tiny_Result(earlier_dir, true);  // draws rt_deviation_before.png
  const std::string fresh = Tiny_Result(new_dir, false);       // does not
  const std::string out = Join_Path(folder.path(), "report");
  auto run = [&out](const std::string& result, const char* kill_step) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (kill_step != nullptr)
      env.insert(QStringLiteral("VARNEL_TEST_KILL_AT_REPORT_STEP"), kill_step);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VARNEL_REPORT_PROGRAM), {Q(result), Q(out)});
    p.waitForFinished(120000);
    return p.exitStatus() == QProcess::CrashExit ? -1 : p.exitCode();
  };
  auto hidden = [&folder] {
    QStringList names;
    for (const QString& name :
         QDir(Q(folder.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
      if (name.startsWith(QLatin1Char('.'))) names << name;
    return names;
  };
  auto is_earlier = [&out] {
    return QFile::exists(Q(Join_Path(out, "index.html"))) &&
           QFile::exists(Q(Join_Path(out, "rt_deviation_before.png")));
  };
  auto is_new = [&out] {
    return QFile::exists(Q(Join_Path(out, "index.html"))) &&
           QFile::exists(Q(Join_Path(out, "rt_deviation.png"))) &&
           !QFile::exists(Q(Join_Path(out, "rt_deviation_before.png")));
  };
  QCOMPARE(run(earlier, nullptr), 0);
  QVERIFY(is_earlier());

  QCOMPARE(run(fresh, "0"), -1);  // the new report complete beside it
  QVERIFY(is_earlier());
  QCOMPARE(hidden().size(), 1);
  QCOMPARE(run(fresh, "1"), -1);  // exchanged; the earlier one beside it
  QVERIFY(is_new());
  QVERIFY(!hidden().isEmpty());
  QCOMPARE(run(earlier, nullptr), 0);
  QVERIFY(is_earlier());
  QCOMPARE(hidden(), QStringList());
}

void Quality_Report_Test::refusalsNameTheFileAndLeaveNothing_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("named");  // "result" or "out"
  QTest::newRow("not a result") << "text"
                                << "result";
  QTest::newRow("empty result") << "empty"
                                << "result";
  QTest::newRow("missing result") << "missing"
                                  << "result";
  QTest::newRow("OUTDIR under a file") << "under file"
                                       << "out";
  QTest::newRow("OUTDIR holds other files") << "foreign"
                                            << "out";
  QTest::newRow("OUTDIR is a file") << "file"
                                    << "out";
}

void Quality_Report_Test::refusalsNameTheFileAndLeaveNothing() {
  QFETCH(QString, kind);
  QFETCH(QString, named);
  Temp_Folder folder;
  std::string result = Join_Path(folder.path(), "r.aligndb");
  std::string out = Join_Path(folder.path(), "report");
  if (kind == "text") {
    Write_File(result, "EIC_ID,Peak_ID\n1,2\n");
  } else if (kind == "empty") {
    Test::Write_Aligned_Result({}, folder.path(), "r.aligndb");
  } else if (kind == "missing") {
    result = Join_Path(folder.path(), "none.aligndb");
  } else {
    result = Tiny_Result(folder.path());
    if (kind == "under file") {
      Write_File(Join_Path(folder.path(), "plain"), "x");
      out = Join_Path(Join_Path(folder.path(), "plain"), "report");
    } else if (kind == "foreign") {
      QDir().mkpath(Q(out));
      Write_File(Join_Path(out, "thesis.docx"), "mine");
    } else {
      Write_File(out, "not a folder");
    }
  }
  const QStringList before =
      QDir(Q(folder.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  const QString message = Report_Refusal(result, out);
  const std::string& culprit = named == "result" ? result : out;
  QVERIFY2(message.startsWith(Q(culprit) + QStringLiteral(": ")), qPrintable(message));
  QCOMPARE(QDir(Q(folder.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
           before);
  if (kind == "foreign")
    QCOMPARE(QDir(Q(out)).entryList(QDir::Files), QStringList({"thesis.docx"}));
}

void Quality_Report_Test::programExitStatus() {
  Temp_Folder folder;
  const std::string result = Tiny_Result(folder.path(), false);
  const std::string out = Join_Path(folder.path(), "page");
  auto run = [](const QStringList& args, QString* err) {
    QProcess p;
    p.start(QStringLiteral(VARNEL_REPORT_PROGRAM), args);
    p.waitForFinished(120000);
    *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitCode();
  };
  QString err;
  QCOMPARE(run({Q(result), Q(out)}, &err), 0);
  QVERIFY(QFile::exists(Q(Join_Path(out, "index.html"))));

  const std::string bad = Join_Path(folder.path(), "bad.aligndb");
  Write_File(bad, std::string(2048, '\x7f'));
  QCOMPARE(run({Q(bad), Q(Join_Path(folder.path(), "other"))}, &err), 1);
  QVERIFY2(err.startsWith(QStringLiteral("varnel-report: ") + Q(bad) + ": "), qPrintable(err));
  QCOMPARE(err.count(QLatin1Char('\n')), 1);
  QVERIFY(!QFile::exists(Q(Join_Path(folder.path(), "other"))));

  QCOMPARE(run({Q(result)}, &err), 2);

  // --groups: a QC group and an order column add their charts; a sheet that
  // leaves a sample out is refused naming the sheet.
  const std::string sheet = Join_Path(folder.path(), "sheet.csv");
  Write_File(sheet,
             "sample,group,order\nPlasma_B1_S001,QC,1\nPlasma_B1_S002,QC,2\n"
             "Plasma_B1_S003,A,3\nPlasma_B1_S004,A,4\nPlasma_B1_S005,B,5\n");
  const std::string grouped = Join_Path(folder.path(), "grouped");
  QCOMPARE(run({QStringLiteral("--groups"), Q(sheet), Q(result), Q(grouped)}, &err), 0);
  for (const char* f : {"cv_qc.png", "injection_trend.png", "pca_scores.png"})
    QVERIFY2(QFile::exists(Q(Join_Path(grouped, f))), f);
  QVERIFY(QString::fromUtf8(Read_File(Join_Path(grouped, "index.html")))
              .contains(QLatin1String("<td>QC</td>")));
  Write_File(sheet, "Plasma_B1_S001,QC\n");
  QCOMPARE(run({QStringLiteral("--groups"), Q(sheet), Q(result), Q(out)}, &err), 1);
  QVERIFY2(err.startsWith(QStringLiteral("varnel-report: ") + Q(sheet) + ": no group for samples "),
           qPrintable(err));
}

void Quality_Report_Test::windowShowsTheChartsAndSavesWide() {
  Temp_Folder folder;
  Tiny_Result(folder.path());
  QStringList asked;
  const std::string saved = Join_Path(folder.path(), "chart");
  Quality_Window_Hooks hooks;
  hooks.save_dialog = [&](QWidget*, const QString& suggested) {
    asked << suggested;
    return Q(saved);  // no suffix: the menu's format is added
  };
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  QPointer<Quality_Window> window =
      Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("tiny.aligndb"), hooks);
  QVERIFY(window);
  QVERIFY(window->isVisible());
  QTRY_VERIFY(window->Ready());
  QCOMPARE(window->Tabs()->count(), 9);
  // The figures computed in the background are those computed in place.
  const Quality_Data data = Load_Quality_Data(Join_Path(folder.path(), "tiny.aligndb"));
  QCOMPARE(window->Verdict(), Quality_Verdict(data));
  for (const Quality_Chart& chart : Build_Quality_Charts(data)) {
    QCustomPlot* shown = window->Chart(chart.id);
    QVERIFY2(shown != nullptr, qPrintable(chart.id));
    QCOMPARE(shown->plottableCount(), static_cast<int>(chart.series.size()));
  }

  QCustomPlot* plot = window->Chart(QStringLiteral("mass_deviation"));
  QTimer::singleShot(0, [plot] {
    auto* menu = plot->findChild<QMenu*>();
    QVERIFY(menu != nullptr);
    menu->actions().at(0)->trigger();  // Save as PNG...
    menu->close();
  });
  emit plot->customContextMenuRequested(QPoint(10, 10));
  QTRY_VERIFY(QFile::exists(Q(saved + ".png")));
  QCOMPARE(asked, QStringList({"mass_deviation.png"}));
  QVERIFY(QImage(Q(saved + ".png")).width() >= kMinSavedWidth);
  window->close();
  QTRY_VERIFY(window.isNull());  // deletes itself
}

void Quality_Report_Test::windowRefusesABadResultWithAMessage() {
  Temp_Folder folder;
  Write_File(Join_Path(folder.path(), "x.aligndb"), "not sqlite at all, just text");
  QString shown;
  Quality_Window_Hooks hooks;
  hooks.show_message = [&](QWidget*, const QString& text) { shown = text; };
  QCOMPARE(Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("x.aligndb"), hooks),
           nullptr);
  QVERIFY2(shown.startsWith(Q(Join_Path(folder.path(), "x.aligndb")) + ": "), qPrintable(shown));
}

void Quality_Report_Test::windowClosedWhileComputingGoesQuietly() {
  Temp_Folder folder;
  Test::Quality_Study_Plan plan;
  plan.samples = 40;
  plan.compounds = 3000;
  Test::Write_Quality_Study(plan, folder.path(), "large.aligndb", false);
  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  for (int wait_ms : {0, 20, 80}) {
    QPointer<Quality_Window> window =
        Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("large.aligndb"), hooks);
    QVERIFY(window);
    QTest::qWait(wait_ms);
    window->close();
    QTRY_VERIFY(window.isNull());
  }
}

void Quality_Report_Test::windowAsksForASampleSheet() {
  Temp_Folder folder;
  Tiny_Result(folder.path());
  const std::string sheet = Join_Path(folder.path(), "sheet.csv");
  Write_File(sheet,
             "Plasma_B1_S001,QC\nPlasma_B1_S002,QC\nPlasma_B1_S003,A\n"
             "Plasma_B1_S004,A\nPlasma_B1_S005,A\n");
  int asked = 0;
  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  hooks.sample_sheet_dialog = [&](QWidget*) {
    ++asked;
    return Q(sheet);
  };
  QPointer<Quality_Window> window =
      Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("tiny.aligndb"), hooks);
  QTRY_VERIFY(window->Ready());
  QVERIFY(window->Chart(QStringLiteral("cv_qc")) == nullptr);
  auto* button = window->findChild<QPushButton*>(QStringLiteral("quality_sample_sheet"));
  QVERIFY(button != nullptr);
  QSignalSpy shown(window.data(), &Quality_Window::Figures_Shown);
  button->click();
  QTRY_COMPARE(shown.count(), 1);
  QCOMPARE(asked, 1);
  QVERIFY(window->Chart(QStringLiteral("cv_qc")) != nullptr);
  window->close();
  QTRY_VERIFY(window.isNull());
}

// At 900 pixels every title, note, legend and axis title of every chart fits
// its plot (wrapped where needed), and a bar of a thinned category axis
// still names its sample in its tooltip.
void Quality_Report_Test::narrowWindowClipsNoTextAndBarsNameTheirSample() {
  Temp_Folder folder;
  Test::Quality_Study_Plan plan;
  plan.samples = 50;
  plan.compounds = 120;
  plan.correction = true;
  Test::Write_Quality_Study(plan, folder.path(), "fifty.aligndb", true);
  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  QPointer<Quality_Window> window =
      Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("fifty.aligndb"), hooks);
  window->resize(900, 700);
  QTRY_VERIFY(window->Ready());
  // The verdict wraps: it neither widens the window past 900 pixels nor
  // pushes the sample sheet button out of it.
  QApplication::processEvents();
  QCOMPARE(window->width(), 900);
  auto* verdict = window->findChild<QLabel*>(QStringLiteral("quality_verdict"));
  auto* sheet = window->findChild<QPushButton*>(QStringLiteral("quality_sample_sheet"));
  QVERIFY(verdict != nullptr && sheet != nullptr && verdict->text().size() > 100);
  QVERIFY(window->rect().contains(verdict->geometry()));
  QVERIFY(window->rect().contains(sheet->geometry()));
  int checked = 0;
  for (int tab = 0; tab < window->Tabs()->count(); ++tab) {
    window->Tabs()->setCurrentIndex(tab);
    QApplication::processEvents();
    for (QCustomPlot* plot : window->Tabs()->currentWidget()->findChildren<QCustomPlot*>()) {
      plot->replot();
      const int width = plot->width();
      if (!plot->isVisible() || width <= 0) continue;  // a page not laid out yet
      QVERIFY2(width <= window->width(), qPrintable(plot->objectName()));
      QCPLayoutGrid* layout = plot->plotLayout();
      for (int i = 0; i < layout->elementCount(); ++i) {
        auto* text = qobject_cast<QCPTextElement*>(layout->elementAt(i));
        if (text == nullptr) continue;
        const QFontMetrics metrics(text->font());
        for (const QString& line : text->text().split('\n')) {
          QVERIFY2(metrics.horizontalAdvance(line) <= width,
                   qPrintable(plot->objectName() + ": " + line));
          ++checked;
        }
      }
      const QRect legend = plot->legend->outerRect();
      if (plot->legend->visible())
        QVERIFY2(legend.right() <= width, qPrintable(plot->objectName()));
      const QFontMetrics label(plot->xAxis->labelFont());
      for (const QString& line : plot->xAxis->label().split('\n'))
        QVERIFY2(label.horizontalAdvance(line) <= plot->axisRect()->width() + 40,
                 qPrintable(plot->objectName() + ": " + line));
    }
  }
  QVERIFY(checked > 20);

  // The missing-values chart names every second sample or fewer; each bar
  // names its own.
  const QString id = QStringLiteral("missing_values");
  window->Tabs()->setCurrentIndex(0);
  for (int tab = 0; tab < window->Tabs()->count(); ++tab) {
    window->Tabs()->setCurrentIndex(tab);
    if (window->Chart(id) != nullptr && window->Chart(id)->isVisible()) break;
  }
  QCustomPlot* bars_plot = window->Chart(id);
  QVERIFY(bars_plot != nullptr);
  bars_plot->replot();
  auto* bars = qobject_cast<QCPBars*>(bars_plot->plottable(0));
  QVERIFY(bars != nullptr);
  QVERIFY(bars_plot->yAxis->tickVector().size() < bars->data()->size());
  int named = 0;
  for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it) {
    const QPoint at(static_cast<int>(bars_plot->xAxis->coordToPixel(it->value / 2)),
                    static_cast<int>(bars_plot->yAxis->coordToPixel(it->key)));
    QTest::mouseMove(bars_plot, at);
    QApplication::processEvents();
    if (QToolTip::isVisible() && QToolTip::text().startsWith("Plasma_")) ++named;
  }
  QCOMPARE(named, static_cast<int>(bars->data()->size()));
  window->close();
  QTRY_VERIFY(window.isNull());
}

// A sheet that names no sample of the result is refused over the quality
// window (which keeps its figures), not behind it over the main window.
void Quality_Report_Test::sheetFailureIsShownOverTheQualityWindow() {
  Temp_Folder folder;
  Tiny_Result(folder.path());
  const std::string sheet = Join_Path(folder.path(), "other.csv");
  Write_File(sheet, "Someone_Else,QC\nNobody,A\n");
  QWidget main_window;
  QWidget* parent_seen = nullptr;
  QString said;
  Quality_Window_Hooks hooks;
  hooks.show_message = [&](QWidget* parent, const QString& text) {
    parent_seen = parent;
    said = text;
  };
  hooks.sample_sheet_dialog = [&](QWidget*) { return Q(sheet); };
  QPointer<Quality_Window> window =
      Open_Quality_Window(&main_window, Q(folder.path()), QStringLiteral("tiny.aligndb"), hooks);
  QTRY_VERIFY(window->Ready());
  window->findChild<QPushButton*>(QStringLiteral("quality_sample_sheet"))->click();
  QTRY_VERIFY(!said.isEmpty());
  QVERIFY2(said.contains("other.csv"), qPrintable(said));
  QCOMPARE(parent_seen, static_cast<QWidget*>(window.data()));
  QVERIFY(window->Ready());
  window->close();
  QTRY_VERIFY(window.isNull());
}

void Quality_Report_Test::qcCorrectionIsDrawnInTheWindowAndOnThePage() {
  Temp_Folder folder;
  const std::string result = Test::Write_Drifting_Study(folder.path(), "drift.aligndb");
  const std::string sheet = Join_Path(folder.path(), "sheet.csv");
  Write_File(sheet, Test::Drifting_Study_Sheet(true, true));
  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  hooks.sample_sheet_dialog = [&](QWidget*) { return Q(sheet); };
  QPointer<Quality_Window> window =
      Open_Quality_Window(nullptr, Q(folder.path()), QStringLiteral("drift.aligndb"), hooks);
  QTRY_VERIFY(window->Ready());
  QVERIFY(window->Chart(QStringLiteral("signal_qc_rsd")) == nullptr);
  QSignalSpy shown(window.data(), &Quality_Window::Figures_Shown);
  window->findChild<QPushButton*>(QStringLiteral("quality_sample_sheet"))->click();
  QTRY_COMPARE(shown.count(), 1);

  // The window draws the same charts as the page, series for series, and
  // the verdict carries the held-out figures.
  Sample_Sheet read = Read_Sample_Sheet(sheet);
  Quality_Options options;
  options.sheet = &read;
  const Quality_Data data = Load_Quality_Data(result, options);
  QVERIFY(data.signal.shown);
  QCOMPARE(window->Verdict(), Quality_Verdict(data));
  QVERIFY(window->Verdict().contains(QLatin1String("held-out QC RSD median")));
  QStringList tabs;
  for (int i = 0; i < window->Tabs()->count(); ++i) tabs << window->Tabs()->tabText(i);
  QVERIFY2(tabs.contains(QLatin1String("QC correction")), qPrintable(tabs.join(',')));
  QVERIFY(tabs.contains(QLatin1String("QC worst groups")));
  int signal_charts = 0;
  for (const Quality_Chart& chart : Build_Quality_Charts(data)) {
    QCustomPlot* plot = window->Chart(chart.id);
    QVERIFY2(plot != nullptr, qPrintable(chart.id));
    QCOMPARE(plot->plottableCount(), static_cast<int>(chart.series.size()));
    signal_charts += chart.id.startsWith(QLatin1String("signal_")) ? 1 : 0;
  }
  QCOMPARE(signal_charts, 6);
  window->close();
  QTRY_VERIFY(window.isNull());

  // The page: the pictures beside it, the PCA pair side by side, the verdict.
  const std::string page = Join_Path(folder.path(), "page");
  Write_Quality_Report(result, page, options);
  for (const char* f : {"signal_qc_rsd.png", "signal_pca_before.png", "signal_pca_after.png",
                        "signal_worst_1.png", "signal_worst_3.png"})
    QVERIFY2(QFile::exists(Q(Join_Path(page, f))), f);
  const QString html = QString::fromUtf8(Read_File(Join_Path(page, "index.html")));
  QVERIFY(html.contains(QLatin1String("held-out QC RSD median")));
  QVERIFY(html.contains(
      QLatin1String("<div class=\"pair\">\n<figure><img src=\"signal_pca_before.png\"")));
}

// A group picked by its Align_ID: typed into the window's box, asked on the
// page; both draw Signal_Group_Chart, and an Align_ID the correction does not
// hold is refused in words, keeping what is shown.
void Quality_Report_Test::chosenGroupIsDrawnInTheWindowAndOnThePage() {
  Temp_Folder folder;
  const std::string result = Test::Write_Drifting_Study(folder.path(), "drift.aligndb");
  const std::string sheet = Join_Path(folder.path(), "sheet.csv");
  Write_File(sheet, Test::Drifting_Study_Sheet(true, true));
  Sample_Sheet read = Read_Sample_Sheet(sheet);
  Quality_Options options;
  options.sheet = &read;
  const Quality_Data data = Load_Quality_Data(result, options);
  QVERIFY(data.signal.shown && data.signal.source);
  // A group that is not among the worst ones.
  std::uint32_t chosen = 0;
  for (std::uint32_t id : data.signal.source->align_ids) {
    bool worst = false;
    for (const Signal_Feature_View& v : data.signal.worst) worst = worst || v.align_id == id;
    if (!worst) chosen = id;
  }
  QVERIFY(chosen != 0);
  const std::optional<Quality_Chart> expected = Signal_Group_Chart(data.signal, chosen);
  QVERIFY(expected.has_value());
  QVERIFY(
      expected->title.startsWith(QStringLiteral("Group %1 against injection order").arg(chosen)));

  Quality_Window_Hooks hooks;
  hooks.show_message = [](QWidget*, const QString& text) { QFAIL(qPrintable(text)); };
  QPointer<Quality_Window> window = new Quality_Window(result, read, nullptr, hooks);
  window->show();
  QTRY_VERIFY(window->Ready());
  int page = -1;
  for (int i = 0; i < window->Tabs()->count(); ++i)
    if (window->Tabs()->tabText(i) == QLatin1String("QC group")) page = i;
  QVERIFY(page >= 0);
  window->Tabs()->setCurrentIndex(page);
  auto* box = window->findChild<QLineEdit*>(QStringLiteral("quality_signal_group_id"));
  auto* show = window->findChild<QPushButton*>(QStringLiteral("quality_signal_group_show"));
  auto* status = window->findChild<QLabel*>(QStringLiteral("quality_signal_group_status"));
  QVERIFY(box && show && status);
  // The box starts at the worst group; typing another and Enter draws it.
  QCOMPARE(box->text(), QString::number(data.signal.worst.front().align_id));
  QVERIFY2(status->text().startsWith(QLatin1String("Click Show to draw")),
           qPrintable(status->text()));
  box->clear();
  QTest::keyClicks(box, QString::number(chosen));
  QTest::keyClick(box, Qt::Key_Return);
  const QString id = QStringLiteral("signal_group_%1").arg(chosen);
  QCustomPlot* plot = window->Chart(id);
  QVERIFY(plot != nullptr);
  QCOMPARE(plot->plottableCount(), static_cast<int>(expected->series.size()));
  QVERIFY(status->text().isEmpty());
  // An Align_ID the correction does not hold: said, the chart stays.
  box->clear();
  QTest::keyClicks(box, QStringLiteral("987654"));
  show->click();
  QVERIFY2(status->text().contains(QLatin1String("Align_ID 987654 is not among")),
           qPrintable(status->text()));
  QVERIFY(window->Chart(id) != nullptr);
  window->close();
  QTRY_VERIFY(window.isNull());

  // The page draws the same chart when asked; an unknown group fails the
  // page, naming the result, and leaves no folder.
  const std::string out = Join_Path(folder.path(), "page");
  options.signal_features = {chosen};
  Write_Quality_Report(result, out, options);
  QVERIFY(QFile::exists(Q(Join_Path(out, "signal_group_" + std::to_string(chosen) + ".png"))));
  const QString html = QString::fromUtf8(Read_File(Join_Path(out, "index.html")));
  QVERIFY(html.contains(expected->title.toHtmlEscaped()));
  options.signal_features = {987654};
  const std::string refused = Join_Path(folder.path(), "refused");
  try {
    Write_Quality_Report(result, refused, options);
    QFAIL("an Align_ID the correction does not hold was drawn");
  } catch (const Quality_Error& e) {
    QVERIFY2(QString::fromStdString(e.what()).startsWith(Q(result + ": Align_ID 987654")),
             e.what());
  }
  QVERIFY(!QFile::exists(Q(refused)));
}

// A narrow chart of values close together ("0.9800 ... 0.9975") takes fewer
// ticks rather than run their labels together, and a note's own lines stay
// lines when it wraps.
void Quality_Report_Test::narrowChartsKeepTickLabelsApartAndNoteLines() {
  Quality_Chart chart;
  chart.id = QStringLiteral("narrow");
  chart.title = QStringLiteral("Median correlation of each sample with the others");
  chart.x_low = 0.98;
  chart.x_high = 0.9999;
  Quality_Series points;
  points.kind = Quality_Series_Kind::kScatter;
  points.key = {0.981, 0.99, 0.999};
  points.value = {0.2, 0.5, 0.8};
  chart.series.push_back(points);
  std::unique_ptr<QCustomPlot> plot(Make_Quality_Plot(chart, nullptr));
  for (const int width : {300, 420, 1200}) {
    plot->resize(width, 400);
    plot->replot();
    plot->replot();  // the ticks follow the axis length of the last layout
    QCPAxis* axis = plot->xAxis;
    const QFontMetrics metrics(axis->tickLabelFont());
    int used = 0;
    for (const QString& label : axis->tickVectorLabels()) used += metrics.horizontalAdvance(label);
    QVERIFY2(axis->tickVectorLabels().size() >= 2, qPrintable(QString::number(width)));
    QVERIFY2(used + 4 * (axis->tickVectorLabels().size() - 1) <= axis->axisRect()->width(),
             qPrintable(QStringLiteral("%1 px: %2")
                            .arg(width)
                            .arg(axis->tickVectorLabels().join(QLatin1Char(' ')))));
  }

  const QFont font;
  const QFontMetrics metrics(font);
  const QString first =
      QStringLiteral("532 groups; each QC corrected by its batch's fit without it");
  const QString second = QStringLiteral("beyond the axis: 0 before, 6 after");
  const int width = metrics.horizontalAdvance(first) - 1;
  const QStringList lines = Wrap_To_Width(first + '\n' + second, font, width).split('\n');
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[2], second);
  QCOMPARE(lines[0] + ' ' + lines[1], first);
  // A text that fits is kept as it is, its line breaks too.
  QCOMPARE(Wrap_To_Width(QStringLiteral("a\n\nb"), font, 500), QStringLiteral("a\n\nb"));
}

QTEST_MAIN(Quality_Report_Test)
#include "quality_report_qtest.moc"
