// The alignment-quality figures on hand-made results: deviations, bins,
// smoothing, the outlier ranking, the stored correction and run record, and
// the refusals of what is not a result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "export/sample_sheet.h"
#include "storage/path.h"
#include "storage/side_tables.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/quality_study.h"
#include "tests/ui/support/viz_study.h"
#include "ui/quality_charts.h"
#include "ui/quality_data.h"
#include "ui/quality_html.h"

using namespace Varnel;
using Varnel::Test::Align_Peak;

namespace {

class QualityFiguresTest : public ::testing::Test {
 protected:
  // One member row: a compound of a sample in group align_id (0: unaligned).
  Align_Peak Member(std::uint32_t sample, std::uint32_t align_id, double rt, double centre,
                    double mass = 500.0, double intensity = 1000.0, std::uint32_t compound = 0) {
    Varnel::Test::Peak_Recipe shape;
    shape.sample_id = sample;
    shape.sample_name.assign(1, 'S').append(std::to_string(sample));
    shape.align_id = align_id;
    shape.compound_id = compound != 0 ? compound : align_id + 100 * (align_id == 0);
    shape.apex_rt = rt;
    shape.align_rt = centre;
    shape.points = 3;
    Align_Peak peak = Varnel::Test::Make_Peak(shape);
    peak.Compound_MolecularMass = mass;
    peak.Compound_Intensity = intensity;
    return peak;
  }
  std::string Write(const std::vector<Align_Peak>& peaks) {
    Varnel::Test::Write_Aligned_Result(peaks, folder_.path(), "r.aligndb");
    return Join_Path(folder_.path(), "r.aligndb");
  }
  Quality_Data Load(const std::vector<Align_Peak>& peaks) {
    return Load_Quality_Data(Write(peaks));
  }
  // The error text of loading path, or "" when it loads.
  static std::string Refusal(const std::string& path) {
    try {
      Load_Quality_Data(path);
    } catch (const Quality_Error& e) {
      return e.what();
    }
    return {};
  }

  Temp_Folder folder_;
};

std::vector<double> Before_Of(const Quality_Data& q, std::uint32_t sample) {
  std::vector<double> out;
  for (const Rt_Deviation& d : q.rt_deviations)
    if (d.sample == sample) out.push_back(d.before);
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(QualityFiguresTest, DeviationsAreMembersFromTheirGroupCentre) {
  const Quality_Data q = Load({
      Member(0, 1, 100.0, 100.0, 500.0), Member(1, 1, 102.0, 100.0, 500.0005),
      Member(2, 1, 98.5, 100.0, 499.999), Member(0, 2, 300.0, 301.0, 200.0),
      Member(2, 2, 302.5, 301.0, 200.0), Member(1, 3, 500.0, 500.0),  // one member: no deviation
      Member(1, 0, 50.0, 0.0),                                        // unaligned
  });
  EXPECT_EQ(q.peaks, 7U);
  EXPECT_EQ(q.unaligned_peaks, 1U);
  EXPECT_EQ(q.groups, 3U);
  ASSERT_EQ(q.samples.size(), 3U);
  EXPECT_EQ(Before_Of(q, 0), (std::vector<double>{-1.0, 0.0}));
  EXPECT_EQ(Before_Of(q, 1), (std::vector<double>{2.0}));
  EXPECT_EQ(Before_Of(q, 2), (std::vector<double>{-1.5, 1.5}));
  EXPECT_EQ(q.samples[1].peaks_read, 3U);
  EXPECT_EQ(q.samples[1].peaks_aligned, 2U);
  EXPECT_DOUBLE_EQ(q.samples[0].median_abs_rt, 0.5);
  // Mass: group 1's median is 500; 500.0005 is +1 ppm, 499.999 is -2 ppm.
  EXPECT_NEAR(q.samples[1].median_ppm, 1.0, 1e-3);
  EXPECT_NEAR(q.samples[2].median_ppm, -1.0, 1e-3);  // -2 and 0
  EXPECT_EQ(q.mass_ppm.values, 5U);
  // Samples per group: 3, 2 and 1 samples.
  EXPECT_EQ(q.groups_by_samples, (std::vector<std::size_t>{0, 1, 1, 1}));
  EXPECT_EQ(q.groups_complete, 1U);
  EXPECT_EQ(q.groups_half, 2U);
  EXPECT_EQ(q.groups_single, 1U);
  EXPECT_FALSE(q.has_correction);
  EXPECT_FALSE(q.has_run);
}

TEST_F(QualityFiguresTest, IonsOfOneCompoundCountOnce) {
  Align_Peak ion = Member(0, 1, 101.0, 100.0);
  ion.EIC_ID = 2;
  const Quality_Data q = Load({Member(0, 1, 101.0, 100.0), ion, Member(1, 1, 99.0, 100.0)});
  EXPECT_EQ(q.peaks, 3U);
  EXPECT_EQ(q.members, 2U);
  EXPECT_EQ(q.rt_deviations.size(), 2U);
}

TEST_F(QualityFiguresTest, IntensityCvOfGroupsInAtLeastHalfTheSamples) {
  // Four samples: group 1 in two (half: counted), group 2 in one (not).
  const Quality_Data q =
      Load({Member(0, 1, 100.0, 100.0, 500.0, 100.0), Member(1, 1, 100.0, 100.0, 500.0, 200.0),
            Member(2, 2, 200.0, 200.0), Member(3, 0, 50.0, 0.0)});
  EXPECT_EQ(q.cv_groups, 1U);
  // mean 150, sample standard deviation 70.71: 47.14 %.
  EXPECT_NEAR(q.intensity_cv.median, 100.0 * std::sqrt(5000.0) / 150.0, 1e-9);
}

TEST_F(QualityFiguresTest, TheDriftingSampleRanksFirstAndIsFlagged) {
  Varnel::Test::Quality_Study_Plan plan;
  plan.samples = 12;
  plan.compounds = 200;
  plan.drifting_sample = 7;
  const Quality_Data q = Load_Quality_Data(
      Varnel::Test::Write_Quality_Study(plan, folder_.path(), "d.aligndb", false));
  ASSERT_EQ(q.samples.size(), 12U);
  EXPECT_EQ(q.outlier_order.front(), 7U);
  EXPECT_GE(q.samples[7].outlier_score, kOutlierScore);
  std::size_t flagged = 0;
  for (const Sample_Quality& s : q.samples) flagged += s.outlier_score >= kOutlierScore;
  EXPECT_LE(flagged, 3U);
  // Its smoothed curve climbs with retention time, as the drift does.
  const auto& curve = q.samples[7].curve_before;
  ASSERT_GE(curve.size(), 10U);
  EXPECT_GT(curve.back().y - curve.front().y, 5.0);
}

TEST_F(QualityFiguresTest, StoredCorrectionGivesDeviationsAfterIt) {
  const std::string path = Write({Member(0, 1, 110.0, 100.0), Member(1, 1, 100.0, 100.0)});
  // Sample 0 runs 10 s late up to 200 s and 20 s late from 300 s on.
  Varnel::Test::Add_Rt_Correction(path, {{{200.0, -10.0}, {300.0, -20.0}}, {}});
  Varnel::Test::Add_Run_Record(path, {{"mode", "deep"}, {"mass_tol_ppm", "10"}}, {"a.db", "b.db"});
  const Quality_Data q = Load_Quality_Data(path);
  EXPECT_TRUE(q.has_correction);
  ASSERT_EQ(q.rt_deviations.size(), 2U);
  for (const Rt_Deviation& d : q.rt_deviations) {
    EXPECT_DOUBLE_EQ(d.before, d.sample == 0 ? 10.0 : 0.0);
    EXPECT_DOUBLE_EQ(d.after, 0.0);
  }
  EXPECT_TRUE(q.has_run);
  EXPECT_EQ(q.run_items, (std::vector<std::pair<std::string, std::string>>{
                             {"mode", "deep"}, {"mass_tol_ppm", "10"}}));
  ASSERT_EQ(q.run_inputs.size(), 3U);
  EXPECT_EQ(q.run_inputs[0][3], "File_Name");
  EXPECT_EQ(q.run_inputs[2][3], "b.db");
  // The summary lists the parameters, the charts show before and after.
  bool listed = false;
  for (const Summary_Row& row : Quality_Summary(q))
    listed = listed || (row.label == "Mass tolerance (ppm)" && row.value == "10");
  EXPECT_TRUE(listed);
  const auto charts = Build_Quality_Charts(q);
  EXPECT_EQ(charts[0].id, "rt_deviation_before");
  EXPECT_EQ(charts[1].id, "rt_deviation_after");
  EXPECT_EQ(charts[2].id, "rt_correction");
  EXPECT_TRUE(Quality_Verdict(q).startsWith(
      QString::fromUtf8("median |RT deviation| 5 s \u2192 0 s after correction; ")));
}

// The anchors stored beside the correction: read per sample, the sample
// without anchors in the middle of the gradient named least supported, and
// every anchor drawn in the correction chart (the named samples' as open
// circles in their curve's colour). Without the table nothing of it shows.
TEST_F(QualityFiguresTest, StoredAnchorsNameTheLeastSupportedSampleAndAreDrawn) {
  Varnel::Test::Quality_Study_Plan plan;
  plan.samples = 10;
  plan.compounds = 200;
  plan.correction = true;
  plan.anchors = true;
  const Varnel::Test::Quality_Study study = Varnel::Test::Make_Quality_Study(plan);
  const Quality_Data q = Load_Quality_Data(
      Varnel::Test::Write_Quality_Study(plan, folder_.path(), "anchored.aligndb", false));
  ASSERT_TRUE(q.has_anchors);
  ASSERT_EQ(q.samples.size(), 10U);
  std::size_t stored = 0;
  for (std::uint32_t s = 0; s < 10; ++s) {
    EXPECT_EQ(q.samples[s].anchors.size(), study.anchors[s].size());
    stored += study.anchors[s].size();
  }
  ASSERT_EQ(q.least_supported.size(), 10U);
  const Sample_Quality& sparse = q.samples[q.least_supported[0]];
  EXPECT_EQ(q.least_supported[0], plan.sparse_sample);
  const double range = q.correction_high - q.correction_low;
  EXPECT_GT(sparse.anchor_gap, 0.4 * range);
  EXPECT_LT(sparse.anchor_gap_from, q.correction_low + 0.35 * range);
  EXPECT_GT(sparse.anchor_gap_to, q.correction_low + 0.7 * range);
  EXPECT_LT(q.samples[q.least_supported[1]].anchor_gap, 0.2 * range);
  EXPECT_EQ(q.weakly_supported, 1U);
  bool named = false;
  for (const Summary_Row& row : Quality_Summary(q))
    named = named || (row.label == "Least supported corrections" &&
                      row.value.startsWith(QString::fromStdString(sparse.name)));
  EXPECT_TRUE(named);

  const auto charts = Build_Quality_Charts(q);
  const auto chart = std::find_if(charts.begin(), charts.end(),
                                  [](const Quality_Chart& c) { return c.id == "rt_correction"; });
  ASSERT_NE(chart, charts.end());
  std::size_t drawn = 0, circled = 0, dashed = 0;
  bool sparse_named = false;
  for (const Quality_Series& series : chart->series) {
    if (series.kind == Quality_Series_Kind::kScatter) drawn += series.key.size();
    if (series.marker == Quality_Marker::kCircle) ++circled;
    if (series.dashed) ++dashed;
    sparse_named =
        sparse_named || series.name.startsWith(QString::fromStdString(sparse.name + ": "));
  }
  EXPECT_EQ(drawn, stored);
  EXPECT_TRUE(sparse_named);
  // Five largest corrections and the sparse sample, unless it is one of them.
  EXPECT_EQ(circled, static_cast<std::size_t>(kNamedCorrections) + dashed);
  EXPECT_LE(dashed, 1U);

  plan.anchors = false;
  const Quality_Data without = Load_Quality_Data(
      Varnel::Test::Write_Quality_Study(plan, folder_.path(), "curves.aligndb", false));
  EXPECT_FALSE(without.has_anchors);
  EXPECT_TRUE(without.least_supported.empty());
  for (const Quality_Chart& c : Build_Quality_Charts(without))
    for (const Quality_Series& series : c.series)
      EXPECT_NE(series.marker, Quality_Marker::kCircle) << c.id.toStdString();
}

// Four samples, S0 and S1 the QC group, S2 and S3 the study, in injection
// order 1 to 4. Log10 intensities of the groups held by all four:
//   S0 1 2 3   S1 2 3 4   S2 3 2 1   S3 1 3 2
// so r(S0,S1) = 1, r(S0,S2) = r(S1,S2) = -1, r(S0,S3) = r(S1,S3) = 0.5 and
// r(S2,S3) = -0.5. Group 4 holds S0 (log 2) and S1 (log 3): half the samples,
// so S2 and S3 miss one well-filled group. Group 5 holds S2 alone.
TEST_F(QualityFiguresTest, HandMadeStudyGivesMissingValuesCorrelationsAndQcCvs) {
  const double logs[4][3] = {{1, 2, 3}, {2, 3, 4}, {3, 2, 1}, {1, 3, 2}};
  std::vector<Align_Peak> peaks;
  for (std::uint32_t s = 0; s < 4; ++s)
    for (std::uint32_t g = 0; g < 3; ++g)
      peaks.push_back(Member(s, g + 1, 100.0 * (g + 1), 100.0 * (g + 1), 500.0 + g,
                             std::pow(10.0, logs[s][g])));
  peaks.push_back(Member(0, 4, 400.0, 400.0, 600.0, 100.0));
  peaks.push_back(Member(1, 4, 400.0, 400.0, 600.0, 1000.0));
  peaks.push_back(Member(2, 5, 500.0, 500.0, 700.0, 10.0));
  const std::string path = Write(peaks);
  const std::string sheet_path = Join_Path(folder_.path(), "sheet.csv");
  Write_File(sheet_path, "sample,group,order\nS3,Study,4\nS2,Study,3\nS1,qc,2\nS0,qc,1\n");
  const Sample_Sheet sheet = Read_Sample_Sheet(sheet_path);
  Quality_Options options;
  options.sheet = &sheet;
  const Quality_Data q = Load_Quality_Data(path, options);

  ASSERT_EQ(q.samples.size(), 4U);
  std::vector<std::size_t> missing;
  std::vector<double> correlation, order;
  for (const Sample_Quality& s : q.samples) {
    missing.push_back(s.missing);
    correlation.push_back(s.median_correlation);
    order.push_back(s.order);
  }
  EXPECT_EQ(missing, (std::vector<std::size_t>{0, 0, 1, 1}));
  const std::vector<double> expected_r = {0.5, 0.5, -1.0, 0.5};
  for (int s = 0; s < 4; ++s) EXPECT_NEAR(correlation[s], expected_r[s], 1e-12) << s;
  EXPECT_EQ(order, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(q.group_names, (std::vector<std::string>{"qc", "Study"}));
  EXPECT_TRUE(q.has_qc);
  EXPECT_TRUE(q.has_order);

  // CV of two values a, b: |a - b| / sqrt(2) / ((a + b) / 2). Ratios of 10
  // give 115.708 %; 1000 against 10 gives 138.62 %.
  const double ten = 100.0 * 90.0 / std::sqrt(2.0) / 55.0;
  const double hundred = 100.0 * 990.0 / std::sqrt(2.0) / 505.0;
  ASSERT_EQ(q.cv_qc.size(), 3U);
  ASSERT_EQ(q.cv_study.size(), 3U);
  for (double cv : q.cv_qc) EXPECT_NEAR(cv, ten, 1e-9);
  EXPECT_NEAR(q.cv_study[0], ten, 1e-9);
  EXPECT_NEAR(q.cv_study[1], ten, 1e-9);
  EXPECT_NEAR(q.cv_study[2], hundred, 1e-9);

  // S0's logs 1 2 2 3: quartiles 1.75 and 2.25, whiskers at 1 and 3.
  const Box_Summary& box = q.samples[0].log_intensity;
  EXPECT_NEAR(box.q1, 1.75, 1e-12);
  EXPECT_NEAR(box.median, 2.0, 1e-12);
  EXPECT_NEAR(box.q3, 2.25, 1e-12);
  EXPECT_NEAR(box.low, 1.0, 1e-12);
  EXPECT_NEAR(box.high, 3.0, 1e-12);

  EXPECT_TRUE(q.has_pca);
  EXPECT_GT(q.pc_share[0], q.pc_share[1]);
  EXPECT_LE(q.pc_share[0] + q.pc_share[1], 1.0 + 1e-9);
  // S2 is unlike the others; four groups of five hold at least half.
  EXPECT_EQ(Standing_Out(q), (std::vector<std::uint32_t>{2}));
  // The sheet gives an order and QCs: the QC correction's verdict follows.
  const QString verdict = Quality_Verdict(q);
  EXPECT_TRUE(verdict.startsWith(
      "median |RT deviation| 0 s; 1 sample stands out; 80 % of groups in at least half "
      "of the samples; QC correction"))
      << verdict.toStdString();
  std::vector<QString> ids;
  for (const Quality_Chart& chart : Build_Quality_Charts(q)) ids.push_back(chart.id);
  for (const char* id : {"cv_qc", "injection_trend", "missing_values", "intensity_boxes",
                         "pca_scores", "correlation", "mass_by_mz"})
    EXPECT_NE(std::find(ids.begin(), ids.end(), QString::fromLatin1(id)), ids.end()) << id;
  EXPECT_EQ(std::find(ids.begin(), ids.end(), QStringLiteral("mass_by_sample")), ids.end());
}

TEST_F(QualityFiguresTest, SheetWithoutASampleIsRefusedNamingTheSheet) {
  const std::string path = Write({Member(0, 1, 100.0, 100.0), Member(1, 1, 100.0, 100.0)});
  const std::string sheet_path = Join_Path(folder_.path(), "sheet.csv");
  Write_File(sheet_path, "S0,A\n");
  const Sample_Sheet sheet = Read_Sample_Sheet(sheet_path);
  Quality_Options options;
  options.sheet = &sheet;
  try {
    Load_Quality_Data(path, options);
    FAIL() << "loaded";
  } catch (const Quality_Error& e) {
    EXPECT_EQ(std::string(e.what()), sheet_path + ": no group for sample \"S1\"");
  }
}

TEST_F(QualityFiguresTest, InputsWithoutPeaksAreNamedInTheSummary) {
  const std::string path = Write({Member(0, 1, 100.0, 100.0), Member(1, 1, 100.0, 100.0)});
  // The fixture records 0 peaks read for every input; a.db and b.db have rows.
  Varnel::Test::Add_Run_Record(path, {{"mode", "Fast_Align"}}, {"a.db", "b.db", "c.db"});
  const Quality_Data q = Load_Quality_Data(path);
  EXPECT_EQ(q.empty_inputs, (std::vector<std::string>{"c.db"}));
  bool named = false;
  for (const Summary_Row& row : Quality_Summary(q))
    named = named || (row.label == "Inputs that gave no peaks" && row.value.startsWith("c.db ("));
  EXPECT_TRUE(named);
}

// The samples whose gross shift the correction turned down are named in the
// summary (the report's included) by name and SAMPLE_ID; a result without the
// table says nothing, and a table that cannot be read is an error naming the file.
TEST_F(QualityFiguresTest, GrossShiftNotAppliedIsNamedOnlyWhenStored) {
  const std::string path = Write({Member(0, 1, 100.0, 100.0), Member(1, 1, 100.0, 100.0)});
  const Quality_Data plain = Load_Quality_Data(path);
  EXPECT_TRUE(plain.gross_shift_not_applied.empty());
  for (const Summary_Row& row : Quality_Summary(plain))
    EXPECT_NE(row.label, "Gross shift not applied");

  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
    Write_Gross_Shift_Not_Applied(db, {1, 7});  // 7: a sample without rows
  }
  const Quality_Data q = Load_Quality_Data(path);
  EXPECT_EQ(q.gross_shift_not_applied, (std::vector<std::int64_t>{1, 7}));
  QString said;
  for (const Summary_Row& row : Quality_Summary(q))
    if (row.label == "Gross shift not applied") said = row.value;
  EXPECT_EQ(said, QString("%1 (1), 7 (the reference's matches do not single one out)")
                      .arg(QString::fromStdString(q.samples[1].name)));

  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
    db.execDML("DROP TABLE Align_RT_Gross_Shift");
    db.execDML("CREATE TABLE Align_RT_Gross_Shift (SAMPLE_ID TEXT)");
    db.execDML("INSERT INTO Align_RT_Gross_Shift VALUES ('s3')");
  }
  try {
    Load_Quality_Data(path);
    FAIL() << "loaded";
  } catch (const Quality_Error& e) {
    EXPECT_EQ(std::string(e.what()),
              path +
                  ": cannot read the samples whose gross shift was not applied "
                  "(Align_RT_Gross_Shift): a SAMPLE_ID is not an integer");
  }
}

// The member choice stored with the result is read and said in the summary,
// the report's included; the run record's copy of it gets worded labels.
TEST_F(QualityFiguresTest, StoredMemberChoiceShowsItsSpreads) {
  const std::string path = Write({Member(0, 1, 100.0, 100.0), Member(1, 1, 100.0, 100.0)});
  EXPECT_FALSE(Load_Quality_Data(path).member_choice);  // no table: today's rule, nothing said
  for (const Summary_Row& row : Quality_Summary(Load_Quality_Data(path)))
    EXPECT_NE(row.label, "Member choice");

  Member_Choice_Record choice;
  choice.pick = "scored";
  choice.join_splits = true;
  choice.spread_rt = 2.1;
  choice.spread_mass = 0.00123;
  choice.spread_log_intensity = 0.25;
  choice.spread_groups = 340;
  choice.joins = 12;
  {
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadWrite);
    Write_Member_Choice(db, choice);
  }
  const Quality_Data q = Load_Quality_Data(path);
  ASSERT_TRUE(q.member_choice);
  EXPECT_EQ(*q.member_choice, choice);
  QString said;
  for (const Summary_Row& row : Quality_Summary(q))
    if (row.label == "Member choice") said = row.value;
  EXPECT_EQ(said, QString("scored: spreads 2.1 s, 0.00123 Da, 0.25 log10 intensity, from 340 "
                          "groups; 12 split groups joined"));

  // No group qualified: the summary says the closest-in-time choice stood;
  // a spread in ppm says so; joining alone is named as such.
  choice.spread_groups = 0;
  EXPECT_EQ(Member_Choice_Summary(choice),
            QString("scored, but no group held half of the samples: closest in time kept; 12 "
                    "split groups joined"));
  choice.spread_groups = 5;
  choice.spread_mass_ppm = true;
  choice.spread_mass = 3.5;
  choice.spread_log_intensity = std::numeric_limits<double>::quiet_NaN();
  choice.join_splits = false;
  EXPECT_EQ(Member_Choice_Summary(choice),
            QString("scored: spreads 2.1 s, 3.5 ppm, - log10 intensity, from 5 groups"));
  Member_Choice_Record joined;
  joined.join_splits = true;
  joined.joins = 3;
  EXPECT_EQ(Member_Choice_Summary(joined), QString("closest in time; 3 split groups joined"));
  EXPECT_EQ(Run_Item_Label("spread_rt"), QString("Member choice: RT spread (s)"));
}

TEST(RtCorrectionTest, InterpolatesInsideAndHoldsBeyondTheEnds) {
  const Rt_Correction c{{100.0, 200.0, 400.0}, {1.0, 3.0, -1.0}};
  EXPECT_DOUBLE_EQ(c.Shift(50.0), 1.0);
  EXPECT_DOUBLE_EQ(c.Shift(100.0), 1.0);
  EXPECT_DOUBLE_EQ(c.Shift(150.0), 2.0);
  EXPECT_DOUBLE_EQ(c.Shift(300.0), 1.0);
  EXPECT_DOUBLE_EQ(c.Shift(400.0), -1.0);
  EXPECT_DOUBLE_EQ(c.Shift(1e9), -1.0);
  EXPECT_DOUBLE_EQ(Rt_Correction{}.Shift(5.0), 0.0);
}

TEST(HistogramTest, NiceSteps) {
  const std::pair<double, double> cases[] = {{0.3, 0.5},    {1.0, 1.0},    {1.1, 2.0},
                                             {2.2, 2.5},    {3.0, 5.0},    {7.0, 10.0},
                                             {0.012, 0.02}, {250.0, 250.0}};
  for (const auto& [step, nice] : cases) EXPECT_DOUBLE_EQ(Nice_Step(step), nice) << step;
}

TEST(HistogramTest, SymmetricBinsHaveZeroOnAnEdgeAndCountEveryValue) {
  std::vector<double> values;
  for (int i = -500; i <= 500; ++i) values.push_back(i * 0.01);  // -5 .. 5 ppm
  values.push_back(1e6);                                         // one wild value
  values.push_back(std::numeric_limits<double>::quiet_NaN());
  const Histogram h = Make_Histogram(values, Histogram_Range::kSymmetric);
  EXPECT_EQ(h.values, 1002U);
  EXPECT_GE(h.above, 1U) << "the wild value stays out of the bins";
  EXPECT_LE(h.below + h.above, 1U + h.values / 100) << "no more than the tails";
  EXPECT_LE(h.counts.size(), static_cast<std::size_t>(kMaxHistogramBins + 2));
  EXPECT_GE(h.counts.size(), 10U);
  EXPECT_DOUBLE_EQ(h.width, Nice_Step(h.width));
  const double zero_edge = -h.low / h.width;
  EXPECT_NEAR(zero_edge, std::round(zero_edge), 1e-9);
  std::size_t total = h.below + h.above;
  for (std::size_t c : h.counts) total += c;
  EXPECT_EQ(total, h.values);
  EXPECT_NEAR(h.median, 0.005, 1e-12);
}

TEST(HistogramTest, FromZeroAndDegenerateInputs) {
  const Histogram cv = Make_Histogram({10.0, 20.0, 30.0, 40.0}, Histogram_Range::kFromZero);
  EXPECT_DOUBLE_EQ(cv.low, 0.0);
  const Histogram same = Make_Histogram({3.0, 3.0, 3.0}, Histogram_Range::kQuantiles);
  ASSERT_EQ(same.counts.size(), 1U);
  EXPECT_EQ(same.counts[0], 3U);
  const Histogram none = Make_Histogram({}, Histogram_Range::kSymmetric);
  EXPECT_TRUE(none.counts.empty());
  EXPECT_TRUE(std::isnan(none.median));
}

TEST(SmoothingTest, RunningMedianLeavesSparseStretchesOut) {
  std::vector<double> xs, ys;
  for (int i = 0; i < 50; ++i) {  // dense from 0 to 49, y = 1 with one spike
    xs.push_back(i);
    ys.push_back(i == 20 ? 100.0 : 1.0);
  }
  xs.push_back(100.0);  // a lone point far right
  ys.push_back(7.0);
  const auto curve = Running_Median(xs, ys, 0.0, 100.0, 11, 5.0, 5);
  for (const Curve_Point& p : curve) {
    EXPECT_LT(p.x, 60.0) << "no point where fewer than 5 values lie";
    EXPECT_DOUBLE_EQ(p.y, 1.0) << "the spike does not move a median";
  }
  EXPECT_EQ(curve.size(), 6U);  // x = 0 to 50; at 50 exactly five values (45 to 49)
}

TEST(OutlierTest, RobustScoresSingleOutTheOddValue) {
  const auto scores = Robust_Scores({1.0, 1.1, 0.9, 1.0, 1.05, 6.0});
  EXPECT_GE(scores[5], kOutlierScore);
  for (int i = 0; i < 5; ++i) EXPECT_LT(std::abs(scores[i]), kOutlierScore);
  const auto equal = Robust_Scores({2.0, 2.0, 2.0, 2.5});
  EXPECT_GE(equal[3], kOutlierScore) << "no spread: any difference stands out";
  EXPECT_EQ(Rank_Descending({1.0, std::nan(""), 3.0, 3.0}),
            (std::vector<std::uint32_t>{2, 3, 0, 1}));
}

TEST_F(QualityFiguresTest, WhatIsNotAResultIsRefusedNamingTheFile) {
  const std::string missing = Join_Path(folder_.path(), "missing.aligndb");
  EXPECT_EQ(Refusal(missing).rfind(missing + ": ", 0), 0U) << Refusal(missing);

  const std::string text = Join_Path(folder_.path(), "notes.aligndb");
  Write_File(text, std::string(4096, 'x'));
  EXPECT_EQ(Refusal(text).rfind(text + ": not an aligned result (", 0), 0U) << Refusal(text);

  const std::string other = Join_Path(folder_.path(), "other.aligndb");
  Exec_Sql(other, "create table t(a int);");
  EXPECT_EQ(Refusal(other), other + ": not an aligned result (it has no table Align_Peaklist)");

  const std::string narrow = Join_Path(folder_.path(), "narrow.aligndb");
  Exec_Sql(narrow,
           "create table Align_Peaklist(SAMPLE_ID int, Align_ID int);"
           "insert into Align_Peaklist values(0, 1);");
  EXPECT_NE(Refusal(narrow).find("no such column"), std::string::npos) << Refusal(narrow);

  const std::string empty = Write({});
  EXPECT_EQ(Refusal(empty), empty + ": the result holds no peaks");

  const std::string anchors = Write({Member(0, 1, 110.0, 100.0), Member(1, 1, 100.0, 100.0)});
  Exec_Sql(anchors, "create table Align_RT_Anchor(SAMPLE_ID int, RT real);");
  EXPECT_EQ(Refusal(anchors).rfind(anchors + ": cannot read the correction's anchors", 0), 0U)
      << Refusal(anchors);
}

TEST_F(QualityFiguresTest, NullCellsDoNotBreakTheFigures) {
  const std::string path = Write({Member(0, 1, 100.0, 100.0), Member(1, 1, 101.0, 100.0)});
  Exec_Sql(path,
           "update Align_Peaklist set Compound_Retention_Time = NULL, "
           "Compound_MolecularMass = NULL where SAMPLE_ID = 1;");
  const Quality_Data q = Load_Quality_Data(path);
  EXPECT_EQ(q.rt_deviations.size(), 1U);
  EXPECT_EQ(q.mass_ppm.values, 1U);
  EXPECT_FALSE(Build_Quality_Charts(q).empty());
}

}  // namespace

namespace {

// The drifting study of the support library with its sheet.
class SignalFiguresTest : public QualityFiguresTest {
 protected:
  static constexpr int kInjections = Varnel::Test::kDriftInjections;
  static constexpr int kGroups = Varnel::Test::kDriftGroups;

  Quality_Data Load_Study(const std::string& sheet_text) {
    const std::string path = Varnel::Test::Write_Drifting_Study(folder_.path(), "r.aligndb");
    const std::string sheet_path = Join_Path(folder_.path(), "sheet.csv");
    Write_File(sheet_path, sheet_text);
    sheet_ = Read_Sample_Sheet(sheet_path);
    Quality_Options options;
    options.sheet = &sheet_;
    return Load_Quality_Data(path, options);
  }
  static std::string Sheet(bool order, bool batch, bool qcs = true) {
    return Varnel::Test::Drifting_Study_Sheet(order, batch, qcs);
  }

  Sample_Sheet sheet_;
};

TEST_F(SignalFiguresTest, DriftAndBatchJumpAreCorrectedAndDrawn) {
  const Quality_Data q = Load_Study(Sheet(true, true));
  const Quality_Signal& signal = q.signal;
  ASSERT_TRUE(signal.shown) << signal.why_not;
  ASSERT_EQ(signal.rsd_before.size(), static_cast<std::size_t>(kGroups));
  // Held out, the drift and the jump leave QCs spread by tens of percent;
  // corrected, the noise of a few percent is left.
  EXPECT_GT(signal.median_before, 15.0);
  EXPECT_LT(signal.median_after, 8.0);
  EXPECT_LT(signal.median_after, signal.median_before / 2.0);
  EXPECT_EQ(signal.stable_after, static_cast<std::size_t>(kGroups));
  EXPECT_EQ(signal.batch_borders, (std::vector<double>{12.5}));
  EXPECT_EQ(signal.design.batch_names, (std::vector<std::string>{"b1", "b2"}));
  EXPECT_TRUE(signal.design.samples[0].conditioning);
  // Replicate groups A and B: their spread falls too.
  EXPECT_LT(signal.replicate_after, signal.replicate_before);
  ASSERT_EQ(signal.worst.size(), kWorstSignalFeatures);
  EXPECT_GE(signal.worst[0].rsd_after, signal.worst[1].rsd_after);
  EXPECT_GE(signal.worst[0].align_id, 1U);
  EXPECT_EQ(signal.worst[0].fits.size(), 2U);
  ASSERT_TRUE(signal.has_pca);
  // Before, batch 2 sits apart from batch 1 along PC1; after, it does not.
  const auto batch_gap = [&](const std::vector<double>& pc1) {
    double sum[2] = {0, 0};
    for (int s = 0; s < kInjections; ++s) sum[s < 12] += pc1[s];
    return std::abs(sum[0] - sum[1]) / 12.0;
  };
  EXPECT_LT(batch_gap(signal.pc_after[0]), batch_gap(signal.pc_before[0]) / 3.0);

  const QString verdict = Quality_Verdict(q);
  EXPECT_TRUE(verdict.contains("QC correction (auto")) << verdict.toStdString();
  EXPECT_TRUE(verdict.contains("held-out QC RSD median")) << verdict.toStdString();
  EXPECT_TRUE(verdict.contains("replicate RSD median")) << verdict.toStdString();

  std::vector<Quality_Chart> charts = Build_Quality_Charts(q);
  const auto find = [&](const char* id) -> const Quality_Chart* {
    for (const Quality_Chart& c : charts)
      if (c.id == QLatin1String(id)) return &c;
    return nullptr;
  };
  for (const char* id : {"signal_qc_rsd", "signal_pca_before", "signal_pca_after", "signal_worst_1",
                         "signal_worst_2", "signal_worst_3"})
    EXPECT_NE(find(id), nullptr) << id;
  // The worst group's chart: every sample once, the conditioning QC apart,
  // a fit per batch and the border between them.
  const Quality_Chart* worst = find("signal_worst_1");
  ASSERT_NE(worst, nullptr);
  std::size_t points = 0, fits = 0, borders = 0;
  for (const Quality_Series& s : worst->series) {
    if (s.kind == Quality_Series_Kind::kScatter) points += s.key.size();
    if (s.kind == Quality_Series_Kind::kLine && !s.dashed) ++fits;
    if (s.kind == Quality_Series_Kind::kLine && s.dashed) ++borders;
    if (s.name.startsWith("conditioning")) {
      EXPECT_EQ(s.key.size(), 1);
    }
  }
  EXPECT_EQ(points, static_cast<std::size_t>(kInjections));
  EXPECT_EQ(fits, 2U);
  EXPECT_EQ(borders, 1U);
  EXPECT_TRUE(Chart_Shown_In_Pair(*find("signal_pca_before")));
}

TEST_F(SignalFiguresTest, WithoutOrderOrQcsTheCorrectionIsNotDrawnAndSaysWhy) {
  const Quality_Data no_order = Load_Study(Sheet(false, false));
  EXPECT_FALSE(no_order.signal.shown);
  EXPECT_NE(no_order.signal.why_not.find("order"), std::string::npos);
  const Quality_Data no_qc = Load_Study(Sheet(true, true, false));
  EXPECT_FALSE(no_qc.signal.shown);
  EXPECT_NE(no_qc.signal.why_not.find("QC"), std::string::npos);
  for (const Quality_Data* q : {&no_order, &no_qc}) {
    EXPECT_FALSE(Quality_Verdict(*q).contains("QC correction"));
    for (const Quality_Chart& c : Build_Quality_Charts(*q)) EXPECT_FALSE(c.id.startsWith("signal"));
  }
  // No sheet at all: nothing said.
  const Quality_Data plain = Load_Quality_Data(Join_Path(folder_.path(), "r.aligndb"));
  EXPECT_FALSE(plain.signal.shown);
  EXPECT_TRUE(plain.signal.why_not.empty());
}

}  // namespace
