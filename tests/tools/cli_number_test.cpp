// The command-line number reader.
#include "tools/cli_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(CliNumberTest, AcceptedTexts) {
  const std::vector<std::pair<std::string, double>> accepted = {
      {"0.1", 0.1},       {"20", 20.0},    {" 10 ", 10.0},
      {"\t-2.5\n", -2.5}, {"+3", 3.0},     {".5", 0.5},
      {"5.", 5.0},        {"1e3", 1000.0}, {"1E-3", 0.001},
      {"-0", -0.0},       {"1e-400", 0.0}, {"1.7976931348623157e308", 1.7976931348623157e308},
      {"-1", -1.0},       {"0", 0.0},      {"+2e1", 20.0},
  };
  for (const auto& [text, value] : accepted) {
    const std::optional<double> parsed = Parse_Cli_Number(text);
    ASSERT_TRUE(parsed.has_value()) << '"' << text << '"';
    EXPECT_EQ(*parsed, value) << '"' << text << '"';
  }
}

TEST(CliNumberTest, RejectedTexts) {
  for (const std::string text :
       {"",          " ",   "abc",  "0,1",   "1,000.5",  "0.1x",  "1e", "--1",
        "+-1",       "- 1", "0x10", "1 2",   "20s",      "e5",    ".",  "inf",
        "-Infinity", "nan", "NaN",  "1e400", "-1.8e308", "0x1p3", "+-5"}) {
    EXPECT_FALSE(Parse_Cli_Number(text).has_value()) << '"' << text << '"';
  }
}

}  // namespace
