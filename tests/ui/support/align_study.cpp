#include "tests/ui/support/align_study.h"

#include <QFile>
#include <QTextStream>

#include "storage/path.h"
#include "ui/text_codec.h"

namespace Varnel::Test {

std::string To_Std(const QString& path) { return To_Engine_String(path); }

QString Join(const QString& folder, const QString& name) {
  return From_Engine_String(Join_Path(To_Engine_String(folder), To_Engine_String(name)));
}

std::optional<QStringList> Read_Csv_Column(const QString& path, const QString& column) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
  QTextStream in(&file);
  const QStringList header = in.readLine().split(QLatin1Char(','));
  const qsizetype index = header.indexOf(column);
  if (index < 0) return std::nullopt;
  QStringList values;
  while (!in.atEnd()) {
    const QString line = in.readLine();
    if (line.isEmpty()) continue;
    const QStringList fields = line.split(QLatin1Char(','));
    if (index >= fields.size()) return std::nullopt;
    values.push_back(fields[index]);
  }
  return values;
}

}  // namespace Varnel::Test
