// The chart helpers on a bare QCustomPlot, offscreen.
#include <qcustomplot.h>

#include <QtTest>

#include "ui/widgets/viz_chart.h"

using namespace Varnel;

namespace {

Chart_Content Content(int curves, double height) {
  Chart_Content content;
  content.title = "T";
  content.x_title = "X";
  content.y_title = "Y";
  for (int i = 0; i < curves; ++i) {
    Curve curve;
    curve.label = QStringLiteral("Sample %1").arg(i);
    curve.x = {1000.0, 1001.0, 1002.0};
    curve.y = {0.0, height, 0.0};
    curve.color = QColor(0, 0, 255);
    content.curves.push_back(curve);
  }
  return content;
}

}  // namespace

class VizChartTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    plot_ = std::make_unique<QCustomPlot>();
    plot_->resize(474, 213);
    Setup_Chart(plot_.get());
  }

  void drawsTitlesCurvesAndFitsTheAxes() {
    Draw_Chart(plot_.get(), Content(3, 5e6));
    QCOMPARE(Chart_Title(plot_.get())->text(), QString("T"));
    QCOMPARE(plot_->plottableCount(), 3);
    QVERIFY(plot_->yAxis->range().contains(5e6));
    QVERIFY(plot_->xAxis->range().contains(1000.0));
    QVERIFY(plot_->xAxis->grid()->visible() && plot_->yAxis->grid()->visible());
    plot_->replot();
    // Plain numbers: no exponent, no power-of-ten factor, no group separator.
    for (const QString& label : plot_->yAxis->tickVectorLabels()) {
      QVERIFY2(!label.contains('e') && !label.contains(QChar(0xB7)) && !label.contains(','),
               qPrintable(label));
    }
    QVERIFY(plot_->yAxis->tickVectorLabels().contains("5000000"));
    // A new drawing starts from nothing.
    Draw_Chart(plot_.get(), Content(1, 1.0));
    QCOMPARE(plot_->plottableCount(), 1);
    QCOMPARE(plot_->legend->itemCount(), 1);
    QVERIFY(plot_->yAxis->range().upper < 2.0);
  }

  void halfStepsShowTheirDecimal() {
    Chart_Content content = Content(1, 10.0);
    content.curves[0].x = {1077.3, 1080.0, 1092.6};
    Draw_Chart(plot_.get(), content);
    plot_->replot();
    const QVector<double> ticks = plot_->xAxis->tickVector();
    const QVector<QString> labels = plot_->xAxis->tickVectorLabels();
    for (int i = 0; i < ticks.size(); ++i)
      QCOMPARE(labels[i].toDouble(), ticks[i]);  // 1082.5 is not shown as 1083
  }

  void manySamplesKeepTheLegendBesideTheCurves() {
    Draw_Chart(plot_.get(), Content(60, 10.0));
    QCOMPARE(plot_->plottableCount(), 60);
    const int items = plot_->legend->itemCount();
    QVERIFY(items < 60);
    QVERIFY(items >= 4);
    plot_->replot();
    QVERIFY(plot_->axisRect()->width() > plot_->width() / 2);
  }

  void clearUndoesTheZoom() {
    Draw_Chart(plot_.get(), Content(2, 10.0));
    plot_->xAxis->setRange(1000.2, 1000.3);
    Refit_Chart(plot_.get());
    QVERIFY(plot_->xAxis->range().contains(1002.0));
    Clear_Chart(plot_.get());
    QCOMPARE(plot_->plottableCount(), 0);
    QCOMPARE(plot_->legend->itemCount(), 0);
  }

 private:
  std::unique_ptr<QCustomPlot> plot_;
};

QTEST_MAIN(VizChartTest)
#include "viz_chart_qtest.moc"
