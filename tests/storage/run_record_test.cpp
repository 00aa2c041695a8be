// The run record: its stored form, reading it back, determinism and its text.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "storage/aligned_result.h"
#include "storage/path.h"
#include "storage/run_record.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"
#include "tests/support/test_result.h"

namespace {

Run_Record Sample_Record() {
  Run_Record r;
  r.version = "0.1";
  r.mode = "Deep_Align";
  r.mass_tol.value = 0.1;
  r.fast_window = 20;
  r.deep_window = 7.5;
  r.rt_correction = true;
  r.samples = 2;
  r.peaks = 5000000000ULL;  // beyond 32 bits
  r.groups = 2;
  r.unaligned = 1;
  r.inputs = {{0, "S0", "/data/run 1", "S0_annotated_grouped_chromatograph_peaklist.db", 4096,
               "0123456789abcdef0123456789abcdef", 3},
              {1, "S1", "rel", "S1.db", 8192, "fedcba9876543210fedcba9876543210", 4}};
  return r;
}

// A result written by the writer, with the record added in one transaction,
// as the writer's hook does.
std::string Write_With_Record(const std::string& folder, const Run_Record& record) {
  const std::string path = Write_Result(folder, {{1, 0, "S0"}, {0, 1, "S1"}});
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
  db.execDML("begin transaction;");
  Write_Run_Record(db, record);
  db.execDML("commit transaction;");
  return path;
}

std::optional<Run_Record> Record_Of(const std::string& path) {
  return Aligned_Result(path).Read_Run_Record();
}

std::vector<std::string> Rows(const std::string& path, const char* sql) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement stmt = db.compileStatement(sql);
  std::vector<std::string> rows;
  while (stmt.step()) {
    std::string row;
    for (int c = 0; c < stmt.numFields(); ++c) {
      if (c) row.push_back('|');
      row.append(stmt.fieldText(c) ? stmt.fieldText(c) : "NULL");
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(RunRecordTest, StoredFormIsTheAgreedSchemaAndItems) {
  Temp_Folder dir;
  const std::string path = Write_With_Record(dir.path(), Sample_Record());
  EXPECT_EQ(Rows(path,
                 "SELECT sql FROM sqlite_master WHERE name LIKE 'Align_Run%' AND type='table' "
                 "ORDER BY name"),
            (std::vector<std::string>{
                "CREATE TABLE Align_Run (Item TEXT PRIMARY KEY, Value TEXT)",
                "CREATE TABLE Align_Run_Input (SAMPLE_ID INTEGER PRIMARY KEY, SAMPLE_NAME TEXT, "
                "Folder TEXT, File_Name TEXT, Size INTEGER, XXH3_128 TEXT, Peaks_Read INTEGER)"}));
  EXPECT_EQ(
      Rows(path, "SELECT Item, Value FROM Align_Run ORDER BY rowid"),
      (std::vector<std::string>{"program|Varnel", "version|0.1", "mode|Deep_Align", "mass_tol|0.1",
                                "fast_window|20", "deep_window|7.5", "rt_correction|on",
                                "samples|2", "peaks|5000000000", "groups|2", "unaligned|1"}));
  EXPECT_EQ(Rows(path,
                 "SELECT typeof(SAMPLE_ID), typeof(Size), typeof(Peaks_Read) "
                 "FROM Align_Run_Input"),
            (std::vector<std::string>(2, "integer|integer|integer")));
}

TEST(RunRecordTest, ReadsBackWhatWasWritten) {
  Temp_Folder dir;
  Run_Record record = Sample_Record();
  EXPECT_EQ(Record_Of(Write_With_Record(dir.path(), record)), record);
  record.mass_tol.value = 5;
  record.mass_tol.unit = Mass_Tolerance::Unit::kPpm;
  Temp_Folder other;
  const std::string ppm = Write_With_Record(other.path(), record);
  EXPECT_EQ(Record_Of(ppm), record);
  EXPECT_EQ(Rows(ppm, "SELECT Value FROM Align_Run WHERE Item = 'mass_tol_ppm'"),
            std::vector<std::string>{"5"});
}

TEST(RunRecordTest, MemberChoiceItemsFollowTheCountsAndReadBack) {
  Temp_Folder dir;
  Run_Record record = Sample_Record();
  Member_Choice_Record choice;
  choice.pick = "scored";
  choice.join_splits = true;
  choice.spread_rt = 1.5;
  choice.spread_mass = 2.25;
  choice.spread_mass_ppm = true;
  choice.spread_log_intensity = 0.125;
  choice.spread_groups = 524;
  choice.joins = 7;
  record.member_choice = choice;
  const std::string path = Write_With_Record(dir.path(), record);
  const std::vector<std::string> items =
      Rows(path, "SELECT Item, Value FROM Align_Run ORDER BY rowid");
  ASSERT_EQ(items.size(), 18u);
  EXPECT_EQ(std::vector<std::string>(items.begin() + 11, items.end()),
            (std::vector<std::string>{"pick|scored", "join_splits|on", "spread_rt|1.5",
                                      "spread_mass_ppm|2.25", "spread_log_intensity|0.125",
                                      "spread_groups|524", "joins|7"}));
  EXPECT_EQ(Record_Of(path), record);
  EXPECT_NE(Format_Run_Record(record).find("Member choice:       scored"), std::string::npos);

  // The table of its own, written whatever the record, with spreads not found.
  Member_Choice_Record none;
  none.pick = "scored";
  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
    Write_Member_Choice(db, none);
    EXPECT_EQ(Read_Member_Choice(db, path), none);  // NaN spreads read back as NaN
  }
  EXPECT_EQ(Rows(path, "SELECT Value FROM Align_Member_Choice WHERE Item = 'spread_rt'"),
            std::vector<std::string>{"nan"});
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
  db.execDML("UPDATE Align_Member_Choice SET Value = 'x' WHERE Item = 'joins'");
  EXPECT_THROW(Read_Member_Choice(db, path), std::runtime_error);
}

TEST(RunRecordTest, ResultWithoutRecordReadsAsNone) {
  Temp_Folder dir;
  EXPECT_EQ(Record_Of(Write_Result(dir.path(), {{1, 0, "S0"}})), std::nullopt);
}

TEST(RunRecordTest, BrokenRecordIsRefusedNamingTheFile) {
  Temp_Folder dir;
  const std::string path = Write_With_Record(dir.path(), Sample_Record());
  Exec_Sql(path, "UPDATE Align_Run SET Value = 'many' WHERE Item = 'samples';");
  try {
    Record_Of(path);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), path + ": run record item samples is not a count: \"many\"");
  }
  Exec_Sql(path, "DROP TABLE Align_Run_Input;");
  EXPECT_THROW(Record_Of(path), std::runtime_error);
}

TEST(RunRecordTest, EqualRecordsGiveIdenticalFiles) {
  Temp_Folder a;
  Temp_Folder b;
  const std::string first = Write_With_Record(a.path(), Sample_Record());
  const std::string second = Write_With_Record(b.path(), Sample_Record());
  EXPECT_EQ(Read_File(first), Read_File(second));
}

TEST(RunRecordTest, TextShowsParametersAndEveryInput) {
  const std::string text = Format_Run_Record(Sample_Record());
  for (const char* part :
       {"Varnel 0.1", "Deep_Align", "0.1 Da", "7.5 s", "RT drift correction: on", "5000000000",
        "/data/run 1/S0_annotated_grouped_chromatograph_peaklist.db",
        "8192 bytes, XXH3-128 fedcba9876543210fedcba9876543210, 4 peaks read"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
}

}  // namespace
