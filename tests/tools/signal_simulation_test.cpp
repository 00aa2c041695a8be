// The simulated run in batches and the scoring of exported intensities
// against its truth.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "export/sample_sheet.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tools/evaluate_signal.h"
#include "tools/simulate.h"
#include "tools/simulate_signal.h"

namespace {

Signal_Simulation Batches(std::uint32_t batches, std::uint32_t qc_every) {
  Signal_Simulation s;
  s.batches = batches;
  s.qc_every = qc_every;
  return s;
}

TEST(SignalSimulationTest, RunsQcsEveryKthInjectionAndSubjectsTwice) {
  const Signal_Study study(Batches(2, 5), 7, 21, std::vector<double>(4, 10.0));
  const auto& in = study.injections();
  ASSERT_EQ(in.size(), 21u);
  std::vector<std::uint32_t> qc_orders;
  std::vector<int> seen(100, 0);
  for (const Signal_Injection& i : in) {
    if (i.qc) qc_orders.push_back(i.order);
    if (!i.qc) ++seen[i.subject];
    EXPECT_EQ(i.batch, i.order <= 11 ? 0u : 1u);  // the first batch takes the odd one
  }
  EXPECT_EQ(qc_orders, (std::vector<std::uint32_t>{1, 6, 11, 12, 17}));
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(seen[k], 2) << k;
}

TEST(SignalSimulationTest, UnbalancedRunsOneGroupEarlier) {
  Signal_Simulation s = Batches(4, 5);
  s.unbalanced = true;
  const Signal_Study study(s, 3, 200, std::vector<double>(2, 10.0));
  double sum[2] = {0, 0};
  int count[2] = {0, 0};
  for (const Signal_Injection& i : study.injections()) {
    if (i.qc) continue;
    sum[i.group] += i.order;
    ++count[i.group];
  }
  EXPECT_LT(sum[0] / count[0] + 40, sum[1] / count[1]);
}

TEST(SignalSimulationTest, WithoutDriftJumpsOrNoiseTheMeasureIsTheTruth) {
  Signal_Simulation s = Batches(2, 4);
  s.noise_pct = 0;
  const Signal_Study study(s, 11, 16, {std::log(1e5), std::log(1e6)});
  for (std::uint32_t i = 0; i < 16; ++i) {
    double measured = 0;
    ASSERT_TRUE(study.Measure(i, 1, measured));
    EXPECT_DOUBLE_EQ(measured, study.True_Value(i, 1));
  }
  // The QCs are one pool: the same true value everywhere.
  EXPECT_EQ(study.True_Value(0, 0), study.True_Value(4, 0));
  s.detection_limit = 1e12;
  double measured = 0;
  EXPECT_FALSE(Signal_Study(s, 11, 16, {std::log(1e5)}).Measure(0, 0, measured));
}

TEST(SignalSimulationTest, NoiseMedianRelativeError) {
  EXPECT_EQ(Noise_Median_Relative_Error(0.0), 0.0);
  // For a small spread, |exp(sZ) - 1| is about s|Z|, whose median is 0.6745 s.
  EXPECT_NEAR(Noise_Median_Relative_Error(0.01), 0.006745, 2e-5);
  EXPECT_NEAR(Noise_Median_Relative_Error(0.1), 0.0674, 5e-4);
}

// A table of the truth times a constant per feature scores no error; the
// study's sheet reads as a sheet of named columns.
TEST(SignalSimulationTest, EvaluatorScoresATableAgainstTheTruth) {
  Temp_Folder dir;
  Simulation_Options options;
  options.samples = 12;
  options.compounds = 5;
  options.presence = 1.0;
  options.signal = Batches(2, 3);
  const Simulation_Result result = Simulate_Study(options, dir.path());
  const Sample_Sheet sheet = Read_Sample_Sheet(Join_Path(dir.path(), kSignalSheetName));
  EXPECT_EQ(sheet.rows.size(), 12u);
  EXPECT_EQ(sheet.batch.size(), 12u);
  EXPECT_EQ(sheet.order.size(), 12u);
  // Rebuild the truth and write it as a feature table.
  const std::string truth = Read_File(Join_Path(dir.path(), kSignalTruthName));
  const std::string compounds = Read_File(Join_Path(dir.path(), kSignalCompoundsName));
  std::vector<std::vector<std::string>> value(6, std::vector<std::string>(12));
  std::vector<std::string> mass(6), rt(6);
  std::vector<std::string> fields;
  std::size_t at = truth.find('\n') + 1;
  while (at < truth.size()) {
    const std::size_t end = truth.find('\n', at);
    Split_Csv_Line(truth.substr(at, end - at), fields);
    const int sample = std::stoi(fields[0].substr(7)) - 1;
    value[std::stoi(fields[1])][sample] = std::to_string(3 * std::stod(fields[2]));
    at = end + 1;
  }
  at = compounds.find('\n') + 1;
  while (at < compounds.size()) {
    const std::size_t end = compounds.find('\n', at);
    Split_Csv_Line(compounds.substr(at, end - at), fields);
    mass[std::stoi(fields[0])] = fields[1];
    rt[std::stoi(fields[0])] = fields[2];
    at = end + 1;
  }
  std::string table = "Align_ID,Mass,Align_RT,Samples_Present";
  for (const std::string& name : result.sample_names) table += "," + name;
  table += "\n";
  for (int c = 1; c <= 5; ++c) {
    table += std::to_string(c) + "," + mass[c] + "," + rt[c] + ",12";
    for (const std::string& v : value[c]) table += "," + v;
    table += "\n";
  }
  const std::string table_path = Join_Path(dir.path(), "table.csv");
  Write_File(table_path, table);
  const Signal_Evaluation e = Evaluate_Signal(table_path, dir.path());
  EXPECT_EQ(e.features, 5u);
  EXPECT_EQ(e.matched, 5u);
  EXPECT_EQ(e.values, 5u * 8u);
  EXPECT_NEAR(e.relative_error, 0.0, 1e-5);
  EXPECT_NEAR(e.qc_rsd, 0.0, 1e-5);
  EXPECT_NEAR(e.replicate_rsd, 0.0, 1e-5);  // replicates are injections of one sample
  EXPECT_TRUE(std::isnan(e.held_out_after));
  Write_File(table_path, "Align_ID,Mass\n1,2\n");
  EXPECT_THROW(Evaluate_Signal(table_path, dir.path()), std::runtime_error);
}

}  // namespace
