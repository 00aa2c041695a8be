#include "ui/result_export_ui.h"

#include <QFileInfo>
#include <QStringList>

#include "storage/aligned_result.h"

namespace Varnel {

QString Export_Dialog_Filter() {
  QStringList filters;
  for (const Export_Format_Info& f : kExportFormats) {
    filters << QString::fromStdString(Export_File_Filter(f));
  }
  return filters.join(QStringLiteral(";;"));
}

std::optional<Export_Format> Export_Format_Of_Filter(const QString& filter) {
  for (const Export_Format_Info& f : kExportFormats) {
    if (filter == QString::fromStdString(Export_File_Filter(f))) return f.format;
  }
  return std::nullopt;
}

QString Export_Filter_Of(Export_Format format) {
  return QString::fromStdString(Export_File_Filter(Format_Info(format)));
}

QString Sample_Sheet_Dialog_Filter() { return QStringLiteral("Sample sheet (*.csv)"); }

bool Export_Needs_Sample_Sheet(Export_Format format) {
  return Format_Info(format).sample_sheet == Sheet_Use::kRequired;
}

QString Default_Export_File_Name(const QString& result_file_name, Export_Format format) {
  return QFileInfo(result_file_name).completeBaseName() +
         QString::fromLatin1(Format_Info(format).file_suffix);
}

std::string Run_Details_Text(const std::string& result_path) {
  const std::optional<Run_Record> record = Aligned_Result(result_path).Read_Run_Record();
  if (!record) {
    return "This result holds no record of its run: it was aligned without recording the run.\n";
  }
  return Format_Run_Record(*record);
}

}  // namespace Varnel
