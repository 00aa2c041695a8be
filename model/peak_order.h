// Orderings of aligned peak records, for the standard sort and search
// algorithms. Each compares one key and has no secondary key: records with
// equal keys are equivalent. Records are taken by reference (a by-value
// comparator would deep-copy peak shapes on every comparison).
#ifndef VARNEL_MODEL_PEAK_ORDER_H_
#define VARNEL_MODEL_PEAK_ORDER_H_

#include "model/peak.h"

// val.Align_ID < p.Align_ID, unsigned.
bool Comp_Alignpeak_by_Align_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                const Chromatogram_Peak_Group_Compound_Align& p);

// val.SAMPLE_ID < p.SAMPLE_ID, unsigned.
bool Comp_Alignpeak_by_Sample_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                 const Chromatogram_Peak_Group_Compound_Align& p);

// val.Compound_Intensity < p.Compound_Intensity; false when either is NaN.
// Used in a front-to-back maximum search (std::max_element), so among equal
// maxima the first in list order wins and a NaN never replaces a candidate.
bool Comp_Alignpeak_by_Compound_Intensity(const Chromatogram_Peak_Group_Compound_Align& val,
                                          const Chromatogram_Peak_Group_Compound_Align& p);

#endif  // VARNEL_MODEL_PEAK_ORDER_H_
