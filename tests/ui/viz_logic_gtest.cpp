// The visualization tab's logic without a display: the grid's model of a
// result table, curve building, on databases made by the writer.
#include <gtest/gtest.h>

#include <QBrush>
#include <QCoreApplication>
#include <algorithm>
#include <set>

#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/grid_result_test.h"
#include "tests/ui/support/viz_study.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/viz_palette.h"
#include "ui/viz_plot.h"

namespace Varnel {
namespace {

using Test::Align_Peak;
using Test::Make_Peak;
using Test::Peak_Recipe;

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

// ---- Result table and grid model ----

using AlignedResultTest = Test::Grid_Result_Test;

TEST_F(AlignedResultTest, LargeUnsignedIdsShowAsTheStoredSignedNumbers) {
  Peak_Recipe a = Recipe(0, 1, 1);
  a.eic_id = 0x80000000u;
  a.group_id = 0xFFFFFFFFu;
  const std::string name = Write({Make_Peak(a)});
  Align_Table_Model model;
  model.Set_Table(Load(name));
  EXPECT_EQ(model.Text_Cell(0, kCol_EIC_ID), "-2147483648");
  EXPECT_EQ(model.Int_Cell(0, kCol_Group_ID), -1);
}

// Files that cannot be loaded: ViewerBadInputTest.

TEST_F(AlignedResultTest, OddCellsKeepTheValueSqliteReported) {
  const std::string name = Write({Make_Peak(Recipe(0, 1, 1))});
  Exec(name,
       "insert into Align_Peaklist(EIC_ID, Peak_ID, Apex_MZ, Group_ID, SAMPLE_NAME, Align_ID) "
       "values(NULL, 'abc', 7, 5000000000, NULL, 2);");
  Align_Table_Model model;
  model.Set_Table(Load(name));
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.Text_Cell(1, kCol_EIC_ID), "");
  EXPECT_FALSE(model.Int_Cell(1, kCol_EIC_ID).has_value());
  EXPECT_EQ(model.Text_Cell(1, kCol_Peak_ID), "abc");
  EXPECT_EQ(model.Text_Cell(1, kCol_Apex_MZ), "7");
  EXPECT_EQ(model.Text_Cell(1, kCol_Group_ID), "5000000000");
  EXPECT_FALSE(model.Int_Cell(1, kCol_Group_ID).has_value());
  EXPECT_EQ(model.Text_Cell(1, kCol_SAMPLE_NAME), "");
  EXPECT_EQ(model.Int_Cell(1, kCol_Align_ID), 2);
  // Sorting puts NULL first, then numbers, then texts.
  model.sort(kCol_EIC_ID);
  EXPECT_EQ(model.Text_Cell(0, kCol_EIC_ID), "");
  model.sort(kCol_Peak_ID);
  EXPECT_EQ(model.Text_Cell(1, kCol_Peak_ID), "abc");
}

TEST_F(AlignedResultTest, SortIsStableAndTheHighlightFollowsTheAlignId) {
  // Align_ID 7 in samples 4, 0 and 2; others around it.
  std::vector<Align_Peak> peaks = {Make_Peak(Recipe(1, 1, 2)), Make_Peak(Recipe(4, 2, 7)),
                                   Make_Peak(Recipe(0, 3, 7)), Make_Peak(Recipe(3, 4, 9)),
                                   Make_Peak(Recipe(2, 5, 7))};
  const std::string name = Write(peaks);
  Align_Table_Model model;
  model.Set_Table(Load(name));
  int changed = 0;
  QObject::connect(&model, &QAbstractItemModel::dataChanged, [&changed] { ++changed; });
  model.Set_Highlight(7);
  EXPECT_EQ(changed, 1);
  auto highlighted_samples = [&] {
    std::multiset<int> samples;
    for (int r = 0; r < model.rowCount(); ++r) {
      const QVariant bg = model.data(model.index(r, 3), Qt::BackgroundRole);
      if (bg.value<QBrush>().color() == kHighlightColor) {
        samples.insert(*model.Int_Cell(r, kCol_SAMPLE_ID));
        EXPECT_EQ(model.data(model.index(r, 0), Qt::ForegroundRole).value<QBrush>().color(),
                  QColor(Qt::black));
      }
    }
    return samples;
  };
  EXPECT_EQ(highlighted_samples(), (std::multiset<int>{0, 2, 4}));
  model.sort(kCol_SAMPLE_ID, Qt::DescendingOrder);
  EXPECT_EQ(*model.Int_Cell(0, kCol_SAMPLE_ID), 4);
  EXPECT_EQ(highlighted_samples(), (std::multiset<int>{0, 2, 4}));
  // Stable: equal Align_IDs keep the previous (descending sample) order.
  model.sort(kCol_Align_ID);
  std::vector<int> samples_of_7;
  for (int r = 0; r < model.rowCount(); ++r)
    if (*model.Int_Cell(r, kCol_Align_ID) == 7)
      samples_of_7.push_back(*model.Int_Cell(r, kCol_SAMPLE_ID));
  EXPECT_EQ(samples_of_7, (std::vector<int>{4, 2, 0}));
  model.sort(kCol_SAMPLE_NAME);
  EXPECT_EQ(model.Text_Cell(0, kCol_SAMPLE_NAME), "S0");
  model.Set_Highlight(std::nullopt);
  EXPECT_TRUE(highlighted_samples().empty());
}

TEST_F(AlignedResultTest, SelectionFollowsItsRowThroughASort) {
  const std::string name =
      Write({Make_Peak(Recipe(2, 1, 1)), Make_Peak(Recipe(0, 2, 2)), Make_Peak(Recipe(1, 3, 3))});
  Align_Table_Model model;
  model.Set_Table(Load(name));
  QPersistentModelIndex kept(model.index(0, 5));  // sample 2
  model.sort(kCol_SAMPLE_ID);
  EXPECT_EQ(kept.row(), 2);
  EXPECT_EQ(kept.column(), 5);
  EXPECT_EQ(*model.Int_Cell(kept.row(), kCol_SAMPLE_ID), 2);
}

// ---- Redraw lists from the database ----

TEST_F(AlignedResultTest, RedrawListsFollowTheRowAndThePlotMode) {
  Peak_Recipe own = Recipe(1, 20, 0);
  own.group_id = 5;
  own.compound_id = 0;
  Peak_Recipe same_group = Recipe(1, 21, 4);
  same_group.group_id = 5;
  same_group.compound_id = 8;
  Peak_Recipe other = Recipe(0, 20, 4);
  other.group_id = 5;
  other.compound_id = 8;
  const std::string name = Write({Make_Peak(own), Make_Peak(other), Make_Peak(same_group)});

  Row_Keys keys{20, 20, 5, 0, 1, 0, "S1", "0"};
  Redraw_Lists lists = Query_Redraw_Lists(dir_.path(), name, keys, Detail_Mode::kCompound);
  ASSERT_EQ(lists.aligned.size(), 1u);  // Align_ID 0: the peak alone
  EXPECT_EQ(lists.aligned[0].EIC_ID, 20u);
  ASSERT_EQ(lists.detail.size(), 1u);  // Compound_ID 0: the peak alone
  EXPECT_EQ(lists.detail[0].SAMPLE_ID, 1u);

  lists = Query_Redraw_Lists(dir_.path(), name, keys, Detail_Mode::kGroup);
  EXPECT_EQ(lists.detail.size(), 2u);  // both peaks of group 5 in sample 1

  Row_Keys aligned{21, 21, 5, 8, 1, 4, "S1", "4"};
  lists = Query_Redraw_Lists(dir_.path(), name, aligned, Detail_Mode::kCompound);
  ASSERT_EQ(lists.aligned.size(), 2u);
  EXPECT_EQ(lists.aligned[0].SAMPLE_ID, 0u);  // sorted by sample
  EXPECT_EQ(lists.aligned[1].SAMPLE_ID, 1u);
  ASSERT_EQ(lists.detail.size(), 1u);
  EXPECT_EQ(lists.detail[0].EIC_ID, 21u);
}

// ---- Curves ----

Align_Peak Shape_Peak(std::uint32_t sample, std::vector<double> intensities, double rt0 = 10.0) {
  Align_Peak peak;
  peak.SAMPLE_ID = sample;
  peak.SAMPLE_NAME = "S" + std::to_string(sample);
  for (std::size_t i = 0; i < intensities.size(); ++i)
    peak.Peak_shape.push_back(
        {static_cast<std::uint32_t>(100 + i), rt0 + i, 200.0, intensities[i]});
  return peak;
}

// Samples 2, 2 and 5: three curves, two legend entries, the palette's
// colours by sample: VizWindowTest.dataRowClickShowsTheChartsAndDraws.

TEST(CurveTest, XFollowsTheAxisModeAndOnlyTheUpperChartIsCorrected) {
  Align_Peak peak = Shape_Peak(0, {1, 2}, 50.0);
  peak.Align_RT = 47.5;
  peak.Compound_Retention_Time = 50.5;
  peak.Apex_MZ = 301.123457;
  const Peak_List list = {peak};
  EXPECT_EQ(Build_Aligned_Chart(list, "1", X_Axis::kRT_Original, Y_Scale::kStandard).curves[0].x,
            (QList<double>{50.0, 51.0}));
  const Chart_Content corrected =
      Build_Aligned_Chart(list, "1", X_Axis::kRT_Corrected, Y_Scale::kStandard);
  EXPECT_EQ(corrected.curves[0].x, (QList<double>{47.0, 48.0}));
  EXPECT_EQ(corrected.x_title, "Retention Time (seconds)");
  Plot_Options options{X_Axis::kRT_Corrected, Y_Scale::kStandard, Detail_Mode::kPeak};
  const Chart_Content lower = Build_Detail_Chart(list, "S0", options);
  EXPECT_EQ(lower.curves[0].x, (QList<double>{50.0, 51.0}));
  EXPECT_EQ(lower.title, "Peak Plot for Sample: S0");
  // A peak whose compound time equals its aligned time is drawn where it was.
  peak.Compound_Retention_Time = peak.Align_RT;
  EXPECT_EQ(Build_Aligned_Chart({peak}, "1", X_Axis::kRT_Corrected, Y_Scale::kStandard).curves[0].x,
            (QList<double>{50.0, 51.0}));
}

TEST(CurveTest, NormalizedRaisesEveryPeakToTheTallestAndLeavesFlatPeaks) {
  const Peak_List list = {Shape_Peak(0, {1, 4, 2}), Shape_Peak(1, {10, 20, 5}),
                          Shape_Peak(2, {0, 0}), Shape_Peak(3, {})};
  const Chart_Content raw = Build_Aligned_Chart(list, "1", X_Axis::kScan, Y_Scale::kStandard);
  EXPECT_EQ(raw.curves[0].y, (QList<double>{1, 4, 2}));
  const Chart_Content norm = Build_Aligned_Chart(list, "1", X_Axis::kScan, Y_Scale::kNormalized);
  EXPECT_EQ(norm.curves[0].y, (QList<double>{5, 20, 10}));
  EXPECT_EQ(norm.curves[1].y, (QList<double>{10, 20, 5}));
  EXPECT_EQ(norm.curves[2].y, (QList<double>{0, 0}));  // height 0: drawn unscaled
  EXPECT_TRUE(norm.curves[3].y.isEmpty());
  const Chart_Content lower =
      Build_Detail_Chart(list, "S", {X_Axis::kScan, Y_Scale::kNormalized, Detail_Mode::kGroup});
  EXPECT_EQ(*std::max_element(lower.curves[0].y.begin(), lower.curves[0].y.end()), 20.0);
  EXPECT_DOUBLE_EQ(List_Height(list), 20.0);
}

TEST(CurveTest, EmptyAlignmentDrawsNothingButKeepsTheTitle) {
  const Chart_Content chart = Build_Aligned_Chart({}, "12", X_Axis::kScan, Y_Scale::kNormalized);
  EXPECT_TRUE(chart.curves.empty());
  EXPECT_EQ(chart.title, "Aligned Plot  for Align_ID: 12");
}

TEST(CurveTest, HugeSampleIdsNeverBuildAHugePalette) {
  const Peak_List list = {Shape_Peak(0, {1}), Shape_Peak(0xFFFFFFFFu, {2})};
  const Chart_Content chart = Build_Aligned_Chart(list, "1", X_Axis::kScan, Y_Scale::kStandard);
  ASSERT_EQ(chart.curves.size(), 2u);
  EXPECT_TRUE(chart.curves[1].color.isValid());
}

TEST(CurveTest, DetailLabelsAreMzAndAdductUnderCompoundPlot) {
  QLocale::setDefault(QLocale::c());
  Align_Peak a = Shape_Peak(3, {1});
  a.Apex_MZ = 301.123457;
  a.Adduct_Annotation = "[M+Na]+";
  Align_Peak b = Shape_Peak(3, {1});
  b.Apex_MZ = 1234.5;
  const Peak_List list = {a, b};
  Chart_Content peak = Build_Detail_Chart({a}, "S3", {});
  ASSERT_EQ(peak.curves.size(), 1u);
  EXPECT_EQ(peak.curves[0].label, "301.123457");
  EXPECT_EQ(peak.curves[0].color, Rgb(0, 0, 255));
  Chart_Content compound =
      Build_Detail_Chart(list, "S3", {X_Axis::kScan, Y_Scale::kStandard, Detail_Mode::kCompound});
  EXPECT_EQ(compound.title, "Compound Plot for Sample: S3");
  EXPECT_EQ(compound.curves[0].label, "301.123457 [M+Na]+");
  EXPECT_EQ(compound.curves[1].label, "1234.5 ");
  EXPECT_EQ(compound.curves[1].color, Rgb(0, 255, 255));
  QLocale::setDefault(QLocale(QLocale::German));
  EXPECT_EQ(Format_General(1234.5), "1234,5");
  EXPECT_EQ(Format_General(0.1 + 0.2), "0,3");
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(Format_General(123456789012345678.0), "1.23456789012346e+17");
}

// The radio rule (every change redraws exactly once) is checked on the real
// buttons, whose signals fire in Qt's own order: VizWindowTest.

}  // namespace
}  // namespace Varnel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // models and locales want an application
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
