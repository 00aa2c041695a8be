#include "ui/result_export_ui.h"

#include <QFileInfo>
#include <QStringList>

#include "storage/aligned_result.h"

namespace Varnel {

namespace {

struct Format_Filter {
  Export_Format format;
  const char* filter;
  const char* suffix;  // appended to the result's base name
};

constexpr Format_Filter kFilters[] = {
    {Export_Format::kFeatureTable, "Feature table (*.csv)", "_features.csv"},
    {Export_Format::kMetaboAnalyst, "MetaboAnalyst table (*.csv)", "_metaboanalyst.csv"},
    {Export_Format::kMzTab, "mzTab-M 2.0 (*.mzTab)", ".mzTab"},
};

}  // namespace

QString Export_Dialog_Filter() {
  QStringList filters;
  for (const Format_Filter& f : kFilters) filters << QString::fromLatin1(f.filter);
  return filters.join(QStringLiteral(";;"));
}

std::optional<Export_Format> Export_Format_Of_Filter(const QString& filter) {
  for (const Format_Filter& f : kFilters) {
    if (filter == QLatin1String(f.filter)) return f.format;
  }
  return std::nullopt;
}

QString Export_Filter_Of(Export_Format format) {
  for (const Format_Filter& f : kFilters) {
    if (f.format == format) return QString::fromLatin1(f.filter);
  }
  return {};
}

QString Sample_Sheet_Dialog_Filter() { return QStringLiteral("Sample sheet (*.csv)"); }

bool Export_Needs_Sample_Sheet(Export_Format format) {
  return format == Export_Format::kMetaboAnalyst;
}

QString Default_Export_File_Name(const QString& result_file_name, Export_Format format) {
  const QString base = QFileInfo(result_file_name).completeBaseName();
  for (const Format_Filter& f : kFilters) {
    if (f.format == format) return base + QString::fromLatin1(f.suffix);
  }
  return base;
}

std::string Run_Details_Text(const std::string& result_path) {
  const std::optional<Run_Record> record = Aligned_Result(result_path).Read_Run_Record();
  if (!record) {
    return "This result holds no record of its run: it was aligned without recording the run.\n";
  }
  return Format_Run_Record(*record);
}

}  // namespace Varnel
