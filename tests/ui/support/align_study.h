// Test helpers for the alignment tab.
#ifndef VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_
#define VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

namespace Varnel::Test {

// A QString path as the std::string the simulator and the engine take.
std::string To_Std(const QString& path);

// Join_Path on window text: `folder` + separator + `name`.
QString Join(const QString& folder, const QString& name);

// The values of column `column` of the CSV file at `path`, one per data line
// (plain comma-separated fields, no quoting). std::nullopt when the file
// cannot be read or has no such column.
std::optional<QStringList> Read_Csv_Column(const QString& path, const QString& column);

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_ALIGN_STUDY_H_
