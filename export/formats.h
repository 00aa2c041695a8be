// The table of export formats: the one place that names them. varnel-export
// (--format and its checks) and the window's "Export..." (its save dialog's
// filters, the file name it offers, whether it asks for a sample sheet) both
// read it.
//
// Adding a format: its writer in a file of its own (export/<format>.cpp, a
// function taking the Export_Job and stepping a Group_Pass, export/group_pass.h,
// over its groups), and here its enum value, the writer's declaration and one
// row of kExportFormats.
#ifndef VARNEL_EXPORT_FORMATS_H_
#define VARNEL_EXPORT_FORMATS_H_

#include <optional>
#include <string>
#include <string_view>

#include "export/quantities.h"

enum class Export_Format {
  kFeatureTable,   // CSV, one row per feature, one column per sample
  kMetaboAnalyst,  // CSV, samples in columns, a "Label" row of groups
  kMzTab,          // mzTab-M 2.0.0-M, tab-separated UTF-8
};

struct Export_Job;  // export/export_job.h
void Write_Feature_Table(Export_Job& job);
void Write_MetaboAnalyst(Export_Job& job);
void Write_MzTab(Export_Job& job);

// What a format does with the sample sheet (Export_Options::groups).
enum class Sheet_Use {
  kIgnored,
  kOptional,  // used when given
  kRequired,  // the export is refused without one
};

struct Export_Format_Info {
  Export_Format format;
  const char* name;          // as typed after --format
  const char* caption;       // for people: "a <caption> needs a sample sheet"
  const char* file_pattern;  // of the save dialog's filter "<caption> (<pattern>)"
  const char* file_suffix;   // put after the result's base name for the file offered
  Sheet_Use sample_sheet;
  Result_Columns columns;  // of Align_Peaklist, the writer reads
  void (*write)(Export_Job& job);
};

inline constexpr Export_Format_Info kExportFormats[] = {
    {Export_Format::kFeatureTable, "table", "Feature table", "*.csv", "_features.csv",
     Sheet_Use::kIgnored, kGroupColumns, Write_Feature_Table},
    {Export_Format::kMetaboAnalyst, "metaboanalyst", "MetaboAnalyst table", "*.csv",
     "_metaboanalyst.csv", Sheet_Use::kRequired, kGroupColumns, Write_MetaboAnalyst},
    {Export_Format::kMzTab, "mztab", "mzTab-M 2.0", "*.mzTab", ".mzTab", Sheet_Use::kOptional,
     kGroupColumns.With(Column_Of("Apex_MZ")).With(Column_Of("Apex_Retention_Time")), Write_MzTab},
};

// The row of format (every format has one).
const Export_Format_Info& Format_Info(Export_Format format);
// The format named text, as typed after --format; nullopt for any other text.
std::optional<Export_Format> Parse_Export_Format(std::string_view text);
// "<caption> (<pattern>)", the format's filter in the save dialog.
std::string Export_File_Filter(const Export_Format_Info& info);
// The refusal of a format that needs a sample sheet, given none: "a
// <caption> needs " followed by what.
std::string Sample_Sheet_Needed(const Export_Format_Info& info, std::string_view what);

#endif  // VARNEL_EXPORT_FORMATS_H_
