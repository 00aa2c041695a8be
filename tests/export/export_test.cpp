// The three exports on hand-made results: quantities, absent samples, names,
// quoting, and every way an export can be refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "export/output_file.h"
#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/side_tables.h"
#include "tests/export/export_support.h"
#include "tests/export/mztab_check.h"
#include "tests/support/test_files.h"

namespace {

// Two groups over four samples; S3 has only an unaligned peak. Sample 2 has
// two compounds in group 2 (Compound_Intensity 7 and 9).
std::vector<Test_Peak> Study() {
  return {
      {1, 0, "S0", 10, 100.25, 59, 12, "[M+H]+", 30, 10, 60},
      {1, 0, "S0", 10, 100.25, 59, 12, "[M+Na]+", 6, 2, 60},
      {1, 1, "S1", 20, 100.75, 61, 8, "[M+H]+", 20, 7, 60},
      {2, 2, "S2", 5, 200, 120, 7, "[M+H]+", 4, 3, 120},
      {2, 2, "S2", 6, 200.5, 121, 9, "[M+H]+", 5, 6, 120},
      {2, 0, "S0", 11, 200.25, 119, 9, "[M+H]+", 1, 1, 120},
      {0, 3, "S3", 1, 300, 200, 50, "[M+H]+", 1, 1, 0},
  };
}

class ExportTest : public ::testing::Test {
 protected:
  std::string WriteStudy(const std::vector<Test_Peak>& rows) {
    return Write_Result(dir_.path(), rows);
  }
  std::string Sheet(const std::string& text) {
    const std::string path = Join_Path(dir_.path(), "sheet.csv");
    Write_File(path, text);
    return path;
  }
  std::string Export(const std::string& result, Export_Format format,
                     Export_Quantity quantity = Export_Quantity::kCompound,
                     const std::string& sheet = "") {
    Export_Options options;
    options.format = format;
    options.quantity = quantity;
    options.software_version = "0.1";
    if (!sheet.empty()) options.groups = Read_Sample_Sheet(sheet);
    Export_Result(result, options, Out());
    return Read_File(Out());
  }
  std::string Out() const { return Join_Path(dir_.path(), "out.txt"); }

  Temp_Folder dir_;
};

TEST_F(ExportTest, FeatureTableGivesEachQuantityAndLeavesAbsentSamplesEmpty) {
  const std::string result = WriteStudy(Study());
  const std::string header =
      "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present,S0,S1,S2,S3\n";
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable),
            header +
                "1,100.5,60,59,61,[M+H]+;[M+Na]+,2,12,8,,\n"
                "2,200.25,120,119,121,[M+H]+,2,9,,9,\n");
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable, Export_Quantity::kArea),
            header +
                "1,100.5,60,59,61,[M+H]+;[M+Na]+,2,36,20,,\n"
                "2,200.25,120,119,121,[M+H]+,2,1,,9,\n");
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable, Export_Quantity::kHeight),
            header +
                "1,100.5,60,59,61,[M+H]+;[M+Na]+,2,10,7,,\n"
                "2,200.25,120,119,121,[M+H]+,2,1,,6,\n");
}

TEST_F(ExportTest, RepeatedNamesGetTheirIdAndTextsAreQuoted) {
  const std::string result = WriteStudy({
      {1, 0, "A", 1, 100, 60, 5, "[M+H]+,\"x\"", 1, 1, 60},
      {1, 1, "A", 1, 100, 60, 6, "[M+H]+", 1, 1, 60},
      {1, 2, "x,y", 1, 100, 60, 7, "[M+H]+", 1, 1, 60},
  });
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present,A (0),A (1),\"x,y\"\n"
            "1,100,60,60,60,\"[M+H]+;[M+H]+,\"\"x\"\"\",3,5,6,7\n");
}

TEST_F(ExportTest, NumbersAreNeverInExponentForm) {
  const std::string result = WriteStudy({
      {1, 0, "S0", 1, 100, 60, 1e20, "[M+H]+", 0.000001, 1, 60},
  });
  const std::string table = Export(result, Export_Format::kFeatureTable, Export_Quantity::kArea);
  EXPECT_NE(table.find(",0.000001\n"), std::string::npos) << table;
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present,S0\n"
            "1,100,60,60,60,[M+H]+,1,100000000000000000000\n");
  const std::string mztab = Export(result, Export_Format::kMzTab);
  EXPECT_EQ(Check_MzTab(mztab), std::vector<std::string>());
  EXPECT_NE(mztab.find("\t100000000000000000000\t"), std::string::npos);
}

TEST_F(ExportTest, MetaboAnalystTableLabelsSamplesWithTheirGroups) {
  const std::string result = WriteStudy(Study());
  EXPECT_EQ(Export(result, Export_Format::kMetaboAnalyst, Export_Quantity::kCompound,
                   Sheet("sample,group\nS0,A\nS1,B\nS2,A\nS3,B\nunused,C\n")),
            "Sample,S0,S1,S2,S3\n"
            "Label,A,B,A,B\n"
            "100.5000_60.00,12,8,,\n"
            "200.2500_120.00,9,,9,\n");
}

TEST_F(ExportTest, MetaboAnalystNamesStayUnique) {
  const std::string result = WriteStudy({
      {1, 0, "S0", 1, 100, 60, 5, "[M+H]+", 1, 1, 60},
      {2, 0, "S0", 2, 100.00001, 60, 6, "[M+H]+", 1, 1, 60},
  });
  const std::string text =
      Export(result, Export_Format::kMetaboAnalyst, Export_Quantity::kCompound, Sheet("S0,A\n"));
  EXPECT_EQ(text, "Sample,S0\nLabel,A\n100.0000_60.00,5\n100.0000_60.00_2,6\n");
}

TEST_F(ExportTest, MzTabPassesTheCheckerWithAndWithoutGroups) {
  const std::string result = WriteStudy(Study());
  const std::string plain = Export(result, Export_Format::kMzTab);
  EXPECT_EQ(Check_MzTab(plain), std::vector<std::string>());
  EXPECT_NE(plain.find("MTD\tstudy_variable[1]\tundefined\n"), std::string::npos);
  EXPECT_NE(plain.find("MTD\tstudy_variable[1]-assay_refs\tassay[1]|assay[2]|assay[3]|assay[4]\n"),
            std::string::npos);
  // SML_ID is the Align_ID; group 1 has two adducts, so two features.
  EXPECT_NE(plain.find("SML\t1\t1|2\tnull\tnull\tnull\tnull\tnull\tnull\t100.5\t[M+H]+|[M+Na]+\t4\t"
                       "null\tnull\t12\t8\tnull\tnull\t10\t0.282843\n"),
            std::string::npos)
      << plain;
  EXPECT_NE(
      plain.find(
          "SMF\t3\tnull\tnull\t[M+H]+\tnull\t201.257276\t1\t120\t119\t121\t1\tnull\t6\tnull\n"),
      std::string::npos)
      << plain;

  for (Export_Quantity q : {Export_Quantity::kArea, Export_Quantity::kHeight}) {
    const std::string grouped =
        Export(result, Export_Format::kMzTab, q, Sheet("S0,A\nS1,B\nS2,A\nS3,B\n"));
    EXPECT_EQ(Check_MzTab(grouped), std::vector<std::string>());
    EXPECT_NE(grouped.find("MTD\tstudy_variable[2]-assay_refs\tassay[2]|assay[4]\n"),
              std::string::npos);
  }
}

TEST_F(ExportTest, MzTabCountsChargeAndPolarityFromTheAdducts) {
  const std::string result = WriteStudy({
      {1, 0, "S0", 1, 100, 60, 5, "[M+2Na]2+", 1, 1, 60},
      {2, 0, "S0", 2, 200, 90, 5, "[M-H]-", 1, 1, 90},
      {3, 0, "S0", 3, 300, 95, 5, "", 1, 1, 95},
  });
  const std::string text = Export(result, Export_Format::kMzTab);
  EXPECT_EQ(Check_MzTab(text), std::vector<std::string>());
  EXPECT_NE(text.find("\t[M+2Na]2+\tnull\t101.007276\t2\t"), std::string::npos) << text;
  EXPECT_NE(text.find("\t[M-H]-\tnull\t201.007276\t1\t"), std::string::npos);
  EXPECT_NE(text.find("SMF\t3\tnull\tnull\tnull\tnull\t301.007276\t1\t"), std::string::npos);
  EXPECT_NE(text.find("ms_run[1]-scan_polarity[1]\t[MS, MS:1000130, positive scan, ]\n"
                      "MTD\tms_run[1]-scan_polarity[2]\t[MS, MS:1000129, negative scan, ]\n"),
            std::string::npos);
}

// ---------------------------------------------------------------- refusals

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

// ---------------------------------------------------------------- sample sheets

struct Sheet_Case {
  const char* name;
  const char* text;
  std::vector<std::pair<std::string, std::string>> rows;  // accepted
  const char* error;                                      // rejected
  std::vector<double> order = {};                         // accepted, with the order column
};

class SampleSheetTest : public ::testing::TestWithParam<Sheet_Case> {};

TEST_P(SampleSheetTest, ReadsOrRefuses) {
  Temp_Folder dir;
  const std::string path = Join_Path(dir.path(), "sheet.csv");
  Write_File(path, GetParam().text);
  if (GetParam().error == nullptr) {
    const Sample_Sheet sheet = Read_Sample_Sheet(path);
    EXPECT_EQ(sheet.rows, GetParam().rows);
    EXPECT_EQ(sheet.order, GetParam().order);
    return;
  }
  try {
    Read_Sample_Sheet(path);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), path + GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleSheetTest,
    ::testing::Values(
        Sheet_Case{"Header", "sample,group\nS0,A\n", {{"S0", "A"}}, nullptr},
        Sheet_Case{"CrlfNoHeader", "S0,A\r\nS1,B\r\n", {{"S0", "A"}, {"S1", "B"}}, nullptr},
        Sheet_Case{"BomSpacesCase", "\xEF\xBB\xBFSample,Group\n S0 , A \n", {{"S0", "A"}}, nullptr},
        Sheet_Case{"Quoted", "\"x,y\",\"g \"\"1\"\"\"\n", {{"x,y", "g \"1\""}}, nullptr},
        Sheet_Case{
            "BlankLinesNoFinalNewline", "S0,A\n\n\nS1,B", {{"S0", "A"}, {"S1", "B"}}, nullptr},
        Sheet_Case{"Empty", "", {}, ": the sample sheet names no sample"},
        Sheet_Case{"HeaderOnly", "sample,group\n", {}, ": the sample sheet names no sample"},
        Sheet_Case{
            "OneField", "S0\n", {}, " line 1: expected two fields, sample and group, found 1"},
        Sheet_Case{"ThreeFields",
                   "S0,A,x\n",
                   {},
                   " line 1: expected two fields, sample and group, found 3"},
        Sheet_Case{"NoSample", "S0,A\n,B\n", {}, " line 2: empty sample name"},
        Sheet_Case{"NoGroup", "S0, \n", {}, " line 1: empty group for sample \"S0\""},
        Sheet_Case{"Twice",
                   "S0,A\nS1,B\nS0,B\n",
                   {},
                   " line 3: sample \"S0\" named again (first on line 1)"},
        Sheet_Case{"OpenQuote", "\"S0,A\n", {}, " line 1: unterminated quote"},
        Sheet_Case{"OrderColumn",
                   "Sample,Group,Order\nS0,QC,2\nS1,A,1.5\n",
                   {{"S0", "QC"}, {"S1", "A"}},
                   nullptr,
                   {2.0, 1.5}},
        Sheet_Case{"OrderMissing",
                   "sample,group,order\nS0,A\n",
                   {},
                   " line 2: expected three fields, sample, group and order, found 2"},
        Sheet_Case{"OrderNotANumber",
                   "sample,group,order\nS0,A,first\n",
                   {},
                   " line 2: order \"first\" of sample \"S0\" is not a number"}),
    [](const ::testing::TestParamInfo<Sheet_Case>& info) { return std::string(info.param.name); });

TEST(SampleSheetFileTest, MissingFileIsNamed) {
  EXPECT_THROW(
      {
        try {
          Read_Sample_Sheet("/nonexistent/sheet.csv");
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "/nonexistent/sheet.csv: cannot read the sample sheet");
          throw;
        }
      },
      std::runtime_error);
}

// ---------------------------------------------------------------- number forms

std::string Number(double value) {
  std::string text;
  Append_Number(value, text);
  return text;
}

std::string Fixed(double value, int decimals) {
  std::string text;
  Append_Fixed(value, decimals, text);
  return text;
}

TEST(ExportNumberTest, WritesSixDecimalsAtMostRoundingTheTextHalfToEven) {
  EXPECT_EQ(Number(645.5556475000001), "645.555648");
  EXPECT_EQ(Number(257.09431099999995), "257.094311");
  EXPECT_EQ(Number(0.1 + 0.2), "0.3");
  EXPECT_EQ(Number(9.9999996), "10");
  EXPECT_EQ(Number(-9.9999996), "-10");
  EXPECT_EQ(Number(-0.0000004), "0");
  EXPECT_EQ(Number(-0.0), "0");
  EXPECT_EQ(Number(1234567890123.456), "1234567890123.456");
  EXPECT_EQ(Number(1e20), "100000000000000000000");
  EXPECT_EQ(Number(0.000001), "0.000001");
  // Medians of two: the seventh decimal is a 5, the sixth goes to even.
  EXPECT_EQ(Number(Midpoint(645.555647, 645.555648)), "645.555648");
  EXPECT_EQ(Number(Midpoint(645.555646, 645.555647)), "645.555646");
  EXPECT_EQ(Number(Midpoint(0.000001, 0.000002)), "0.000002");
  EXPECT_EQ(Number(Midpoint(-1.000001, -1.000002)), "-1.000002");
  EXPECT_EQ(Number(Midpoint(100.25, 100.75)), "100.5");
  EXPECT_EQ(Fixed(100.12345, 4), "100.1234");
  EXPECT_EQ(Fixed(100.12355, 4), "100.1236");
  EXPECT_EQ(Fixed(99.995, 2), "100.00");
  EXPECT_EQ(Fixed(-0.00001, 4), "0.0000");
  EXPECT_EQ(Fixed(5, 2), "5.00");
  EXPECT_EQ(Fixed(2.5, 0), "2");
}

TEST_F(ExportTest, TablesCarryNoRoundOffTails) {
  // A median tie (two compounds of sample 0), sums and a time with a tail.
  const std::string result = WriteStudy({
      {1, 0, "S0", 1, 645.555647, 257.09431099999995, 5, "[M+H]+", 0.1, 1, 60.1},
      {1, 0, "S0", 2, 645.555648, 60.2, 5, "[M+H]+", 0.2, 1, 60.1},
  });
  EXPECT_EQ(Export(result, Export_Format::kFeatureTable, Export_Quantity::kArea),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,Adducts,Samples_Present,S0\n"
            "1,645.555648,60.1,60.2,257.094311,[M+H]+,1,0.3\n");
}

// ---------------------------------------------------------------- time columns

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

// ---------------------------------------------------------------- the program

class ExportProgramTest : public ExportTest {
 protected:
  int Run(const std::string& arguments) {
    const std::string command = std::string(VARNEL_EXPORT_PROGRAM) + " " + arguments + " >" +
                                Join_Path(dir_.path(), "stdout") + " 2>" +
                                Join_Path(dir_.path(), "stderr");
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Stdout() { return Read_File(Join_Path(dir_.path(), "stdout")); }
  std::string Stderr() { return Read_File(Join_Path(dir_.path(), "stderr")); }
};

TEST_F(ExportProgramTest, ExitStatusTellsUsageFromFailure) {
  const std::string result = WriteStudy(Study());
  const std::string out = Join_Path(dir_.path(), "t.csv");
  EXPECT_EQ(Run(""), 2);
  EXPECT_EQ(Run(result + " --format xml -o " + out), 2);
  EXPECT_EQ(Run(result + " --format metaboanalyst -o " + out), 2);
  EXPECT_EQ(Run(out + " --format table -o " + out), 1);
  EXPECT_EQ(Stderr(),
            "varnel-export: " + out + ": not an aligned result (unable to open database file)\n");
  EXPECT_EQ(Run(result + " --format mztab --quantity area -o " + out), 0);
  EXPECT_EQ(Check_MzTab(Read_File(out)), std::vector<std::string>());
  EXPECT_EQ(Run("--info " + result), 0);
  EXPECT_EQ(Stdout(), result + ": no run record (the run was not asked to record itself)\n");
}

TEST_F(ExportProgramTest, WritesTheCorrectedTimesOfTheLibrary) {
  const std::string result = WriteStudy(Study());
  {
    CppSQLite3DB db;
    db.open(result.c_str());
    Write_Rt_Correction(db, {{1, 0, 0.5}});
  }
  const std::string out = Join_Path(dir_.path(), "t.csv");
  ASSERT_EQ(Run(result + " --format table -o " + out), 0);
  EXPECT_EQ(Read_File(out).substr(0, Read_File(out).find('\n', 120) + 1),
            "Align_ID,Mass,Align_RT,RT_Min,RT_Max,RT_Min_Original,RT_Max_Original,Adducts,"
            "Samples_Present,S0,S1,S2,S3\n"
            "1,100.5,60,59,61.5,59,61,[M+H]+;[M+Na]+,2,12,8,,\n");
}

}  // namespace
