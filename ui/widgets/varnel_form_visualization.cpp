// Visualization tab of Varnel_Form: result grid and the two charts.
// (Placeholder bodies until the tab is built.)
#include "ui/widgets/varnel_form.h"

namespace Varnel {

void Varnel_Form::Setup_Visualization() {}
void Varnel_Form::Button_Click_Align_File_Browse() {}
void Varnel_Form::DataGridView_CellMouseClick(int) {}
void Varnel_Form::Normalize_RadioButton_CheckChanged() {}
void Varnel_Form::RT_Original_RadioButton_CheckChange() {}
void Varnel_Form::RT_Corrected_RadioButton_CheckChanged() {}
void Varnel_Form::GroupPlot_RadioButton_CheckChanged() {}
void Varnel_Form::CompoundPlot_RadioButton_CheckChanged() {}
void Varnel_Form::RadioButton_CheckChanged() {}
void Varnel_Form::PopulateAlignGrid(const QString&, const QString&) {}
void Varnel_Form::Generate_Color_Vect(int, QColor*) {}

}  // namespace Varnel
