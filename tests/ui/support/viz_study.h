// Test data for the visualization tab and its benchmark: aligned peak records
// built by hand or as a study of any size, written with the aligned database writer.
#ifndef VARNEL_TESTS_UI_SUPPORT_VIZ_STUDY_H_
#define VARNEL_TESTS_UI_SUPPORT_VIZ_STUDY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "model/peak.h"

namespace Varnel::Test {

using Align_Peak = Chromatogram_Peak_Group_Compound_Align;

// What Make_Peak needs; the rest of the record is derived or left at zero.
struct Peak_Recipe {
  std::uint32_t sample_id = 0;
  std::string sample_name = "S0";
  std::uint32_t eic_id = 1;
  std::uint32_t peak_id = 1;
  std::uint32_t group_id = 1;
  std::uint32_t compound_id = 1;
  std::uint32_t align_id = 0;
  double apex_mz = 200.0;
  double apex_rt = 100.0;     // seconds; also Compound_Retention_Time
  double align_rt = 0.0;      // seconds
  double height = 1000.0;     // apex intensity
  int points = 9;             // Gaussian points, one scan apart
  double scan_seconds = 0.5;  // scan interval
  std::string adduct = "[M+H]+";
};

// The recipe of a peak of sample (named "Sample <sample>") alone in its EIC,
// group and compound (all numbered eic), in Align_ID align_id at apex_rt;
// Align_RT is 100 s for an aligned peak, 0 for an unaligned one.
Peak_Recipe Lone_Peak(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id,
                      double apex_rt);

// A record with a Gaussian shape of recipe.points points centred on apex_rt,
// scans numbered round(rt / scan_seconds).
Align_Peak Make_Peak(const Peak_Recipe& recipe);

// A small study as an alignment would leave it, sorted by Align_ID: per
// compound 1 to 3 ions sharing Group_ID and Compound_ID in each sample, its
// retention time drifted per sample by a few seconds; every peak of a
// compound carries the compound's Align_ID and the mean retention time as
// Align_RT; about one peak in ten is unaligned (Compound_ID 0, Align_ID 0).
// Every compound is present in all samples. Deterministic for a seed.
std::vector<Align_Peak> Make_Demo_Study(std::uint32_t samples, std::uint32_t compounds,
                                        std::uint64_t seed = 1, int points = 25);

// Writes the records with the aligned database writer to Join_Path(folder, file).
void Write_Aligned_Result(const std::vector<Align_Peak>& peaks, const std::string& folder,
                          const std::string& file);

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_VIZ_STUDY_H_
