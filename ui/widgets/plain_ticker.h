// Axis tick labels as plain numbers, shared by every chart of the window and
// of the report.
#ifndef VARNEL_UI_WIDGETS_PLAIN_TICKER_H_
#define VARNEL_UI_WIDGETS_PLAIN_TICKER_H_

#include <qcustomplot.h>

#include <QFontMetrics>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cmath>

namespace Varnel {

// Tick labels with as many decimals as the tick step needs (2.5 needs one, at
// most six), never with a power-of-ten factor, never in exponent form, and
// without group separators. Given its horizontal axis, it takes fewer ticks
// when their labels would not stand apart at the axis's length
// ("0.9800.98250.985" on a narrow chart).
class Plain_Ticker : public QCPAxisTicker {
 public:
  Plain_Ticker() = default;
  explicit Plain_Ticker(QCPAxis* axis) : axis_(axis) {}

  // The widest tick label for `range` at `step`, in `metrics`.
  int Widest_Label(const QCPRange& range, double step, const QFontMetrics& metrics) {
    const double saved = step_;
    step_ = step;
    int widest = 0;
    for (double tick = std::ceil(range.lower / step) * step; tick <= range.upper + step * 1e-9;
         tick += step) {
      widest = std::max(widest, metrics.horizontalAdvance(getTickLabel(tick, QLocale(), {}, 0)));
    }
    step_ = saved;
    return widest;
  }

 protected:
  double getTickStep(const QCPRange& range) override {
    step_ = QCPAxisTicker::getTickStep(range);
    if (!axis_ || axis_->orientation() != Qt::Horizontal || range.size() <= 0) return step_;
    const int pixels = axis_->axisRect()->width();
    if (pixels <= 0) return step_;
    constexpr int kLabelGap = 12;  // pixels between two tick labels at least
    const QFontMetrics metrics(axis_->tickLabelFont());
    const int wanted = tickCount();
    for (int count = wanted - 1; count >= 2; --count) {
      const double ticks = std::floor(range.size() / step_) + 1.0;
      if (ticks * (Widest_Label(range, step_, metrics) + kLabelGap) <= pixels) break;
      setTickCount(count);
      step_ = QCPAxisTicker::getTickStep(range);
    }
    setTickCount(wanted);
    return step_;
  }
  QString getTickLabel(double tick, const QLocale& locale, QChar, int) override {
    constexpr int kMaxTickDecimals = 6;
    int decimals = 0;
    double scaled = step_;
    while (decimals < kMaxTickDecimals && std::abs(scaled - std::round(scaled)) > 1e-6 * scaled) {
      scaled *= 10.0;
      ++decimals;
    }
    if (std::abs(tick) < step_ * 1e-9) tick = 0.0;  // no "-0" from rounding noise
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    return plain.toString(tick, 'f', decimals);
  }

 private:
  QCPAxis* axis_ = nullptr;
  double step_ = 1.0;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_PLAIN_TICKER_H_
