#include "tests/ui/support/align_study.h"

#include <sqlite3.h>

#include <QFile>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <string>

namespace Varnel::Test {
namespace {

// Stored form of a point text made of digits, '.', '-' and ',': the offset
// byte 1, then every byte lowered by one; "x" for no points.
std::string Encode_Digits_Only(const std::string& text) {
  if (text.empty()) return "x";
  std::string stored(1, '\x01');
  for (char c : text) stored.push_back(static_cast<char>(c - 1));
  return stored;
}

std::string Shape_Text(double apex_rt, double mz, double height, unsigned first_scan) {
  std::string text;
  char field[64];
  for (int i = 0; i < 5; ++i) {
    const double offset = i - 2;
    const double intensity = height * std::exp(-offset * offset / 2.0);
    std::snprintf(field, sizeof field, "%s%f,%f,%f,%u", text.empty() ? "" : ",", intensity, mz,
                  apex_rt + offset, first_scan + static_cast<unsigned>(i));
    text += field;
  }
  return text;
}

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "tiny study: %s\n", error != nullptr ? error : "?");
    sqlite3_free(error);
    return false;
  }
  return true;
}

}  // namespace

bool Write_Tiny_Annotated_Database(const QString& path, double rt_shift) {
  QFile::remove(path);
  sqlite3* db = nullptr;
  const QByteArray file = path.toLocal8Bit();
  if (sqlite3_open(file.constData(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "tiny study: cannot open %s\n", file.constData());
    sqlite3_close(db);
    return false;
  }
  bool ok = Exec(db,
                 "CREATE TABLE Annotate_Peaklist (Peak_shape blob, EIC_ID integer, Peak_ID "
                 "integer, Apex_MZ real, Apex_Pos integer, Apex_Retention_Time real, "
                 "Apex_Intensity real, Peak_Area real, Peak_SNR real, Left_Boundary integer, "
                 "Right_Boundary integer, Group_ID integer, Adduct_Annotation text, Compound_ID "
                 "integer, Compound_MolecularMass real, Compound_Retention_Time real, "
                 "Compound_Intensity real)") &&
            Exec(db, "BEGIN");
  for (unsigned k = 1; ok && k <= 3; ++k) {
    const double mass = 50.0 + 100.0 * k;
    const double mz = mass + 1.007276;
    const double rt = 60.0 * k + rt_shift;
    const double height = 1000.0 * k;
    const unsigned apex_scan = 100 * k;
    const std::string shape = Encode_Digits_Only(Shape_Text(rt, mz, height, apex_scan - 2));
    char* sql = sqlite3_mprintf(
        "INSERT INTO Annotate_Peaklist VALUES (%Q, %u, %u, %f, %u, %f, %f, %f, %f, %u, %u, %u, "
        "'[M+H]+', %u, %f, %f, %f)",
        shape.c_str(), k, 1u, mz, apex_scan, rt, height, height * 3.0, 50.0, apex_scan - 2,
        apex_scan + 2, k, k, mass, rt, height);
    ok = Exec(db, sql);
    sqlite3_free(sql);
  }
  ok = ok && Exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
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
