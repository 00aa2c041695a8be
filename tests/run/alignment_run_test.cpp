// The alignment run: sample numbering and names, call order and results,
// mode selection, files from several folders, and a failure that writes
// nothing. (Unreadable inputs and unwritable results: tests/badinput.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/alignment_run.h"
#include "storage/aligned_result.h"
#include "storage/aligned_writers.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/peak_shape.h"
#include "storage/rt_shift_curves.h"
#include "tests/support/test_files.h"

namespace {

const std::string kSuffix = kAnnotatedSuffix;

// (SAMPLE_ID, EIC_ID, Peak_ID, Align_ID) of every Align_Peaklist row, in rowid order.
std::vector<std::vector<std::string>> Read_Aligned_Keys(const std::string& aligndb) {
  sqlite3* db = nullptr;
  sqlite3_stmt* query = nullptr;
  std::vector<std::vector<std::string>> rows;
  if (sqlite3_open_v2(aligndb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "select SAMPLE_ID, EIC_ID, Peak_ID, Align_ID from Align_Peaklist "
                         "order by rowid",
                         -1, &query, nullptr) == SQLITE_OK) {
    while (sqlite3_step(query) == SQLITE_ROW) {
      rows.emplace_back();
      for (int c = 0; c < 4; ++c)
        rows.back().push_back(std::to_string(sqlite3_column_int64(query, c)));
    }
  } else {
    ADD_FAILURE() << "cannot read " << aligndb;
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return rows;
}

class RunTest : public ::testing::Test {
 protected:
  RunTest() : result_(Join_Path(folder_.path(), "Result")) {
    std::filesystem::create_directory(result_);
  }

  // A sample with one peak of its own, at a mass no other sample shares.
  void Sample(const std::string& name, double mass) {
    Write_Annotated_Database(Join_Path(folder_.path(), name),
                             {Make_Annotated_Peak(1, mass, 100.0, 1000.0)});
  }

  void AlignAll(const std::vector<std::string>& names, int mode = 0, double window2 = 10.0) {
    Compound_Align_For_Annotation_Files(mode, 0.1, 20.0, window2, folder_.path(), result_, names);
  }

  std::vector<Csv_Row> Rows() const { return Read_Csv(Join_Path(result_, kAlignedCsvName)); }

  // SAMPLE_NAME by SAMPLE_ID, from the CSV.
  std::map<std::string, std::string> NamesById() const {
    std::map<std::string, std::string> names;
    for (const Csv_Row& row : Rows()) names[row.at("SAMPLE_ID")] = row.at("SAMPLE_NAME");
    return names;
  }

  Temp_Folder folder_;
  std::string result_;
};

// Sample numbering by list position, a skipped, a repeated and an unsuffixed
// file: CliTest.SampleNumbersFollowTheCommandLine (the same run underneath).

TEST_F(RunTest, SampleNameIsCutAtTheFirstSuffix) {
  EXPECT_EQ(Sample_Name_Of("QC_01" + kSuffix), "QC_01");
  EXPECT_EQ(Sample_Name_Of("x" + kSuffix + "y" + kSuffix), "x");
  EXPECT_EQ(Sample_Name_Of("run7.db"), "run7.db");
  EXPECT_EQ(Sample_Name_Of(kSuffix), "");
  EXPECT_EQ(Sample_Name_Of("x_annotated_grouped_chromatograph_peaklist.DB"),
            "x_annotated_grouped_chromatograph_peaklist.DB");
}

TEST_F(RunTest, EmptyListStillWritesBothResults) {
  AlignAll({});
  EXPECT_EQ(List_Folder(result_), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
  EXPECT_TRUE(Rows().empty());
  EXPECT_TRUE(Read_Aligned_Keys(Join_Path(result_, kAlignedDbName)).empty());
}

TEST_F(RunTest, BothResultsHoldTheSameRowsInTheSameOrder) {
  std::vector<std::string> names;
  for (int s = 0; s < 3; ++s) {
    names.push_back("S" + std::to_string(s) + kSuffix);
    Write_Annotated_Database(Join_Path(folder_.path(), names.back()),
                             {Make_Annotated_Peak(3, 150.0, 60.0 + s, 100.0 + s),
                              Make_Annotated_Peak(1, 250.0, 90.0, 50.0),
                              Make_Annotated_Peak(2, 350.0, 120.0 + 30.0 * s, 10.0, 0)});
  }
  AlignAll(names);
  EXPECT_EQ(List_Folder(result_), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
  const auto keys = Read_Aligned_Keys(Join_Path(result_, kAlignedDbName));
  const auto rows = Rows();
  ASSERT_EQ(keys.size(), 9u);
  ASSERT_EQ(rows.size(), 9u);
  std::multiset<std::string> align_ids;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string> csv_keys = {rows[i].at("SAMPLE_ID"), rows[i].at("EIC_ID"),
                                               rows[i].at("Peak_ID"), rows[i].at("Align_ID")};
    EXPECT_EQ(keys[i], csv_keys) << "row " << i;
    align_ids.insert(rows[i].at("Align_ID"));
  }
  // Two groups of three; the unannotated peaks stay out.
  EXPECT_EQ(align_ids, (std::multiset<std::string>{"0", "0", "0", "1", "1", "1", "2", "2", "2"}));
}

// Three samples where the deep alignment splits what the fast one keeps
// together: first-phase median 68, second window +-2 leaves the seed at 60 out.
class ModeTest : public RunTest, public ::testing::WithParamInterface<int> {};

TEST_P(ModeTest, ZeroIsFastAnythingElseDeep) {
  const double rts[] = {60.0, 68.0, 68.0}, intensities[] = {10.0, 5.0, 4.0};
  std::vector<std::string> names;
  for (int s = 0; s < 3; ++s) {
    names.push_back(std::string(1, static_cast<char>('a' + s)) + ".db");
    Write_Annotated_Database(Join_Path(folder_.path(), names.back()),
                             {Make_Annotated_Peak(1, 200.0, rts[s], intensities[s])});
  }
  AlignAll(names, GetParam(), 4.0);
  std::set<std::string> groups;
  for (const Csv_Row& row : Rows()) groups.insert(row.at("Align_ID"));
  EXPECT_EQ(groups.size(), GetParam() == 0 ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, ::testing::Values(0, 1, 2, -1));

TEST_F(RunTest, ConversionFailurePassesThroughAndWritesNothing) {
  Sample("A" + kSuffix, 200.0);
  Exec_Sql(Join_Path(folder_.path(), "A" + kSuffix), "update Annotate_Peaklist set EIC_ID='abc'");
  EXPECT_THROW(AlignAll({"A" + kSuffix}), std::invalid_argument);
  EXPECT_TRUE(List_Folder(result_).empty());
}

TEST_F(RunTest, RunTakesFilesFromSeveralFoldersAndReports) {
  Temp_Folder other;
  Write_Annotated_Database(
      Join_Path(folder_.path(), "A" + kSuffix),
      {Make_Annotated_Peak(1, 200.0, 60.0, 10.0), Make_Annotated_Peak(2, 500.0, 300.0, 20.0)});
  Write_Annotated_Database(
      Join_Path(other.path(), "B" + kSuffix),
      {Make_Annotated_Peak(1, 200.02, 62.0, 8.0), Make_Annotated_Peak(2, 800.0, 900.0, 0.0)});
  std::vector<std::size_t> peaks_after_file;
  std::size_t align_calls = 0;
  std::map<Run_Stage, std::size_t> rows_written;
  std::vector<Run_Stage> stages;
  Alignment_Run_Observer observer;
  observer.on_stage = [&](Run_Stage stage) { stages.push_back(stage); };
  observer.on_read = [&](std::size_t read, std::size_t total, std::size_t peaks) {
    EXPECT_EQ(total, 2u);
    EXPECT_EQ(read, peaks_after_file.size() + 1);
    peaks_after_file.push_back(peaks);
  };
  observer.on_align = [&](std::uint32_t, std::size_t) { ++align_calls; };
  observer.on_write = [&](Run_Stage stage, std::size_t rows, std::size_t total) {
    EXPECT_EQ(total, 4u);
    EXPECT_LE(rows, total);
    rows_written[stage] = rows;
  };
  std::ostringstream lines;
  observer.align_lines = &lines;
  const Alignment_Run_Summary summary = Run_Alignment(
      Request_For(One_Phase_Align, 0.1, 20.0, 10.0,
                  {{folder_.path(), "A" + kSuffix}, {other.path(), "B" + kSuffix}}, result_),
      observer);
  EXPECT_EQ(peaks_after_file, (std::vector<std::size_t>{2, 4}));
  EXPECT_GE(align_calls, 1u);
  EXPECT_EQ(rows_written[Run_Stage::kWritingCsv], 4u);
  EXPECT_EQ(rows_written[Run_Stage::kWritingDatabase], 4u);
  EXPECT_EQ(stages, (std::vector<Run_Stage>{Run_Stage::kReading, Run_Stage::kAligning,
                                            Run_Stage::kWritingCsv, Run_Stage::kWritingDatabase}));
  EXPECT_NE(lines.str().find("Compound Alignment Finished"), std::string::npos);
  EXPECT_EQ(summary.samples, 2u);
  EXPECT_EQ(summary.peaks, 4u);
  EXPECT_EQ(summary.groups, 2u);     // {A 200, B 200.02} and {A 500}
  EXPECT_EQ(summary.unaligned, 1u);  // B 800 has no intensity
  EXPECT_EQ(summary.csv_path, Join_Path(result_, kAlignedCsvName));
  EXPECT_EQ(summary.database_path, Join_Path(result_, kAlignedDbName));
  EXPECT_GE(summary.seconds, 0.0);
  EXPECT_EQ(NamesById(), (std::map<std::string, std::string>{{"0", "A"}, {"1", "B"}}));
}

}  // namespace

// A stop requested at any stage (the window's Cancel, varnel-align's signals)
// leaves the earlier result files byte for byte and no temporary file; a stop
// while the database is written must not leave the new CSV beside the old
// database.
TEST_F(RunTest, StopAtEveryStageLeavesTheEarlierResultsAsTheyWere) {
  const Simulation_Result study = Make_Study(folder_.path(), 3, 2500);
  std::vector<Annotated_File> files;
  for (const std::string& name : study.database_names) files.push_back({folder_.path(), name});
  std::ostringstream lines;
  Alignment_Run_Observer quiet;
  quiet.align_lines = &lines;
  Run_Alignment(Request_For(Two_Phase_Align, 0.1, 20.0, 10.0, files, result_), quiet);
  const std::string old_csv = Read_File(Join_Path(result_, kAlignedCsvName));
  const std::string old_db = Read_File(Join_Path(result_, kAlignedDbName));

  for (const Run_Stage stop_at : {Run_Stage::kReading, Run_Stage::kAligning, Run_Stage::kWritingCsv,
                                  Run_Stage::kWritingDatabase}) {
    SCOPED_TRACE(Run_Stage_Name(stop_at));
    // Stop as the stage begins: the stage's next report throws.
    bool stop = false;
    Alignment_Run_Observer observer = quiet;
    observer.on_stage = [&](Run_Stage stage) { stop = stop || stage == stop_at; };
    EXPECT_THROW(Run_Alignment(Request_For(One_Phase_Align, 0.1, 20.0, 10.0, files, result_),
                               Make_Cancellable(observer, [&] { return stop; })),
                 Run_Cancelled);
    EXPECT_TRUE(stop);
    EXPECT_EQ(List_Folder(result_), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
    EXPECT_TRUE(Read_File(Join_Path(result_, kAlignedCsvName)) == old_csv);
    EXPECT_TRUE(Read_File(Join_Path(result_, kAlignedDbName)) == old_db);
  }

  // A stop while the drift correction is fitted is heard there, before the
  // alignment begins (a cohort's fit takes minutes).
  Alignment_Request corrected = Request_For(One_Phase_Align, 0.1, 20.0, 10.0, files, result_);
  corrected.rt_correction = true;
  bool stop = false;
  int fit_reports = 0;
  std::vector<Run_Stage> stages;
  Alignment_Run_Observer observer = quiet;
  observer.on_stage = [&](Run_Stage stage) { stages.push_back(stage); };
  observer.on_fit = [&] { stop = ++fit_reports == 3; };
  EXPECT_THROW(Run_Alignment(corrected, Make_Cancellable(observer, [&] { return stop; })),
               Run_Cancelled);
  EXPECT_EQ(fit_reports, 3);
  EXPECT_EQ(stages, (std::vector<Run_Stage>{Run_Stage::kReading, Run_Stage::kCorrecting}));
  EXPECT_EQ(List_Folder(result_), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
  EXPECT_TRUE(Read_File(Join_Path(result_, kAlignedCsvName)) == old_csv);
  EXPECT_TRUE(Read_File(Join_Path(result_, kAlignedDbName)) == old_db);
}

// Every row and value, their types and order, and the schema, as SQL sees them.
std::string Sql_Dump(const std::string& aligndb) {
  sqlite3* db = nullptr;
  std::string dump;
  sqlite3_open_v2(aligndb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  for (const char* sql : {"select type, name, tbl_name, sql from sqlite_master order by name",
                          "select * from Align_Peaklist order by rowid"}) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot read " << aligndb;
      break;
    }
    while (sqlite3_step(query) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(query); ++c) {
        const int type = sqlite3_column_type(query, c);
        dump += std::to_string(type) + ':';
        if (type == SQLITE_FLOAT) {
          char bits[32];
          std::snprintf(bits, sizeof bits, "%a", sqlite3_column_double(query, c));
          dump += bits;
        } else if (type != SQLITE_NULL) {
          dump.append(static_cast<const char*>(sqlite3_column_blob(query, c)),
                      static_cast<std::size_t>(sqlite3_column_bytes(query, c)));
        }
        dump += '|';
      }
      dump += '\n';
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return dump;
}

// The run (parallel reading, shapes carried in their stored form through a
// spill, writers side by side) gives, for any thread count, what reading
// every peak, aligning the list and writing it with the list writers gives.
TEST_F(RunTest, SameResultAsTheStraightforwardPipelineForEveryThreadCount) {
  const Simulation_Result study = Make_Study(folder_.path(), 5, 150, 3);
  std::vector<Annotated_File> files;
  for (const std::string& name : study.database_names) files.push_back({folder_.path(), name});
  // Shapes not in the written form: more decimals, a negative zero, a
  // trailing token, a negative scan.
  const std::string odd = "odd" + kSuffix;
  Write_Annotated_Database(Join_Path(folder_.path(), odd),
                           {Make_Annotated_Peak(1, 200.0, 100.0, 50.0)});
  Exec_Sql(Join_Path(folder_.path(), odd), "update Annotate_Peaklist set Peak_shape = '" +
                                               Encode_Peak_Shape("1.5,2.25000001,-0.000000,-3,7") +
                                               "'");
  files.push_back({folder_.path(), odd});
  std::ostringstream lines;
  for (const Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
    // The reference, step by step.
    std::vector<Chromatogram_Peak_Group_Compound_Align> list;
    for (std::uint32_t sample = 0; sample < files.size(); ++sample) {
      std::vector<Chromatogram_Peak_Group_Compound> peaks;
      Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
          files[sample].folder, files[sample].name, peaks);
      for (auto& peak : peaks) list.emplace_back(peak, sample, Sample_Name_Of(files[sample].name));
    }
    compound_align(mode, 0.1, 20.0, 10.0, list, lines);
    const std::string reference = Join_Path(folder_.path(), "reference");
    std::filesystem::create_directories(reference);
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(list, reference, kAlignedCsvName);
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(list, reference, kAlignedDbName);
    const std::string csv = Read_File(Join_Path(reference, kAlignedCsvName));
    const std::string dump = Sql_Dump(Join_Path(reference, kAlignedDbName));
    ASSERT_NE(dump.find("odd"), std::string::npos);

    for (const unsigned threads : {1u, 2u, 3u, 7u}) {
      SCOPED_TRACE(threads);
      Alignment_Run_Observer observer;
      observer.align_lines = &lines;
      Alignment_Request request = Request_For(mode, 0.1, 20.0, 10.0, files, result_);
      request.threads = threads;
      Run_Alignment(request, observer);
      EXPECT_TRUE(Read_File(Join_Path(result_, kAlignedCsvName)) == csv);
      EXPECT_TRUE(Sql_Dump(Join_Path(result_, kAlignedDbName)) == dump);
      EXPECT_EQ(List_Folder(result_), (std::vector<std::string>{kAlignedDbName, kAlignedCsvName}));
    }
  }
}

// A foreign run (few of the study's compounds, many same-mass ones of its
// own) gets its gross shift turned down, and the result stores that sample
// and no other; the same study without it stores no such table at all.
TEST_F(RunTest, GrossShiftNotAppliedIsStoredOnlyWhenASampleHadOneTurnedDown) {
  Simulation_Options options;
  options.samples = 8;
  options.compounds = 400;
  options.rt_trend_seconds = 10.0;
  options.foreign_runs = 1;
  options.foreign_share = 0.01;
  options.seed = 8;
  Temp_Folder foreign_folder;
  const Simulation_Result foreign = Simulate_Study(options, foreign_folder.path());
  options.foreign_runs = 0;
  const Simulation_Result plain = Simulate_Study(options, folder_.path());
  std::ostringstream lines;
  Alignment_Run_Observer quiet;
  quiet.align_lines = &lines;
  const std::string path = Join_Path(result_, kAlignedDbName);
  auto run = [&](const std::string& folder, const std::vector<std::string>& names) {
    std::vector<Annotated_File> files;
    for (const std::string& name : names) files.push_back({folder, name});
    Alignment_Request request = Request_For(One_Phase_Align, 0.1, 20.0, 10.0, files, result_);
    request.rt_correction = true;
    return Run_Alignment(request, quiet);
  };

  const Alignment_Run_Summary turned_down = run(foreign_folder.path(), foreign.database_names);
  EXPECT_NE(turned_down.rt_correction.find("gross shift not applied"), std::string::npos);
  {
    Aligned_Result result(path);
    // The foreign run sits in the middle of the input order.
    EXPECT_EQ(result.Read_Gross_Shift_Not_Applied(), (std::vector<std::int64_t>{4}));
  }

  const Alignment_Run_Summary agreed = run(folder_.path(), plain.database_names);
  EXPECT_EQ(agreed.rt_correction.find("gross shift"), std::string::npos);
  Aligned_Result result(path);
  EXPECT_EQ(result.Read_Gross_Shift_Not_Applied(), std::nullopt);
  EXPECT_TRUE(result.Read_Rt_Correction());
}

// The drift correction stores, beside its curves, the anchor points each
// curve was fitted to: a curve's grid runs from its sample's first anchor to
// its last, and the robust fit passes close to the anchors' shifts. Without
// the correction neither table exists.
TEST_F(RunTest, DriftCorrectionStoresTheAnchorsOfEachCurveAndNoTableWithout) {
  Simulation_Options drifting;
  drifting.samples = 4;
  drifting.compounds = 250;
  drifting.seed = 5;
  drifting.max_drift_seconds = 40.0;
  const Simulation_Result study = Simulate_Study(drifting, folder_.path());
  std::vector<Annotated_File> files;
  for (const std::string& name : study.database_names) files.push_back({folder_.path(), name});
  std::ostringstream lines;
  Alignment_Run_Observer quiet;
  quiet.align_lines = &lines;
  Alignment_Request request = Request_For(One_Phase_Align, 0.02, 20.0, 10.0, files, result_);
  const std::string path = Join_Path(result_, kAlignedDbName);

  Run_Alignment(request, quiet);
  {
    Aligned_Result plain(path);
    EXPECT_EQ(plain.Read_Rt_Anchors(), std::nullopt);
    EXPECT_EQ(plain.Read_Rt_Correction(), std::nullopt);
  }

  request.rt_correction = true;
  Run_Alignment(request, quiet);
  Aligned_Result result(path);
  const std::vector<Rt_Shift_Point> curves = result.Read_Rt_Correction().value();
  const std::vector<Rt_Shift_Point> anchors = result.Read_Rt_Anchors().value();
  const Rt_Shift_Curves shift(curves);
  std::map<std::int64_t, std::pair<double, double>> curve_range, anchor_range;
  std::map<std::int64_t, std::vector<double>> misfit;
  for (const Rt_Shift_Point& p : curves) {
    auto [it, added] = curve_range.try_emplace(p.sample, p.rt, p.rt);
    it->second.second = p.rt;
  }
  for (const Rt_Shift_Point& p : anchors) {
    auto [it, added] = anchor_range.try_emplace(p.sample, p.rt, p.rt);
    it->second.second = p.rt;
    misfit[p.sample].push_back(std::abs(p.shift - shift.Shift(p.sample, p.rt)));
  }
  EXPECT_EQ(curve_range.size(), 4u);
  EXPECT_EQ(anchor_range, curve_range);
  for (auto& [sample, gaps] : misfit) {
    SCOPED_TRACE("sample " + std::to_string(sample));
    EXPECT_GE(gaps.size(), 10u);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 2.0);
  }
}
