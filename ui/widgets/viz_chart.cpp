#include "ui/widgets/viz_chart.h"

#include <qcustomplot.h>

#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "storage/path.h"
#include "ui/align_table_model.h"
#include "ui/text_codec.h"
#include "ui/viz_plot.h"
#include "ui/widgets/plain_ticker.h"

namespace Varnel {

namespace {

constexpr int kTicksPerAxis = 4;
constexpr int kMaxLegendColumns = 2;       // about; the charts are narrow
constexpr int kLegendReservedHeight = 70;  // pixels of title, axis and margins beside the legend
constexpr double kLineWidth = 1.5;

// A legend line of text alone.
class Text_Legend_Item : public QCPAbstractLegendItem {
 public:
  Text_Legend_Item(QCPLegend* legend, QString text)
      : QCPAbstractLegendItem(legend), text_(std::move(text)) {}

 protected:
  void draw(QCPPainter* painter) override {
    painter->setFont(mParentLegend->font());
    painter->setPen(QPen(mParentLegend->textColor()));
    painter->drawText(mRect, Qt::AlignLeft | Qt::AlignVCenter, text_);
  }
  QSize minimumOuterSizeHint() const override {
    const QFontMetrics metrics(mParentLegend->font());
    return QSize(metrics.horizontalAdvance(text_) + mMargins.left() + mMargins.right(),
                 metrics.height() + mMargins.top() + mMargins.bottom());
  }

 private:
  QString text_;
};

void Set_Up_Axis(QCPAxis* axis) {
  axis->grid()->setVisible(true);
  axis->grid()->setSubGridVisible(false);
  QSharedPointer<QCPAxisTicker> ticker(new Plain_Ticker);
  ticker->setTickCount(kTicksPerAxis);
  axis->setTicker(ticker);
}

bool Save_Png(QCustomPlot* plot, const QString& path) {
  constexpr int kScreenDpi = 96;
  const int width = std::max(1, plot->width());
  const int scale = std::max(1, (kMinSavedPngWidth + width - 1) / width);
  // The resolution tag keeps the printed size that of the chart on screen.
  return plot->savePng(path, 0, 0, scale, -1, kScreenDpi * scale);
}

}  // namespace

void Setup_Chart(QCustomPlot* plot) {
  // Layout: the title across the whole width, below it the curves with the
  // legend in a narrow column on their right (never over the curves), at the
  // top of that column.
  QCPLayoutGrid* layout = plot->plotLayout();
  QCPAxisRect* rect = plot->axisRect();
  layout->take(rect);
  layout->simplify();
  QFont title_font = plot->font();
  title_font.setBold(true);
  auto* title = new QCPTextElement(plot, QString(), title_font);
  title->setObjectName(QStringLiteral("chart_title"));
  layout->addElement(0, 0, title);
  auto* body = new QCPLayoutGrid;
  layout->addElement(1, 0, body);
  layout->setRowSpacing(0);
  body->addElement(0, 0, rect);
  auto* side = new QCPLayoutGrid;
  body->addElement(0, 1, side);
  body->setColumnStretchFactor(1, 0.001);
  rect->insetLayout()->take(plot->legend);
  side->addElement(0, 0, plot->legend);
  side->addElement(1, 0, new QCPLayoutElement(plot));
  side->setRowStretchFactor(0, 0.001);
  side->setMargins(QMargins(0, 6, 4, 0));

  Set_Up_Axis(plot->xAxis);
  Set_Up_Axis(plot->yAxis);

  QFont legend_font = plot->font();
  legend_font.setPointSizeF(std::max(6.0, legend_font.pointSizeF() - 2.0));
  plot->legend->setFont(legend_font);
  plot->legend->setIconSize(16, 8);
  plot->legend->setVisible(true);
  plot->legend->setRowSpacing(0);
  plot->legend->setBorderPen(Qt::NoPen);
  plot->legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
  plot->legend->setLayer(QStringLiteral("legend"));

  plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  QObject::connect(plot, &QCustomPlot::mouseDoubleClick, plot,
                   [plot](QMouseEvent*) { Refit_Chart(plot); });
}

QCPTextElement* Chart_Title(QCustomPlot* plot) {
  if (plot->plotLayout()->rowCount() == 0) return nullptr;
  return qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0));
}

void Clear_Chart(QCustomPlot* plot) {
  plot->clearPlottables();
  plot->clearItems();
  plot->legend->clearItems();
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) axis->setTickLabels(true);
  if (QCPTextElement* title = Chart_Title(plot)) title->setText(QString());
  plot->xAxis->setLabel(QString());
  plot->yAxis->setLabel(QString());
  plot->xAxis->setRange(0.0, 1.0);  // undo any zoom
  plot->yAxis->setRange(0.0, 1.0);
}

void Draw_Chart(QCustomPlot* plot, const Chart_Content& content) {
  Clear_Chart(plot);
  if (QCPTextElement* title = Chart_Title(plot)) title->setText(content.title);
  plot->xAxis->setLabel(content.x_title);
  plot->yAxis->setLabel(content.y_title);

  // The legend fills as many rows as fit beside the curves, then a second
  // column; labels beyond two columns are summed up in a last line, so that
  // the curves keep their room however many samples there are.
  QCPLegend* legend = plot->legend;
  const int row_height = QFontMetrics(legend->font()).height() + 2;
  const int rows = std::max(2, (plot->height() - kLegendReservedHeight) / row_height);
  const int capacity = rows * kMaxLegendColumns;
  const auto labelled = std::count_if(content.curves.begin(), content.curves.end(),
                                      [](const Curve& c) { return !c.label.isEmpty(); });
  const int shown = labelled > capacity ? capacity - 1 : static_cast<int>(labelled);

  // QCPCurve keeps the points in the order given (a QCPGraph would sort them
  // by x): a shape is drawn point after point as stored.
  int listed = 0;
  for (const Curve& curve : content.curves) {
    auto* line = new QCPCurve(plot->xAxis, plot->yAxis);
    line->setPen(QPen(curve.color, kLineWidth));
    line->setLineStyle(QCPCurve::lsLine);
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    line->setData(curve.x, curve.y);
    line->setName(curve.label);
    if (curve.label.isEmpty() || listed == shown)
      line->removeFromLegend();
    else
      ++listed;
  }
  if (labelled > shown)
    legend->addItem(
        new Text_Legend_Item(legend, QStringLiteral("... %1 more").arg(labelled - shown)));
  legend->setWrap(rows);
  legend->setFillOrder(QCPLayoutGrid::foRowsFirst, true);
  legend->setVisible(legend->itemCount() > 0);
  Refit_Chart(plot);
}

void Refit_Chart(QCustomPlot* plot) {
  if (plot->plottableCount() > 0) plot->rescaleAxes();
  plot->replot();
}

bool Save_Chart(QCustomPlot* plot, const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("pdf")) return plot->savePdf(path);
  if (suffix == QLatin1String("png")) return Save_Png(plot, path);
  return Save_Png(plot, path + QStringLiteral(".png"));
}

void Draw_Row_Charts(QCustomPlot* aligned, QCustomPlot* detail, Align_Table_Model& model, int row,
                     const QString& folder, const QString& file, const Plot_Options& options,
                     const Rt_Shift_Curves* drift) {
  Clear_Chart(aligned);
  Clear_Chart(detail);
  model.Set_Highlight(std::nullopt);
  const std::string path = To_Engine_String(folder);
  const std::string name = To_Engine_String(file);
  const Row_Keys keys = Grid_Row_Keys(model, row, Join_Path(path, name));
  if (keys.Align_ID != 0) model.Set_Highlight(keys.Align_ID);
  const Redraw_Lists lists = Query_Redraw_Lists(path, name, keys, options.detail);
  Draw_Chart(aligned, Build_Aligned_Chart(lists.aligned, keys.align_id_text, options.x_axis,
                                          options.y_scale, drift));
  Draw_Chart(detail, Build_Detail_Chart(lists.detail, keys.sample_name, options, drift));
}

void Show_Chart_Hint(QCustomPlot* plot, const QString& hint) {
  Clear_Chart(plot);
  // The empty 0-1 axes would read as data: no numbers, the hint instead.
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) axis->setTickLabels(false);
  auto* text = new QCPItemText(plot);
  text->setObjectName(QStringLiteral("chart_Hint"));
  text->position->setType(QCPItemPosition::ptAxisRectRatio);
  text->position->setCoords(0.5, 0.5);
  text->setPositionAlignment(Qt::AlignCenter);
  text->setText(hint);
  text->setColor(QColor(110, 110, 110));
  text->setClipToAxisRect(false);
  plot->replot();
}

}  // namespace Varnel
