// The QC correction of one feature, its choice per batch, the normalisation
// and the filters, on designs made by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/signal_correction.h"
#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

// The methods as texts: two equal literals need not share an address.
std::vector<std::string> Texts(const std::vector<const char*>& names) {
  return {names.begin(), names.end()};
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Injection {
  char role;  // 'Q' QC, 'S' study, 'B' blank, 'C' conditioning QC
  std::size_t batch;
  double order;
  std::string group = "A";
};

Signal_Design Design(const std::vector<Injection>& injections) {
  Signal_Design d;
  d.has_order = true;
  for (const Injection& in : injections) {
    Signal_Sample s;
    s.role = in.role == 'S'   ? Sample_Role::kStudy
             : in.role == 'B' ? Sample_Role::kBlank
                              : Sample_Role::kQc;
    s.conditioning = in.role == 'C';
    s.batch = in.batch;
    s.order = in.order;
    s.group = in.role == 'S' ? in.group : "QC";
    d.samples.push_back(s);
    while (d.batch_names.size() <= in.batch) {
      d.batch_names.push_back(std::to_string(d.batch_names.size() + 1));
    }
  }
  return d;
}

Signal_Options Method(Signal_Method method) {
  Signal_Options o;
  o.method = method;
  return o;
}

// Two batches of five QCs and five study samples, alternating; batch 2 reads
// twice as high.
std::vector<Injection> Two_Batches() {
  std::vector<Injection> in;
  for (std::size_t b = 0; b < 2; ++b) {
    for (int k = 0; k < 10; ++k) in.push_back({k % 2 ? 'S' : 'Q', b, b * 10.0 + k + 1});
  }
  return in;
}

TEST(SignalCorrectionTest, MedianPutsEachBatchOnTheOverallQcMedian) {
  Signal_Correction c(Design(Two_Batches()), Method(Signal_Method::kQcMedian));
  c.Prepare();
  std::vector<double> v;
  for (int b = 0; b < 2; ++b) {
    for (int k = 0; k < 10; ++k) v.push_back((b ? 200.0 : 100.0) * (k % 2 ? 1.5 : 1.0));
  }
  v[3] = kNaN;  // a missing study value stays missing
  v[5] = 0.0;   // and a zero stays zero
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(v, factors);
  // Overall QC median: the midpoint of the logs of 100 and 200.
  const double target = std::sqrt(100.0 * 200.0);
  EXPECT_NEAR(v[0], target, 1e-9);
  EXPECT_NEAR(v[10], target, 1e-9);
  EXPECT_NEAR(v[1], 1.5 * target, 1e-9);
  EXPECT_NEAR(v[11], 1.5 * target, 1e-9);
  EXPECT_TRUE(std::isnan(v[3]));
  EXPECT_EQ(v[5], 0.0);
  EXPECT_NEAR(factors[11], target / 200.0, 1e-12);
  EXPECT_EQ(Texts(f.methods), (std::vector<std::string>{"median", "median"}));
  EXPECT_EQ(f.qc_values, 10u);
  EXPECT_EQ(f.flagged_cells, 0u);
  EXPECT_NEAR(f.qc_rsd_after, 0.0, 1e-9);
  EXPECT_GT(f.qc_rsd_before, 30.0);
}

TEST(SignalCorrectionTest, BatchWithOneQcValueIsKeptAndFlagged) {
  Signal_Correction c(Design(Two_Batches()), Method(Signal_Method::kQcMedian));
  c.Prepare();
  std::vector<double> v(20, 100.0);
  for (int k = 12; k < 20; k += 2) v[k] = kNaN;  // batch 2 keeps one QC value
  for (int k = 11; k < 20; k += 2) v[k] = 400.0;
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(v, factors);
  EXPECT_EQ(Texts(f.methods), (std::vector<std::string>{"median", "uncorrected"}));
  EXPECT_EQ(f.flagged_cells, 1u);
  EXPECT_EQ(v[10], 100.0);
  EXPECT_EQ(v[11], 400.0);
  EXPECT_TRUE(std::isnan(v[12]));
}

TEST(SignalCorrectionTest, CurveFollowsADriftAndIsFlatOutsideTheQcs) {
  // One batch: QCs at orders 2..10 drifting linearly in log, study samples
  // between them, one before the first and one after the last QC.
  std::vector<Injection> in = {{'S', 0, 1}};
  for (int k = 2; k <= 10; ++k) in.push_back({k % 2 ? 'S' : 'Q', 0, double(k)});
  in.push_back({'S', 0, 12});
  Signal_Correction c(Design(in), Method(Signal_Method::kQcCurve));
  c.Prepare();
  auto level = [](double order) { return std::exp(std::log(1000.0) - 0.05 * order); };
  std::vector<double> v;
  for (const Injection& i : in) v.push_back(level(i.order));
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(v, factors);
  EXPECT_EQ(Texts(f.methods), (std::vector<std::string>{"curve"}));
  const double target = level(6);  // the median QC
  for (std::size_t i = 1; i + 1 < in.size(); ++i) EXPECT_NEAR(v[i], target, 1e-6 * target);
  // Outside the QCs the curve is flat at its ends: no extrapolation.
  EXPECT_NEAR(v.front(), level(1) * target / level(2), 1e-6 * target);
  EXPECT_NEAR(v.back(), level(12) * target / level(10), 1e-6 * target);
  // Held out, the first and last QCs meet the flat ends: only they miss.
  EXPECT_LT(f.qc_rsd_after, f.qc_rsd_before);
}

TEST(SignalCorrectionTest, CurveNeedsAnOrderAndFallsBackBelowFourQcs) {
  std::vector<Injection> in;
  for (int k = 0; k < 6; ++k) in.push_back({k % 2 ? 'S' : 'Q', 0, double(k)});
  Signal_Correction c(Design(in), Method(Signal_Method::kQcCurve));
  c.Prepare();
  std::vector<double> v = {100, 1, 200, 1, 400, 1};
  std::vector<double> factors;
  EXPECT_EQ(Texts(c.Correct(v, factors).methods), (std::vector<std::string>{"median"}));
  EXPECT_NEAR(v[0], 200.0 * 100 / 200, 1e-9);
}

TEST(SignalCorrectionTest, ConditioningQcsAreNotFitted) {
  std::vector<Injection> in = {{'C', 0, 1}, {'C', 0, 2}};
  for (int k = 3; k < 9; ++k) in.push_back({k % 2 ? 'Q' : 'S', 0, double(k)});
  Signal_Correction c(Design(in), Method(Signal_Method::kQcMedian));
  c.Prepare();
  std::vector<double> v = {5000, 5000, 100, 100, 100, 100, 100, 100};
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(v, factors);
  EXPECT_EQ(f.qc_values, 3u);
  EXPECT_NEAR(v[3], 100.0, 1e-9);   // the level is that of the fitted QCs
  EXPECT_NEAR(v[0], 5000.0, 1e-9);  // a conditioning QC is corrected like the rest
}

// Features of a batch whose QCs drift strongly and smoothly, and of a batch
// whose QCs only scatter: auto takes the curve for the first only.
TEST(SignalCorrectionTest, AutoChoosesTheCurveOnlyWhereItWinsOnHeldOutQcs) {
  std::vector<Injection> in;
  for (std::size_t b = 0; b < 2; ++b) {
    for (int k = 0; k < 20; ++k) in.push_back({k % 2 ? 'S' : 'Q', b, b * 100.0 + k});
  }
  Signal_Correction c(Design(in), Method(Signal_Method::kAuto));
  ASSERT_TRUE(c.Needs_First_Pass());
  std::vector<std::vector<double>> features;
  for (int f = 0; f < 30; ++f) {
    std::vector<double> v;
    for (std::size_t i = 0; i < in.size(); ++i) {
      const double wobble = 0.02 * std::sin(1.7 * i + f);  // small, fixed scatter
      const double drift = in[i].batch == 0 ? -0.04 * in[i].order : 0.0;
      v.push_back(std::exp(7 + drift + wobble));
    }
    c.Observe(v);
    features.push_back(v);
  }
  c.Prepare();
  EXPECT_EQ(c.batch_choice(),
            (std::vector<Batch_Fit::Kind>{Batch_Fit::kCurve, Batch_Fit::kMedian}));
  // A clean drift is kept whole.
  EXPECT_EQ(c.batch_shrink()[0], 1.0);
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(features[0], factors);
  EXPECT_EQ(Texts(f.methods), (std::vector<std::string>{"curve", "median"}));
  EXPECT_LT(f.qc_rsd_after, 5.0);
}

// Standard normal draws that are the same on every platform (Box-Muller over
// a fixed linear congruential sequence).
struct Draws {
  std::uint64_t state = 12345;
  double Uniform() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
  }
  double Normal() {
    return std::sqrt(-2 * std::log(Uniform())) * std::cos(2 * 3.141592653589793 * Uniform());
  }
};

// Five QCs a batch, each feature with a drift of its own about as large as
// what the QCs' noise makes of a slope: the curve wins over the median, but
// a fitted slope is half noise, and auto keeps only part of it.
TEST(SignalCorrectionTest, AutoShrinksACurveWhoseSlopeIsHalfNoise) {
  std::vector<Injection> in;
  for (int k = 0; k < 25; ++k) in.push_back({k % 5 ? 'S' : 'Q', 0, double(k + 1)});
  Signal_Correction c(Design(in), Method(Signal_Method::kAuto));
  Draws draws;
  std::vector<std::vector<double>> features;
  for (int f = 0; f < 400; ++f) {
    const double slope = 0.25 * draws.Normal();  // over the batch
    std::vector<double> v;
    for (const Injection& i : in) {
      v.push_back(std::exp(8 + slope * (i.order - 13) / 24 + 0.1 * draws.Normal()));
    }
    c.Observe(v);
    features.push_back(v);
  }
  c.Prepare();
  ASSERT_EQ(c.batch_choice(), (std::vector<Batch_Fit::Kind>{Batch_Fit::kCurve}));
  const double shrink = c.batch_shrink()[0];
  EXPECT_GE(shrink, 0.375);
  EXPECT_LE(shrink, 0.75);
  // The correction follows the shrunk level: centre + shrink * (curve - centre).
  std::vector<double> v = features[7], factors;
  const std::vector<Batch_Fit> fits = c.Fits(v);
  ASSERT_EQ(fits.size(), 1u);
  ASSERT_EQ(fits[0].kind, Batch_Fit::kCurve);
  EXPECT_EQ(fits[0].shrink, shrink);
  c.Correct(v, factors);
  std::vector<double> ys;
  for (std::size_t i = 0; i < in.size(); i += 5) ys.push_back(std::log(features[7][i]));
  std::sort(ys.begin(), ys.end());
  const double target = ys[2];
  Batch_Fit whole = fits[0];
  whole.shrink = 1.0;
  for (std::size_t i : {3u, 12u, 23u}) {
    const double unshrunk = whole.Level(in[i].order);
    const double level = fits[0].centre + shrink * (unshrunk - fits[0].centre);
    EXPECT_NEAR(std::log(v[i]), std::log(features[7][i]) + target - level, 1e-9) << i;
  }
}

// On points on a line the robust weights are all 1: the centre is the mean,
// and a QC held out meets the others' mean plus the kept share of the line.
TEST(SignalCorrectionTest, ShrunkCurveHeldOutPullsTowardTheOthersCentre) {
  const std::vector<double> xs = {1, 2, 3, 4, 5};
  const std::vector<double> ys = {1.0, 1.2, 1.4, 1.6, 1.8};
  std::vector<double> errors, held;
  const Batch_Fit fit = Fit_Batch(Batch_Fit::kCurve, xs, ys, &errors, &held, kLineSpan, 0.5);
  EXPECT_NEAR(fit.centre, 1.4, 1e-12);
  EXPECT_NEAR(fit.Level(5), 1.4 + 0.5 * 0.4, 1e-12);
  EXPECT_NEAR(fit.Level(9), fit.Level(5), 1e-12);  // flat past the last QC
  ASSERT_EQ(held.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    const double others = (7.0 - ys[i]) / 4;
    // The others' line, flat past their first and last.
    const double line = ys[std::clamp<std::size_t>(i, 1, 3)];
    EXPECT_NEAR(held[i], others + 0.5 * (line - others), 1e-9) << i;
    EXPECT_NEAR(errors[i], std::fabs(ys[i] - held[i]), 1e-12);
  }
}

TEST(SignalCorrectionTest, PqnDividesEachSampleByItsDilution) {
  std::vector<Injection> in = {{'Q', 0, 1}, {'S', 0, 2}, {'Q', 0, 3}, {'S', 0, 4}};
  Signal_Options o;
  o.normalize = Signal_Normalization::kPqn;
  Signal_Correction c(Design(in), o);
  std::vector<std::vector<double>> features;
  for (int f = 1; f <= 5; ++f) {
    features.push_back({100.0 * f, 200.0 * f, 100.0 * f, 50.0 * f});
    c.Observe(features.back());
  }
  c.Prepare();
  EXPECT_NEAR(c.dilutions()[1], 2.0, 1e-6);
  EXPECT_NEAR(c.dilutions()[3], 0.5, 1e-6);
  std::vector<double> factors;
  c.Correct(features[2], factors);
  EXPECT_NEAR(features[2][1], 300.0, 1e-3);
  EXPECT_NEAR(features[2][3], 300.0, 1e-3);
}

struct Filter_Case {
  const char* name;
  double Signal_Options::*option;
  double limit;
  const char* dropped;  // nullptr: kept
};

class SignalFilterTest : public ::testing::TestWithParam<Filter_Case> {};

// One batch: QCs 100, 110, 90, 100 (held-out RSD after about 9 %), study
// samples in groups A (3 of 4 present) and B (1 of 4), blanks at 20.
TEST_P(SignalFilterTest, KeepsOrDropsAtTheLimit) {
  std::vector<Injection> in;
  std::vector<double> v;
  const double qcs[] = {100, 110, 90, 100};
  for (int k = 0; k < 4; ++k) {
    in.push_back({'Q', 0, k * 10.0});
    v.push_back(qcs[k]);
  }
  const double study[] = {50, 400, 100, kNaN, kNaN, 200, kNaN, kNaN};
  for (int k = 0; k < 8; ++k) {
    in.push_back({'S', 0, k * 10.0 + 5, k < 4 ? "A" : "B"});
    v.push_back(study[k]);
  }
  in.push_back({'B', 0, 100});
  v.push_back(40);
  Signal_Options o = Method(Signal_Method::kQcMedian);
  o.*GetParam().option = GetParam().limit;
  Signal_Correction c(Design(in), o);
  c.Prepare();
  std::vector<double> factors;
  const Feature_Signal f = c.Correct(v, factors);
  if (GetParam().dropped == nullptr) {
    EXPECT_EQ(f.dropped, nullptr);
  } else {
    ASSERT_NE(f.dropped, nullptr);
    EXPECT_STREQ(f.dropped, GetParam().dropped);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SignalFilterTest,
    ::testing::Values(
        Filter_Case{"QcRsdInside", &Signal_Options::keep_qc_rsd, 20, nullptr},
        Filter_Case{"QcRsdBeyond", &Signal_Options::keep_qc_rsd, 5, "keep-qc-rsd"},
        Filter_Case{"DRatioInside", &Signal_Options::keep_d_ratio, 0.5, nullptr},
        Filter_Case{"DRatioBeyond", &Signal_Options::keep_d_ratio, 0.01, "keep-d-ratio"},
        // 4 of 8 study samples; group A 3 of 4.
        Filter_Case{"PresentAtOneGroup", &Signal_Options::keep_present, 0.75, nullptr},
        Filter_Case{"PresentBeyond", &Signal_Options::keep_present, 0.8, "keep-present"},
        // Study median 150 against a blank of 40: 3.75 times.
        Filter_Case{"BlankRatioAt", &Signal_Options::blank_ratio, 3.75, nullptr},
        Filter_Case{"BlankRatioBeyond", &Signal_Options::blank_ratio, 3.8, "blank-ratio"}),
    [](const ::testing::TestParamInfo<Filter_Case>& info) { return std::string(info.param.name); });

TEST(SignalDesignTest, RolesBatchesAndConditioningFromTheSheet) {
  Sample_Sheet sheet;
  sheet.path = "sheet.csv";
  sheet.rows = {{"S1", "A"}, {"Q1", "qc"}, {"Q2", "QC"}, {"K", "Blank"}, {"Q3", "QC"}};
  sheet.order = {5, 1, 2, 0, 9};
  sheet.batch = {"late", "late", "late", "early", "late"};
  std::vector<Result_Sample> samples;
  for (const auto& [name, group] : sheet.rows) samples.push_back({0, name, name});
  Signal_Options o = Method(Signal_Method::kQcCurve);
  o.conditioning_qcs = 1;
  const Signal_Design d = Make_Signal_Design(samples, sheet, o);
  EXPECT_EQ(d.batch_names, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(d.samples[0].role, Sample_Role::kStudy);
  EXPECT_EQ(d.samples[1].role, Sample_Role::kQc);
  EXPECT_EQ(d.samples[3].role, Sample_Role::kBlank);
  EXPECT_EQ(d.samples[3].batch, 0u);
  EXPECT_TRUE(d.samples[1].conditioning);  // the first QC of its batch
  EXPECT_FALSE(d.samples[2].conditioning);
  EXPECT_FALSE(d.samples[4].conditioning);
}

TEST(SignalDesignTest, RefusesWhatCannotBeCorrected) {
  Sample_Sheet sheet;
  sheet.path = "sheet.csv";
  sheet.rows = {{"S1", "A"}, {"S2", "B"}};
  std::vector<Result_Sample> samples = {{0, "S1", "S1"}, {1, "S2", "S2"}};
  try {
    Make_Signal_Design(samples, sheet, Method(Signal_Method::kQcMedian));
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "sheet.csv: no sample of the group \"QC\" (the pooled QCs; --qc-label names "
              "another group)");
  }
  sheet.rows[1].second = "QC";
  EXPECT_THROW(Make_Signal_Design(samples, sheet, Method(Signal_Method::kQcCurve)),
               std::runtime_error);  // no order column
  Signal_Options blanks_only;
  blanks_only.blank_ratio = 2;
  sheet.rows[1].second = "B";
  EXPECT_NO_THROW(Make_Signal_Design(samples, sheet, blanks_only));
}

}  // namespace
