#include "ui/result_find.h"

#include <cmath>
#include <limits>

#include "ui/align_tab.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"

namespace Varnel {

namespace {

int Column_Of(Find_Key key) {
  switch (key) {
    case Find_Key::kAlign_ID:
      return kCol_Align_ID;
    case Find_Key::kCompound_MolecularMass:
      return kCol_Compound_MolecularMass;
    case Find_Key::kAlign_RT:
      return kCol_Align_RT;
  }
  return kCol_Align_ID;
}

// The number in a cell; nothing for NULL and text.
std::optional<double> Number_Cell(const Aligned_Table& table, std::size_t row, int column) {
  switch (table.Kind(row, column)) {
    case Cell_Kind::kInteger:
      return static_cast<double>(table.Integer(row, column));
    case Cell_Kind::kReal:
      return table.Real(row, column);
    default:
      return std::nullopt;
  }
}

// A distance with `decimals` decimals, trailing zeros dropped; one too small
// to show that way keeps 2 significant digits ("0.00042").
QString Distance_Text(double value, int decimals) {
  if (value > 0.0 && value < 0.5 * std::pow(10.0, -decimals)) return QString::number(value, 'g', 2);
  QString text = QString::number(value, 'f', decimals);
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  return text;
}

}  // namespace

QString Find_Key_Name(Find_Key key) {
  switch (key) {
    case Find_Key::kAlign_ID:
      return QStringLiteral("Align_ID");
    case Find_Key::kCompound_MolecularMass:
      return QStringLiteral("Compound_MolecularMass");
    case Find_Key::kAlign_RT:
      return QStringLiteral("Align_RT");
  }
  return QString();
}

Find_Outcome Find_Result_Row(const Align_Table_Model& model, const Find_Request& request,
                             const QLocale& locale) {
  Find_Outcome outcome;
  const QString name = Find_Key_Name(request.key);
  const std::optional<double> target = Read_Box_Number(request.text, locale);
  if (!target || (request.key == Find_Key::kAlign_ID && *target != std::floor(*target))) {
    outcome.message = QStringLiteral("Please enter a number to find in %1.").arg(name);
    return outcome;
  }
  const int rows = model.rowCount();
  if (rows == 0) {
    outcome.message = QStringLiteral("The result has no rows.");
    return outcome;
  }
  const Aligned_Table& table = model.Table();
  const int column = Column_Of(request.key);
  double best = std::numeric_limits<double>::infinity();
  double best_value = 0.0;
  for (int row = 0; row < rows; ++row) {
    const std::size_t source = model.Source_Row(row);
    const std::optional<double> value = Number_Cell(table, source, column);
    if (!value || std::isnan(*value)) continue;
    if (request.key == Find_Key::kAlign_RT && Number_Cell(table, source, kCol_Align_ID) == 0.0)
      continue;
    const double distance = std::fabs(*value - *target);
    if (request.key == Find_Key::kAlign_ID) {
      if (distance == 0.0) {
        outcome.row = row;
        return outcome;
      }
    } else if (distance < best) {
      best = distance;
      best_value = *value;
      outcome.row = row;
    }
  }
  if (outcome.row >= 0 && request.key != Find_Key::kAlign_ID) {
    const bool time = request.key == Find_Key::kAlign_RT;
    const QString unit = time ? QStringLiteral("s") : QStringLiteral("Da");
    const QString found = QString::number(best_value, 'g', 6);
    QString text = time ? QStringLiteral("Nearest time %1 s (Align_RT)").arg(found)
                        : QStringLiteral("Nearest mass %1").arg(found);
    text += best == 0.0
                ? QStringLiteral(", exactly")
                : QStringLiteral(", %1 %2 away").arg(Distance_Text(best, time ? 1 : 3), unit);
    outcome.distance = text;
  }
  if (outcome.row < 0) {
    outcome.message = request.key == Find_Key::kAlign_ID
                          ? QStringLiteral("No row has Align_ID %1.").arg(request.text.trimmed())
                          : QStringLiteral("No row has a number in %1.").arg(name);
  }
  return outcome;
}

QString Result_Row_Tip(const Align_Table_Model& model, int row) {
  struct Tip_Line {
    int column;
    const char* name;
  };
  static constexpr Tip_Line kLines[] = {
      {kCol_Align_ID, "Align_ID"},
      {kCol_Compound_MolecularMass, "Compound_MolecularMass"},
      {kCol_Compound_Retention_Time, "Compound_Retention_Time"},
      {kCol_Adduct_Annotation, "Adduct_Annotation"},
      {kCol_SAMPLE_NAME, "SAMPLE_NAME"},
  };
  QString tip;
  for (const Tip_Line& line : kLines) {
    if (!tip.isEmpty()) tip += QLatin1Char('\n');
    tip += QLatin1String(line.name) + QStringLiteral(": ") + model.Text_Cell(row, line.column);
  }
  return tip;
}

}  // namespace Varnel
