// The reader of a result: groups in Align_ID order with only the chosen
// columns, the samples, the side tables, and what it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "storage/aligned_result.h"
#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/rt_shift_curves.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/storage/temp_dir.h"

namespace {

using Record = Chromatogram_Peak_Group_Compound_Align;

Record Row(std::uint32_t align_id, std::uint32_t sample, const std::string& name,
           double intensity) {
  Record r;
  r.Peak_shape = {{7, 1.5, 300.25, 42.0}};
  r.EIC_ID = align_id * 10 + sample;
  r.Compound_ID = 1;
  r.Compound_Intensity = intensity;
  r.Adduct_Annotation = "[M+H]+";
  r.SAMPLE_ID = sample;
  r.SAMPLE_NAME = name;
  r.Align_ID = align_id;
  r.Align_RT = align_id * 10.0;
  return r;
}

class AlignedResultTest : public ::testing::Test {
 protected:
  // Written in this order: groups out of order, an unaligned row, and two
  // samples sharing a name.
  std::string WriteResult(const Extra_Tables& extra = {}) {
    const std::vector<Record> rows = {Row(2, 0, "A", 1.0), Row(0, 1, "B", 2.0), Row(1, 1, "B", 3.0),
                                      Row(2, 2, "A", 4.0), Row(1, 0, "A", 5.0)};
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows, dir_.path(), "r.aligndb", {},
                                                                extra);
    return Join_Path(dir_.path(), "r.aligndb");
  }
  std::string Refusal(const std::string& path, Result_Columns columns) {
    try {
      Aligned_Result result(path);
      Result_Rows rows = result.Scan(columns);
      while (rows.Next()) {
      }
    } catch (const Aligned_Result_Error& e) {
      return e.what();
    }
    return "accepted";
  }
  TempDir dir_;
};

TEST_F(AlignedResultTest, GroupsComeInAlignIdOrderWithOnlyTheChosenColumns) {
  Aligned_Result result(WriteResult());
  Result_Groups groups = result.Groups({"SAMPLE_ID", "Compound_Intensity"});
  Result_Group g;
  std::vector<std::uint32_t> ids;
  std::vector<double> intensities;
  while (groups.Next(g)) {
    ids.push_back(g.align_id);
    for (const Record& r : g.records) {
      EXPECT_EQ(r.Align_ID, g.align_id);
      EXPECT_TRUE(r.SAMPLE_NAME.empty() && r.Peak_shape.empty() && r.EIC_ID == 0)
          << "a column not chosen was read";
      intensities.push_back(r.Compound_Intensity);
    }
  }
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(intensities.size(), 4u) << "the unaligned row is no group";
  double sum = 0.0;
  for (double v : intensities) sum += v;
  EXPECT_EQ(sum, 1.0 + 3.0 + 4.0 + 5.0);
}

TEST_F(AlignedResultTest, AllColumnsGiveTheWrittenRecord) {
  Aligned_Result result(WriteResult());
  Result_Groups groups = result.Groups(Result_Columns::All());
  Result_Group g;
  ASSERT_TRUE(groups.Next(g));
  const Record& r = g.records.front();
  ASSERT_EQ(r.Peak_shape.size(), 1u);
  EXPECT_EQ(r.Peak_shape[0].Scan, 7u);
  EXPECT_EQ(r.Peak_shape[0].MZ, 300.25);
  EXPECT_EQ(r.Adduct_Annotation, "[M+H]+");
  EXPECT_EQ(r.Align_RT, 10.0);
}

TEST_F(AlignedResultTest, ScanReadsEveryRowAndNullsAsDocumented) {
  const std::string path = WriteResult();
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML("UPDATE Align_Peaklist SET Align_RT = NULL, SAMPLE_NAME = NULL WHERE Align_ID = 0");
  db.close();
  Aligned_Result result(path);
  EXPECT_TRUE(result.Has_Peaks());
  EXPECT_TRUE(result.Has_Aligned_Peaks());
  Result_Rows rows = result.Scan({"Align_ID", "Align_RT", "SAMPLE_NAME"});
  int n = 0;
  while (rows.Next()) {
    ++n;
    if (rows.Int(Column_Of("Align_ID")) != 0) continue;
    EXPECT_TRUE(rows.Is_Null(Column_Of("Align_RT")));
    EXPECT_TRUE(std::isnan(rows.Real(Column_Of("Align_RT"))));
    EXPECT_EQ(rows.Text(Column_Of("SAMPLE_NAME")), "");
  }
  EXPECT_EQ(n, 5);
}

TEST_F(AlignedResultTest, SamplesIncludeRecordedInputsAndTellSharedNamesApart) {
  Run_Record record;
  record.inputs = {{0, "A", "/d", "a.db", 1, "", 2},
                   {1, "B", "/d", "b.db", 1, "", 2},
                   {2, "A", "/d", "c.db", 1, "", 1},
                   {3, "C", "/d", "empty.db", 1, "", 0}};
  Aligned_Result result(WriteResult([&](CppSQLite3DB& db) { Write_Run_Record(db, record); }));
  std::vector<std::string> shown;
  for (const Result_Sample& s : result.Samples()) shown.push_back(s.shown);
  EXPECT_EQ(shown, (std::vector<std::string>{"A (0)", "B", "A (2)", "C"}));
  EXPECT_EQ(result.Read_Run_Record(), record);
  const Run_Record_Text text = result.Read_Run_Record_Text();
  EXPECT_TRUE(text.has_items && text.has_inputs);
  EXPECT_EQ(text.items.front(), (std::pair<std::string, std::string>{"program", "Varnel"}));
  EXPECT_EQ(text.input_columns.front(), "SAMPLE_ID");
  EXPECT_EQ(text.inputs.back().at(3), "empty.db");
}

TEST_F(AlignedResultTest, SideTablesAreAbsentOrReadBackInOrder) {
  {
    Aligned_Result plain(WriteResult());
    EXPECT_EQ(plain.Read_Rt_Correction(), std::nullopt);
    EXPECT_EQ(plain.Read_Rt_Anchors(), std::nullopt);
    EXPECT_EQ(plain.Read_Run_Record(), std::nullopt);
    EXPECT_FALSE(plain.Read_Run_Record_Text().has_items);
  }
  const std::vector<Rt_Shift_Point> points = {{2, 5.0, 1.0}, {0, 9.0, -2.0}, {0, 3.0, 0.5}};
  const std::vector<Rt_Shift_Point> anchors = {{1, 7.5, 0.25}, {0, 4.0, -1.5}};
  const std::string path = WriteResult([&](CppSQLite3DB& db) {
    Write_Rt_Correction(db, points);
    Write_Rt_Anchors(db, anchors);
  });
  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
    CppSQLite3Statement sql = db.compileStatement(
        "SELECT sql FROM sqlite_master WHERE name LIKE 'Align_RT_%' ORDER BY name");
    ASSERT_TRUE(sql.step());
    EXPECT_STREQ(sql.fieldText(0),
                 "CREATE TABLE Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL, Shift REAL)");
    ASSERT_TRUE(sql.step());
    EXPECT_STREQ(sql.fieldText(0),
                 "CREATE TABLE Align_RT_Correction (SAMPLE_ID INTEGER, RT REAL, Shift REAL)");
  }
  Aligned_Result result(path);
  const auto read = result.Read_Rt_Correction();
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 3u);
  EXPECT_EQ((*read)[0].rt, 3.0);
  EXPECT_EQ((*read)[1].shift, -2.0);
  EXPECT_EQ((*read)[2].sample, 2);
  const auto read_anchors = result.Read_Rt_Anchors();
  ASSERT_TRUE(read_anchors);
  ASSERT_EQ(read_anchors->size(), 2u);
  EXPECT_EQ((*read_anchors)[0].sample, 0);
  EXPECT_EQ((*read_anchors)[0].shift, -1.5);
  EXPECT_EQ((*read_anchors)[1].rt, 7.5);
}

TEST_F(AlignedResultTest, MalformedAnchorTableIsRefusedNamingTheFile) {
  for (const char* table : {"CREATE TABLE Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL)",
                            "CREATE TABLE Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL, Shift REAL);"
                            "INSERT INTO Align_RT_Anchor VALUES (0, 'early', 1.0)",
                            "CREATE TABLE Align_RT_Anchor (SAMPLE_ID INTEGER, RT REAL, Shift REAL);"
                            "INSERT INTO Align_RT_Anchor VALUES (NULL, 5.0, 1.0)"}) {
    SCOPED_TRACE(table);
    const std::string path = WriteResult([&](CppSQLite3DB& db) { db.execDML(table); });
    Aligned_Result result(path);
    try {
      result.Read_Rt_Anchors();
      ADD_FAILURE() << "read";
    } catch (const Aligned_Result_Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + ": cannot read the correction's anchors", 0), 0u)
          << e.what();
    }
  }
}

TEST_F(AlignedResultTest, WhatIsNotAResultIsRefusedNamingTheFile) {
  const std::string missing = Join_Path(dir_.path(), "missing.aligndb");
  EXPECT_EQ(Refusal(missing, {"Align_ID"}),
            missing + ": not an aligned result (unable to open database file)");
  EXPECT_FALSE(std::filesystem::exists(missing));

  const std::string text = Join_Path(dir_.path(), "text.aligndb");
  { std::ofstream(text) << std::string(4096, 'x'); }
  EXPECT_EQ(Refusal(text, {"Align_ID"}).rfind(text + ": not an aligned result (", 0), 0u);

  const std::string other = Join_Path(dir_.path(), "other.aligndb");
  CppSQLite3DB db;
  db.open(other.c_str());
  db.execDML("CREATE TABLE t(x); CREATE TABLE Align_Peaklist(Align_ID int, SAMPLE_ID int);");
  db.execDML("INSERT INTO Align_Peaklist VALUES (1, 0);");
  db.close();
  EXPECT_EQ(Refusal(other, {"Align_ID", "SAMPLE_ID"}), "accepted");
  EXPECT_EQ(Refusal(other, {"Align_ID", "Peak_Area"}),
            other + ": not an aligned result (no such column: Peak_Area)");

  const std::string no_table = Join_Path(dir_.path(), "none.aligndb");
  db.open(no_table.c_str());
  db.execDML("CREATE TABLE t(x);");
  db.close();
  EXPECT_EQ(Refusal(no_table, {"Align_ID"}),
            no_table + ": not an aligned result (it has no table Align_Peaklist)");
}

}  // namespace
