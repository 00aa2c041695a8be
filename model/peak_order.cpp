#include "model/peak_order.h"

bool Comp_Alignpeak_by_Align_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                const Chromatogram_Peak_Group_Compound_Align& p) {
  return val.Align_ID < p.Align_ID;
}

bool Comp_Alignpeak_by_Sample_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                 const Chromatogram_Peak_Group_Compound_Align& p) {
  return val.SAMPLE_ID < p.SAMPLE_ID;
}

bool Comp_Alignpeak_by_Compound_Intensity(const Chromatogram_Peak_Group_Compound_Align& val,
                                          const Chromatogram_Peak_Group_Compound_Align& p) {
  // An ordered comparison: false when either side is NaN.
  return val.Compound_Intensity < p.Compound_Intensity;
}
