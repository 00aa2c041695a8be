#include "ui/result_find.h"

#include <cmath>
#include <limits>

#include "storage/aligned_table.h"
#include "ui/align_tab.h"
#include "ui/align_table_model.h"

namespace Varnel {

namespace {

int Column_Of(Find_Key key) {
  switch (key) {
    case Find_Key::kAlign_ID:
      return kCol_Align_ID;
    case Find_Key::kCompound_MolecularMass:
      return kCol_Compound_MolecularMass;
    case Find_Key::kCompound_Retention_Time:
      return kCol_Compound_Retention_Time;
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

}  // namespace

QString Find_Key_Name(Find_Key key) {
  switch (key) {
    case Find_Key::kAlign_ID:
      return QStringLiteral("Align_ID");
    case Find_Key::kCompound_MolecularMass:
      return QStringLiteral("Compound_MolecularMass");
    case Find_Key::kCompound_Retention_Time:
      return QStringLiteral("Compound_Retention_Time");
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
  for (int row = 0; row < rows; ++row) {
    const std::optional<double> value = Number_Cell(table, model.Source_Row(row), column);
    if (!value || std::isnan(*value)) continue;
    const double distance = std::fabs(*value - *target);
    if (request.key == Find_Key::kAlign_ID) {
      if (distance == 0.0) {
        outcome.row = row;
        return outcome;
      }
    } else if (distance < best) {
      best = distance;
      outcome.row = row;
    }
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
