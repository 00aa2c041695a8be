// Numbers as the exports write them: six decimals at most, rounded on the
// text half to even, never in exponent form, no round-off tails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/output_file.h"
#include "tests/export/export_support.h"
#include "tests/export/mztab_check.h"

namespace {

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

}  // namespace
