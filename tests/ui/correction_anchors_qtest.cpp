// The correction's anchors in the real window, offscreen: a corrected result
// opened in the visualization tab, its "Alignment quality..." window draws
// every stored anchor in the correction chart, the named samples' as open
// circles; a result whose anchor table is broken is refused with a message
// naming the file.
#include <qcustomplot.h>

#include <QAction>
#include <QtTest>
#include <memory>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/quality_study.h"
#include "tests/ui/support/window_test.h"
#include "ui/quality_charts.h"
#include "ui/quality_data.h"
#include "ui/widgets/quality_window.h"

using namespace Varnel;

class CorrectionAnchorsTest : public Varnel::Test::Window_Test {
  Q_OBJECT

 private:
  std::unique_ptr<Temp_Folder> dir_;
  Test::Quality_Study_Plan plan_;

  // Opens the result in the visualization tab, then its quality window.
  Quality_Window* Open_Quality(const std::string& path) {
    dialogs_->answers.push_back(QStringList{QString::fromStdString(path)});
    ui_.button_Align_File_Browse->click();
    for (QAction* action : ui_.dataGridView_Align_Peaklist_Table->actions())
      if (action->text() == QLatin1String("Alignment quality...")) action->trigger();
    return form_->findChild<Quality_Window*>();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<Temp_Folder>();
    plan_.samples = 8;
    plan_.compounds = 150;
    plan_.correction = true;
    plan_.anchors = true;
    Make_Window();
    ui_.tabControl1->setCurrentWidget(ui_.Tab_Align_Visualization);
    QVERIFY(Show_Window());
  }
  void cleanup() {
    form_.reset();
    dir_.reset();
  }

  void correctionChartDrawsEveryAnchor() {
    const std::string path = Test::Write_Quality_Study(plan_, dir_->path(), "study.aligndb", false);
    Quality_Window* window = Open_Quality(path);
    QVERIFY(window != nullptr);
    QTRY_VERIFY(window->Ready());
    QCustomPlot* plot = window->Chart(QStringLiteral("rt_correction"));
    QVERIFY(plot != nullptr);

    const Quality_Data data = Load_Quality_Data(path);
    std::size_t stored = 0;
    for (const Sample_Quality& s : data.samples) stored += s.anchors.size();
    QVERIFY(stored > 0);
    std::size_t points = 0, circles = 0;
    bool sparse_in_legend = false;
    const QString sparse = QString::fromStdString(data.samples[plan_.sparse_sample].name);
    for (int i = 0; i < plot->plottableCount(); ++i) {
      auto* curve = qobject_cast<QCPCurve*>(plot->plottable(i));
      if (curve == nullptr) continue;
      if (curve->name().startsWith(sparse + QStringLiteral(": "))) sparse_in_legend = true;
      if (curve->lineStyle() != QCPCurve::lsNone) continue;
      points += static_cast<std::size_t>(curve->dataCount());
      if (curve->scatterStyle().shape() == QCPScatterStyle::ssCircle) {
        ++circles;
        QCOMPARE(curve->scatterStyle().brush().style(), Qt::NoBrush);
      }
    }
    QCOMPARE(points, stored);
    QVERIFY(circles >= static_cast<std::size_t>(kNamedCorrections));
    QVERIFY(sparse_in_legend);
    window->close();
  }

  void brokenAnchorTableIsRefusedNamingTheFile() {
    const std::string path =
        Test::Write_Quality_Study(plan_, dir_->path(), "broken.aligndb", false);
    Exec_Sql(path, "insert into Align_RT_Anchor values (0, 'late', 1.0);");
    Open_Quality(path);
    QTRY_COMPARE(dialogs_->messages.size(), qsizetype{1});
    QVERIFY2(
        dialogs_->messages[0].contains(QString::fromStdString(path) +
                                       QStringLiteral(": cannot read the correction's anchors")),
        qPrintable(dialogs_->messages[0]));
  }
};

QTEST_MAIN(CorrectionAnchorsTest)
#include "correction_anchors_qtest.moc"
