// The checker itself: it passes an export and rejects hand-broken copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/export_result.h"
#include "storage/path.h"
#include "tests/export/mztab_check.h"
#include "tests/support/test_files.h"
#include "tests/support/test_result.h"

namespace {

const std::string& Valid_File() {
  static const std::string text = [] {
    Temp_Folder dir;
    const std::string result =
        Write_Result(dir.path(), {{1, 0, "S0", 1, 100, 60, 5, "[M+H]+", 1, 1, 60},
                                  {1, 1, "S1", 2, 100, 61, 6, "[M+Na]+", 1, 1, 60},
                                  {2, 1, "S1", 3, 200, 90, 7, "[M+H]+", 1, 1, 90}});
    Export_Options options;
    options.format = Export_Format::kMzTab;
    const std::string out = Join_Path(dir.path(), "out.mzTab");
    Export_Result(result, options, out);
    return Read_File(out);
  }();
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The line of text that starts with start, or "".
std::string Line_Of(const std::string& text, const std::string& start) {
  const std::size_t at = text.find("\n" + start);
  if (at == std::string::npos) return {};
  const std::size_t end = text.find('\n', at + 1);
  return text.substr(at + 1, end - at);
}

TEST(MzTabCheckTest, ExportPasses) {
  EXPECT_EQ(Check_MzTab(Valid_File()), std::vector<std::string>());
}

struct Broken {
  const char* name;
  std::string (*edit)(const std::string& valid);
  const char* problem;  // part of one reported problem
};

class MzTabCheckBrokenTest : public ::testing::TestWithParam<Broken> {};

TEST_P(MzTabCheckBrokenTest, IsRejected) {
  const std::vector<std::string> problems = Check_MzTab(GetParam().edit(Valid_File()));
  bool found = false;
  for (const std::string& p : problems) found |= p.find(GetParam().problem) != std::string::npos;
  EXPECT_TRUE(found) << ::testing::PrintToString(problems);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MzTabCheckBrokenTest,
    ::testing::Values(
        Broken{"MandatoryItemMissing",
               [](const std::string& v) { return Replace(v, Line_Of(v, "MTD\tmzTab-ID"), ""); },
               "mandatory metadata mzTab-ID missing"},
        Broken{"ExtraCell",
               [](const std::string& v) { return Replace(v, "SML\t1\t", "SML\t1\textra\t"); },
               "SML row with"},
        Broken{
            "EmptyCell",
            [](const std::string& v) { return Replace(v, "SML\t1\t1|2\tnull", "SML\t1\t1|2\t"); },
            "empty cell in column database_identifier"},
        Broken{"ExponentNumber",
               [](const std::string& v) { return Replace(v, "\t100\t", "\t1e+02\t"); },
               "not a plain decimal"},
        Broken{"SmfBeforeSml",
               [](const std::string& v) {
                 const std::size_t sml = v.find("SMH\t");
                 const std::size_t smf = v.find("SFH\t");
                 return v.substr(0, sml) + v.substr(smf) + "\n" + v.substr(sml, smf - sml);
               },
               "out of section order"},
        Broken{"AssayRefersToMissingRun",
               [](const std::string& v) {
                 return Replace(v, "assay[2]-ms_run_ref\tms_run[2]",
                                "assay[2]-ms_run_ref\tms_run[9]");
               },
               "not a defined ms_run"},
        Broken{"StudyVariableRefersToMissingAssay",
               [](const std::string& v) {
                 return Replace(v, "assay[1]|assay[2]", "assay[1]|assay[3]");
               },
               "not a defined assay"},
        Broken{"ColumnsOutOfOrder",
               [](const std::string& v) {
                 return Replace(v, "\tsmiles\tinchi\t", "\tinchi\tsmiles\t");
               },
               "SMH column 5 should be smiles"},
        Broken{"AbundanceColumnMissing",
               [](const std::string& v) {
                 std::string t = Replace(v, "\tabundance_assay[2]\n", "\n");
                 return t;
               },
               "SFH column 12 should be abundance_assay[2]"},
        Broken{"UnknownPrefix", [](const std::string& v) { return v + "XYZ\t1\n"; },
               "unknown line prefix \"XYZ\""},
        Broken{"NullWhereValueNeeded",
               [](const std::string& v) { return Replace(v, "SMF\t1\t", "SMF\tnull\t"); },
               "null in column SMF_ID"},
        Broken{"MetadataOutOfOrder",
               [](const std::string& v) {
                 const std::string line = Line_Of(v, "MTD\tmzTab-ID");
                 return Replace(Replace(v, line, ""), "MTD\tcv[1]-label",
                                line + "MTD\tcv[1]-label");
               },
               "metadata mzTab-ID out of order"},
        Broken{"DanglingFeatureReference",
               [](const std::string& v) { return Replace(v, "SML\t2\t3\t", "SML\t2\t4\t"); },
               "SMF_ID_REFS names SMF_ID 4"}),
    [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

}  // namespace
