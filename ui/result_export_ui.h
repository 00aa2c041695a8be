// The window's side of exporting a result, without widgets: the save dialog's
// filters (one per format), the format a chosen filter stands for, the file
// name offered, and the text of "Run details...".
#ifndef VARNEL_UI_RESULT_EXPORT_UI_H_
#define VARNEL_UI_RESULT_EXPORT_UI_H_

#include <QString>
#include <optional>
#include <string>

#include "export/export_result.h"

namespace Varnel {

// The filter of the "Export..." save dialog, one filter per format, separated
// by ";;": feature table first.
QString Export_Dialog_Filter();

// The format of one filter of Export_Dialog_Filter() (the text the dialog
// reports as selected); nullopt for any other text.
std::optional<Export_Format> Export_Format_Of_Filter(const QString& filter);

// The filter of format, as it stands in Export_Dialog_Filter().
QString Export_Filter_Of(Export_Format format);

// The filter and the title of the dialog that picks a sample sheet; the
// title says the form the sheet takes.
QString Sample_Sheet_Dialog_Filter();
QString Sample_Sheet_Dialog_Title();

// The quantity's name and what it is, for the window's choice
// ("area: the sum of the sample's Peak_Area in the group").
QString Export_Quantity_Caption(Export_Quantity quantity);

// The path chosen in the save dialog made to fit format: a name ending in the
// name offered for another format ("_features.csv", "_metaboanalyst.csv",
// ".mzTab", any case) gets format's instead; a name without an extension gets
// format's extension (".csv", ".mzTab"); any other name is kept.
QString Fit_Export_Path(const QString& path, Export_Format format);

// What the window says before it asks for a sample sheet for format: why it
// needs one (MetaboAnalyst) or what one gives (mzTab-M), and the form of the
// sheet, naming samples by SAMPLE_NAME. Empty for a format without a sheet.
QString Sample_Sheet_Need_Text(Export_Format format);

// A result grid column's unit and meaning, for its header's tooltip; empty
// for columns without a unit.
QString Column_Unit_Tip(const QString& column_name, bool drift_corrected);

// The message after an export: "Exported to <path>."
QString Export_Written_Message(const QString& path);

// True when format cannot be written without a sample sheet.
bool Export_Needs_Sample_Sheet(Export_Format format);

// The name offered for the export of result_file_name: its base name with
// "_features.csv", "_metaboanalyst.csv" or ".mzTab" ("result.aligndb" gives
// "result_features.csv").
QString Default_Export_File_Name(const QString& result_file_name, Export_Format format);

// What "Run details..." shows for the result at result_path (an engine
// string): the record as text, or one line saying the result holds none.
// Throws std::runtime_error naming the file when it cannot be read.
std::string Run_Details_Text(const std::string& result_path);

}  // namespace Varnel

#endif  // VARNEL_UI_RESULT_EXPORT_UI_H_
