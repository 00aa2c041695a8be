// Axis tick labels as plain numbers, shared by every chart of the window and
// of the report.
#ifndef VARNEL_UI_WIDGETS_PLAIN_TICKER_H_
#define VARNEL_UI_WIDGETS_PLAIN_TICKER_H_

#include <qcustomplot.h>

#include <QLocale>
#include <QString>
#include <cmath>

namespace Varnel {

// Tick labels with as many decimals as the tick step needs (2.5 needs one, at
// most six), never with a power-of-ten factor, never in exponent form, and
// without group separators.
class Plain_Ticker : public QCPAxisTicker {
 protected:
  double getTickStep(const QCPRange& range) override {
    step_ = QCPAxisTicker::getTickStep(range);
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
  double step_ = 1.0;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_PLAIN_TICKER_H_
