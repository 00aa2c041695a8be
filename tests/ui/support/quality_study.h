// Aligned results for the quality charts: a study with a smooth retention-time
// drift per sample (one sample drifting far more), members missing at random,
// mass and intensity noise, optionally a stored retention-time correction and
// a run record. Written with the aligned database writer; the extra tables
// through the access layer.
#ifndef VARNEL_TESTS_UI_SUPPORT_QUALITY_STUDY_H_
#define VARNEL_TESTS_UI_SUPPORT_QUALITY_STUDY_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/support/viz_study.h"

namespace Varnel::Test {

struct Quality_Study_Plan {
  std::uint32_t samples = 12;
  std::uint32_t compounds = 300;
  std::uint64_t seed = 1;
  std::uint32_t drifting_sample = 2;  // index of the sample that drifts most
  double presence = 0.85;             // most a partly found compound's chance to be in a sample
  double unaligned_share = 0.1;       // extra unaligned peaks per member
  bool correction = false;            // store Align_RT_Correction; Align_RT corrected
  // With the correction, also Align_RT_Anchor: the members of the compounds
  // found in every sample, the sparse sample's leaving out the middle of the
  // gradient.
  bool anchors = false;
  std::uint32_t sparse_sample = 4;
  int points = 3;  // shape points per peak
};

// The records, sorted by Align_ID (unaligned first), and per sample the
// correction curve (RT, Shift) the study would store and its anchor points
// (RT as read, the shift the compound asks for).
struct Quality_Study {
  std::vector<Align_Peak> peaks;
  std::vector<std::vector<std::pair<double, double>>> correction;
  std::vector<std::vector<std::pair<double, double>>> anchors;
  std::vector<std::string> names;
};
Quality_Study Make_Quality_Study(const Quality_Study_Plan& plan);

// Writes the study's peaks with the real writer to Join_Path(folder, file),
// then Align_RT_Correction when plan.correction (and Align_RT_Anchor when
// plan.anchors too), then Align_Run and
// Align_Run_Input when with_run. Returns the path.
std::string Write_Quality_Study(const Quality_Study_Plan& plan, const std::string& folder,
                                const std::string& file, bool with_run);

// Adds Align_Run (the items in order) and Align_Run_Input (one row per file
// name, SAMPLE_ID its position, with the run record's seven columns) to an
// existing result.
void Add_Run_Record(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& items,
                    const std::vector<std::string>& inputs);
// Adds Align_RT_Correction rows (SAMPLE_ID, RT, Shift) to an existing result.
void Add_Rt_Correction(const std::string& path,
                       const std::vector<std::vector<std::pair<double, double>>>& curves);

// A study drifting in intensity for the QC correction's figures: two batches
// of kDriftInjections / 2 injections, a QC every second (the first of batch
// 1 a conditioning QC), study samples in groups A and B; each of
// kDriftGroups groups falls 40 % through a batch and batch 2 reads 1.5 times
// higher, with a little deterministic noise. Samples are named S0, S1 ...
// in injection order.
inline constexpr int kDriftInjections = 24;
inline constexpr int kDriftGroups = 6;
std::string Write_Drifting_Study(const std::string& folder, const std::string& file);
// Its sample sheet, rows in reverse order; with or without the order and the
// batch and conditioning columns, and with or without QCs.
std::string Drifting_Study_Sheet(bool order, bool batch, bool qcs = true);

}  // namespace Varnel::Test

#endif  // VARNEL_TESTS_UI_SUPPORT_QUALITY_STUDY_H_
