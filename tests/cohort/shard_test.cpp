// The alignment in shards: scan, plan, split, align each shard, merge. The
// merged result must be the one-process run's at the SQL level (every table,
// row and value) and byte for byte in the CSV, whatever the mode, unit, drift
// correction and number of shards; and each step must refuse, naming the
// file, what does not belong to its plan.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "align/member_choice.h"
#include "cohort/pooled_spreads.h"
#include "cohort/shard_steps.h"
#include "cohort/study_plan.h"
#include "export/export_result.h"
#include "export/formats.h"
#include "export/sample_sheet.h"
#include "run/alignment_run.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

// Every table's rows in rowid order, with each value's type and bits, and the
// schema.
std::string Sql_Dump(const std::string& path) {
  sqlite3* db = nullptr;
  std::string dump;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return dump;
  }
  auto run = [&](const std::string& sql) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &query, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << " on " << path;
      return std::vector<std::string>{};
    }
    std::vector<std::string> first_column;
    while (sqlite3_step(query) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(query); ++c) {
        const int type = sqlite3_column_type(query, c);
        std::string value;
        if (type == SQLITE_FLOAT) {
          char bits[32];
          std::snprintf(bits, sizeof bits, "%a", sqlite3_column_double(query, c));
          value = bits;
        } else if (type != SQLITE_NULL) {
          value.assign(static_cast<const char*>(sqlite3_column_blob(query, c)),
                       static_cast<std::size_t>(sqlite3_column_bytes(query, c)));
        }
        if (c == 0) first_column.push_back(value);
        dump += std::to_string(type) + ':' + value + '|';
      }
      dump += '\n';
    }
    sqlite3_finalize(query);
    return first_column;
  };
  for (const std::string& table :
       run("select name, type, tbl_name, sql from sqlite_master order by name")) {
    if (table.rfind("sqlite_autoindex", 0) != 0 && table.rfind("Align_Peaklist_", 0) != 0 &&
        table.find("idx") == std::string::npos) {
      run("select * from \"" + table + "\" order by rowid");
    }
  }
  sqlite3_close(db);
  return dump;
}

// Rows of a table; 0 without it.
long long Count_Rows(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_stmt* query = nullptr;
  long long rows = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, ("select count(*) from \"" + table + "\"").c_str(), -1, &query,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(query) == SQLITE_ROW) {
    rows = sqlite3_column_int64(query, 0);
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return rows;
}

class ShardTest : public ::testing::Test {
 protected:
  ShardTest() {
    study_ = Join_Path(folder_.path(), "study");
    const Simulation_Result simulated = Make_Study(study_, 6, 160, 11);
    paths_ = Study_Paths(study_, simulated);
    // Equal intensities across the mass axis (ties broken by sample and
    // row), masses without a bin, and a seed that is no compound.
    std::vector<Chromatogram_Peak_Group_Compound> odd;
    for (int i = 0; i < 12; ++i) {
      odd.push_back(Make_Annotated_Peak(i + 1, 150.0 + 80.0 * i, 300.0 + i, 5e5, i + 1));
    }
    odd.push_back(
        Make_Annotated_Peak(20, -std::numeric_limits<double>::infinity(), 400.0, 0.0, 30));
    odd.push_back(Make_Annotated_Peak(21, 0.0, 400.0, 5e5, 31));
    odd.push_back(Make_Annotated_Peak(22, 310.0, 301.0, 5e5, 0));
    for (const char* name : {"tiesA", "tiesB"}) {
      const std::string file = std::string(name) + kAnnotatedSuffix;
      Write_Annotated_Database(Join_Path(study_, file), odd);
      paths_.insert(paths_.begin() + 2, Join_Path(study_, file));
    }
  }

  Alignment_Request Options(Compound_Align_Mode mode, bool ppm, bool correction) const {
    Alignment_Request options;
    options.mode = mode;
    options.Mass_Tol = ppm ? Mass_Tolerance{Mass_Tolerance::Unit::kPpm, 20.0}
                           : Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.02};
    options.rt_correction = correction;
    options.record_run = true;
    for (const std::string& path : paths_) {
      const Split_Path_Result parts = Split_Path(path);
      options.files.push_back({parts.folder, parts.name});
    }
    return options;
  }

  // Scans the inputs in two scan files (the plan merges them).
  std::vector<std::string> Scan(const Alignment_Request& options, const std::string& tag) const {
    std::vector<std::string> scans;
    Alignment_Request half = options;
    const std::size_t cut = options.files.size() / 2;
    half.files.assign(options.files.begin(), options.files.begin() + cut);
    scans.push_back(Join_Path(folder_.path(), tag + "-a.json"));
    Scan_Inputs(half, scans.back());
    half.files.assign(options.files.begin() + cut, options.files.end());
    scans.push_back(Join_Path(folder_.path(), tag + "-b.json"));
    Scan_Inputs(half, scans.back());
    return scans;
  }

  // Plan, split, every shard, merge; returns the plan.
  Study_Plan Pipeline(const Alignment_Request& options, const std::vector<std::string>& scans,
                      std::uint32_t shards, const std::string& plan_dir,
                      const std::string& result) const {
    fs::create_directories(plan_dir);
    std::ostringstream notes;
    Study_Plan plan = Make_Plan(scans, options, shards, notes);
    Write_Plan_File(plan_dir, plan);
    Split_Inputs(plan_dir, paths_);
    // The shards side by side, as a workflow runs them.
    const auto every_shard = [&](const std::function<void(std::uint32_t)>& step) {
      std::atomic<std::uint32_t> next{0};
      std::vector<std::exception_ptr> errors(plan.shards.size());
      std::vector<std::thread> threads;
      for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
          for (std::uint32_t k = next++; k < plan.shards.size(); k = next++) {
            try {
              step(k);
            } catch (...) {
              errors[k] = std::current_exception();
            }
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      for (const std::exception_ptr& error : errors) {
        if (error) std::rethrow_exception(error);
      }
    };
    if (Needs_Study_Spreads(plan.options)) {  // the first round: the study's spreads
      every_shard([&](std::uint32_t k) { Shard_Deviations(plan_dir, k); });
      Pool_Spreads(plan_dir);
    }
    every_shard([&](std::uint32_t k) { Align_Shard(plan_dir, k); });
    fs::create_directories(result);
    Merge_Shards(plan_dir, result);
    return plan;
  }

  // A study where the member choice matters, written as paths_: compounds of
  // little time and intensity scatter at low masses, of much at high masses
  // (so that spreads of one part of the mass axis are not the study's), there
  // each beside same-mass decoys nearer in time to the seed, and compounds
  // that the seed's window splits in two.
  void Write_Choice_Study() {
    const std::string study = Join_Path(folder_.path(), "choice-study");
    fs::create_directories(study);
    std::mt19937 random(17);
    const auto uniform = [&random](double from, double to) {
      return from + (to - from) * static_cast<double>(random() % 1000000) / 1e6;
    };
    constexpr int kSamples = 8;
    std::vector<std::vector<Chromatogram_Peak_Group_Compound>> peaks(kSamples);
    std::uint32_t compound = 0;
    const auto add = [&](int sample, double mass, double rt, double intensity) {
      peaks[sample].push_back(Make_Annotated_Peak(
          static_cast<std::uint32_t>(peaks[sample].size()) + 1, mass, rt, intensity, compound));
    };
    for (int c = 0; c < 60; ++c, ++compound) {
      for (int s = 0; s < kSamples; ++s) {
        add(s, 100.0 + 5.0 * c + uniform(-0.002, 0.002), 100.0 + 20.0 * c + uniform(-2.0, 2.0),
            1e6 * std::pow(10.0, uniform(-0.05, 0.05)));
      }
    }
    for (int c = 0; c < 40; ++c, ++compound) {
      std::vector<double> rt(kSamples), intensity(kSamples);
      for (int s = 0; s < kSamples; ++s) {
        rt[s] = 100.0 + 30.0 * c + uniform(-12.0, 12.0);
        intensity[s] = 1e6 * std::pow(10.0, uniform(-0.1, 0.1));
        add(s, 2000.0 + 5.0 * c + uniform(-0.002, 0.002), rt[s], intensity[s]);
      }
      const auto seed = static_cast<std::size_t>(
          std::max_element(intensity.begin(), intensity.end()) - intensity.begin());
      for (int s = 0; s < kSamples; ++s) {
        if (static_cast<std::size_t>(s) == seed) continue;
        add(s, 2000.0 + 5.0 * c + uniform(-0.003, 0.003), rt[seed] + uniform(-1.0, 1.0),
            intensity[seed] * std::pow(10.0, -uniform(0.03, 0.4)));
      }
    }
    for (int c = 0; c < 6; ++c, ++compound) {
      for (int s = 0; s < kSamples; ++s) {
        add(s, 3000.0 + 5.0 * c, 200.0 + 50.0 * c + 3.0 * s, 1e6 * (kSamples - s));
      }
    }
    paths_.clear();
    for (int s = 0; s < kSamples; ++s) {
      paths_.push_back(
          Join_Path(study, "choice" + std::to_string(s) + std::string(kAnnotatedSuffix)));
      Write_Annotated_Database(paths_.back(), peaks[s]);
    }
  }

  Temp_Folder folder_;
  std::string study_;
  std::vector<std::string> paths_;
};

TEST_F(ShardTest, MergedResultIsTheOneProcessRunsForEveryModeUnitCorrectionAndShardCount) {
  int case_number = 0;
  for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
    for (bool ppm : {false, true}) {
      for (bool correction : {false, true}) {
        Alignment_Request options = Options(mode, ppm, correction);
        const std::string single =
            Join_Path(folder_.path(), "single" + std::to_string(case_number));
        fs::create_directories(single);
        options.result_folder = single;
        std::ostream quiet(nullptr);
        Alignment_Run_Observer observer;
        observer.align_lines = &quiet;
        Run_Alignment(options, observer);
        const std::string expected_db = Sql_Dump(Join_Path(single, kAlignedDbName));
        // The correction's tables, anchors included, are part of what must match.
        EXPECT_EQ(Count_Rows(Join_Path(single, kAlignedDbName), "Align_RT_Anchor") > 0, correction);
        const std::string expected_csv = Read_File(Join_Path(single, kAlignedCsvName));
        const std::vector<std::string> scans = Scan(options, "scan" + std::to_string(case_number));
        // 32 shards: a shard of a few compounds, many with none.
        for (std::uint32_t shards : {1u, 2u, 7u, 32u}) {
          SCOPED_TRACE("mode " + std::to_string(mode) + (ppm ? " ppm" : " Da") +
                       (correction ? " corrected" : "") + ", shards " + std::to_string(shards));
          const std::string tag = std::to_string(case_number) + "-" + std::to_string(shards);
          const std::string result = Join_Path(folder_.path(), "merged" + tag);
          const Study_Plan plan =
              Pipeline(options, scans, shards, Join_Path(folder_.path(), "plan" + tag), result);
          EXPECT_EQ(plan.shards.size(), shards);
          EXPECT_TRUE(Sql_Dump(Join_Path(result, kAlignedDbName)) == expected_db);
          EXPECT_TRUE(Read_File(Join_Path(result, kAlignedCsvName)) == expected_csv);
        }
        ++case_number;
      }
    }
  }
}

TEST_F(ShardTest, CorrectedRunOfInputsWithMoreCompoundsThanTheScanKeepsIsTheOneProcessRuns) {
  Simulation_Options simulated;
  simulated.samples = 3;
  simulated.compounds = 2900;  // about 2450 compounds per input
  simulated.seed = 5;
  simulated.max_drift_seconds = 40.0;
  const std::string study = Join_Path(folder_.path(), "large");
  paths_ = Study_Paths(study, Simulate_Study(simulated, study));
  for (const std::string& path : paths_) {
    const Split_Path_Result parts = Split_Path(path);
    std::vector<Chromatogram_Peak_Group_Compound> peaks;
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(parts.folder, parts.name,
                                                                         peaks);
    std::set<std::uint32_t> compounds;
    for (const auto& p : peaks) compounds.insert(p.Compound_ID);
    ASSERT_GT(compounds.size(), Scan_Anchors_Per_Input() + 200) << path;
  }
  Alignment_Request options = Options(One_Phase_Align, false, true);
  options.result_folder = Join_Path(folder_.path(), "single");
  fs::create_directories(options.result_folder);
  std::ostream quiet(nullptr);
  Alignment_Run_Observer observer;
  observer.align_lines = &quiet;
  Run_Alignment(options, observer);
  const std::string result = Join_Path(folder_.path(), "merged");
  Pipeline(options, Scan(options, "large"), 3, Join_Path(folder_.path(), "plan"), result);
  EXPECT_TRUE(Sql_Dump(Join_Path(result, kAlignedDbName)) ==
              Sql_Dump(Join_Path(options.result_folder, kAlignedDbName)));
}

// A foreign run's gross shift is turned down in the plan's correction as in
// one run, and the merged result stores that sample as one run does.
TEST_F(ShardTest, GrossShiftNotAppliedReachesTheMergedResultAsInOneRun) {
  Simulation_Options simulated;
  simulated.samples = 8;
  simulated.compounds = 400;
  simulated.rt_trend_seconds = 10.0;
  simulated.foreign_runs = 1;
  simulated.foreign_share = 0.01;
  simulated.seed = 8;
  const std::string study = Join_Path(folder_.path(), "foreign");
  paths_ = Study_Paths(study, Simulate_Study(simulated, study));
  Alignment_Request options = Options(One_Phase_Align, false, true);
  options.result_folder = Join_Path(folder_.path(), "single");
  fs::create_directories(options.result_folder);
  std::ostream quiet(nullptr);
  Alignment_Run_Observer observer;
  observer.align_lines = &quiet;
  Run_Alignment(options, observer);
  ASSERT_EQ(Count_Rows(Join_Path(options.result_folder, kAlignedDbName), "Align_RT_Gross_Shift"),
            1);
  const std::string result = Join_Path(folder_.path(), "merged");
  Pipeline(options, Scan(options, "foreign"), 2, Join_Path(folder_.path(), "plan"), result);
  EXPECT_TRUE(Sql_Dump(Join_Path(result, kAlignedDbName)) ==
              Sql_Dump(Join_Path(options.result_folder, kAlignedDbName)));
}

TEST_F(ShardTest, StudyWithoutAWideEnoughGapMakesOneShardAndSaysSo) {
  Alignment_Request options = Options(One_Phase_Align, false, false);
  options.Mass_Tol.value = 400.0;  // every gap of the study is narrower than 800 Da
  const std::vector<std::string> scans = Scan(options, "wide");
  std::ostringstream notes;
  const Study_Plan plan = Make_Plan(scans, options, 4, notes);
  EXPECT_EQ(plan.shards.size(), 1u);
  EXPECT_NE(notes.str().find("1 shard(s) instead of 4"), std::string::npos) << notes.str();

  // In ppm, a seed of infinite mass has an infinite tolerance.
  options.Mass_Tol = {Mass_Tolerance::Unit::kPpm, 20.0};
  std::ostringstream ppm_notes;
  EXPECT_GT(Make_Plan(Scan(options, "ppm"), options, 3, ppm_notes).shards.size(), 1u);
  Write_Annotated_Database(
      Join_Path(study_, std::string("inf") + kAnnotatedSuffix),
      {Make_Annotated_Peak(1, std::numeric_limits<double>::infinity(), 300.0, 10.0)});
  options.files.push_back({study_, std::string("inf") + kAnnotatedSuffix});
  EXPECT_EQ(Make_Plan(Scan(options, "inf"), options, 3, ppm_notes).shards.size(), 1u);
  EXPECT_NE(ppm_notes.str().find("infinite mass"), std::string::npos) << ppm_notes.str();
}

// The member choice's spreads span the whole study: every shard gives its
// deviations, the spreads are pooled from them all, and each shard then
// chooses its members with them. Joins stay inside a shard. The merged result
// must be the one run's, its member choice table and record included.
TEST_F(ShardTest, MergedResultIsTheOneProcessRunsWithTheScoredChoiceJoinsOrBoth) {
  struct Case {
    Member_Pick pick;
    bool join;
    Compound_Align_Mode mode;
    bool ppm;
    bool correction;
  };
  const std::vector<Case> cases = {{Member_Pick::kScored, false, One_Phase_Align, false, false},
                                   {Member_Pick::kScored, false, One_Phase_Align, false, true},
                                   {Member_Pick::kClosest, true, One_Phase_Align, false, true},
                                   {Member_Pick::kScored, true, One_Phase_Align, false, false},
                                   {Member_Pick::kScored, true, Two_Phase_Align, true, true}};
  Write_Choice_Study();
  std::uint32_t joins = 0;
  int case_number = 0;
  for (const Case& c : cases) {
    {
      const bool correction = c.correction;
      Alignment_Request options = Options(c.mode, c.ppm, correction);
      options.Align_Window1 = 40.0;
      options.pick = c.pick;
      options.join_splits = c.join;
      const std::string tag = "choice" + std::to_string(case_number++);
      SCOPED_TRACE(tag + (c.pick == Member_Pick::kScored ? " scored" : "") +
                   (c.join ? " joined" : "") + (correction ? " corrected" : ""));
      const std::string single = Join_Path(folder_.path(), tag);
      fs::create_directories(single);
      options.result_folder = single;
      std::ostream quiet(nullptr);
      Alignment_Run_Observer observer;
      observer.align_lines = &quiet;
      const Alignment_Run_Summary summary = Run_Alignment(options, observer);
      EXPECT_EQ(summary.spreads.Found(), c.pick == Member_Pick::kScored);
      joins += summary.joins;
      const std::string expected_db = Sql_Dump(Join_Path(single, kAlignedDbName));
      EXPECT_EQ(Count_Rows(Join_Path(single, kAlignedDbName), "Align_Member_Choice"), 7);
      const std::string expected_csv = Read_File(Join_Path(single, kAlignedCsvName));
      const std::vector<std::string> scans = Scan(options, tag);
      for (std::uint32_t shards : {3u, 32u}) {
        SCOPED_TRACE("shards " + std::to_string(shards));
        const std::string result = Join_Path(single, "merged" + std::to_string(shards));
        const Study_Plan plan = Pipeline(
            options, scans, shards, Join_Path(single, "plan" + std::to_string(shards)), result);
        EXPECT_EQ(plan.shards.size(), shards);
        EXPECT_TRUE(Sql_Dump(Join_Path(result, kAlignedDbName)) == expected_db);
        EXPECT_TRUE(Read_File(Join_Path(result, kAlignedCsvName)) == expected_csv);
      }
    }
  }
  EXPECT_GT(joins, 0u);  // the study holds split groups
}

// A plan with the member choice is of its own schema version (a Varnel that
// knows nothing of it refuses it instead of aligning without it); its shards
// need the study's spreads, and the merge refuses a shard aligned without
// the plan's choice or with other spreads, as it refuses a shard with a
// choice its plan does not have. A plan without it keeps its bytes.
TEST_F(ShardTest, AMemberChoicePlanRunsInTwoRoundsAndRefusesShardsOfAnotherChoice) {
  Alignment_Request options = Options(One_Phase_Align, false, true);
  const std::vector<std::string> scans = Scan(options, "plain");
  options.pick = Member_Pick::kScored;
  options.join_splits = true;
  EXPECT_TRUE(Needs_Study_Spreads(options));
  const std::vector<std::string> choice_scans = Scan(options, "choice");
  for (std::size_t i = 0; i < scans.size(); ++i) {
    EXPECT_TRUE(Read_File(scans[i]) == Read_File(choice_scans[i]));  // the choice is the plan's
  }
  const std::string plain_dir = Join_Path(folder_.path(), "plain");
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  for (const std::string& dir : {plain_dir, plan_dir}) fs::create_directories(dir);
  std::ostringstream notes;
  Alignment_Request plain_options = options;
  plain_options.pick = Member_Pick::kClosest;
  plain_options.join_splits = false;
  Study_Plan plain = Make_Plan(scans, plain_options, 3, notes);
  Write_Plan_File(plain_dir, plain);
  const std::string plain_text = Read_File(Join_Path(plain_dir, kPlanFileName));
  EXPECT_NE(plain_text.find("\"schema_version\": 2,"), std::string::npos);
  EXPECT_EQ(plain_text.find("pick"), std::string::npos);
  EXPECT_EQ(plain_text.find("join_splits"), std::string::npos);
  EXPECT_THROW(Shard_Deviations(plain_dir, 0), std::runtime_error);

  Study_Plan plan = Make_Plan(scans, options, 3, notes);
  Write_Plan_File(plan_dir, plan);
  ASSERT_EQ(plan.shards.size(), 3u);
  const std::string text = Read_File(Join_Path(plan_dir, kPlanFileName));
  EXPECT_NE(text.find("\"schema_version\": 3,"), std::string::npos);
  EXPECT_NE(text.find("\"pick\": \"scored\""), std::string::npos);
  const Study_Plan read = Read_Plan_File(plan_dir);
  EXPECT_EQ(read.options.pick, Member_Pick::kScored);
  EXPECT_TRUE(read.options.join_splits);
  Split_Inputs(plan_dir, paths_);

  const auto refused = [](const std::function<void()>& step, const std::string& says) {
    try {
      step();
      ADD_FAILURE() << "not refused: " << says;
      return std::string();
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
      return std::string(e.what());
    }
  };
  // No shard before the spreads, no spreads before every shard's deviations.
  refused([&] { Align_Shard(plan_dir, 0); }, Spreads_Path(plan_dir) + ": missing");
  EXPECT_FALSE(fs::exists(Shard_Folder(plan_dir, 0)));
  Shard_Deviations(plan_dir, 1);
  EXPECT_TRUE(Shard_Deviations(plan_dir, 1).already_done);
  const std::string missing =
      refused([&] { Pool_Spreads(plan_dir); }, Deviations_Path(plan_dir, 0) + ": missing");
  EXPECT_NE(missing.find(Deviations_Path(plan_dir, 2) + ": missing"), std::string::npos);
  EXPECT_EQ(missing.find(Deviations_Path(plan_dir, 1)), std::string::npos);
  EXPECT_FALSE(fs::exists(Spreads_Path(plan_dir)));
  Shard_Deviations(plan_dir, 0);
  Shard_Deviations(plan_dir, 2);
  // A damaged deviations file is refused by name, and made again.
  const std::string deviations = Deviations_Path(plan_dir, 2);
  std::string bytes = Read_File(deviations);
  ASSERT_GT(bytes.size(), 200u);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 4);
  Write_File(deviations, bytes);
  refused([&] { Pool_Spreads(plan_dir); }, deviations + ": checksum mismatch");
  Write_File(deviations, bytes.substr(0, bytes.size() - 9));
  refused([&] { Pool_Spreads(plan_dir); }, deviations + ": its size does not match");
  EXPECT_FALSE(Shard_Deviations(plan_dir, 2).already_done);
  const Pick_Spreads spreads = Pool_Spreads(plan_dir);
  EXPECT_TRUE(spreads.Found());
  EXPECT_TRUE(Read_Study_Spreads(plan_dir, plan) == spreads);
  for (std::uint32_t k = 0; k < 3; ++k) Align_Shard(plan_dir, k);
  const std::string result = Join_Path(folder_.path(), "merged");
  fs::create_directories(result);
  Merge_Shards(plan_dir, result);
  const std::string good = Read_File(Join_Path(result, kAlignedCsvName));
  const std::string fresh = Join_Path(folder_.path(), "fresh");
  fs::create_directories(fresh);

  // A shard without the plan's choice, as a Varnel that knows nothing of it
  // would have aligned it.
  const std::string shard_db = Join_Path(Shard_Folder(plan_dir, 1), kAlignedDbName);
  Exec_Sql(shard_db, "drop table Align_Member_Choice");
  refused([&] { Merge_Shards(plan_dir, fresh); },
          "shard 1 (" + Shard_Folder(plan_dir, 1) + "): aligned without the plan's member choice");
  EXPECT_TRUE(List_Folder(fresh).empty());
  EXPECT_FALSE(Align_Shard(plan_dir, 1).already_done);
  // Spreads pooled again after the shards, and other than theirs.
  const std::string spreads_path = Spreads_Path(plan_dir);
  const std::string spreads_text = Read_File(spreads_path);
  std::string other = spreads_text;
  const std::size_t rt = other.find("\"rt\": \"") + 7;
  other.replace(rt, 1, other[rt] == '1' ? "2" : "1");
  Write_File(spreads_path, other);
  const std::string changed = refused([&] { Merge_Shards(plan_dir, fresh); }, "other spreads");
  EXPECT_NE(changed.find("shard 0"), std::string::npos);
  EXPECT_TRUE(List_Folder(fresh).empty());
  Write_File(spreads_path, spreads_text);
  Merge_Shards(plan_dir, fresh);
  EXPECT_TRUE(Read_File(Join_Path(fresh, kAlignedCsvName)) == good);

  // A shard with a choice its plan does not have.
  Split_Inputs(plain_dir, paths_);
  for (std::uint32_t k = 0; k < 3; ++k) Align_Shard(plain_dir, k);
  Exec_Sql(Join_Path(Shard_Folder(plain_dir, 2), kAlignedDbName),
           "create table Align_Member_Choice (Item TEXT PRIMARY KEY, Value TEXT); insert into "
           "Align_Member_Choice values ('pick', 'scored')");
  refused([&] { Merge_Shards(plain_dir, fresh); },
          "shard 2 (" + Shard_Folder(plain_dir, 2) + "): aligned with a member choice");
}

// The spreads pooled in passes over the shards' files are bit for bit those
// of the values held at once: odd and even counts, ties, both zeros,
// NaN and infinities left out, a deviation that overflows, few and many
// values.
TEST(PooledSpreadsTest, PassesGiveTheSpreadsOfTheValuesHeldAtOnce) {
  std::mt19937_64 random(3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::vector<double>> sets = {{},
                                           {nan, inf},
                                           {2.5},
                                           {-0.0, 0.0},
                                           {0.0, -0.0, -0.0},
                                           {1.0, 1.0},
                                           {-3.0, 7.0},
                                           {1e308, -1e308, 5.0},
                                           {-1e308, -1e308, 1e308, 1e308},
                                           {-1.7e308, 1.7e308, 1.7e308},
                                           {-1.7e308, -1.7e308, 1.7e308, 0.0, 1.0}};
  for (std::size_t n : {2u, 3u, 10u, 101u, 4096u, 65537u}) {
    std::vector<double> values;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t r = random();
      switch (r % 7) {
        case 0:
          values.push_back(0.0);
          break;  // ties at the centre
        case 1:
          values.push_back(static_cast<double>(r % 5) - 2.0);
          break;  // small ties
        case 2:
          values.push_back(std::ldexp(static_cast<double>(r >> 11), -60));
          break;
        case 3:
          values.push_back(-std::ldexp(static_cast<double>(r >> 11), -50));
          break;
        case 4:
          values.push_back(r % 3 == 0 ? nan : (r % 3 == 1 ? inf : -inf));
          break;
        case 5:
          values.push_back(-0.0);
          break;
        default:
          values.push_back(std::bit_cast<double>(r & 0x7fefffffffffffffULL));
          break;
      }
    }
    sets.push_back(values);
    for (double& v : values) v = std::isfinite(v) ? v * 1e-3 : v;  // no huge ones
    sets.push_back(values);
  }
  for (const std::vector<double>& values : sets) {
    SCOPED_TRACE(std::to_string(values.size()) + " values");
    Spread_Deviations held;
    held.rt = values;
    held.groups = 1;
    const double expected = Spreads_Of(held, false).rt;
    const double pooled = Pooled_Robust_Spread([&values](const std::function<void(double)>& take) {
      for (double v : values) take(v);
    });
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(pooled)) << pooled;
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(pooled), std::bit_cast<std::uint64_t>(expected))
          << pooled << " " << expected;
    }
  }
  const std::vector<double> some = {5.0, -1.0, -0.0, 0.0, 3.0, -1.0};
  const Value_Pass pass = [&some](const std::function<void(double)>& take) {
    for (double v : some) take(v);
  };
  const std::vector<double> ranked = Order_Statistics(pass, {0, 1, 2, 3, 4, 5});
  EXPECT_EQ(ranked, (std::vector<double>{-1.0, -1.0, -0.0, 0.0, 3.0, 5.0}));
  EXPECT_TRUE(std::signbit(ranked[2]) && !std::signbit(ranked[3]));
}

// Why a join never crosses a cut: the joined groups' median masses lie within
// one mass tolerance of each other (in ppm, of their mean), every mass of a
// group lies in its shard, and any two masses on either side of a cut lie
// farther apart than two tolerances. Here the nearest masses the binning
// allows on either side of a cut, at many tolerances and masses, are never
// joined, while two groups one tolerance apart are.
TEST_F(ShardTest, NoJoinReachesAcrossACutOfTheMassAxis) {
  const auto joined = [](double a, double b, const Mass_Tolerance& tol) {
    const std::vector<Member_Point> points = {{a, 100.0, 1e5, 0}, {b, 100.0, 1e5, 1}};
    std::uint32_t joins = 0;
    Join_Split_Groups(points, {1, 2}, 2, tol, 20.0, std::numeric_limits<double>::quiet_NaN(),
                      joins);
    return joins == 1;
  };
  std::vector<Mass_Tolerance> tolerances;
  for (double da : {0.0, 0.0005, 0.02, 0.5, 7.0}) {
    tolerances.push_back({Mass_Tolerance::Unit::kDa, da});
  }
  for (double ppm : {0.5, 20.0, 1000.0, 150000.0, 499999.0}) {
    tolerances.push_back({Mass_Tolerance::Unit::kPpm, ppm});
  }
  int cuts = 0;
  for (const Mass_Tolerance& tol : tolerances) {
    const Mass_Binning binning(tol);
    ASSERT_GT(binning.Gap_Bins(), 0);
    for (double mass : {0.3, 18.0106, 301.14, 1234.5678, 99999.7}) {
      SCOPED_TRACE(tol.Text() + " at " + std::to_string(mass));
      // The last mass of the bin below the gap and the first above it.
      const std::int64_t below = *binning.Bin(mass);
      const std::int64_t above = below + binning.Gap_Bins() + 1;
      double a = binning.Mass_At(static_cast<double>(below + 1));
      while (*binning.Bin(a) > below) a = std::nextafter(a, -1.0);
      while (*binning.Bin(std::nextafter(a, 2 * a + 1)) == below) a = std::nextafter(a, 2 * a + 1);
      double b = binning.Mass_At(static_cast<double>(above));
      while (*binning.Bin(b) < above) b = std::nextafter(b, 2 * b + 1);
      while (*binning.Bin(std::nextafter(b, -1.0)) == above) b = std::nextafter(b, -1.0);
      ASSERT_EQ(*binning.Bin(a), below);
      ASSERT_EQ(*binning.Bin(b), above);
      EXPECT_FALSE(joined(a, b, tol)) << a << " " << b;
      ++cuts;
      if (tol.value > 0.0) {
        const double within =
            tol.unit == Mass_Tolerance::Unit::kDa ? tol.value * 0.99 : a * tol.value * 0.99e-6;
        EXPECT_TRUE(joined(a, a + within, tol)) << a;
      }
    }
  }
  EXPECT_EQ(cuts, 50);
}

TEST_F(ShardTest, InputChangedAfterThePlanIsRefusedByNameAndNothingIsWritten) {
  const Alignment_Request options = Options(One_Phase_Align, false, false);
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  fs::create_directories(plan_dir);
  std::ostringstream notes;
  Study_Plan plan = Make_Plan(Scan(options, "s"), options, 3, notes);
  Write_Plan_File(plan_dir, plan);
  Exec_Sql(paths_[3], "update Annotate_Peaklist set Compound_Intensity = 1 where EIC_ID = 1");
  try {
    Split_Inputs(plan_dir, paths_);
    ADD_FAILURE() << "the changed input was split";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(paths_[3] + ": changed since it was scanned"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(List_Folder(plan_dir), std::vector<std::string>{kPlanFileName});
  EXPECT_THROW(Split_Inputs(plan_dir, {Join_Path(folder_.path(), "other.db")}), std::runtime_error);
}

// One input in two scans (or one scan given twice) would be aligned against
// itself: the plan refuses it naming the scan and both paths; a split run
// again removes the part a killed split left, and only that.
TEST_F(ShardTest, AnInputScannedTwiceIsRefusedAndAKilledSplitLeavesNothing) {
  const Alignment_Request options = Options(One_Phase_Align, false, false);
  const std::vector<std::string> scans = Scan(options, "s");
  std::ostringstream notes;
  try {
    Make_Plan({scans[0], scans[1], scans[0]}, options, 3, notes);
    ADD_FAILURE() << "a scan given twice was planned";
  } catch (const std::runtime_error& e) {
    const std::string first = Join_Path(options.files[0].folder, options.files[0].name);
    EXPECT_EQ(std::string(e.what()), scans[0] + ": " + first + " and " + first +
                                         " are the same file; give each input once");
  }
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  fs::create_directories(plan_dir);
  Study_Plan plan = Make_Plan(scans, options, 3, notes);  // control
  Write_Plan_File(plan_dir, plan);
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string parts = Part_Folder(plan_dir, 0);
  fs::create_directories(parts);
  const std::string left = Join_Path(parts, ".varnel-part-" + std::to_string(ended) + "-Xy12Z9");
  Write_File(left, "half a part");
  Write_File(Join_Path(parts, "notes.txt"), "kept");
  Split_Inputs(plan_dir, paths_);
  EXPECT_FALSE(fs::exists(left));
  EXPECT_TRUE(fs::exists(Join_Path(parts, "notes.txt")));
  for (const std::string& name : List_Folder(parts)) EXPECT_NE(name[0], '.') << name;
}

TEST_F(ShardTest, PlanOfAnotherSchemaVersionIsRefusedByName) {
  const Alignment_Request options = Options(One_Phase_Align, false, true);
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  fs::create_directories(plan_dir);
  std::ostringstream notes;
  Study_Plan plan = Make_Plan(Scan(options, "s"), options, 2, notes);
  Write_Plan_File(plan_dir, plan);
  ASSERT_FALSE(plan.correction->samples.at(0).anchor_rt.empty());
  EXPECT_EQ(Read_Plan_File(plan_dir).correction->samples.at(0).anchor_rt,
            plan.correction->samples.at(0).anchor_rt);
  const std::string path = Join_Path(plan_dir, kPlanFileName);
  std::string text = Read_File(path);
  const std::string version = "\"schema_version\": " + std::to_string(kPlanSchemaVersion);
  ASSERT_NE(text.find(version), std::string::npos);
  text.replace(text.find(version), version.size(), "\"schema_version\": 1");
  Write_File(path, text);
  try {
    Read_Plan_File(plan_dir);
    ADD_FAILURE() << "a plan of schema version 1 was read";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(path + ": a plan of schema version 1", 0), 0u)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("make the plan again"), std::string::npos) << e.what();
  }
}

TEST_F(ShardTest, MergeNamesMissingAndHalfWrittenShardsAndWritesNothingThenMergesOnceRepaired) {
  const Alignment_Request options = Options(Two_Phase_Align, false, false);
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  const std::string result = Join_Path(folder_.path(), "merged");
  const Study_Plan plan = Pipeline(options, Scan(options, "s"), 3, plan_dir, result);
  const std::string good = Read_File(Join_Path(result, kAlignedCsvName));

  // A finished shard run again is left as it is.
  EXPECT_TRUE(Align_Shard(plan_dir, 1).already_done);

  fs::remove_all(Shard_Folder(plan_dir, 1));
  const std::string rows = Join_Path(Shard_Folder(plan_dir, 2), kShardRowsName);
  const std::string bytes = Read_File(rows);
  Write_File(rows, bytes.substr(0, bytes.size() / 2));  // written only in part
  const std::string fresh = Join_Path(folder_.path(), "fresh");
  fs::create_directories(fresh);
  try {
    Merge_Shards(plan_dir, fresh);
    ADD_FAILURE() << "merged without every shard";
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("shard 1 (" + Shard_Folder(plan_dir, 1) + "): missing"), std::string::npos)
        << what;
    EXPECT_NE(what.find("shard 2 (" + Shard_Folder(plan_dir, 2) + "): broken"), std::string::npos)
        << what;
    EXPECT_EQ(what.find("shard 0"), std::string::npos) << what;
  }
  EXPECT_TRUE(List_Folder(fresh).empty());
  const std::string features = Join_Path(folder_.path(), "features.csv");
  Export_Options area;
  area.quantity = Export_Quantity::kArea;
  EXPECT_THROW(Merge_Export(plan_dir, area, features), std::runtime_error);
  EXPECT_FALSE(fs::exists(features));

  // Aligning the two shards again repairs the plan's folder.
  Align_Shard(plan_dir, 1);
  EXPECT_FALSE(Align_Shard(plan_dir, 2).already_done);
  Merge_Shards(plan_dir, fresh);
  EXPECT_TRUE(Read_File(Join_Path(fresh, kAlignedCsvName)) == good);
  EXPECT_EQ(plan.shards.size(), 3u);

  // The feature table straight from the shards is the merged result's.
  Merge_Export(plan_dir, area, features);
  const std::string exported = Join_Path(folder_.path(), "exported.csv");
  Export_Options table;
  table.quantity = Export_Quantity::kArea;
  Export_Result(Join_Path(fresh, kAlignedDbName), table, exported);
  EXPECT_TRUE(Read_File(features) == Read_File(exported));
}

TEST_F(ShardTest, AShardWhoseRowsDifferByOneBitAnywhereIsRefusedByNameAndTheUnchangedOneMerges) {
  const Alignment_Request options = Options(One_Phase_Align, false, false);
  const std::string plan_dir = Join_Path(folder_.path(), "plan");
  const std::string result = Join_Path(folder_.path(), "merged");
  const Study_Plan plan = Pipeline(options, Scan(options, "s"), 3, plan_dir, result);
  ASSERT_EQ(plan.shards.size(), 3u);
  const std::string good = Read_File(Join_Path(result, kAlignedCsvName));
  const std::string rows = Join_Path(Shard_Folder(plan_dir, 1), kShardRowsName);
  const std::string bytes = Read_File(rows);
  const std::string fresh = Join_Path(folder_.path(), "fresh");
  fs::create_directories(fresh);
  // Header, every block's head and fields, shapes and the trailer.
  for (std::size_t at = 0; at < bytes.size(); at += bytes.size() / 40 + 1) {
    for (int bit : {0, 7}) {
      SCOPED_TRACE(std::to_string(at) + " bit " + std::to_string(bit));
      std::string bad = bytes;
      bad[at] = static_cast<char>(bad[at] ^ (1 << bit));
      Write_File(rows, bad);
      try {
        Merge_Shards(plan_dir, fresh);
        ADD_FAILURE() << "merged a changed shard";
      } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("shard 1 (" + Shard_Folder(plan_dir, 1) + "): ", 0), 0u) << what;
        EXPECT_EQ(what.find("shard 0"), std::string::npos) << what;
      }
      ASSERT_TRUE(List_Folder(fresh).empty());
    }
  }
  // The last byte too, and a shard's own record of another digest.
  std::string bad = bytes;
  bad.back() = static_cast<char>(bad.back() ^ 1);
  Write_File(rows, bad);
  EXPECT_THROW(Merge_Shards(plan_dir, fresh), std::runtime_error);
  Write_File(rows, bytes);
  Merge_Shards(plan_dir, fresh);
  EXPECT_TRUE(Read_File(Join_Path(fresh, kAlignedCsvName)) == good);
}

TEST_F(ShardTest, EveryExportStraightFromTheShardsIsTheMergedResultsWithAndWithoutCorrection) {
  const std::string sheet = Join_Path(folder_.path(), "sheet.csv");
  std::string sheet_text = "sample,group\n";
  for (std::size_t i = 0; i < paths_.size(); ++i) {
    sheet_text += Sample_Name_Of(Split_Path(paths_[i]).name) + (i % 2 ? ",A\n" : ",B\n");
  }
  Write_File(sheet, sheet_text);
  for (bool correction : {true, false}) {
    SCOPED_TRACE(correction ? "corrected" : "uncorrected");
    const Alignment_Request options = Options(Two_Phase_Align, correction, correction);
    const std::string tag = correction ? "c" : "u";
    const std::string plan_dir = Join_Path(folder_.path(), "plan-" + tag);
    const std::string result = Join_Path(folder_.path(), "merged-" + tag);
    Pipeline(options, Scan(options, tag), 3, plan_dir, result);
    for (const Export_Format_Info& format : kExportFormats) {
      SCOPED_TRACE(format.name);
      Export_Options export_options;
      export_options.format = format.format;
      export_options.quantity = Export_Quantity::kHeight;
      export_options.software_version = "test";
      if (format.sample_sheet != Sheet_Use::kIgnored) {
        export_options.groups = Read_Sample_Sheet(sheet);
      }
      const std::string from_shards = Join_Path(folder_.path(), tag + "-shards-" + format.name);
      const std::string from_result = Join_Path(folder_.path(), tag + "-result-" + format.name);
      Merge_Export(plan_dir, export_options, from_shards);
      Export_Result(Join_Path(result, kAlignedDbName), export_options, from_result);
      const std::string expected = Read_File(from_result);
      EXPECT_TRUE(Read_File(from_shards) == expected);
      if (format.format == Export_Format::kFeatureTable) {
        EXPECT_EQ(expected.find("RT_Min_Original") != std::string::npos, correction);
      }
    }
  }
}

}  // namespace
