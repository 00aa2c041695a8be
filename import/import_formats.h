// The import formats: the one table that varnel-import and the window's import
// dialog read (the name given to --format, the dialog's caption and file
// filter, the unit of the retention times, the reader), and the guess of a
// file's format from its name and first bytes.
#ifndef VARNEL_IMPORT_IMPORT_FORMATS_H_
#define VARNEL_IMPORT_IMPORT_FORMATS_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "import/feature_import.h"

// Reads one input: its samples in the order first met, each with its origin
// (the name as written) and its features. Throws Import_Error.
using Feature_List_Reader = std::vector<Imported_Sample> (*)(const std::string& path,
                                                             const Import_Options& options);

struct Import_Format_Info {
  Import_Format format;
  std::string_view name;     // --format NAME, and the dialog's data
  std::string_view caption;  // the dialog's entry
  std::string_view filter;   // the file dialog's filter ("Tables (*.csv *.tsv *.txt)")
  Rt_Unit time_unit;         // the unit of its retention times unless --rt-unit says otherwise
  bool time_unit_fixed;      // --rt-unit does not apply (featureXML is in seconds)
  Feature_List_Reader read;
};

// Every format, in the order the dialog lists them.
std::span<const Import_Format_Info> Import_Formats();
const Import_Format_Info& Format_Info(Import_Format format);
// "featurexml|mzmine|xcms|table" (the names joined by `separator`).
std::string Import_Format_Names(std::string_view separator);

// The format that a file most likely holds, from its first bytes: XML whose
// root is featureMap (any extension) is featureXML; a table whose header
// names per-sample columns "datafile:FILE:mz" or "FILE Peak m/z" is MZmine's
// export; one with "sample", "mz", "rt" and "maxo" or "into" is XCMS's
// chromPeaks; any other text with a delimiter is a table. Content that fits
// none of these (empty, one word, other XML) goes by the name: ".featureXML"
// is featureXML, ".csv", ".tsv" and ".txt" a table. nullopt for a file that
// cannot be read or fits neither way. Reads at most 64 KiB.
std::optional<Import_Format> Guess_Import_Format(const std::string& path);

#endif  // VARNEL_IMPORT_IMPORT_FORMATS_H_
