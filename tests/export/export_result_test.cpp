// An export as a whole: every way it can be refused, and the time columns of
// a drift-corrected result in the formats that write them.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/export/export_support.h"
#include "tests/export/mztab_check.h"

namespace {

struct Bad_Result {
  const char* name;
  void (*make)(const std::string& path);
  const char* message;
};

class BadResultTest : public ::testing::TestWithParam<Bad_Result> {};

TEST_P(BadResultTest, IsRefusedNamingTheFileAndWritesNothing) {
  Temp_Folder dir;
  const std::string result = Join_Path(dir.path(), "bad.aligndb");
  GetParam().make(result);
  const std::string out = Join_Path(dir.path(), "out.csv");
  Write_File(out, "old export\n");
  for (Export_Format format : {Export_Format::kFeatureTable, Export_Format::kMzTab}) {
    Export_Options options;
    options.format = format;
    try {
      Export_Result(result, options, out);
      ADD_FAILURE() << "exported";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(result + ": "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(Read_File(out), "old export\n");
  EXPECT_EQ(List_Folder(dir.path()).size(), std::filesystem::exists(result) ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadResultTest,
    ::testing::Values(
        Bad_Result{"Missing", [](const std::string&) {}, "not an aligned result"},
        Bad_Result{"NotSqlite",
                   [](const std::string& p) { Write_File(p, "EIC_ID,Peak_ID\n1,2\n"); },
                   "not an aligned result"},
        Bad_Result{"NoTable", [](const std::string& p) { Exec_Sql(p, "CREATE TABLE t(x);"); },
                   "no table Align_Peaklist"},
        Bad_Result{"ColumnMissing",
                   [](const std::string& p) {
                     Exec_Sql(p, "CREATE TABLE Align_Peaklist(Align_ID int, SAMPLE_ID int);");
                   },
                   "no such column"},
        Bad_Result{"NoRows",
                   [](const std::string& p) {
                     const Split_Path_Result where = Split_Path(p);
                     Write_Result(where.folder, {}, where.name);
                   },
                   "holds no peaks"},
        Bad_Result{"NoAlignedRows",
                   [](const std::string& p) {
                     const Split_Path_Result where = Split_Path(p);
                     Write_Result(where.folder, {{0, 0, "S0"}}, where.name);
                   },
                   "holds no aligned peaks"}),
    [](const ::testing::TestParamInfo<Bad_Result>& info) { return std::string(info.param.name); });

TEST_F(ExportTest, UnwritableOutputIsRefusedNamingIt) {
  const std::string result = WriteStudy(Study());
  Export_Options options;
  for (const std::string& out : {Join_Path(dir_.path(), "missing/out.csv"), dir_.path()}) {
    try {
      Export_Result(result, options, out);
      ADD_FAILURE() << out;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(out + ": ", 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(List_Folder(dir_.path()), std::vector<std::string>{"result.aligndb"});
  const std::string before = Read_File(result);
  EXPECT_THROW(Export_Result(result, options, Join_Path(dir_.path(), "./result.aligndb")),
               std::runtime_error);
  EXPECT_EQ(Read_File(result), before);
}

TEST_F(ExportTest, GroupsAreRequiredWhereNeeded) {
  const std::string result = WriteStudy(Study());
  Export_Options options;
  options.format = Export_Format::kMetaboAnalyst;
  EXPECT_THROW(Export_Result(result, options, Out()), std::runtime_error);
  options.groups = Read_Sample_Sheet(Sheet("S0,A\nS1,B\n"));
  try {
    Export_Result(result, options, Out());
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              Join_Path(dir_.path(), "sheet.csv") + ": no group for samples \"S2\", \"S3\"");
  }
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

TEST_F(ExportTest, CorrectedResultsWriteTimesOnTheCorrectedScaleBesideTheOriginals) {
  const std::string result = WriteStudy(Study());
  {
    CppSQLite3DB db;
    db.open(result.c_str());
    // Sample 0: 2 s at 50 s rising to 4 s at 70 s; sample 2: -1 s at 100 s to
    // -3 s at 140 s; sample 1 has no curve.
    Write_Rt_Correction(db, {{0, 50, 2}, {0, 70, 4}, {2, 100, -1}, {2, 140, -3}});
  }
  // Group 1: S0 59 + 2.9 = 61.9, S1 61; group 2: S2 120 - 2 = 118 and
  // 121 - 2.05 = 118.95, S0 119 + 4 (flat beyond 70) = 123.
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,RT_Min_Original,RT_Max_Original,Adducts,"
            "Samples_Present,S0,S1,S2,S3\n"
            "1,100.5,60,61,61.9,59,61,[M+H]+;[M+Na]+,2,12,8,,\n"
            "2,200.25,120,118,123,119,121,[M+H]+,2,9,,9,\n");
  const std::string mztab = Export(result, Export_Format::kMzTab);
  EXPECT_EQ(Check_MzTab(mztab), std::vector<std::string>());
  EXPECT_NE(mztab.find("\tabundance_assay[4]\topt_global_retention_time_in_seconds_start_Original"
                       "\topt_global_retention_time_in_seconds_end_Original\n"),
            std::string::npos)
      << mztab;
  EXPECT_NE(mztab.find("SMF\t3\tnull\tnull\t[M+H]+\tnull\t201.257276\t1\t120\t118\t123\t1\tnull"
                       "\t6\tnull\t119\t121\n"),
            std::string::npos)
      << mztab;
}

}  // namespace
