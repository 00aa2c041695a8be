// The dialog behind "Import feature lists...": the format, the feature lists,
// the folder to write into and the unit of the retention times.
#ifndef VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_
#define VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_

#include <optional>

#include "ui/import_ui.h"

class QWidget;

namespace Varnel {

// Shows the dialog modally; nullopt when it is not closed with OK.
std::optional<Import_Form_Values> Exec_Import_Dialog(QWidget* parent);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_IMPORT_DIALOG_H_
