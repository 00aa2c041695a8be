// Test helpers for the alignment tab: tiny annotated databases written
// straight through SQLite, and a reader for the result CSV.
#ifndef VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_
#define VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace Varnel::Test {

// Writes an annotated database at `path` holding the same three compounds
// (masses 150, 250 and 350 Da at 60, 120 and 180 s, five-point Gaussian-like
// shapes), their retention times moved by `rt_shift` seconds. Replaces any
// file there. Returns false (after printing why) when SQLite fails.
bool Write_Tiny_Annotated_Database(const QString& path, double rt_shift = 0.0);

// The values of column `column` of the CSV file at `path`, one per data line
// (plain comma-separated fields, no quoting). std::nullopt when the file
// cannot be read or has no such column.
std::optional<QStringList> Read_Csv_Column(const QString& path, const QString& column);

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_
