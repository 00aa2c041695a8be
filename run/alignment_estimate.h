// Tolerances read from a study itself, for the command line's --estimate and
// the window's Estimate button (the rule: align/tolerance_estimate.h).
#ifndef VARNEL_RUN_ALIGNMENT_ESTIMATE_H_
#define VARNEL_RUN_ALIGNMENT_ESTIMATE_H_

#include <vector>

#include "run/alignment_request.h"
#include "run/alignment_run.h"

// Reads every file (reporting kReading and on_read, then kAligning while it
// estimates) and estimates the mass and retention-time spreads of the study's
// compounds across samples. The suggestion's windows are for corrected times
// when rt_correction is set; its report holds the spreads found, one per
// line, and as its last line the options exactly as
// "--mass-tol X --fast-window Y --deep-window Z". fast_window (seconds) is
// the user's, which sets how wide the correction's anchors are searched.
// Throws what the reader or the observer throw, and std::runtime_error (its
// text the report) when the study holds too few matching compounds.
Tolerance_Suggestion Estimate_Study_Tolerances(const std::vector<Annotated_File>& files,
                                               bool rt_correction, double fast_window,
                                               unsigned threads,
                                               const Alignment_Run_Observer& observer = {});

#endif  // VARNEL_RUN_ALIGNMENT_ESTIMATE_H_
