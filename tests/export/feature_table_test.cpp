// The feature table: each quantity, absent samples, shown names and quoting.
#include <gtest/gtest.h>

#include <string>

#include "tests/export/export_support.h"

namespace {

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

}  // namespace
