// The quality report and window on the offscreen platform: the files of a
// report, refusals that leave nothing half-written, varnel-report's exit
// status and message, and the window's charts and saving.
#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTabWidget>
#include <QtTest>
#include <filesystem>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/quality_study.h"
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
  void refusalsNameTheFileAndLeaveNothing_data();
  void refusalsNameTheFileAndLeaveNothing();
  void programExitStatus();
  void windowShowsTheChartsAndSavesWide();
  void windowRefusesABadResultWithAMessage();
};

void Quality_Report_Test::tinyResultGivesPageAndSharpPictures() {
  Temp_Folder folder;
  const std::string result = Tiny_Result(folder.path());
  const std::string out = Join_Path(folder.path(), "report");
  QCOMPARE(Report_Refusal(result, out), QString());

  const QStringList expected = {"index.html",
                                "intensity_cv.png",
                                "mass_by_sample.png",
                                "mass_deviation.png",
                                "peaks_per_sample.png",
                                "rt_deviation_after.png",
                                "rt_deviation_before.png",
                                "rt_outliers.png",
                                "samples_per_group.png"};
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
  QCOMPARE(QDir(Q(out)).entryList(QDir::Files).size(), 8);  // seven charts and the page
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
  QCOMPARE(window->Tabs()->count(), 6);
  for (const char* id :
       {"rt_deviation_before", "rt_deviation_after", "rt_outliers", "mass_deviation",
        "mass_by_sample", "samples_per_group", "peaks_per_sample", "intensity_cv"})
    QVERIFY2(window->Chart(QString::fromLatin1(id)) != nullptr, id);

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

QTEST_MAIN(Quality_Report_Test)
#include "quality_report_qtest.moc"
