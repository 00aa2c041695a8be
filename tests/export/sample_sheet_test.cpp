// The sample sheet: what it accepts and how it refuses.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "export/sample_sheet.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

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
                   " line 2: order \"first\" of sample \"S0\" is not a number"},
        Sheet_Case{"NamedColumnsAnyOrder",
                   "Batch,Injection_Order,Sample Name,Notes,Class\nB1,3,S0,x,QC\nB2,1,S1,,A\n",
                   {{"S0", "QC"}, {"S1", "A"}},
                   nullptr,
                   {3.0, 1.0}},
        Sheet_Case{"NamedColumnsTooFew",
                   "class,batch,sample\nA,1\n",
                   {},
                   " line 2: expected 3 fields, as the header names, found 2"},
        Sheet_Case{"NamedColumnsTwice",
                   "sample,group,class\nS0,A,B\n",
                   {},
                   " line 1: two columns give the group"},
        Sheet_Case{"NamedEmptyBatch",
                   "sample,class,batch\nS0,A,\n",
                   {},
                   " line 2: empty batch for sample \"S0\""},
        Sheet_Case{"NamedBadConditioning",
                   "sample,class,conditioning\nS0,QC,maybe\n",
                   {},
                   " line 2: conditioning \"maybe\" of sample \"S0\" is not yes or no"},
        Sheet_Case{"NamedBadOrder",
                   "order,sample,class\n1e999,S0,QC\n",
                   {},
                   " line 2: order \"1e999\" of sample \"S0\" is not a number"}),
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

TEST(SampleSheetNamedTest, ReadsBatchAndConditioningBesideTheRows) {
  Temp_Folder dir;
  const std::string path = Join_Path(dir.path(), "sheet.csv");
  Write_File(path,
             "run_order,class,batch_id,sample_id,conditioning_qc\n"
             "2,QC,b2,Q1,yes\n1,A,b1,S1,\n3,QC,b1,Q2,0\n");
  const Sample_Sheet sheet = Read_Sample_Sheet(path);
  EXPECT_EQ(sheet.rows, (std::vector<std::pair<std::string, std::string>>{
                            {"Q1", "QC"}, {"S1", "A"}, {"Q2", "QC"}}));
  EXPECT_EQ(sheet.order, (std::vector<double>{2, 1, 3}));
  EXPECT_EQ(sheet.batch, (std::vector<std::string>{"b2", "b1", "b1"}));
  EXPECT_EQ(sheet.conditioning, (std::vector<char>{1, 0, 0}));
}

}  // namespace
