#include "ui/result_export_ui.h"

#include <QFileInfo>
#include <QStringList>

#include "storage/aligned_result.h"
#include "storage/path.h"
#include "ui/text_codec.h"

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

QString Sample_Sheet_Dialog_Title() {
  return QStringLiteral(
      "Select a Sample Sheet (CSV, one line per sample: sample,group; a header line is optional)");
}

QString Export_Quantity_Caption(Export_Quantity quantity) {
  static constexpr const char* kWhat[] = {
      "the compound's Compound_Intensity (the larger of two compounds of one sample)",
      "the sum of the sample's Peak_Area in the group",
      "the sample's largest Apex_Intensity in the group",
  };
  const auto i = static_cast<std::size_t>(quantity);
  return QString::fromLatin1(kExportQuantityNames[i]) + QStringLiteral(": ") +
         QString::fromLatin1(kWhat[i]);
}

QString Fit_Export_Path(const QString& path, Export_Format format) {
  const QString wanted = QString::fromLatin1(Format_Info(format).file_suffix);
  for (const Export_Format_Info& f : kExportFormats) {
    const QString suffix = QString::fromLatin1(f.file_suffix);
    if (path.endsWith(suffix, Qt::CaseInsensitive)) {
      return f.format == format ? path : path.left(path.size() - suffix.size()) + wanted;
    }
  }
  const QString name = From_Engine_String(Split_Path(To_Engine_String(path)).name);
  if (name.contains(QLatin1Char('.'))) return path;
  // "*.csv" gives ".csv".
  return path + QString::fromLatin1(Format_Info(format).file_pattern).mid(1);
}

QString Sample_Sheet_Need_Text(Export_Format format) {
  const QString form = QStringLiteral(
      "The sample sheet is a CSV file with one line per sample, sample,group (a header line "
      "sample,group is optional), naming each sample by its SAMPLE_NAME: the input's file name "
      "before _annotated_grouped_chromatograph_peaklist.db.");
  switch (Format_Info(format).sample_sheet) {
    case Sheet_Use::kRequired:
      return QStringLiteral(
                 "A %1 needs a sample sheet: its second line is the group of every "
                 "sample. Choose the sheet in the next dialog.\n\n")
                 .arg(QString::fromLatin1(Format_Info(format).caption)) +
             form;
    case Sheet_Use::kOptional:
      return QStringLiteral(
                 "%1 takes each sample's study variable from a sample sheet; without "
                 "one every sample's is \"undefined\". Choose a sample sheet?\n\n")
                 .arg(QString::fromLatin1(Format_Info(format).caption)) +
             form;
    case Sheet_Use::kIgnored:
      break;
  }
  return {};
}

QString Column_Unit_Tip(const QString& column_name, bool drift_corrected) {
  if (column_name == QLatin1String("Align_RT")) {
    return drift_corrected
               ? QStringLiteral("seconds, the group's retention time on the drift-corrected scale")
               : QStringLiteral("seconds, the group's retention time");
  }
  if (column_name.endsWith(QLatin1String("Retention_Time")))
    return QStringLiteral("seconds, as read from the input");
  if (column_name == QLatin1String("Apex_MZ")) return QStringLiteral("m/z, Da per charge");
  if (column_name == QLatin1String("Compound_MolecularMass")) return QStringLiteral("Da");
  if (column_name.endsWith(QLatin1String("_Boundary")) || column_name == QLatin1String("Apex_Pos"))
    return QStringLiteral("scan number");
  if (column_name.endsWith(QLatin1String("Intensity")) || column_name == QLatin1String("Peak_Area"))
    return QStringLiteral("the input's intensity units");
  if (column_name == QLatin1String("Align_ID"))
    return QStringLiteral("the alignment group; 0: aligned with no other sample");
  return {};
}

QString Export_Written_Message(const QString& path) {
  return QStringLiteral("Exported to ") + path + QStringLiteral(".");
}

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
