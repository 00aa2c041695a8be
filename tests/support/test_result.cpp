#include "tests/support/test_result.h"

#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

Chromatogram_Peak_Group_Compound_Align Make_Row(const Test_Peak& s) {
  Chromatogram_Peak_Group_Compound peak = Make_Annotated_Peak(
      s.align_id * 100 + s.sample, s.mass, s.rt, s.compound_intensity, s.compound);
  peak.Adduct_Annotation = s.adduct;
  peak.Peak_Area = s.area;
  peak.Apex_Intensity = s.height;
  Chromatogram_Peak_Group_Compound_Align row(peak, s.sample, s.name);
  row.Align_ID = s.align_id;
  row.Align_RT = s.align_id == 0 ? 0.0 : s.align_rt;
  return row;
}

std::string Write_Result(const std::string& folder, const std::vector<Test_Peak>& rows,
                         const std::string& name) {
  std::vector<Chromatogram_Peak_Group_Compound_Align> list;
  for (const Test_Peak& s : rows) list.push_back(Make_Row(s));
  OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, folder, name);
  return Join_Path(folder, name);
}
