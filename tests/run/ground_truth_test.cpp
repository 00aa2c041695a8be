// A sanity check of the whole chain on a simulated study: aligning it puts
// the peaks of one true compound into one group, and different compounds
// into different groups, for most compounds, in both modes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "run/alignment_run.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

struct Agreement {
  double peaks_in_majority_group;   // share of annotated peaks in their compound's main group
  double compounds_with_own_group;  // share of compounds whose main group no other compound has
};

Agreement Align_And_Compare(Compound_Align_Mode mode) {
  Temp_Folder folder;
  const Simulation_Result study = Make_Study(folder.path(), 8, 200, 7);
  const std::string result = Join_Path(folder.path(), "Result");
  std::filesystem::create_directory(result);
  std::vector<Annotated_File> files;
  for (const std::string& name : study.database_names) files.push_back({folder.path(), name});
  std::ostringstream quiet;
  Alignment_Run_Observer observer;
  observer.align_lines = &quiet;
  Run_Alignment(Request_For(mode, 0.1, 20.0, 10.0, files, result), observer);

  using Key = std::tuple<std::string, std::string, std::string>;  // sample, EIC_ID, Peak_ID
  std::map<Key, std::string> truth;
  for (const Csv_Row& row : Read_Csv(study.ground_truth_path)) {
    truth[{row.at("sample"), row.at("EIC_ID"), row.at("Peak_ID")}] = row.at("true_compound");
  }
  std::map<std::string, std::map<std::string, int>> groups_of;  // compound -> Align_ID -> peaks
  std::size_t annotated = 0;
  for (const Csv_Row& row : Read_Csv(Join_Path(result, kAlignedCsvName))) {
    const std::string compound =
        truth.at({row.at("SAMPLE_NAME"), row.at("EIC_ID"), row.at("Peak_ID")});
    if (compound == "0") {
      EXPECT_EQ(row.at("Align_ID"), "0");
      continue;
    }
    ++groups_of[compound][row.at("Align_ID")];
    ++annotated;
  }
  std::size_t in_majority = 0;
  std::map<std::string, std::string> main_group;  // compound -> its main Align_ID
  std::map<std::string, int> owners;              // main Align_ID -> compounds having it
  for (const auto& [compound, groups] : groups_of) {
    auto best = groups.begin();
    for (auto it = groups.begin(); it != groups.end(); ++it) {
      if (it->second > best->second) best = it;
    }
    in_majority += best->second;
    main_group[compound] = best->first;
    ++owners[best->first];
  }
  std::size_t own = 0;
  for (const auto& [compound, group] : main_group) own += group != "0" && owners[group] == 1;
  return {static_cast<double>(in_majority) / annotated,
          static_cast<double>(own) / groups_of.size()};
}

TEST(GroundTruthTest, BothModesRecoverMostCompounds) {
  for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
    const Agreement agreement = Align_And_Compare(mode);
    EXPECT_GT(agreement.peaks_in_majority_group, 0.9) << "mode " << mode;
    EXPECT_GT(agreement.compounds_with_own_group, 0.9) << "mode " << mode;
  }
}

}  // namespace
