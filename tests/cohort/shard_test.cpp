// The alignment in shards: scan, plan, split, align each shard, merge. The
// merged result must be the one-process run's at the SQL level (every table,
// row and value) and byte for byte in the CSV, whatever the mode, unit, drift
// correction and number of shards; and each step must refuse, naming the
// file, what does not belong to its plan.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
    std::atomic<std::uint32_t> next{0};
    std::vector<std::exception_ptr> errors(plan.shards.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        for (std::uint32_t k = next++; k < plan.shards.size(); k = next++) {
          try {
            Align_Shard(plan_dir, k);
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
    fs::create_directories(result);
    Merge_Shards(plan_dir, result);
    return plan;
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
