// mzTab-M: the checker's verdict, the groups as study variables, charge and
// polarity from the adducts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/export/export_support.h"
#include "tests/export/mztab_check.h"

namespace {

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

}  // namespace
