// The mass tolerance: which values a run accepts, and the record's item and
// text for each unit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/mass_tolerance.h"

namespace {

using Unit = Mass_Tolerance::Unit;

TEST(MassToleranceTest, CheckAcceptsZeroAndRefusesWhatMatchesNothing) {
  for (const Unit unit : {Unit::kDa, Unit::kPpm}) {
    EXPECT_TRUE((Mass_Tolerance{unit, 0.0}.Is_Valid()));
    EXPECT_TRUE((Mass_Tolerance{unit, 0.1}.Is_Valid()));
    for (const double bad :
         {-0.1, -0.0 - 1e-300, std::nan(""), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
      EXPECT_FALSE((Mass_Tolerance{unit, bad}.Is_Valid())) << bad;
    }
  }
}

TEST(MassToleranceTest, RecordItemNamesItsUnitAndTextKeepsEveryDigit) {
  for (const Unit unit : {Unit::kDa, Unit::kPpm}) {
    EXPECT_EQ(Mass_Tolerance_Unit_Of_Item(Mass_Tolerance{unit, 1.0}.Record_Item()), unit);
  }
  EXPECT_EQ(Mass_Tolerance_Unit_Of_Item("fast_window"), std::nullopt);
  EXPECT_EQ((Mass_Tolerance{Unit::kDa, 0.1}.Text()), "0.1 Da");
  EXPECT_EQ((Mass_Tolerance{Unit::kPpm, 10.0}.Text()), "10 ppm");
  EXPECT_EQ((Mass_Tolerance{Unit::kDa, 0.1 + 0.2}.Text()), "0.30000000000000004 Da");
}

}  // namespace
