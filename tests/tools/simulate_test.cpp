// The study simulator: same seed same bytes, a realistic study that reads
// back, its drift, and unwritable places.
#include "tools/simulate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

Simulation_Options Small(std::uint64_t seed) {
  Simulation_Options options;
  options.samples = 3;
  options.compounds = 60;
  options.seed = seed;
  return options;
}

TEST(SimulatorTest, SameSeedGivesTheSameBytes) {
  Temp_Folder a, b, c;
  const Simulation_Result first = Simulate_Study(Small(42), a.path());
  const Simulation_Result second = Simulate_Study(Small(42), b.path());
  const Simulation_Result other = Simulate_Study(Small(43), c.path());
  ASSERT_EQ(first.database_names, second.database_names);
  for (const std::string& name : first.database_names) {
    EXPECT_EQ(Read_File(Join_Path(a.path(), name)), Read_File(Join_Path(b.path(), name))) << name;
    EXPECT_NE(Read_File(Join_Path(a.path(), name)), Read_File(Join_Path(c.path(), name))) << name;
  }
  EXPECT_EQ(Read_File(first.ground_truth_path), Read_File(second.ground_truth_path));
  // Simulating again into the same folder replaces the study, not adds to it.
  Simulate_Study(Small(42), b.path());
  EXPECT_EQ(Read_File(Join_Path(a.path(), first.database_names[0])),
            Read_File(Join_Path(b.path(), first.database_names[0])));
}

TEST(SimulatorTest, StudyReadsBackAsARealisticStudy) {
  Temp_Folder folder;
  Simulation_Options options = Small(5);
  options.samples = 4;
  options.compounds = 300;
  const Simulation_Result study = Simulate_Study(options, folder.path());
  ASSERT_EQ(study.database_names.size(), 4u);
  EXPECT_EQ(study.database_names[0], "sample_001_annotated_grouped_chromatograph_peaklist.db");

  std::map<std::tuple<std::string, std::uint32_t, std::uint32_t>, std::string> truth;
  for (const Csv_Row& row : Read_Csv(study.ground_truth_path)) {
    truth[{row.at("sample"), std::stoul(row.at("EIC_ID")), std::stoul(row.at("Peak_ID"))}] =
        row.at("true_compound");
  }
  EXPECT_EQ(truth.size(), study.peaks);

  std::size_t peaks = 0, unannotated = 0, compounds_seen = 0;
  std::set<std::string> adducts;
  for (std::size_t s = 0; s < study.database_names.size(); ++s) {
    std::vector<Chromatogram_Peak_Group_Compound> list;
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
        folder.path(), study.database_names[s], list);
    peaks += list.size();
    std::map<std::uint32_t, const Chromatogram_Peak_Group_Compound*> first_of_compound;
    std::map<std::uint32_t, std::string> true_of_compound;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Chromatogram_Peak_Group_Compound& p = list[i];
      if (i > 0) {
        EXPECT_LE(list[i - 1].EIC_ID, p.EIC_ID);
      }
      const std::string& compound = truth.at({study.sample_names[s], p.EIC_ID, p.Peak_ID});
      ASSERT_EQ(p.Compound_ID == 0, compound == "0");
      ASSERT_GE(p.Peak_shape.size(), 15u);
      ASSERT_LE(p.Peak_shape.size(), 60u);
      EXPECT_EQ(p.Right_Boundary - p.Left_Boundary + 1, p.Peak_shape.size());
      EXPECT_EQ(p.Peak_shape.front().Scan, p.Left_Boundary);
      EXPECT_GT(p.Apex_Intensity, 0.0);
      if (p.Compound_ID == 0) {
        ++unannotated;
        EXPECT_EQ(p.Compound_Intensity, 0.0);
        continue;
      }
      adducts.insert(p.Adduct_Annotation);
      EXPECT_GE(p.Compound_MolecularMass, 99.9);
      EXPECT_LE(p.Compound_MolecularMass, 1200.1);
      EXPECT_GT(p.Compound_Retention_Time, 10.0);
      EXPECT_LT(p.Compound_Retention_Time, 1520.0);
      // The ions of one compound share its group and compound fields.
      auto [it, fresh] = first_of_compound.emplace(p.Compound_ID, &p);
      if (fresh) {
        true_of_compound[p.Compound_ID] = compound;
        ++compounds_seen;
      } else {
        EXPECT_EQ(true_of_compound[p.Compound_ID], compound);
        EXPECT_EQ(it->second->Group_ID, p.Group_ID);
        EXPECT_EQ(it->second->Compound_MolecularMass, p.Compound_MolecularMass);
        EXPECT_EQ(it->second->Compound_Retention_Time, p.Compound_Retention_Time);
        EXPECT_EQ(it->second->Compound_Intensity, p.Compound_Intensity);
        EXPECT_NE(it->second->Apex_MZ, p.Apex_MZ);
      }
    }
  }
  EXPECT_EQ(peaks, study.peaks);
  const double unannotated_share = static_cast<double>(unannotated) / peaks;
  EXPECT_GT(unannotated_share, 0.15);
  EXPECT_LT(unannotated_share, 0.25);
  const double presence = static_cast<double>(compounds_seen) / (4.0 * 300.0);
  EXPECT_GT(presence, 0.78);
  EXPECT_LT(presence, 0.92);
  for (const char* adduct : {"[M+H]+", "[M+Na]+", "[M+H-H2O]+", "[M+1+H]+"}) {
    EXPECT_EQ(adducts.count(adduct), 1u) << adduct;
  }
}

TEST(SimulatorTest, PeaksPerSampleChoosesTheCompounds) {
  Temp_Folder folder;
  Simulation_Options options = Small(9);
  options.samples = 2;
  options.peaks_per_sample = 3000;
  const Simulation_Result study = Simulate_Study(options, folder.path());
  EXPECT_EQ(study.compounds, Compounds_For_Peaks_Per_Sample(options, 3000));
  EXPECT_GT(study.peaks, 2 * 2700u);
  EXPECT_LT(study.peaks, 2 * 3300u);
}

TEST(SimulatorTest, WrittenDatabaseReadsBackFieldByField) {
  Temp_Folder folder;
  Chromatogram_Peak_Group_Compound p = Make_Annotated_Peak(4, 301.1234567, 745.25, 20250.5, 9);
  p.Adduct_Annotation = "[M+Na]+ it's";
  p.Peak_ID = 4000000000u;  // stored as a negative 32-bit value, read back as is
  Chromatogram_Peak_Group_Compound empty = Make_Annotated_Peak(2, 100.0, 50.0, 1.0, 0);
  empty.Peak_shape.clear();
  empty.Adduct_Annotation = "";
  Write_Annotated_Database(Join_Path(folder.path(), "x.db"), {p, empty});
  std::vector<Chromatogram_Peak_Group_Compound> back;
  Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(folder.path(), "x.db", back);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_TRUE(back[0].Peak_shape.empty());  // ordered by EIC_ID: 2 before 4
  EXPECT_EQ(back[0].Adduct_Annotation, "");
  const Chromatogram_Peak_Group_Compound& r = back[1];
  EXPECT_EQ(r.Peak_ID, 4000000000u);
  EXPECT_EQ(r.Adduct_Annotation, p.Adduct_Annotation);
  EXPECT_EQ(r.Compound_ID, 9u);
  EXPECT_DOUBLE_EQ(r.Compound_MolecularMass, p.Compound_MolecularMass);
  EXPECT_DOUBLE_EQ(r.Apex_MZ, p.Apex_MZ);
  ASSERT_EQ(r.Peak_shape.size(), p.Peak_shape.size());
  for (std::size_t i = 0; i < r.Peak_shape.size(); ++i) {
    EXPECT_EQ(r.Peak_shape[i].Scan, p.Peak_shape[i].Scan);
    EXPECT_NEAR(r.Peak_shape[i].MZ, p.Peak_shape[i].MZ, 1e-6);
    EXPECT_NEAR(r.Peak_shape[i].RT, p.Peak_shape[i].RT, 1e-6);
    EXPECT_NEAR(r.Peak_shape[i].Intensity, p.Peak_shape[i].Intensity, 1e-6);
  }
}

TEST(SimulatorTest, UnwritablePlacesAreReportedByName) {
  Temp_Folder folder;
  const std::string file = Join_Path(folder.path(), "plain");
  Write_File(file, "x");
  try {
    Simulate_Study(Small(1), file);
    FAIL() << "simulated into a regular file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
  const std::string in_missing = Join_Path(folder.path(), "no/such/x.db");
  try {
    Write_Annotated_Database(in_missing, {});
    FAIL() << "wrote into a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(in_missing), std::string::npos) << e.what();
  }
}

TEST(SimulatorTest, DriftReachesItsLargestValueInTheMostDriftingSample) {
  Temp_Folder folder;
  Simulation_Options options;
  options.samples = 6;
  options.compounds = 300;
  options.max_drift_seconds = 30.0;
  options.rt_jitter_seconds = 0.0;
  const Simulation_Result study = Simulate_Study(options, folder.path());
  // Without scatter the drift is all the spread there is, and it stays
  // within the largest drift.
  EXPECT_LT(study.truth.rt_sd_drift_free_seconds, 1e-6);
  EXPECT_GT(study.truth.rt_sd_seconds, 3.0);
  EXPECT_LT(study.truth.rt_sd_seconds, 30.0);
  // The figures are written only when asked for.
  for (const std::string& name : List_Folder(folder.path())) EXPECT_NE(name, kStudyTruthName);
}

// The bend and the trend change nothing when off, and move times by their
// size when on.
TEST(SimulatorTest, BendAndTrendMoveTimesOnlyWhenAskedFor) {
  Simulation_Options options;
  options.samples = 4;
  options.compounds = 200;
  options.rt_jitter_seconds = 0.0;
  auto times = [&](const Simulation_Options& o) {
    Temp_Folder folder;
    const Simulation_Result study = Simulate_Study(o, folder.path());
    std::vector<std::vector<double>> out;
    for (const std::string& name : study.database_names) {
      std::vector<Chromatogram_Peak_Group_Compound> peaks;
      Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(folder.path(), name,
                                                                           peaks);
      std::vector<double> t;
      for (const auto& p : peaks) t.push_back(p.Compound_Retention_Time);
      out.push_back(t);
    }
    return out;
  };
  const auto plain = times(options);
  Simulation_Options zero = options;
  zero.rt_bend_seconds = 0.0;
  zero.rt_trend_seconds = 0.0;
  EXPECT_EQ(times(zero), plain);
  Simulation_Options trend = options;
  trend.rt_trend_seconds = 20.0;
  const auto trended = times(trend);
  Simulation_Options bend = options;
  bend.rt_bend_seconds = 40.0;
  const auto bent = times(bend);
  for (std::size_t s = 0; s < plain.size(); ++s) {
    ASSERT_EQ(trended[s].size(), plain[s].size());
    ASSERT_EQ(bent[s].size(), plain[s].size());
    double largest = 0.0;
    for (std::size_t i = 0; i < plain[s].size(); ++i) {
      if (plain[s][i] == 0.0) continue;  // unannotated
      EXPECT_NEAR(trended[s][i] - plain[s][i], 20.0 * s, 1e-6);
      largest = std::max(largest, std::fabs(bent[s][i] - plain[s][i]));
    }
    EXPECT_LE(largest, 40.0 + 1e-6);
  }
}

// A foreign run holds few of the study's compounds and many of its own,
// which no other run holds; the other runs are those of the study without
// it, byte for byte.
TEST(SimulatorTest, ForeignRunHoldsItsOwnCompoundsAndLeavesTheOthersAsTheyWere) {
  Simulation_Options options;
  options.samples = 5;
  options.compounds = 200;
  Temp_Folder plain_folder, foreign_folder;
  const Simulation_Result plain = Simulate_Study(options, plain_folder.path());
  options.foreign_runs = 1;
  options.foreign_share = 0.05;
  const Simulation_Result foreign = Simulate_Study(options, foreign_folder.path());
  ASSERT_EQ(foreign.database_names, plain.database_names);
  EXPECT_EQ(foreign.compounds, 400u);
  const std::size_t odd = 2;  // the middle of the input order
  for (std::size_t s = 0; s < plain.database_names.size(); ++s) {
    const std::string& name = plain.database_names[s];
    if (s == odd) {
      EXPECT_NE(Read_File(Join_Path(foreign_folder.path(), name)),
                Read_File(Join_Path(plain_folder.path(), name)));
    } else {
      EXPECT_EQ(Read_File(Join_Path(foreign_folder.path(), name)),
                Read_File(Join_Path(plain_folder.path(), name)))
          << name;
    }
  }
  // true compounds per sample, from the truth: study's (1-200) and own.
  std::map<std::string, std::set<int>> study, own;
  std::istringstream truth(Read_File(foreign.ground_truth_path));
  std::string line;
  std::getline(truth, line);
  while (std::getline(truth, line)) {
    const std::string sample = line.substr(0, line.find(','));
    const int compound = std::stoi(line.substr(line.rfind(',') + 1));
    if (compound == 0) continue;
    (compound <= 200 ? study : own)[sample].insert(compound);
  }
  const std::string odd_name = foreign.sample_names[odd];
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own.begin()->first, odd_name);
  EXPECT_GT(own[odd_name].size(), 120u);
  EXPECT_LT(study[odd_name].size(), 30u);
  EXPECT_GT(study[foreign.sample_names[0]].size(), 120u);
}

// Short shapes: every peak is the one of full shapes, with the middle points
// of its shape around the apex; the default writes today's bytes.
TEST(SimulatorTest, ShapePointsKeepTheMiddleOfTheSamePeaks) {
  Simulation_Options options = Small(11);
  options.max_drift_seconds = 10.0;
  auto read = [](const std::string& folder, const Simulation_Result& study) {
    std::vector<std::vector<Chromatogram_Peak_Group_Compound>> out;
    for (const std::string& name : study.database_names) {
      out.emplace_back();
      Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(folder, name,
                                                                           out.back());
    }
    return out;
  };
  Temp_Folder full_folder, zero_folder;
  const Simulation_Result full_study = Simulate_Study(options, full_folder.path());
  Simulation_Options zero = options;
  zero.shape_points = 0;
  Simulate_Study(zero, zero_folder.path());
  for (const std::string& name : full_study.database_names) {
    EXPECT_EQ(Read_File(Join_Path(full_folder.path(), name)),
              Read_File(Join_Path(zero_folder.path(), name)));
  }
  const auto full = read(full_folder.path(), full_study);
  for (const std::uint32_t points : {1u, 2u, 5u, 16u}) {
    Temp_Folder folder;
    Simulation_Options o = options;
    o.shape_points = points;
    const Simulation_Result study = Simulate_Study(o, folder.path());
    EXPECT_EQ(study.peaks, full_study.peaks);
    EXPECT_EQ(Read_File(study.ground_truth_path), Read_File(full_study.ground_truth_path));
    const auto short_shapes = read(folder.path(), study);
    ASSERT_EQ(short_shapes.size(), full.size());
    for (std::size_t s = 0; s < full.size(); ++s) {
      ASSERT_EQ(short_shapes[s].size(), full[s].size());
      for (std::size_t i = 0; i < full[s].size(); ++i) {
        const auto& a = short_shapes[s][i];
        const auto& b = full[s][i];
        EXPECT_EQ(a.EIC_ID, b.EIC_ID);
        EXPECT_EQ(a.Compound_ID, b.Compound_ID);
        EXPECT_EQ(a.Apex_MZ, b.Apex_MZ);
        EXPECT_EQ(a.Apex_Intensity, b.Apex_Intensity);
        EXPECT_EQ(a.Peak_Area, b.Peak_Area);
        EXPECT_EQ(a.Compound_Retention_Time, b.Compound_Retention_Time);
        EXPECT_EQ(a.Left_Boundary, b.Left_Boundary);
        EXPECT_EQ(a.Right_Boundary, b.Right_Boundary);
        const std::size_t n = std::min<std::size_t>(points, b.Peak_shape.size());
        ASSERT_EQ(a.Peak_shape.size(), n);
        const std::size_t skip = (b.Peak_shape.size() - n + 1) / 2;
        const std::vector<Data_Point> middle(b.Peak_shape.begin() + skip,
                                             b.Peak_shape.begin() + skip + n);
        EXPECT_EQ(a.Peak_shape, middle);
        bool apex_inside = false;
        for (const Data_Point& d : a.Peak_shape) apex_inside |= d.Scan == b.Apex_Pos;
        EXPECT_TRUE(apex_inside) << points << " points, peak " << i;
      }
    }
  }
}

}  // namespace
