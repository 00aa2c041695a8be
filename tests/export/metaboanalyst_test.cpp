// MetaboAnalyst's table: the Label row and unique row names.
#include <gtest/gtest.h>

#include <string>

#include "tests/export/export_support.h"

namespace {

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

}  // namespace
