// The entries of the result grid's context menu: "Find..." (Ctrl+F),
// "Export...", "Alignment quality..." and "Run details...". Each asks through
// the window's dialogs, so tests answer them without blocking, and runs
// inside the window's failure guard (Add_Grid_Action).
#ifndef VARNEL_UI_WIDGETS_RESULT_GRID_ACTIONS_H_
#define VARNEL_UI_WIDGETS_RESULT_GRID_ACTIONS_H_

#include <QString>

namespace Varnel {

class Align_Visualization_Tab;
class Form_Dialogs;

inline constexpr char kFindEntry[] = "Find...";
inline constexpr char kExportEntry[] = "Export...";
inline constexpr char kQualityEntry[] = "Alignment quality...";
inline constexpr char kRunDetailsEntry[] = "Run details...";

// Adds the four entries to tab's grid menu. tab and dialogs must outlive the
// entries (the window owns all three). Every entry needs an open result.
void Install_Result_Grid_Actions(Align_Visualization_Tab& tab, Form_Dialogs& dialogs);

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_RESULT_GRID_ACTIONS_H_
