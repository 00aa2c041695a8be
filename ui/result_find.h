// "Find..." on the result grid, without widgets: go to an Align_ID, or to the
// row nearest a mass or a retention time, among the rows as the grid shows
// them, saying how far the match is; and the tooltip text of a grid row.
#ifndef VARNEL_UI_RESULT_FIND_H_
#define VARNEL_UI_RESULT_FIND_H_

#include <QLocale>
#include <QString>
#include <optional>

namespace Varnel {

class Align_Table_Model;

enum class Find_Key {
  kAlign_ID,                // the first shown row with exactly that Align_ID
  kCompound_MolecularMass,  // the shown row nearest that mass, Da
  kAlign_RT,                // the shown aligned row nearest that time, seconds, on the
                            // result's scale (corrected when the result is)
};

// What the find dialog returns: the key and the number as typed.
struct Find_Request {
  Find_Key key = Find_Key::kAlign_ID;
  QString text;
};

// The column name a key searches ("Align_ID", ...).
QString Find_Key_Name(Find_Key key);

struct Find_Outcome {
  int row = -1;                    // the displayed row to select; -1 with a message
  std::optional<QString> message;  // why no row was found
  // With a nearest row: how far it is ("Nearest mass 457.253, 0.464 Da
  // away", "Nearest time 612.4 s (Align_RT), 3.2 s away", or ", exactly"):
  // the value with 6 significant digits, the distance with 3 decimals for
  // masses and 1 for times.
  std::optional<QString> distance;
};
// Reads request.text with Read_Box_Number (an Align_ID must be a whole
// number) and finds its row. Nearest means the least absolute difference;
// of equally near rows the first shown wins. Cells that hold no number are
// passed over, and so are the rows without an alignment (Align_ID 0, whose
// Align_RT means nothing) when searching by time. A text without a number,
// an Align_ID no row has, and a table without rows give a message instead.
Find_Outcome Find_Result_Row(const Align_Table_Model& model, const Find_Request& request,
                             const QLocale& locale = QLocale());

// The tooltip of a displayed row: one "name: value" line each for Align_ID,
// Compound_MolecularMass, Compound_Retention_Time, Adduct_Annotation and
// SAMPLE_NAME, as the grid shows them. REQUIRES: 0 <= row < rowCount().
QString Result_Row_Tip(const Align_Table_Model& model, int row);

}  // namespace Varnel

#endif  // VARNEL_UI_RESULT_FIND_H_
