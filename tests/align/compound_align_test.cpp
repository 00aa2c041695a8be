#include "align/compound_align.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/align/compound_align_oracle.h"

namespace {

using Peak = Chromatogram_Peak_Group_Compound_Align;
using List = std::vector<Peak>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A peak tagged by EIC_ID so the tests can find it after the list is reordered.
Peak MakePeak(std::uint32_t tag, std::uint32_t sample, std::uint32_t compound, double mass,
              double rt, double intensity) {
  Peak p;
  p.EIC_ID = tag;
  p.SAMPLE_ID = sample;
  p.SAMPLE_NAME = "sample" + std::to_string(sample);
  p.Compound_ID = compound;
  p.Compound_MolecularMass = mass;
  p.Compound_Retention_Time = rt;
  p.Compound_Intensity = intensity;
  return p;
}

struct Outcome {
  List list;
  std::string text;
  std::vector<std::pair<std::uint32_t, std::size_t>> progress;
};

// Runs `align` (compound_align or the oracle) on a copy of the list,
// recording its printed lines and its progress calls.
template <typename Align>
Outcome Run(Align align, Compound_Align_Mode mode, double tol, double w1, double w2, List list) {
  Outcome run;
  std::ostringstream out;
  align(mode, tol, w1, w2, list, out,
        [&](std::uint32_t g, std::size_t left) { run.progress.emplace_back(g, left); });
  run.list = std::move(list);
  run.text = out.str();
  return run;
}

Outcome AlignFast(Compound_Align_Mode mode, double tol, double w1, double w2, List list) {
  return Run([](auto&&... args) { compound_align(std::forward<decltype(args)>(args)...); }, mode,
             tol, w1, w2, std::move(list));
}

Outcome AlignOracle(Compound_Align_Mode mode, double tol, double w1, double w2, List list) {
  return Run([](auto&&... args) { oracle::CompoundAlign(std::forward<decltype(args)>(args)...); },
             mode, tol, w1, w2, std::move(list));
}

const Peak& ByTag(const List& list, std::uint32_t tag) {
  for (const Peak& p : list) {
    if (p.EIC_ID == tag) return p;
  }
  ADD_FAILURE() << "no peak tagged " << tag;
  static const Peak missing;
  return missing;
}

using Ids = std::vector<std::uint32_t>;

// The Align_ID of the peaks tagged 1, 2, ..., n, in tag order.
Ids Groups(const List& list) {
  Ids ids(list.size());
  for (std::uint32_t tag = 1; tag <= list.size(); ++tag) ids[tag - 1] = ByTag(list, tag).Align_ID;
  return ids;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every field of every record, in order. Fields compound_align must not touch
// are compared bit for bit; Align_RT by value (a median of -0.0 and 0.0 may
// come out with either sign).
::testing::AssertionResult SameRecords(const List& a, const List& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Peak& x = a[i];
    const Peak& y = b[i];
    const bool same =
        x.Peak_shape == y.Peak_shape && x.EIC_ID == y.EIC_ID && x.Peak_ID == y.Peak_ID &&
        SameBits(x.Apex_MZ, y.Apex_MZ) && x.Apex_Pos == y.Apex_Pos &&
        SameBits(x.Apex_Retention_Time, y.Apex_Retention_Time) &&
        SameBits(x.Apex_Intensity, y.Apex_Intensity) && SameBits(x.Peak_Area, y.Peak_Area) &&
        SameBits(x.Peak_SNR, y.Peak_SNR) && x.Left_Boundary == y.Left_Boundary &&
        x.Right_Boundary == y.Right_Boundary && x.Group_ID == y.Group_ID &&
        x.Adduct_Annotation == y.Adduct_Annotation && x.Compound_ID == y.Compound_ID &&
        SameBits(x.Compound_MolecularMass, y.Compound_MolecularMass) &&
        SameBits(x.Compound_Retention_Time, y.Compound_Retention_Time) &&
        SameBits(x.Compound_Intensity, y.Compound_Intensity) && x.SAMPLE_ID == y.SAMPLE_ID &&
        x.SAMPLE_NAME == y.SAMPLE_NAME && x.Align_ID == y.Align_ID && x.Align_RT == y.Align_RT;
    if (!same) {
      return ::testing::AssertionFailure()
             << "records differ at position " << i << ": EIC_ID " << x.EIC_ID << "/" << y.EIC_ID
             << ", Align_ID " << x.Align_ID << "/" << y.Align_ID << ", Align_RT " << x.Align_RT
             << "/" << y.Align_RT;
    }
  }
  return ::testing::AssertionSuccess();
}

std::string Lines(std::uint32_t k, std::size_t n, const std::string& intensity) {
  return "Compound alignment, Align_ID=" + std::to_string(k) +
         "\nunalign peak number=" + std::to_string(n) +
         "Unalign Max_Compound_Intensity=" + intensity + "\n";
}

std::string Closing(std::uint32_t groups) {
  return "Compound Alignment Finished, Totoally, " + std::to_string(groups) +
         "Groups are generated!\n";
}

// ---------------------------------------------------------------------------
// Hand-made cases.

TEST(CompoundAlignTest, EmptyListPrintsZeroGroups) {
  const Outcome run = AlignFast(One_Phase_Align, 0.1, 20, 10, {});
  EXPECT_EQ(run.text, Closing(0));
  EXPECT_TRUE(run.progress.empty());
}

TEST(CompoundAlignTest, SinglePeakFormsGroupOne) {
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, 20, 10, {MakePeak(1, 0, 7, 300.0, 61.25, 5.0)});
  EXPECT_EQ(run.text, Lines(1, 1, "5") + Closing(1));
  EXPECT_EQ(run.list[0].Align_ID, 1u);
  EXPECT_EQ(run.list[0].Align_RT, 61.25);
  EXPECT_EQ(run.progress, (std::vector<std::pair<std::uint32_t, std::size_t>>{{1, 0}}));
}

// A seed (tag 1) at 100.0 Da, 60 s, and one more peak of another sample.
TEST(CompoundAlignTest, WindowAndToleranceLimitsAreInclusive) {
  struct Case {
    double tol, mass, rt;
    Ids groups;
    double align_rt2;  // Align_RT of the second peak
  } cases[] = {
      // Align_Window1 20 s: 69 and exactly 70 join, 70.5 does not.
      {0.1, 100.05, 69.0, {1, 1}, 60.0},
      {0.1, 100.05, 70.0, {1, 1}, 60.0},
      {0.1, 100.05, 50.0, {1, 1}, 60.0},
      {0.1, 100.05, 70.5, {1, 2}, 70.5},
      // 0.25 and the masses are exact in binary, so the limit itself is tested.
      {0.25, 100.25, 60.0, {1, 1}, 60.0},
      {0.25, 99.75, 60.0, {1, 1}, 60.0},
      {0.25, 100.2500001, 60.0, {1, 2}, 60.0},
  };
  for (const Case& c : cases) {
    const Outcome run =
        AlignFast(One_Phase_Align, c.tol, 20, 10,
                  {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 8, c.mass, c.rt, 1.0)});
    EXPECT_EQ(Groups(run.list), c.groups) << c.mass << " Da, " << c.rt << " s";
    EXPECT_EQ(ByTag(run.list, 2).Align_RT, c.align_rt2) << c.mass << " Da, " << c.rt << " s";
  }
}

TEST(CompoundAlignTest, ZeroWindowsMatchExactEqualityOnly) {
  const Outcome run =
      AlignFast(One_Phase_Align, 0.0, 0.0, 0.0,
                {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, 100.0, 60.0, 1.0),
                 MakePeak(3, 2, 7, 100.0, 60.000001, 1.0)});
  EXPECT_EQ(Groups(run.list), (Ids{1, 1, 2}));
}

TEST(CompoundAlignTest, SampleKeepsOnlyItsClosestPeakOrBothAtEqualDistance) {
  // Sample 1 has peaks at 58 and 61 around a seed at 60: 61 stays, 58 goes
  // back, and being the most intense left it seeds group 2.
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, 20, 10,
                {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, 100.0, 58.0, 4.0),
                 MakePeak(3, 1, 7, 100.0, 61.0, 3.0)});
  EXPECT_EQ(Groups(run.list), (Ids{1, 2, 1}));
  EXPECT_EQ(ByTag(run.list, 2).Align_RT, 58.0);
  EXPECT_EQ(run.text, Lines(1, 3, "9") + Lines(2, 1, "4") + Closing(2));
  // At 58 and 62 both stay.
  const Outcome equal =
      AlignFast(One_Phase_Align, 0.1, 20, 10,
                {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, 100.0, 58.0, 4.0),
                 MakePeak(3, 1, 7, 100.0, 62.0, 3.0)});
  EXPECT_EQ(Groups(equal.list), (Ids{1, 1, 1}));
}

TEST(CompoundAlignTest, UnannotatedPeaksNeverJoinButMaySeed) {
  // The most intense record has Compound_ID 0: it centres group 1 without
  // joining, then places nothing and is dropped without using a number.
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, 20, 10,
                {MakePeak(1, 0, 0, 100.0, 60.0, 50.0), MakePeak(2, 1, 7, 100.0, 61.0, 4.0),
                 MakePeak(3, 2, 0, 100.0, 60.0, 1.0), MakePeak(4, 3, 7, 200.0, 60.0, 2.0)});
  EXPECT_EQ(Groups(run.list), (Ids{0, 1, 0, 2}));
  EXPECT_EQ(ByTag(run.list, 2).Align_RT, 60.0);
  EXPECT_EQ(run.text, Lines(1, 4, "50") + Lines(2, 3, "50") + Lines(2, 3, "2") + Lines(3, 2, "1") +
                          Closing(2));
}

TEST(CompoundAlignTest, NanIntensityNeverSeedsButJoins) {
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, 20, 10,
                {MakePeak(1, 0, 7, 100.0, 60.0, kNaN), MakePeak(2, 1, 7, 100.0, 61.0, 2.0),
                 MakePeak(3, 2, 7, 300.0, 60.0, kNaN)});
  EXPECT_EQ(Groups(run.list), (Ids{1, 1, 0}));
  EXPECT_EQ(run.text, Lines(1, 3, "2") + Closing(1));
}

TEST(CompoundAlignTest, BadTolerancesMatchNothing) {
  for (double tol : {-0.1, kNaN}) {
    const Outcome run =
        AlignFast(One_Phase_Align, tol, 20, 10,
                  {MakePeak(1, 0, 7, 100.0, 60.0, 3.0), MakePeak(2, 1, 7, 100.0, 60.0, 2.0)});
    EXPECT_EQ(run.text, Lines(1, 2, "3") + Lines(1, 2, "2") + Closing(0)) << tol;
    EXPECT_EQ(Groups(run.list), (Ids{0, 0})) << tol;
  }
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, kNaN, 10, {MakePeak(1, 0, 7, 100.0, 60.0, 3.0)});
  EXPECT_EQ(run.list[0].Align_ID, 0u);
}

TEST(CompoundAlignTest, InfiniteToleranceAcceptsInfiniteMasses) {
  // |inf - 100| is inf, which is <= an infinite tolerance; |inf - inf| is NaN.
  const Outcome run =
      AlignFast(One_Phase_Align, kInf, 20, 10,
                {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, kInf, 60.0, 5.0),
                 MakePeak(3, 2, 7, -kInf, 60.0, 4.0), MakePeak(4, 3, 7, kInf, 60.0, 1.0)});
  EXPECT_EQ(Groups(run.list), (Ids{1, 1, 1, 1}));
}

// Aligns a seed (tag 1, sample 0) and one other peak (tag 2, sample 1) under
// a tolerance of ppm and says whether they share a group.
bool Joins(double seed_mass, double other_mass, double ppm, Compound_Align_Mode mode) {
  List list{MakePeak(1, 0, 1, seed_mass, 60.0, 10.0), MakePeak(2, 1, 2, other_mass, 60.0, 1.0)};
  std::ostringstream quiet;
  compound_align(mode, Mass_Tolerance{Mass_Tolerance::Unit::kPpm, ppm}, 20.0, 10.0, list, quiet);
  return ByTag(list, 1).Align_ID != 0 && ByTag(list, 1).Align_ID == ByTag(list, 2).Align_ID;
}

// The largest mass above seed that |mass - seed| <= tol admits.
double LastInside(double seed, double tol) {
  double x = seed + tol;
  while (!(std::fabs(x - seed) <= tol)) x = std::nextafter(x, 0.0);
  while (std::fabs(std::nextafter(x, 1e300) - seed) <= tol) x = std::nextafter(x, 1e300);
  return x;
}

TEST(PpmToleranceTest, BoundIsInclusiveAndScalesWithTheSeedMass) {
  for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
    for (double seed : {100.0, 1000.0, 1234.5678}) {
      const double tol = Ppm_Tolerance(10.0, seed);
      const double at = LastInside(seed, tol);
      EXPECT_TRUE(Joins(seed, at, 10.0, mode)) << seed;
      EXPECT_FALSE(Joins(seed, std::nextafter(at, 1e300), 10.0, mode)) << seed;
      EXPECT_TRUE(Joins(seed, seed + 0.1 * tol, 10.0, mode)) << seed;
    }
  }
  // 9 ppm of 1000 Da joins, 15 ppm of 100 Da does not: the bound follows the seed.
  EXPECT_TRUE(Joins(1000.0, 1000.009, 10.0, One_Phase_Align));
  EXPECT_FALSE(Joins(100.0, 100.0015, 10.0, One_Phase_Align));
}

TEST(PpmToleranceTest, ZeroNegativeAndNaN) {
  EXPECT_TRUE(Joins(500.0, 500.0, 0.0, One_Phase_Align));
  EXPECT_FALSE(Joins(500.0, std::nextafter(500.0, 1e300), 0.0, One_Phase_Align));
  EXPECT_FALSE(Joins(500.0, 500.0, -1.0, One_Phase_Align));
  EXPECT_FALSE(Joins(500.0, 500.0, std::numeric_limits<double>::quiet_NaN(), One_Phase_Align));
}

TEST(CompoundAlignTest, TwoPhaseCentresOnSeparateMedians) {
  // First-phase members at 50, 54, 55, 61 s: centre (54 + 55) / 2 = 54.5; the
  // masses are sorted and halved on their own: (100.02 + 100.03) / 2.
  const List list = {MakePeak(1, 0, 7, 100.03, 55.0, 9.0), MakePeak(2, 1, 7, 100.00, 50.0, 1.0),
                     MakePeak(3, 2, 7, 100.02, 54.0, 1.0), MakePeak(4, 3, 7, 100.04, 61.0, 1.0),
                     MakePeak(5, 4, 7, 100.0, 45.0, 1.0)};
  const Outcome run = AlignFast(Two_Phase_Align, 0.1, 12, 20, list);
  EXPECT_EQ(Groups(run.list), (Ids{1, 1, 1, 1, 1}));
  EXPECT_EQ(ByTag(run.list, 1).Align_RT, 54.5);
  // A 1 s second window keeps 54 and 55 only. The seeds at 50 and 45 then
  // centre on 47.5, which matches nothing: both are dropped, no number used.
  const Outcome narrow = AlignFast(Two_Phase_Align, 0.1, 12, 1.0, list);
  EXPECT_EQ(Groups(narrow.list), (Ids{1, 0, 1, 2, 0}));
  EXPECT_EQ(narrow.text,
            Lines(1, 5, "9") + Lines(2, 3, "1") + Lines(2, 3, "1") + Lines(3, 2, "1") + Closing(2));
}

TEST(CompoundAlignTest, TwoPhaseSeedCanFallOutsideItsGroup) {
  // Seed at 60, others at 64, 65, 66: median 64.5; a 2 s second window leaves the seed out.
  const Outcome run =
      AlignFast(Two_Phase_Align, 0.1, 20, 2,
                {MakePeak(1, 0, 7, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, 100.0, 64.0, 1.0),
                 MakePeak(3, 2, 7, 100.0, 65.0, 1.0), MakePeak(4, 3, 7, 100.0, 66.0, 1.0)});
  EXPECT_EQ(Groups(run.list)[1], 1u);
  EXPECT_EQ(Groups(run.list)[2], 1u);
  EXPECT_EQ(ByTag(run.list, 2).Align_RT, 64.5);
  EXPECT_NE(Groups(run.list)[0], 1u);
}

TEST(CompoundAlignTest, TwoPhaseEmptyFirstPhaseKeepsSeedCentre) {
  // The seed has Compound_ID 0, nothing else lies within 1 s: the second
  // phase runs with Align_Window2 around the seed itself.
  const Outcome run =
      AlignFast(Two_Phase_Align, 0.1, 2, 20,
                {MakePeak(1, 0, 0, 100.0, 60.0, 9.0), MakePeak(2, 1, 7, 100.0, 68.0, 1.0)});
  EXPECT_EQ(Groups(run.list), (Ids{0, 1}));
  EXPECT_EQ(ByTag(run.list, 2).Align_RT, 60.0);
}

TEST(CompoundAlignTest, FinalOrderIsByGroupThenInputOrder) {
  const Outcome run =
      AlignFast(One_Phase_Align, 0.1, 20, 10,
                {MakePeak(1, 0, 7, 300.0, 60.0, 1.0), MakePeak(2, 0, 0, 100.0, 60.0, 0.0),
                 MakePeak(3, 1, 7, 300.0, 61.0, 5.0), MakePeak(4, 1, 8, 500.0, 60.0, 9.0),
                 MakePeak(5, 2, 8, 500.0, 60.0, 1.0), MakePeak(6, 3, 9, 700.0, 60.0, -1.0)});
  std::vector<std::uint32_t> tags;
  for (const Peak& p : run.list) tags.push_back(p.EIC_ID);
  EXPECT_EQ(tags, (std::vector<std::uint32_t>{2, 6, 4, 5, 1, 3}));
  EXPECT_EQ(run.list[1].Align_RT, 0.0);
}

TEST(CompoundAlignTest, StaleAlignFieldsAreReset) {
  List list = {MakePeak(1, 0, 0, 100.0, 60.0, 1.0)};
  list[0].Align_ID = 5;
  list[0].Align_RT = 3.0;
  const Outcome run = AlignFast(One_Phase_Align, 0.1, 20, 10, list);
  EXPECT_EQ(run.list[0].Align_ID, 0u);
  EXPECT_EQ(run.list[0].Align_RT, 0.0);
}

TEST(CompoundAlignTest, IntensityPrintsInDefaultFormatAndStreamIsRestored) {
  List list = {MakePeak(1, 0, 7, 100.0, 60.0, 1234567.0), MakePeak(2, 0, 7, 300.0, 60.0, 52000.5)};
  std::ostringstream out;
  out << std::fixed << std::setprecision(2);
  compound_align(One_Phase_Align, 0.1, 20, 10, list, out);
  EXPECT_EQ(out.str(), Lines(1, 2, "1.23457e+06") + Lines(2, 1, "52000.5") + Closing(2));
  out.str("");
  out << 1.0;
  EXPECT_EQ(out.str(), "1.00");
}

TEST(CompoundAlignTest, ListIsUnchangedWhenProgressCallbackThrows) {
  const List list = {MakePeak(1, 0, 7, 300.0, 60.0, 1.0), MakePeak(2, 1, 8, 500.0, 60.0, 9.0),
                     MakePeak(3, 2, 8, 500.0, 61.0, 2.0)};
  List work = list;
  std::ostringstream out;
  EXPECT_THROW(compound_align(One_Phase_Align, 0.1, 20, 10, work, out,
                              [](std::uint32_t g, std::size_t) {
                                if (g == 2) throw std::runtime_error("stop");
                              }),
               std::runtime_error);
  EXPECT_TRUE(SameRecords(work, list));
}

TEST(CompoundAlignTest, RecordsAreMovedNotCopied) {
  List list;
  std::vector<const Data_Point*> shapes;
  for (std::uint32_t i = 0; i < 200; ++i) {
    list.push_back(MakePeak(i, i % 7, 1 + i % 3, 100.0 + (i % 11), 60.0 + (i % 13), 1.0 + i % 5));
    list.back().Peak_shape.assign(40, Data_Point{i, 1.0, 2.0, 3.0});
    shapes.push_back(list.back().Peak_shape.data());
  }
  const Outcome run = AlignFast(Two_Phase_Align, 0.5, 20, 10, std::move(list));
  for (const Peak& p : run.list) EXPECT_EQ(p.Peak_shape.data(), shapes[p.EIC_ID]);
}

// Large lists of one kind finish, stay sorted by Align_ID and number their
// groups 1..G without gaps, with one Align_RT per group.
void ExpectWellFormed(const List& list) {
  std::uint32_t last = 0;
  double rt = 0.0;
  for (const Peak& p : list) {
    ASSERT_TRUE(p.Align_ID == last || p.Align_ID == last + 1) << p.Align_ID << " after " << last;
    if (p.Align_ID == 0) {
      ASSERT_EQ(p.Align_RT, 0.0);
    }
    if (p.Align_ID == last + 1) rt = p.Align_RT;
    ASSERT_EQ(p.Align_RT, rt);
    last = p.Align_ID;
  }
}

TEST(CompoundAlignTest, LargeDegenerateListsFinish) {
  const std::size_t n = 10000;
  List one_sample, unannotated, all_nan, one_point;
  for (std::uint32_t i = 0; i < n; ++i) {
    one_sample.push_back(MakePeak(i, 0, 1, 100.0, i * 0.05, 1.0 + i % 97));
    unannotated.push_back(MakePeak(i, i % 50, 0, 100.0 + i % 7, i % 300, 1.0 + i));
    all_nan.push_back(MakePeak(i, i % 50, 1, kNaN, kNaN, kNaN));
    one_point.push_back(MakePeak(i, i % 3, 1, 100.0, 60.0, 1.0));
  }
  Outcome run = AlignFast(One_Phase_Align, 0.1, 20, 10, one_sample);
  ExpectWellFormed(run.list);
  EXPECT_EQ(run.progress.back().second, 0u);  // one sample: every group holds one peak
  run = AlignFast(Two_Phase_Align, 0.1, 20, 10, unannotated);
  ExpectWellFormed(run.list);
  EXPECT_TRUE(run.progress.empty());
  EXPECT_EQ(run.list.back().Align_ID, 0u);
  run = AlignFast(Two_Phase_Align, kInf, kInf, kInf, all_nan);
  EXPECT_EQ(run.text, Closing(0));
  run = AlignFast(Two_Phase_Align, kInf, kInf, kInf, one_point);
  ExpectWellFormed(run.list);
  EXPECT_EQ(run.text, Lines(1, n, "1") + Closing(1));  // all at distance 0: all stay
}

// ---------------------------------------------------------------------------
// Differential tests against the step-by-step oracle.

class RandomLists {
 public:
  explicit RandomLists(std::uint32_t seed) : rng_(seed) {}

  template <typename T, std::size_t N>
  T Pick(const T (&values)[N]) {
    return values[rng_() % N];
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  // Small lists on coarse grids, so ties, exact boundaries, shared samples and
  // odd values are common.
  List Coarse(std::size_t n) {
    static const double kOddValues[] = {kNaN, kInf, -kInf, -0.0, 0.0, 1e308, -1e308, 5e-324};
    static const double kIntensities[] = {1, 2, 3, 5, 5, 8, 0, -1, kNaN, kInf, 52000.5, 1234567};
    const std::uint32_t samples = 1 + rng_() % 6;
    List list;
    for (std::uint32_t i = 0; i < n; ++i) {
      Peak p = MakePeak(i, rng_() % samples, Chance(0.15) ? 0 : 1 + rng_() % 40,
                        Chance(0.04) ? Pick(kOddValues) : 100.0 + (rng_() % 9) * 0.05,
                        Chance(0.04) ? Pick(kOddValues) : 50.0 + (rng_() % 40) * 0.5,
                        Pick(kIntensities));
      if (Chance(0.02)) p.SAMPLE_ID = Chance(0.5) ? 0xFFFFFFFFu : 0x80000000u;
      Decorate(p);
      list.push_back(std::move(p));
    }
    return list;
  }

  // Larger lists shaped like a study: compounds seen in most samples with a
  // little noise, plus unannotated peaks.
  List Study(std::size_t samples, std::size_t compounds) {
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> mass(100, 130), rt(30, 300), intensity(1, 1000);
    List list;
    std::uint32_t tag = 0;
    for (std::size_t c = 0; c < compounds; ++c) {
      const double m = mass(rng_), t = rt(rng_), in = intensity(rng_);
      for (std::size_t s = 0; s < samples; ++s) {
        if (Chance(0.2)) continue;
        Peak p = MakePeak(tag++, static_cast<std::uint32_t>(s), 1 + c, m + 0.01 * noise(rng_),
                          t + 3 * noise(rng_), std::round(in * (1 + 0.1 * noise(rng_))));
        if (Chance(0.05)) p.Compound_ID = 0;
        Decorate(p);
        list.push_back(std::move(p));
      }
    }
    std::shuffle(list.begin(), list.end(), rng_);
    return list;
  }

  double Tolerance() {
    static const double kValues[] = {0, 0.05, 0.1, 0.1, 0.25, 1, -0.1, -0.0, kNaN, kInf, 1e308};
    return Pick(kValues);
  }
  double Window() {
    static const double kValues[] = {0, 1, 3, 7.5, 10, 20, 20, -2, kNaN, kInf, 1e308};
    return Pick(kValues);
  }
  std::mt19937& rng() { return rng_; }

 private:
  void Decorate(Peak& p) {
    p.Peak_ID = static_cast<std::uint32_t>(rng_());
    p.Apex_MZ = p.Compound_MolecularMass + 1.007;
    p.Apex_Retention_Time = rng_() % 1000 * 0.25;
    p.Apex_Intensity = rng_() % 5000;
    p.Group_ID = rng_() % 9;
    p.Adduct_Annotation = Chance(0.5) ? "[M+H]+" : "";
    p.Peak_shape.assign(rng_() % 3, Data_Point{p.EIC_ID, 1.5, 2.5, 3.5});
  }
  std::mt19937 rng_;
};

void ExpectSameAsOracle(Compound_Align_Mode mode, double tol, double w1, double w2,
                        const List& list) {
  const Outcome fast = AlignFast(mode, tol, w1, w2, list);
  const Outcome slow = AlignOracle(mode, tol, w1, w2, list);
  SCOPED_TRACE(::testing::Message() << "mode " << mode << " tol " << tol << " w1 " << w1 << " w2 "
                                    << w2 << " size " << list.size());
  EXPECT_TRUE(SameRecords(fast.list, slow.list));
  EXPECT_EQ(fast.text, slow.text);
  EXPECT_EQ(fast.progress, slow.progress);
}

TEST(CompoundAlignOracleTest, CoarseRandomListsMatch) {
  RandomLists random(20261207);
  for (int round = 0; round < 2000 && !::testing::Test::HasFailure(); ++round) {
    const List list = random.Coarse(random.rng()() % 70);
    const double tol = random.Tolerance(), w1 = random.Window(), w2 = random.Window();
    ExpectSameAsOracle(One_Phase_Align, tol, w1, w2, list);
    ExpectSameAsOracle(Two_Phase_Align, tol, w1, w2, list);
  }
}

TEST(CompoundAlignOracleTest, StudyShapedListsMatch) {
  RandomLists random(7);
  for (int round = 0; round < 8 && !::testing::Test::HasFailure(); ++round) {
    const List list = random.Study(2 + round % 9, 30 + 10 * round);
    const double tol = round % 4 == 0 ? 0.0 : 0.02 * (round % 4);
    ExpectSameAsOracle(One_Phase_Align, tol, 10 + round, 5, list);
    ExpectSameAsOracle(Two_Phase_Align, tol, 10 + round, 4 + round % 5, list);
  }
}

TEST(CompoundAlignOracleTest, PpmToleranceMatches) {
  RandomLists random(2468);
  static const double kPpm[] = {0, 100, 500, 500, 2000, 1e4, -1, kNaN, kInf};
  for (int round = 0; round < 400 && !::testing::Test::HasFailure(); ++round) {
    const List list =
        round % 20 == 0 ? random.Study(2 + round % 7, 40) : random.Coarse(random.rng()() % 70);
    const Mass_Tolerance tol{Mass_Tolerance::Unit::kPpm, kPpm[random.rng()() % 9]};
    const double w1 = random.Window(), w2 = random.Window();
    for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
      List fast = list, slow = list;
      std::ostringstream fast_text, slow_text;
      compound_align(mode, tol, w1, w2, fast, fast_text);
      oracle::CompoundAlign(mode, tol, w1, w2, slow, slow_text);
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " ppm " << tol.value);
      EXPECT_TRUE(SameRecords(fast, slow));
      EXPECT_EQ(fast_text.str(), slow_text.str());
    }
  }
}

TEST(CompoundAlignOracleTest, OneSampleAndAllUnannotatedMatch) {
  RandomLists random(99);
  for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
    List list = random.Coarse(60);
    for (Peak& p : list) {
      if (round % 2 == 0) p.SAMPLE_ID = 3;
      if (round % 4 == 1) p.Compound_ID = 0;
    }
    ExpectSameAsOracle(One_Phase_Align, 0.1, 20, 10, list);
    ExpectSameAsOracle(Two_Phase_Align, 0.1, 20, 10, list);
  }
}

}  // namespace
