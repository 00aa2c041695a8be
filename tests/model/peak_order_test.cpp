// The orders of aligned records: by Align_ID (with its search key), by
// SAMPLE_ID, by Compound_Intensity.
#include "model/peak_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

Align WithAlignId(std::uint32_t id) { return Make_Align_ID_Key(id); }

TEST(PeakOrderTest, AlignIdSortAndBounds) {
  std::vector<Align> v = {WithAlignId(2), WithAlignId(0), WithAlignId(1), WithAlignId(0)};
  std::sort(v.begin(), v.end(), Comp_Alignpeak_by_Align_ID);
  EXPECT_EQ(v[0].Align_ID, 0u);
  EXPECT_EQ(v[1].Align_ID, 0u);
  const Align key = Make_Align_ID_Key(1);
  EXPECT_EQ(std::lower_bound(v.begin(), v.end(), key, Comp_Alignpeak_by_Align_ID) - v.begin(), 2);
  EXPECT_EQ(std::upper_bound(v.begin(), v.end(), key, Comp_Alignpeak_by_Align_ID) - v.begin(), 3);
}

TEST(PeakOrderTest, IdentifiersCompareUnsigned) {
  Align a, b;
  a.SAMPLE_ID = static_cast<std::uint32_t>(-1);
  b.SAMPLE_ID = 5;
  EXPECT_TRUE(Comp_Alignpeak_by_Sample_ID(b, a));
  EXPECT_FALSE(Comp_Alignpeak_by_Sample_ID(a, b));
  a.Align_ID = 0x80000000u;
  b.Align_ID = 1;
  EXPECT_TRUE(Comp_Alignpeak_by_Align_ID(b, a));
}

TEST(PeakOrderTest, IntensityMaximumTakesFirstAndIgnoresNaN) {
  std::vector<Align> v(5);
  const double values[] = {5.0, 9.0, std::numeric_limits<double>::quiet_NaN(), 9.0, 3.0};
  for (int i = 0; i < 5; ++i) v[i].Compound_Intensity = values[i];
  auto it = std::max_element(v.begin(), v.end(), Comp_Alignpeak_by_Compound_Intensity);
  EXPECT_EQ(it - v.begin(), 1);
  EXPECT_FALSE(Comp_Alignpeak_by_Compound_Intensity(v[2], v[1]));
  EXPECT_FALSE(Comp_Alignpeak_by_Compound_Intensity(v[1], v[2]));
}

}  // namespace
