#include "align/member_choice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <vector>

#include "align/compound_align.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Align_Key Key(std::uint32_t row, std::uint32_t sample, double mass, double rt, double intensity,
              std::uint32_t compound = 1) {
  Align_Key k;
  k.row = row;
  k.SAMPLE_ID = sample;
  k.Compound_ID = compound;
  k.Compound_MolecularMass = mass;
  k.Compound_Retention_Time = rt;
  k.Compound_Intensity = intensity;
  return k;
}

// Four samples of ten compounds, each sample a little off in time, mass and
// intensity, so that every group qualifies for the spreads.
std::vector<Align_Key> Study() {
  std::vector<Align_Key> keys;
  for (std::uint32_t c = 0; c < 10; ++c) {
    for (std::uint32_t s = 0; s < 4; ++s) {
      const double off = static_cast<double>(s) - 1.5;
      keys.push_back(Key(static_cast<std::uint32_t>(keys.size()), s, 100.0 + 10.0 * c + 0.001 * off,
                         100.0 + 50.0 * c + off, 1e5 * (c + 1) * (1.0 + 0.05 * s)));
    }
  }
  return keys;
}

std::uint32_t Group_Of_Row(const std::vector<Align_Key>& keys, std::uint32_t row) {
  for (const Align_Key& k : keys) {
    if (k.row == row) return k.Align_ID;
  }
  ADD_FAILURE() << "no row " << row;
  return 0;
}

Member_Choice_Outcome Align(std::vector<Align_Key>& keys, Member_Pick pick, bool join,
                            Compound_Align_Mode mode = One_Phase_Align, double window = 20.0) {
  Member_Choice choice;
  choice.pick = pick;
  choice.join_splits = join;
  std::ostringstream lines;
  return compound_align(mode, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, window, 10.0, keys,
                        nullptr, choice, nullptr, lines);
}

TEST(PickScoreTest, TermsDropForUnusableSpreadsAndIntensities) {
  Pick_Spreads s;
  s.rt = 1.0;
  s.mass = 0.5;
  s.log_intensity = 0.25;
  // (2 / sqrt2)^2 + (0.5 / (sqrt2 * 0.5))^2 + (1 / (sqrt2 * 0.25))^2 = 2 + 0.5 + 8
  EXPECT_NEAR(Pick_Score(s, 2.0, 0.5, 1000.0, 100.0), 10.5, 1e-12);
  EXPECT_NEAR(Pick_Score(s, -2.0, -0.5, 10.0, 100.0), 10.5, 1e-12);  // signs do not matter
  EXPECT_NEAR(Pick_Score(s, 2.0, 0.5, 0.0, 100.0), 2.5, 1e-12);      // no intensity term
  EXPECT_NEAR(Pick_Score(s, 2.0, 0.5, -5.0, 100.0), 2.5, 1e-12);
  EXPECT_NEAR(Pick_Score(s, 2.0, 0.5, kNaN, 100.0), 2.5, 1e-12);
  s.rt = 0.0;
  s.mass = kNaN;
  EXPECT_NEAR(Pick_Score(s, 2.0, 0.5, 1000.0, 100.0), 8.0, 1e-12);
  s.log_intensity = kNaN;
  EXPECT_EQ(Pick_Score(s, 2.0, 0.5, 1000.0, 100.0), 0.0);
}

TEST(SpreadsTest, PooledDeviationsOfQualifyingGroupsOnly) {
  // Group 1: three samples of four (qualifies); group 2: one sample (does not).
  std::vector<Member_Point> points = {{100.0, 10.0, 100.0, 0},  {100.002, 11.0, 1000.0, 1},
                                      {100.004, 13.0, 10.0, 2}, {200.0, 50.0, 5.0, 3},
                                      {200.5, 90.0, 5.0, 3},    {300.0, 1.0, 1.0, 0}};
  const std::vector<std::uint32_t> group_of = {1, 1, 1, 2, 2, 0};
  Spread_Deviations d = Group_Deviations(points, group_of, 4, false);
  EXPECT_EQ(d.groups, 1u);
  ASSERT_EQ(d.rt.size(), 3u);
  const Pick_Spreads s = Spreads_Of(d, false);
  EXPECT_TRUE(s.Found());
  // time deviations -1, 0, 2: their median 0, absolute deviations 1, 0, 2
  EXPECT_NEAR(s.rt, 1.4826, 1e-12);
  EXPECT_NEAR(s.mass, 1.4826 * 0.002, 1e-9);
  EXPECT_NEAR(s.log_intensity, 1.4826, 1e-12);

  Spread_Deviations ppm = Group_Deviations(points, group_of, 4, true);
  EXPECT_NEAR(Spreads_Of(ppm, true).mass, 1.4826 * 0.002 / 100.002 * 1e6, 1e-6);

  // Five samples: three of them are not half.
  Spread_Deviations none = Group_Deviations(points, group_of, 7, false);
  const Pick_Spreads nothing = Spreads_Of(none, false);
  EXPECT_FALSE(nothing.Found());
  EXPECT_TRUE(std::isnan(nothing.rt));
}

TEST(ScoredPickTest, StrongTrueMemberWinsOverCloserWeakPeak) {
  for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
    std::vector<Align_Key> keys = Study();
    // Compound 9's seed is sample 3 at 551.5; sample 0's own member sits at
    // 548.5. A weak peak of another compound at 551 is closer in time.
    keys.push_back(Key(1000, 0, 190.0005, 551.0, 100.0, 2));
    std::vector<Align_Key> closest = keys;
    Align(closest, Member_Pick::kClosest, false, mode, mode == One_Phase_Align ? 20.0 : 20.0);
    const std::uint32_t true_row = 9 * 4 + 0;
    const std::uint32_t seed_row = 9 * 4 + 3;
    EXPECT_EQ(Group_Of_Row(closest, 1000), Group_Of_Row(closest, seed_row));
    EXPECT_NE(Group_Of_Row(closest, true_row), Group_Of_Row(closest, seed_row));

    const Member_Choice_Outcome out = Align(keys, Member_Pick::kScored, false, mode);
    EXPECT_TRUE(out.spreads.Found());
    EXPECT_EQ(Group_Of_Row(keys, true_row), Group_Of_Row(keys, seed_row)) << mode;
    EXPECT_NE(Group_Of_Row(keys, 1000), Group_Of_Row(keys, seed_row));
  }
}

TEST(ScoredPickTest, EqualScoresAllStay) {
  std::vector<Align_Key> keys = Study();
  // An adduct of compound 5 in sample 2 with its time, mass and intensity.
  Align_Key twin = keys[5 * 4 + 2];
  twin.row = 2000;
  keys.push_back(twin);
  Align(keys, Member_Pick::kScored, false);
  EXPECT_EQ(Group_Of_Row(keys, 2000), Group_Of_Row(keys, 5 * 4 + 2));
}

TEST(ScoredPickTest, WithoutQualifyingGroupsTheClosestRuleStands) {
  // Each compound in one sample of four: no group holds half of the samples
  // (nor three records).
  std::vector<Align_Key> keys;
  for (std::uint32_t i = 0; i < 12; ++i) {
    keys.push_back(Key(i, i % 4, 100.0 + (i % 3) * 0.01, 100.0 + 50.0 * i, 10.0 + i));
  }
  std::vector<Align_Key> closest = keys;
  Align(closest, Member_Pick::kClosest, false);
  const Member_Choice_Outcome out = Align(keys, Member_Pick::kScored, false);
  EXPECT_FALSE(out.spreads.Found());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].row, closest[i].row);
    EXPECT_EQ(keys[i].Align_ID, closest[i].Align_ID);
    EXPECT_EQ(keys[i].Align_RT, closest[i].Align_RT);
  }
}

TEST(ScoredPickTest, GivenSpreadsAreUsedAsTheyAre) {
  std::vector<Align_Key> keys = Study();
  Pick_Spreads given;
  given.rt = 3.0;
  given.mass = 0.01;
  given.log_intensity = 1.0;
  given.groups = 99;
  Member_Choice choice;
  choice.pick = Member_Pick::kScored;
  choice.spreads = &given;
  std::ostringstream lines;
  const Member_Choice_Outcome out =
      compound_align(One_Phase_Align, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, 20.0, 10.0,
                     keys, nullptr, choice, nullptr, lines);
  EXPECT_EQ(out.spreads, given);
  // Only the second run prints: one line pair per group and the closing line.
  EXPECT_EQ(lines.str().find("Compound alignment, Align_ID=11"), std::string::npos);
}

TEST(JoinSplitsTest, DisjointNeighboursJoinAndNumbersCloseUp) {
  // Compound A split: samples 0-1 at 100 s and samples 2-3 at 108 s (beyond
  // the half window of 5 s, within the full window of 10 s). Compound B at
  // another mass in between. Compound C shares sample 1 with A's first half.
  std::vector<Align_Key> keys = {
      Key(0, 0, 300.0, 100.0, 900.0),  Key(1, 1, 300.0, 100.5, 800.0),
      Key(2, 2, 300.01, 108.0, 700.0), Key(3, 3, 300.01, 108.5, 600.0),
      Key(4, 0, 500.0, 104.0, 500.0),  Key(5, 1, 300.02, 95.5, 50.0),
  };
  std::vector<Align_Key> unjoined = keys;
  Align(unjoined, Member_Pick::kClosest, false, One_Phase_Align, 10.0);
  EXPECT_NE(Group_Of_Row(unjoined, 0), Group_Of_Row(unjoined, 2));
  const Member_Choice_Outcome out = Align(keys, Member_Pick::kClosest, true, One_Phase_Align, 10.0);
  EXPECT_EQ(out.joins, 1u);
  EXPECT_EQ(Group_Of_Row(keys, 0), 1u);  // the smaller number stays
  EXPECT_EQ(Group_Of_Row(keys, 2), 1u);
  EXPECT_EQ(Group_Of_Row(keys, 3), 1u);
  EXPECT_EQ(Group_Of_Row(keys, 4), 2u);  // was 3
  EXPECT_NE(Group_Of_Row(keys, 5), 1u);  // sample 1 is in group 1 already
  std::uint32_t top = 0;
  for (const Align_Key& k : keys) top = std::max(top, k.Align_ID);
  EXPECT_EQ(top, 3u);
  for (const Align_Key& k : keys) {
    if (k.Align_ID == 1) {
      EXPECT_EQ(k.Align_RT, 100.0);  // the kept group's centre
    }
  }
}

TEST(JoinSplitsTest, EachJoinIsCheckedAgainstTheOnesBefore) {
  // Three one-sample groups: a (sample 0) and b (sample 1) 1 s apart, c
  // (sample 0 again) 2 s from b. a+b join first; then c shares sample 0.
  std::vector<Member_Point> points = {
      {100.0, 10.0, 9.0, 0}, {100.0, 11.0, 8.0, 1}, {100.0, 13.0, 7.0, 0}};
  std::uint32_t joins = 0;
  const std::vector<std::uint32_t> renumber = Join_Split_Groups(
      points, {1, 2, 3}, 3, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, 20.0, kNaN, joins);
  EXPECT_EQ(joins, 1u);
  EXPECT_EQ(renumber, (std::vector<std::uint32_t>{0, 1, 1, 2}));
  // Ties in time go to the smaller numbers: b is 1 s from both a and c.
  points = {{100.0, 10.0, 9.0, 0}, {100.0, 11.0, 8.0, 1}, {100.0, 12.0, 7.0, 2}};
  const std::vector<std::uint32_t> tie = Join_Split_Groups(
      points, {1, 2, 3}, 3, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, 1.0, kNaN, joins);
  // a+b first (median 10.5); then c is 1.5 s away: too far for a 1 s window.
  EXPECT_EQ(tie, (std::vector<std::uint32_t>{0, 1, 1, 2}));
}

// Two compounds of one mass held by different samples, whose groups touch
// through one stray member, stay apart; the halves of one compound, their
// medians close, join. Spread 0.5 s: nearest members within 1 s, medians
// within 6 s.
TEST(JoinSplitsTest, GroupsTouchingThroughAStrayMemberButCentredApartStayApart) {
  const Mass_Tolerance tol{Mass_Tolerance::Unit::kDa, 0.1};
  // a: samples 0-2 at 100 s, one of them strayed to 107 s; b: samples 3-5 at
  // 108 s. Nearest members 1 s apart, medians 8 s.
  std::vector<Member_Point> points = {{300.0, 100.0, 5.0, 0}, {300.0, 100.2, 5.0, 1},
                                      {300.0, 107.0, 5.0, 2}, {300.0, 108.0, 5.0, 3},
                                      {300.0, 108.1, 5.0, 4}, {300.0, 108.3, 5.0, 5}};
  const std::vector<std::uint32_t> group_of = {1, 1, 1, 2, 2, 2};
  std::uint32_t joins = 0;
  EXPECT_EQ(Join_Split_Groups(points, group_of, 2, tol, 20.0, 1.0, joins),
            (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_EQ(joins, 0u);
  // Without the gap rule the window alone decides: joined.
  EXPECT_EQ(Join_Split_Groups(points, group_of, 2, tol, 20.0, kNaN, joins),
            (std::vector<std::uint32_t>{0, 1, 1}));
  // b at 101 s: the medians 0.8 s apart, nearest members 0.7 s: one compound.
  for (std::size_t i = 3; i < 6; ++i) points[i].time -= 7.1;
  EXPECT_EQ(Join_Split_Groups(points, group_of, 2, tol, 20.0, 1.0, joins),
            (std::vector<std::uint32_t>{0, 1, 1}));
  EXPECT_EQ(joins, 1u);
}

TEST(MemberChoiceTest, DefaultsGiveTheClosestRuleUnchanged) {
  std::vector<Align_Key> keys = Study();
  keys.push_back(Key(1000, 0, 190.0005, 551.0, 100.0, 2));
  std::vector<Align_Key> old = keys;
  std::ostringstream a, b;
  compound_align(One_Phase_Align, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, 20.0, 10.0, old,
                 nullptr, a);
  compound_align(One_Phase_Align, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.1}, 20.0, 10.0, keys,
                 nullptr, Member_Choice{}, nullptr, b);
  EXPECT_EQ(a.str(), b.str());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].row, old[i].row);
    EXPECT_EQ(keys[i].Align_ID, old[i].Align_ID);
  }
}

}  // namespace
