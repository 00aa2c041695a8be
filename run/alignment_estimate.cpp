#include "run/alignment_estimate.h"

#include <stdexcept>

#include "align/tolerance_estimate.h"
#include "run/study_reader.h"

Tolerance_Suggestion Estimate_Study_Tolerances(const std::vector<Annotated_File>& files,
                                               bool rt_correction, double fast_window,
                                               unsigned threads,
                                               const Alignment_Run_Observer& observer) {
  if (observer.on_stage) observer.on_stage(Run_Stage::kReading);
  std::vector<Align_Key> keys;
  Read_Study(files, threads, false, [&](std::size_t sample, Study_File& file) {
    for (const Chromatogram_Peak_Group_Compound& peak : file.batch.peaks) {
      Align_Key& key = keys.emplace_back();
      key.Compound_ID = peak.Compound_ID;
      key.Compound_MolecularMass = peak.Compound_MolecularMass;
      key.Compound_Retention_Time = peak.Compound_Retention_Time;
      key.Compound_Intensity = peak.Compound_Intensity;
      key.SAMPLE_ID = static_cast<std::uint32_t>(sample);
    }
    if (observer.on_read) observer.on_read(sample + 1, files.size(), keys.size());
  });
  if (observer.on_stage) observer.on_stage(Run_Stage::kAligning);
  Tolerance_Estimate_Params params;
  params.fast_window = fast_window;
  const Tolerance_Estimate estimate = Estimate_Tolerances(keys, params);
  Tolerance_Suggestion suggestion;
  suggestion.report = Tolerance_Estimate_Report(estimate, rt_correction);
  suggestion.compounds = estimate.anchors;
  suggestion.pairs = estimate.mass_pairs;
  suggestion.uncorrected_samples = estimate.uncorrected_samples.size();
  if (!estimate.ok) throw std::runtime_error(suggestion.report);
  suggestion.Mass_Tol = estimate.mass_tol;
  suggestion.Align_Window1 = rt_correction ? estimate.fast_window_corrected : estimate.fast_window;
  suggestion.Align_Window2 = rt_correction ? estimate.deep_window_corrected : estimate.deep_window;
  return suggestion;
}
