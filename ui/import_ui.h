// What "Import feature lists..." on the alignment tab reads, checks and
// calls, without widgets: the dialog fills Import_Form_Values, the import
// writes one annotated database per sample, and the tab loads them.
#ifndef VARNEL_UI_IMPORT_UI_H_
#define VARNEL_UI_IMPORT_UI_H_

#include <QString>
#include <QStringList>
#include <optional>

namespace Varnel {

inline constexpr char kImportActionText[] = "Import feature lists\u2026";
inline constexpr char kImportDialogTitle[] = "Import feature lists";

struct Import_Form_Values {
  QString format;      // "featurexml", "mzmine", "xcms" or "table"
  QStringList inputs;  // full paths of the feature lists
  QString out_dir;     // the folder the databases go into
  QString rt_unit;     // "" (the format's own), "s" or "min"
};

// The refusal text of a request, or nothing when it goes ahead: it needs a
// known format, at least one input and a folder.
std::optional<QString> Check_Import(const Import_Form_Values& values);

struct Import_Summary {
  QStringList databases;  // full paths of the written databases, in sample order
  QString message;        // "Imported N samples (M features) into FOLDER." and the masses' kinds
};

// Imports the feature lists (see import/feature_import.h). REQUIRES:
// Check_Import(values) gave nothing. Throws Import_Error or
// std::runtime_error naming the file; nothing is written then.
Import_Summary Run_Import(const Import_Form_Values& values);

}  // namespace Varnel

#endif  // VARNEL_UI_IMPORT_UI_H_
