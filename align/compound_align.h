// Cross-sample compound alignment: greedy, intensity-first clustering of
// annotated peaks on (Compound_MolecularMass, Compound_Retention_Time).
#ifndef VARNEL_ALIGN_COMPOUND_ALIGN_H_
#define VARNEL_ALIGN_COMPOUND_ALIGN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <vector>

#include "model/peak.h"

enum Compound_Align_Mode {
  One_Phase_Align = 0,  // "Fast_Align": one phase around the seed, Align_Window1
  Two_Phase_Align = 1,  // "Deep_Align": medians within Align_Window1, then Align_Window2
};

// Called after every group made, with the number of groups so far and the
// number of records left unaligned.
using Align_Progress = std::function<void(std::uint32_t groups_made, std::size_t peaks_left)>;

// Aligns peaklist_align in place (see align/compound_align.cpp for the rules).
// Mass_Tol in Da; windows are full widths in seconds, applied as +/- half;
// both bounds inclusive; a NaN or negative tolerance or window matches nothing.
// REQUIRES: every record has Align_ID 0 and Align_RT 0.0.
// ENSURES: same records, ascending Align_ID (unaligned first, then groups
// 1..G without gaps); within one Align_ID, the order of the list as passed in.
// Progress lines go to `progress`, flushed at every line.
void compound_align(Compound_Align_Mode Align_Mode, double Mass_Tol, double Align_Window1,
                    double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align,
                    std::ostream& progress = std::cout, const Align_Progress& on_group = {});

#endif  // VARNEL_ALIGN_COMPOUND_ALIGN_H_
