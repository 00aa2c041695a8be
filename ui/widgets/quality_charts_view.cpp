#include "ui/widgets/quality_charts_view.h"

#include <qcustomplot.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <memory>

#include "ui/widgets/plain_ticker.h"

namespace Varnel {

namespace {

constexpr int kValueTicks = 6;
constexpr int kLegendColumns = 3;
constexpr int kCategoryLabelGap = 3;       // pixels between two category labels
constexpr int kFallbackFramePixels = 200;  // title, legend, axis title: a guess
constexpr int kMinAxisPixels = 50;

// Labels of integer positions 0..n-1; every k-th only, with k as small as
// lets the labels stand apart at the axis's current length and zoom.
class Category_Ticker : public QCPAxisTicker {
 public:
  Category_Ticker(QStringList labels, QCPAxis* axis) : labels_(std::move(labels)), axis_(axis) {}

 protected:
  // Ticks are made before the layout of a replot, from the axis length of the
  // last one; the plot's size change since then is added, since everything
  // around the axes keeps its size.
  double getTickStep(const QCPRange& range) override {
    const bool vertical = axis_->orientation() == Qt::Vertical;
    const QRect view = axis_->parentPlot()->viewport();
    const QRect rect = axis_->axisRect()->rect();
    const int view_pixels = vertical ? view.height() : view.width();
    const int rect_pixels = vertical ? rect.height() : rect.width();
    int pixels = last_view_pixels_ > 0 && rect_pixels > 0
                     ? rect_pixels + (view_pixels - last_view_pixels_)
                     : view_pixels - kFallbackFramePixels;
    last_view_pixels_ = view_pixels;
    pixels = std::max(pixels, kMinAxisPixels);
    const QFontMetrics metrics(axis_->tickLabelFont());
    int label = metrics.height();
    if (!vertical)
      for (const QString& l : labels_) label = std::max(label, metrics.horizontalAdvance(l));
    const double fits = std::max(1.0, static_cast<double>(pixels) / (label + kCategoryLabelGap));
    return std::max(1.0, std::ceil(range.size() / fits));
  }
  int getSubTickCount(double) override { return 0; }

 public:
  int Widest(const QFontMetrics& metrics) const {
    int widest = 0;
    for (const QString& l : labels_) widest = std::max(widest, metrics.horizontalAdvance(l));
    return widest;
  }

 protected:
  // Counted down from the last label, so the top entry (the largest value
  // of a sorted chart) always keeps its name.
  QVector<double> createTickVector(double step, const QCPRange& range) override {
    QVector<double> ticks;
    const auto k = static_cast<long long>(step);
    const long long top = static_cast<long long>(labels_.size()) - 1;
    for (long long t = top; t >= 0; t -= k) {
      if (static_cast<double>(t) > range.upper) continue;
      if (static_cast<double>(t) < range.lower) break;
      ticks.prepend(static_cast<double>(t));
    }
    return ticks;
  }
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    const auto i = std::llround(tick);
    return i >= 0 && i < labels_.size() ? labels_[static_cast<qsizetype>(i)] : QString();
  }

 private:
  QStringList labels_;
  QCPAxis* axis_;
  int last_view_pixels_ = 0;
};

constexpr int kTextSideRoom = 16;  // pixels kept free beside a wrapped title or note
constexpr char kFullTextProperty[] = "varnel_full_text";

// Fits the texts above the axes to the plot's width: titles and notes wrap
// onto more lines, the legend takes as many columns (up to kLegendColumns)
// as its widest entry allows. Called before every layout of a new size.
void Fit_Texts_To_Width(QCustomPlot* plot, int width, int height) {
  QCPLayoutGrid* layout = plot->plotLayout();
  for (int i = 0; i < layout->elementCount(); ++i) {
    auto* text = qobject_cast<QCPTextElement*>(layout->elementAt(i));
    if (text == nullptr) continue;
    QVariant full = text->property(kFullTextProperty);
    if (!full.isValid()) {
      full = text->text();
      text->setProperty(kFullTextProperty, full);
    }
    text->setText(Wrap_To_Width(full.toString(), text->font(), width - kTextSideRoom));
  }
  // Axis titles wrap too: the x title within the plot's width, the y title
  // within its height less the room above the axes.
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
    QVariant full = axis->property(kFullTextProperty);
    if (!full.isValid()) {
      full = axis->label();
      axis->setProperty(kFullTextProperty, full);
    }
    // The room the other axis's tick labels take: the axis rect's margin once
    // laid out, else the widest label a category axis holds.
    const bool horizontal = axis->orientation() == Qt::Horizontal;
    QCPAxis* other = horizontal ? plot->yAxis : plot->xAxis;
    int taken = horizontal ? axis->axisRect()->margins().left() : 0;
    if (horizontal && taken == 0) {
      taken = 70;
      if (auto* ticker = dynamic_cast<Category_Ticker*>(other->ticker().data()))
        taken = ticker->Widest(QFontMetrics(other->tickLabelFont())) + 40;
    }
    const int length = horizontal ? width - taken - 20 : height - 120;
    axis->setLabel(Wrap_To_Width(full.toString(), axis->labelFont(), length));
  }
  QCPLegend* legend = plot->legend;
  if (legend->visible() && legend->itemCount() > 0) {
    int widest = 1;
    for (int i = 0; i < legend->itemCount(); ++i) {
      if (QCPAbstractLegendItem* item = legend->item(i))
        widest = std::max(widest, item->minimumOuterSizeHint().width() + legend->columnSpacing());
    }
    const int room = width - legend->margins().left() - legend->margins().right();
    const int columns = std::clamp(room / widest, 1, kLegendColumns);
    if (legend->wrap() != columns) {
      legend->setWrap(columns);
      legend->setFillOrder(QCPLayoutGrid::foColumnsFirst, true);
    }
  }
}

// Re-fits the texts whenever the plot is resized, before it lays itself out.
class Text_Fitter : public QObject {
 public:
  explicit Text_Fitter(QCustomPlot* plot) : QObject(plot), plot_(plot) {
    plot->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == plot_ && event->type() == QEvent::Resize)
      Fit_Texts_To_Width(plot_, static_cast<QResizeEvent*>(event)->size().width(),
                         static_cast<QResizeEvent*>(event)->size().height());
    return false;
  }

 private:
  QCustomPlot* plot_;
};

// The category and value of the bar or box under pos, for its tooltip;
// empty when there is none.
QString Bar_Tip(QCustomPlot* plot, const Quality_Chart& chart, const QPoint& pos) {
  QCPAbstractPlottable* under = plot->plottableAt(pos, true);
  if (under == nullptr) return {};
  auto* bars = qobject_cast<QCPBars*>(under);
  auto* boxes = qobject_cast<QCPStatisticalBox*>(under);
  if (bars == nullptr && boxes == nullptr) return {};
  QCPAxis* key_axis = under->keyAxis();
  const double key = key_axis->orientation() == Qt::Horizontal ? key_axis->pixelToCoord(pos.x())
                                                               : key_axis->pixelToCoord(pos.y());
  const QLocale english(QLocale::English);
  const auto number = [&](double v) { return english.toString(v, 'g', 6); };
  QString what;
  double at = 0.0;
  if (bars != nullptr) {
    const double width = bars->width();
    auto it = bars->data()->findBegin(key - width / 2.0, false);
    if (it == bars->data()->constEnd() || std::abs(it->key - key) > width / 2.0) return {};
    at = it->key;
    what = number(it->value);
  } else {
    const double width = boxes->width();
    auto it = boxes->data()->findBegin(key - width / 2.0, false);
    if (it == boxes->data()->constEnd() || std::abs(it->key - key) > width / 2.0) return {};
    at = it->key;
    what = QStringLiteral("median %1 (quartiles %2 to %3)")
               .arg(number(it->median), number(it->lowerQuartile), number(it->upperQuartile));
  }
  QString name;
  if (!chart.categories.isEmpty()) {
    const auto i = std::llround(at);
    if (i >= 0 && i < chart.categories.size()) name = chart.categories[static_cast<qsizetype>(i)];
  } else {
    name = number(at);
  }
  QString tip = name + QStringLiteral(": ") + what;
  if (!under->name().isEmpty()) tip += QStringLiteral(" (") + under->name() + QLatin1Char(')');
  return tip;
}

void Apply_Ranges(QCustomPlot* plot, const Quality_Chart& chart) {
  plot->xAxis->setRange(chart.x_low, chart.x_high);
  plot->yAxis->setRange(chart.y_low, chart.y_high);
}

void Add_Series(QCustomPlot* plot, const Quality_Chart& chart, const Quality_Series& s) {
  QCPAxis* key_axis = plot->xAxis;
  QCPAxis* value_axis = plot->yAxis;
  if (s.kind == Quality_Series_Kind::kBars && chart.horizontal) std::swap(key_axis, value_axis);
  QCPAbstractPlottable* plottable = nullptr;
  if (s.kind == Quality_Series_Kind::kBoxes) {
    if (chart.horizontal) std::swap(key_axis, value_axis);
    auto* boxes = new QCPStatisticalBox(key_axis, value_axis);
    boxes->setWidth(s.bar_width);
    boxes->setWhiskerWidth(s.bar_width * 0.4);
    QColor fill = s.color;
    fill.setAlpha(110);
    boxes->setBrush(fill);
    boxes->setPen(QPen(s.color.darker(140), 1.0));
    boxes->setMedianPen(QPen(s.color.darker(200), 2.0));
    boxes->setOutlierStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    for (qsizetype i = 0; i < s.key.size(); ++i)
      boxes->addData(s.key[i], s.low[i], s.q1[i], s.value[i], s.q3[i], s.high[i]);
    plottable = boxes;
  } else if (s.kind == Quality_Series_Kind::kBars) {
    auto* bars = new QCPBars(key_axis, value_axis);
    bars->setWidth(s.bar_width);
    bars->setPen(Qt::NoPen);
    bars->setBrush(s.color);
    bars->setData(QVector<double>(s.key.begin(), s.key.end()),
                  QVector<double>(s.value.begin(), s.value.end()), true);
    plottable = bars;
  } else {
    // A curve, so that lines may go back in x (the median marker is vertical).
    auto* curve = new QCPCurve(key_axis, value_axis);
    curve->setData(QVector<double>(s.key.begin(), s.key.end()),
                   QVector<double>(s.value.begin(), s.value.end()));
    if (s.kind == Quality_Series_Kind::kScatter) {
      curve->setLineStyle(QCPCurve::lsNone);
      curve->setScatterStyle(
          s.marker == Quality_Marker::kCircle
              ? QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(s.color, 1.5), Qt::NoBrush, s.size)
              : QCPScatterStyle(QCPScatterStyle::ssDisc, s.color, s.color, s.size));
      curve->setPen(QPen(s.color));
    } else {
      curve->setPen(QPen(s.color, s.size, s.dashed ? Qt::DashLine : Qt::SolidLine));
    }
    plottable = curve;
  }
  plottable->setName(s.name);
  plottable->setAntialiased(true);
  if (s.name.isEmpty()) plottable->removeFromLegend();
}

void Show_Menu(QCustomPlot* plot, const Quality_Chart& chart, const Quality_Save_Dialog& dialog,
               const QPoint& pos) {
  auto* menu = new QMenu(plot);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  const QString id = chart.id;
  auto save = [plot, dialog, id](const QString& suffix) {
    QString path = dialog(plot, id + QLatin1Char('.') + suffix);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + suffix;
    if (!Save_Quality_Plot(plot, path))
      QMessageBox::warning(plot, QString(), QStringLiteral("Cannot write %1").arg(path));
  };
  menu->addAction(QStringLiteral("Save as PNG..."), plot, [save] { save(QStringLiteral("png")); });
  menu->addAction(QStringLiteral("Save as PDF..."), plot, [save] { save(QStringLiteral("pdf")); });
  menu->addSeparator();
  const Quality_Chart ranges = [&] {
    Quality_Chart r;
    r.x_low = chart.x_low;
    r.x_high = chart.x_high;
    r.y_low = chart.y_low;
    r.y_high = chart.y_high;
    return r;
  }();
  menu->addAction(QStringLiteral("Reset View"), plot, [plot, ranges] {
    Apply_Ranges(plot, ranges);
    plot->replot();
  });
  menu->popup(plot->mapToGlobal(pos));
}

}  // namespace

QString Wrap_To_Width(const QString& text, const QFont& font, int width) {
  const QFontMetrics metrics(font);
  if (width <= 0) return text;
  QStringList lines;
  QString line;
  const auto flush = [&] {
    if (!line.isEmpty()) lines << line;
    line.clear();
  };
  // Each line of its own (a note's "\n") wraps by itself.
  for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
    if (metrics.horizontalAdvance(paragraph) <= width) {
      lines << paragraph;
      continue;
    }
    for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
      if (metrics.horizontalAdvance(joined) <= width) {
        line = joined;
        continue;
      }
      flush();
      QString rest = word;
      while (metrics.horizontalAdvance(rest) > width && rest.size() > 1) {
        qsizetype fit = 1;
        while (fit < rest.size() && metrics.horizontalAdvance(rest.left(fit + 1)) <= width) ++fit;
        lines << rest.left(fit);
        rest = rest.mid(fit);
      }
      line = rest;
    }
    flush();
  }
  return lines.join(QLatin1Char('\n'));
}

Quality_Save_Dialog Default_Quality_Save_Dialog() {
  return [](QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Chart"), suggested,
                                        QStringLiteral("PNG image (*.png);;PDF document (*.pdf)"));
  };
}

QCustomPlot* Make_Quality_Plot(const Quality_Chart& chart, QWidget* parent,
                               Quality_Save_Dialog save_dialog) {
  auto* plot = new QCustomPlot(parent);
  plot->setObjectName(chart.id);
  plot->setMinimumSize(260, 240);

  // Layout, top down: title, note, legend, axes. Nothing is drawn over the data.
  QCPLayoutGrid* layout = plot->plotLayout();
  QCPAxisRect* rect = plot->axisRect();
  layout->take(rect);
  layout->simplify();
  QFont title_font = plot->font();
  title_font.setBold(true);
  title_font.setPointSizeF(title_font.pointSizeF() + 2.0);
  int row = 0;
  layout->addElement(row++, 0, new QCPTextElement(plot, chart.title, title_font));
  if (!chart.note.isEmpty()) {
    auto* note = new QCPTextElement(plot, chart.note, plot->font());
    note->setTextColor(QColor(80, 80, 80));
    layout->addElement(row++, 0, note);
  }
  bool has_legend = false;
  for (const Quality_Series& s : chart.series) has_legend = has_legend || !s.name.isEmpty();
  if (has_legend) {
    rect->insetLayout()->take(plot->legend);
    layout->addElement(row++, 0, plot->legend);
    plot->legend->setVisible(true);
    plot->legend->setBorderPen(Qt::NoPen);
    plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot->legend->setWrap(kLegendColumns);
    plot->legend->setMargins(QMargins(8, 0, 8, 4));
  } else {
    plot->legend->setVisible(false);
  }
  layout->addElement(row, 0, rect);
  for (int r = 0; r < row; ++r) layout->setRowStretchFactor(r, 0.001);
  layout->setRowSpacing(0);

  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
    axis->grid()->setVisible(true);
    axis->grid()->setSubGridVisible(false);
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new Plain_Ticker(axis)));
    axis->ticker()->setTickCount(kValueTicks);
  }
  if (!chart.categories.isEmpty()) {
    QCPAxis* axis = chart.horizontal ? plot->yAxis : plot->xAxis;
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new Category_Ticker(chart.categories, axis)));
    axis->grid()->setVisible(false);
  }
  plot->xAxis->setLabel(chart.x_title);
  plot->yAxis->setLabel(chart.y_title);

  for (const Quality_Series& s : chart.series) Add_Series(plot, chart, s);
  Apply_Ranges(plot, chart);

  new Text_Fitter(plot);
  Fit_Texts_To_Width(plot, plot->width(), plot->height());
  // Every bar and box names its sample (or bin) and value when hovered, also
  // where the axis names only some of them.
  plot->setMouseTracking(true);
  QObject::connect(plot, &QCustomPlot::mouseMove, plot, [plot, chart](QMouseEvent* event) {
    const QString tip = Bar_Tip(plot, chart, event->pos());
    if (tip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(event->globalPosition().toPoint(), tip, plot);
    }
  });

  plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  const double x_low = chart.x_low, x_high = chart.x_high;
  const double y_low = chart.y_low, y_high = chart.y_high;
  QObject::connect(plot, &QCustomPlot::mouseDoubleClick, plot, [=](QMouseEvent*) {
    plot->xAxis->setRange(x_low, x_high);
    plot->yAxis->setRange(y_low, y_high);
    plot->replot();
  });
  if (save_dialog) {
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(plot, &QWidget::customContextMenuRequested, plot,
                     [plot, chart, save_dialog](const QPoint& pos) {
                       Show_Menu(plot, chart, save_dialog, pos);
                     });
  }
  return plot;
}

bool Save_Quality_Plot(QCustomPlot* plot, const QString& path) {
  const int width = std::max(plot->width(), 1);
  const int height = std::max(plot->height(), 1);
  if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0)
    return plot->savePdf(path, width, height);
  const double scale = std::max(1.0, static_cast<double>(kMinSavedWidth) / width);
  return plot->savePng(path, width, height, scale);
}

bool Render_Quality_Png(const Quality_Chart& chart, const QString& path, int width, double scale) {
  width = std::max(width, kMinSavedWidth);
  scale = std::max(scale, 1.0);
  std::unique_ptr<QCustomPlot> plot(Make_Quality_Plot(chart, nullptr));
  const int logical_width = static_cast<int>(std::ceil(width / scale));
  const int logical_height = static_cast<int>(
      std::ceil(chart.preferred_height * (width / double(kMinSavedWidth)) / scale));
  // A hidden widget gets its resize event only when shown: set the viewport.
  plot->resize(logical_width, logical_height);
  plot->setViewport(QRect(0, 0, logical_width, logical_height));
  Fit_Texts_To_Width(plot.get(), logical_width, logical_height);
  plot->replot();  // lays out the axes, so that category labels thin for this size
  if (!chart.categories.isEmpty()) plot->replot();
  return plot->savePng(path, logical_width, logical_height, scale);
}

}  // namespace Varnel
