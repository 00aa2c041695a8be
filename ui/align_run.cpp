// The call of the alignment run, apart from the tab's checks so that they
// link without the engine.
#include "align/alignment_run.h"
#include "ui/align_tab.h"

namespace Varnel {

void Run_Compound_Align(const Align_Request& request) {
  Compound_Align_For_Annotation_Files(
      request.One_Two_Phase_Align, request.Mass_Tol, request.Align_Window1, request.Align_Window2,
      request.Data_Folder, request.Result_folder, request.Annotation_File_Vec);
}

}  // namespace Varnel
