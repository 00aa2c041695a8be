// The tolerance estimate on simulated studies of known noise.
#include "align/tolerance_estimate.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tools/simulate.h"

namespace {

Align_Peak_Records ReadStudy(const std::string& folder, const Simulation_Result& study) {
  Align_Peak_Records list;
  for (std::size_t i = 0; i < study.database_names.size(); ++i) {
    std::vector<Chromatogram_Peak_Group_Compound> peaks;
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
        folder, study.database_names[i], peaks);
    for (auto& p : peaks) {
      list.emplace_back(std::move(p), static_cast<std::uint32_t>(i), study.sample_names[i]);
    }
  }
  return list;
}

void ExpectWithin30Percent(double estimate, double truth, const char* what) {
  EXPECT_GT(estimate, 0.7 * truth) << what << " truth " << truth;
  EXPECT_LT(estimate, 1.3 * truth) << what << " truth " << truth;
}

TEST(ToleranceEstimateTest, FindsTheSimulatedSpreads) {
  struct Case {
    double drift, scatter, ppm;
    std::uint32_t compounds;
  };
  for (const Case& c : {Case{20.0, 0.5, 5.0, 400}, Case{-1.0, 12.0, 1.0, 1500}}) {
    Temp_Folder folder;
    Simulation_Options options;
    options.samples = 10;
    options.compounds = c.compounds;
    options.seed = 21;
    options.max_drift_seconds = c.drift;
    options.rt_jitter_seconds = c.scatter;
    options.mass_noise_ppm = c.ppm;
    options.write_truth_figures = true;
    const Simulation_Result study = Simulate_Study(options, folder.path());
    ASSERT_EQ(Read_Csv(Join_Path(folder.path(), kStudyTruthName)).size(), 4u);
    ExpectWithin30Percent(study.truth.mass_sd_ppm, c.ppm, "simulated mass spread");

    const Tolerance_Estimate e =
        Estimate_Tolerances(ReadStudy(folder.path(), study), Tolerance_Estimate_Params{});
    ASSERT_TRUE(e.ok);
    ExpectWithin30Percent(e.mass_sd_ppm, study.truth.mass_sd_ppm, "mass ppm");
    ExpectWithin30Percent(e.mass_sd_da, study.truth.mass_sd_da, "mass Da");
    ExpectWithin30Percent(e.rt_sd_before, study.truth.rt_sd_seconds, "rt before");
    ExpectWithin30Percent(e.rt_sd_after, study.truth.rt_sd_drift_free_seconds, "rt after");
    const std::string report = Tolerance_Estimate_Report(e, true);
    const std::string last = Suggested_Options(e, true);
    EXPECT_EQ(report.substr(report.size() - last.size() - 1), last + "\n");
    EXPECT_EQ(last.rfind("--mass-tol ", 0), 0u);
    EXPECT_NE(last.find(" --fast-window "), std::string::npos);
    std::istringstream words(last);
    std::string name, value;
    while (words >> name >> value) {  // plain decimals, never an exponent
      EXPECT_EQ(value.find_first_not_of("0123456789."), std::string::npos) << last;
    }
  }
}

TEST(ToleranceEstimateTest, TooFewCompoundsSaySo) {
  Align_Peak_Records list(2);
  list[0].Compound_ID = list[1].Compound_ID = 1;
  list[1].SAMPLE_ID = 1;
  const Tolerance_Estimate e = Estimate_Tolerances(list, Tolerance_Estimate_Params{});
  EXPECT_FALSE(e.ok);
  EXPECT_NE(Tolerance_Estimate_Report(e, false).find("Too few"), std::string::npos);
}

}  // namespace
