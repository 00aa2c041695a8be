// The ppm mass tolerance at its limits, alignment on corrected times, the
// drift correction fitted on synthetic drifts and the anchors it finds.
#include "align/rt_correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "align/compound_align.h"
#include "align/tolerance_estimate.h"

namespace {

using Peak = Chromatogram_Peak_Group_Compound_Align;
using List = std::vector<Peak>;

Peak MakePeak(std::uint32_t tag, std::uint32_t sample, double mass, double rt, double intensity) {
  Peak p;
  p.EIC_ID = tag;
  p.Peak_ID = tag;
  p.SAMPLE_ID = sample;
  p.SAMPLE_NAME.assign("s").append(std::to_string(sample));  // (GCC 12 -Wrestrict with +)
  p.Compound_ID = tag;
  p.Compound_MolecularMass = mass;
  p.Compound_Retention_Time = rt;
  p.Compound_Intensity = intensity;
  return p;
}

// A study-shaped list with a few hundred compounds in six samples.
List RandomStudy(std::uint64_t seed, const std::function<double(std::uint32_t, double)>& drift) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> mass(100.0, 1200.0), rt(60.0, 1400.0), unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  List list;
  std::uint32_t tag = 0;
  for (int c = 0; c < 400; ++c) {
    const double m = mass(rng), t = rt(rng), in = 1000.0 * (1.0 + 10.0 * unit(rng));
    for (std::uint32_t s = 0; s < 6; ++s) {
      if (unit(rng) < 0.1) continue;
      Peak p = MakePeak(++tag, s, m + 0.001 * noise(rng), t + drift(s, t) + 0.3 * noise(rng),
                        in * (1.0 + 0.1 * noise(rng)));
      p.Compound_ID = static_cast<std::uint32_t>(c + 1);
      p.Group_ID = static_cast<std::uint32_t>(c + 1);  // the true compound
      list.push_back(p);
    }
  }
  return list;
}

TEST(CorrectedAlignmentTest, NoCurveGivesThePlainResultAndRecordsKeepTheirTimes) {
  const auto drift = [](std::uint32_t s, double t) { return 5.0 * s + 0.01 * t; };
  const List study = RandomStudy(7, drift);
  List plain = study, da = study, corrected = study;
  std::ostringstream a, b, c;
  compound_align(One_Phase_Align, 0.01, 20.0, 10.0, plain, a);
  compound_align(One_Phase_Align, Mass_Tolerance{Mass_Tolerance::Unit::kDa, 0.01}, 20.0, 10.0, da,
                 b);
  Compound_Align_With_Rt_Correction(One_Phase_Align, {Mass_Tolerance::Unit::kDa, 0.01}, 20.0, 10.0,
                                    corrected, Rt_Correction{}, c);
  ASSERT_EQ(plain.size(), corrected.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(plain[i].EIC_ID, da[i].EIC_ID);
    EXPECT_EQ(plain[i].Align_ID, da[i].Align_ID);
    EXPECT_EQ(plain[i].EIC_ID, corrected[i].EIC_ID);
    EXPECT_EQ(plain[i].Align_ID, corrected[i].Align_ID);
    EXPECT_EQ(plain[i].Align_RT, corrected[i].Align_RT);
  }
  EXPECT_EQ(a.str(), c.str());

  // With a curve: the records keep their times, Align_RT is on the new scale.
  Rt_Correction shift_all;
  for (std::uint32_t s = 0; s < 6; ++s) {
    shift_all.samples.push_back({s, "", 20, true, {0.0, 2000.0}, {100.0, 100.0}, {}, {}});
  }
  List moved = study;
  Compound_Align_With_Rt_Correction(One_Phase_Align, {Mass_Tolerance::Unit::kDa, 0.01}, 20.0, 10.0,
                                    moved, shift_all, c);
  for (std::size_t i = 0; i < moved.size(); ++i) {
    EXPECT_EQ(moved[i].Compound_Retention_Time, plain[i].Compound_Retention_Time);
    EXPECT_EQ(moved[i].Align_RT, plain[i].Align_RT == 0.0 ? 0.0 : plain[i].Align_RT + 100.0);
  }
}

// After the correction, the times of one compound agree across samples.
void ExpectAligned(const List& list, const Rt_Correction& correction, double tolerance,
                   std::uint32_t skip_sample = 99) {
  std::vector<std::vector<double>> times(401);
  for (const Peak& p : list) {
    if (p.SAMPLE_ID == skip_sample || p.Compound_Retention_Time < 150.0 ||
        p.Compound_Retention_Time > 1300.0) {
      continue;
    }
    times[p.Group_ID].push_back(p.Compound_Retention_Time +
                                correction.Shift(p.SAMPLE_ID, p.Compound_Retention_Time));
  }
  int checked = 0;
  for (const auto& t : times) {
    for (double x : t) {
      EXPECT_NEAR(x, t[0], tolerance);
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000);
}

Rt_Correction_Params Params() {
  Rt_Correction_Params params;
  params.anchors.mass_tol = {Mass_Tolerance::Unit::kDa, 0.01};
  params.anchors.window = 120.0;
  return params;
}

TEST(RtCorrectionTest, LinearAndSinusoidalDriftsAreTakenOut) {
  const auto drift = [](std::uint32_t s, double t) {
    switch (s) {
      case 0:
        return 0.0;
      case 1:
        return 0.02 * t;  // up to 28 s
      case 2:
        return 20.0 * std::sin(2.0 * 3.14159265 * t / 1400.0);
      case 3:
        return -15.0 + 0.01 * t;
      default:
        return 8.0 * std::sin(t / 200.0);
    }
  };
  const List study = RandomStudy(11, drift);
  const Rt_Correction correction = Fit_Rt_Correction(study, Params());
  EXPECT_TRUE(correction.Uncorrected_Samples().empty());
  EXPECT_GT(correction.rt_spread_before, 3.0);
  EXPECT_LT(correction.rt_spread_after, 0.6);
  ExpectAligned(study, correction, 2.5);

  // The stored rows: every grid point of every sample, ascending.
  const std::vector<Rt_Correction_Row> rows = Rt_Correction_Rows(correction);
  ASSERT_EQ(rows.size(), 6u * 101u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_TRUE(rows[i - 1].sample < rows[i].sample ||
                (rows[i - 1].sample == rows[i].sample && rows[i - 1].rt < rows[i].rt));
  }
}

// The check is called all through the fit and changes nothing; what it
// throws leaves the fit.
TEST(RtCorrectionTest, CheckIsCalledThroughTheFitAndCanStopIt) {
  const auto drift = [](std::uint32_t s, double t) { return 3.0 * s + 0.01 * t; };
  const List study = RandomStudy(19, drift);
  const Rt_Correction plain = Fit_Rt_Correction(study, Params());
  int checks = 0;
  const Rt_Correction checked = Fit_Rt_Correction(study, Params(), [&] { ++checks; });
  // Per pass at least the anchor search's end and the first sample's curve.
  EXPECT_GE(checks, 6);
  EXPECT_EQ(Rt_Correction_Summary(checked), Rt_Correction_Summary(plain));
  ASSERT_EQ(checked.samples.size(), plain.samples.size());
  for (std::size_t s = 0; s < plain.samples.size(); ++s) {
    EXPECT_EQ(checked.samples[s].rt, plain.samples[s].rt);
    EXPECT_EQ(checked.samples[s].shift, plain.samples[s].shift);
  }

  struct Stopped {};
  for (const int at : {1, checks}) {
    int calls = 0;
    EXPECT_THROW(Fit_Rt_Correction(study, Params(),
                                   [&] {
                                     if (++calls == at) throw Stopped{};
                                   }),
                 Stopped);
    EXPECT_EQ(calls, at);
  }
}

TEST(RtCorrectionTest, OutliersDoNotBendTheCurve) {
  const auto drift = [](std::uint32_t s, double t) { return s == 2 ? 10.0 + 0.01 * t : 0.0; };
  List study = RandomStudy(13, drift);
  // One compound in eight of sample 2 sits 6 s off its drift: within the
  // anchor window, so it stays an anchor member, but not on the curve.
  std::mt19937_64 rng(3);
  for (Peak& p : study) {
    if (p.SAMPLE_ID == 2 && rng() % 8 == 0) p.Compound_Retention_Time += 6.0;
  }
  const Rt_Correction correction = Fit_Rt_Correction(study, Params());
  for (double t : {200.0, 600.0, 1000.0}) {
    const double raw = t + 10.0 + 0.01 * t;  // where sample 2 sees a compound at t
    EXPECT_NEAR(correction.Shift(2, raw) - correction.Shift(0, t), -(10.0 + 0.01 * t), 0.5) << t;
  }
}

TEST(RtCorrectionTest, SampleWithTooFewAnchorsStaysUncorrectedAndIsNamed) {
  const auto drift = [](std::uint32_t s, double t) { return s == 1 ? 0.02 * t : 0.0; };
  List study = RandomStudy(17, drift);
  // Sample 5 keeps only five compounds.
  List thinned;
  int kept = 0;
  for (const Peak& p : study) {
    if (p.SAMPLE_ID != 5 || kept++ < 5) thinned.push_back(p);
  }
  const Rt_Correction correction = Fit_Rt_Correction(thinned, Params());
  ASSERT_EQ(correction.Uncorrected_Samples(), std::vector<std::uint32_t>{5});
  EXPECT_EQ(correction.Shift(5, 700.0), 0.0);
  EXPECT_TRUE(std::isnan(correction.Shift(1, std::numeric_limits<double>::quiet_NaN())));
  for (const Rt_Correction_Row& row : Rt_Correction_Rows(correction)) EXPECT_NE(row.sample, 5u);
  EXPECT_NE(Rt_Correction_Summary(correction).find("not corrected (too few anchors): s5"),
            std::string::npos)
      << Rt_Correction_Summary(correction);
  ExpectAligned(thinned, correction, 2.5, 5);
}

TEST(RtCorrectionTest, ShiftIsLinearBetweenGridPointsAndFlatBeyond) {
  Rt_Correction c;
  c.samples.push_back({4, "", 20, true, {100.0, 200.0, 300.0}, {1.0, 3.0, -1.0}, {}, {}});
  EXPECT_EQ(c.Shift(4, 50.0), 1.0);
  EXPECT_EQ(c.Shift(4, 150.0), 2.0);
  EXPECT_EQ(c.Shift(4, 250.0), 1.0);
  EXPECT_EQ(c.Shift(4, 900.0), -1.0);
  EXPECT_EQ(c.Shift(3, 150.0), 0.0);  // no curve
}

// A bend over a sixth of the times, up to 45 s, a different size per sample.
double Bend(double t, double size) {
  const double u = (t - 700.0) / 220.0;
  return std::fabs(u) < 0.5 ? size * 0.5 * (1.0 + std::cos(2.0 * 3.14159265 * u)) : 0.0;
}

TEST(RtCorrectionTest, FollowsANarrowBendAndACumulativeTrend) {
  const List bent = RandomStudy(19, [](std::uint32_t s, double t) {
    return Bend(t, s == 3 ? -45.0 : 25.0 * (static_cast<double>(s) - 2.5) / 2.5);
  });
  const Rt_Correction bend = Fit_Rt_Correction(bent, Params());
  EXPECT_TRUE(bend.Uncorrected_Samples().empty());
  ExpectAligned(bent, bend, 3.0);

  // 70 s more per sample: the last sample lies 350 s after the first, far
  // beyond the anchor window.
  const List trended =
      RandomStudy(23, [](std::uint32_t s, double t) { return 70.0 * s + 0.01 * t; });
  const Rt_Correction trend = Fit_Rt_Correction(trended, Params());
  EXPECT_TRUE(trend.Uncorrected_Samples().empty());
  ExpectAligned(trended, trend, 2.5);
}

// A run of another kind (a blank, another matrix) that holds the most
// compounds, nearly all its own and of the study's masses at other times:
// against it every sample's time differences are chance, whose densest
// stretch lies anywhere. The gross shifts must come from a reference the
// samples agree with, and the foreign run's own shift, chance too, must not
// be applied.
TEST(RtCorrectionTest, ForeignRunNeitherMisleadsTheGrossShiftsNorTakesAChanceOne) {
  // 70 s more per sample: without the gross shift the last samples lie
  // beyond the anchor window.
  List study = RandomStudy(29, [](std::uint32_t s, double t) { return 70.0 * s + 0.01 * t; });
  std::vector<double> masses;
  for (const Peak& p : study) {
    if (p.SAMPLE_ID == 0) masses.push_back(p.Compound_MolecularMass);
  }
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> rt(60.0, 1400.0), unit(0.0, 1.0);
  std::uint32_t tag = 100000;
  for (int copy = 0; copy < 2; ++copy) {
    for (double m : masses) {
      Peak p =
          MakePeak(++tag, 6, m + 0.002 * (unit(rng) - 0.5), rt(rng), 5000.0 * (1.0 + unit(rng)));
      p.Group_ID = 0;
      study.push_back(p);
    }
  }
  const Rt_Correction correction = Fit_Rt_Correction(study, Params());
  ASSERT_EQ(correction.samples.size(), 7u);
  for (std::uint32_t s = 0; s < 6; ++s) {
    EXPECT_FALSE(correction.samples[s].gross_shift_rejected) << s;
    EXPECT_TRUE(correction.samples[s].corrected) << s;
  }
  EXPECT_TRUE(correction.samples[6].gross_shift_rejected);
  ExpectAligned(study, correction, 2.5, 6);
  EXPECT_NE(Rt_Correction_Summary(correction)
                .find("gross shift not applied (the reference's "
                      "matches do not single one out): s6\n"),
            std::string::npos)
      << Rt_Correction_Summary(correction);

  // Without the foreign run nothing is rejected and the summary says nothing.
  study.erase(
      std::remove_if(study.begin(), study.end(), [](const Peak& p) { return p.SAMPLE_ID == 6; }),
      study.end());
  const Rt_Correction plain = Fit_Rt_Correction(study, Params());
  for (const Rt_Sample_Curve& c : plain.samples) EXPECT_FALSE(c.gross_shift_rejected);
  EXPECT_EQ(Rt_Correction_Summary(plain).find("gross shift"), std::string::npos);
  ExpectAligned(study, plain, 2.5);
}

TEST(RtCorrectionTest, StretchWithoutAnchorsIsInterpolatedAndCurvesAreMonotone) {
  // Sample 1 drifts linearly but holds no compound between 500 and 900 s.
  const List study =
      RandomStudy(29, [](std::uint32_t s, double t) { return s == 1 ? 0.03 * t : 0.0; });
  List gapped;
  for (const Peak& p : study) {
    if (p.SAMPLE_ID != 1 || p.Compound_Retention_Time < 500.0 ||
        p.Compound_Retention_Time > 900.0) {
      gapped.push_back(p);
    }
  }
  const Rt_Correction c = Fit_Rt_Correction(gapped, Params());
  const double left = c.Shift(1, 490.0), right = c.Shift(1, 930.0);
  for (double t = 500.0; t <= 920.0; t += 20.0) {
    const double f = (t - 490.0) / 440.0;
    EXPECT_NEAR(c.Shift(1, t), left + f * (right - left), 1.5) << t;
  }
  for (const Rt_Sample_Curve& curve : c.samples) {
    for (std::size_t i = 1; i < curve.rt.size(); ++i) {
      EXPECT_GE(curve.rt[i] + curve.shift[i], curve.rt[i - 1] + curve.shift[i - 1]);
    }
  }
}

TEST(RtCorrectionTest, GridPointsWithoutANearbyAnchorLieOnTheLineAcrossTheirGap) {
  // Sample 1 wanders by +-20 s and holds no compound between 650 and 850 s.
  // With wide local fits the whole gap lies within a fit's reach, and a fit
  // would carry the wander's curvature into it: a grid point farther than
  // one grid step from every anchor point must lie on the straight line
  // between the nearest grid points that have one, and those must not go
  // beyond their anchors.
  const auto drift = [](std::uint32_t s, double t) {
    return s == 1 ? 20.0 * std::sin(2.0 * 3.14159265 * t / 500.0) : 0.0;
  };
  List gapped;
  for (const Peak& p : RandomStudy(37, drift)) {
    const double t = p.Compound_Retention_Time;
    if (p.SAMPLE_ID != 1 || t < 650.0 || t > 850.0) gapped.push_back(p);
  }
  Rt_Correction_Params params = Params();
  params.span = 0.4;
  const Rt_Correction correction = Fit_Rt_Correction(gapped, params);
  const Rt_Sample_Curve& c = correction.samples[1];
  ASSERT_TRUE(c.corrected);
  const double step = c.rt[1] - c.rt[0];
  // Grid points with an anchor point within a step: within the shifts those
  // anchor points ask for (no overshoot beside the gap).
  std::vector<std::size_t> near;
  for (std::size_t g = 0; g < c.rt.size(); ++g) {
    double low = 1e300, high = -1e300;
    for (std::size_t i = 0; i < c.anchor_rt.size(); ++i) {
      if (std::fabs(c.anchor_rt[i] - c.rt[g]) <= step) {
        low = std::min(low, c.anchor_shift[i]);
        high = std::max(high, c.anchor_shift[i]);
      }
    }
    if (low > high) continue;
    near.push_back(g);
    EXPECT_GE(c.shift[g], low - 1e-9) << c.rt[g];
    EXPECT_LE(c.shift[g], high + 1e-9) << c.rt[g];
  }
  std::size_t in_gap = 0;
  for (std::size_t n = 1; n < near.size(); ++n) {
    const std::size_t a = near[n - 1], b = near[n];
    for (std::size_t g = a + 1; g < b; ++g, ++in_gap) {
      const double f = (c.rt[g] - c.rt[a]) / (c.rt[b] - c.rt[a]);
      EXPECT_NEAR(c.shift[g], c.shift[a] + f * (c.shift[b] - c.shift[a]), 1e-9) << c.rt[g];
    }
  }
  EXPECT_GE(in_gap, 10u);
}

TEST(RtCorrectionTest, TwentyPercentWrongAnchorsDoNotMoveTheCurve) {
  const auto drift = [](std::uint32_t s, double t) { return s == 2 ? 15.0 + 0.02 * t : 0.0; };
  List study = RandomStudy(31, drift);
  // One compound in five of sample 2 sits 12-40 s later than its drift
  // puts it: still inside the anchor window, so they become anchor members.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> off(12.0, 40.0);
  for (Peak& p : study) {
    if (p.SAMPLE_ID == 2 && rng() % 5 == 0) p.Compound_Retention_Time += off(rng);
  }
  const Rt_Correction c = Fit_Rt_Correction(study, Params());
  for (double t = 200.0; t <= 1250.0; t += 50.0) {
    const double raw = t + drift(2, t);
    EXPECT_NEAR(c.Shift(2, raw) - c.Shift(0, t), -drift(2, t), 1.0) << t;
  }
}

TEST(RtCorrectionTest, ClusterOfCoElutingAnchorsCountsOnce) {
  const auto drift = [](std::uint32_t s, double t) { return s == 2 ? 15.0 + 0.02 * t : 0.0; };
  List study = RandomStudy(41, drift);
  // Fifteen compounds elute as one peak at 900 s (the ions of one peak): in
  // sample 2 all of them 12 s off the drift, more of them than the fit's
  // neighbours there.
  std::uint32_t tag = 100000;
  for (std::uint32_t c = 0; c < 15; ++c) {
    for (std::uint32_t s = 0; s < 6; ++s) {
      Peak p = MakePeak(++tag, s, 1500.0 + 7.0 * c, 900.0 + drift(s, 900.0) + (s == 2 ? 12.0 : 0.0),
                        5000.0);
      p.Compound_ID = 1000 + c;
      study.push_back(p);
    }
  }
  const Rt_Correction c = Fit_Rt_Correction(study, Params());
  for (double t : {880.0, 900.0, 920.0}) {
    EXPECT_NEAR(c.Shift(2, t + drift(2, t)) - c.Shift(0, t), -drift(2, t), 1.0) << t;
  }
}

TEST(RtAnchorTest, RivalsThatCoEluteOrAreNoCandidatesDoNotHideAnAnchor) {
  // Per sample: X (500 Da, 300 s) and Y (700 Da, 500 s); samples 0 and 1
  // hold a weaker X' 1 s after X (one peak), sample 2 a faint Y' 5 s after Y.
  std::vector<Compound_Unit> units;
  for (std::uint32_t s = 0; s < 4; ++s) {
    units.push_back({s, 500.0, 300.0 + s, 1000.0});
    units.push_back({s, 700.0, 500.0 + s, 900.0});
    if (s < 2) units.push_back({s, 500.001, 301.0 + s, 500.0});
    if (s == 2) units.push_back({s, 700.0, 505.0 + s, 10.0});
  }
  Rt_Anchor_Rule rule;
  rule.mass_tol = {Mass_Tolerance::Unit::kDa, 0.01};
  rule.candidates_per_sample = 3;  // Y' is a candidate: Y has a rival
  std::vector<Rt_Anchor> anchors = Find_Rt_Anchors(units, rule);
  ASSERT_EQ(anchors.size(), 1u);
  ASSERT_EQ(anchors[0].members.size(), 4u);
  EXPECT_EQ(anchors[0].members[1].rt, 301.0);  // the more intense of the pair
  EXPECT_EQ(units[anchors[0].members[1].unit].intensity, 1000.0);
  rule.candidates_per_sample = 2;  // only X and Y count
  anchors = Find_Rt_Anchors(units, rule);
  ASSERT_EQ(anchors.size(), 2u);
  EXPECT_EQ(anchors[1].reference_mass, 700.0);
  // Equal intensities: the lower Compound_ID first; NaN last.
  EXPECT_TRUE(Anchor_Candidate_Before(5.0, 1, 5.0, 2));
  EXPECT_TRUE(Anchor_Candidate_Before(1.0, 9, std::nan(""), 1));
}

TEST(ToleranceEstimateTest, CorrectedWindowsHoldHeavyTails) {
  // One compound in ten of each sample strays 5-25 s beyond a 0.5 s scatter.
  std::mt19937_64 rng(37);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  List study = RandomStudy(41, [](std::uint32_t s, double t) { return 4.0 * s + 0.01 * t; });
  for (Peak& p : study) {
    if (unit(rng) < 0.1)
      p.Compound_Retention_Time += (unit(rng) < 0.5 ? -1 : 1) * (5.0 + 20.0 * unit(rng));
  }
  const Tolerance_Estimate e = Estimate_Tolerances(study, Tolerance_Estimate_Params{});
  ASSERT_TRUE(e.ok);
  // A normal fitted to the core alone would give windows of a few seconds.
  EXPECT_GT(e.fast_window_corrected, 2.0 * 2.576 * std::sqrt(2.0) * e.rt_sd_after * 2.0);
  // After the correction most strays lie within half the window of their
  // compound's centre (the median corrected time): a window from the core
  // alone would hold only the nine members in ten that do not stray.
  const Rt_Correction c = Fit_Rt_Correction(study, Params());
  std::vector<std::vector<double>> times(401);
  for (const Peak& p : study) {
    times[p.Group_ID].push_back(p.Compound_Retention_Time +
                                c.Shift(p.SAMPLE_ID, p.Compound_Retention_Time));
  }
  std::size_t members = 0, held = 0;
  for (auto& t : times) {
    if (t.empty()) continue;
    std::sort(t.begin(), t.end());
    const double centre = t[t.size() / 2];
    for (double x : t) {
      ++members;
      held += std::fabs(x - centre) <= e.fast_window_corrected / 2.0;
    }
  }
  EXPECT_GT(static_cast<double>(held) / members, 0.95);
  EXPECT_LT(e.fast_window_corrected, 80.0);
}

}  // namespace
