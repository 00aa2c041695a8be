// The visualization tab's logic without a display: result table and its
// model, curve building, on databases made by the writer.
#include <gtest/gtest.h>

#include <QBrush>
#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include <sqlite3.h>

#include "storage/aligned_table.h"
#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/viz_study.h"
#include "ui/align_table_model.h"
#include "ui/viz_palette.h"
#include "ui/viz_plot.h"

namespace Varnel {
namespace {

using Test::Align_Peak;
using Test::Make_Peak;
using Test::Peak_Spec;

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

// ---- Result table and grid model ----

class AlignedResultTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<Align_Peak>& peaks, const std::string& name = "r.aligndb") {
    ::Varnel::Test::Write_Aligned_Result(peaks, dir_.path(), name);
    return name;
  }
  void Exec(const std::string& name, const std::string& sql) {
    Exec_Sql(Join_Path(dir_.path(), name), sql);
  }
  Aligned_Table Load(const std::string& name) { return Aligned_Table::Load(dir_.path(), name); }

  Temp_Folder dir_;
};

Peak_Spec Spec(std::uint32_t sample, std::uint32_t eic, std::uint32_t align_id) {
  Peak_Spec s;
  s.sample_id = sample;
  s.sample_name = "S" + std::to_string(sample);
  s.eic_id = eic;
  s.peak_id = eic;
  s.group_id = eic;
  s.compound_id = eic;
  s.align_id = align_id;
  return s;
}

TEST_F(AlignedResultTest, LoadsTheGridColumnsOrderedByAlignId) {
  Peak_Spec a = Spec(1, 10, 3), b = Spec(0, 11, 1), c = Spec(2, 12, 0);
  a.apex_mz = 301.1234567;
  a.sample_name = "Été_1";
  c.adduct = "";
  const std::string name = Write({Make_Peak(a), Make_Peak(b), Make_Peak(c)});
  const Aligned_Table table = Load(name);
  ASSERT_EQ(table.Row_Count(), 3u);
  // The statement says Right_boundary; SQLite reports the table's own name.
  EXPECT_EQ(table.Column_Name(kCol_Right_Boundary), "Right_Boundary");
  EXPECT_EQ(table.Column_Name(kCol_Align_RT), "Align_RT");
  std::vector<std::int64_t> align_ids;
  for (std::size_t r = 0; r < 3; ++r) align_ids.push_back(table.Integer(r, kCol_Align_ID));
  EXPECT_EQ(align_ids, (std::vector<std::int64_t>{0, 1, 3}));
  EXPECT_EQ(table.Integer(2, kCol_EIC_ID), 10);
  EXPECT_DOUBLE_EQ(table.Real(2, kCol_Apex_MZ), 301.123457);
  EXPECT_EQ(table.Text(2, kCol_SAMPLE_NAME), "Été_1");
  EXPECT_EQ(table.Text(0, kCol_Adduct_Annotation), "");
  EXPECT_EQ(table.Kind(0, kCol_Adduct_Annotation), Cell_Kind::kText);
  EXPECT_EQ(Aligned_Grid_Select().substr(0, 17), "SELECT EIC_ID,\tPe");
}

// Every cell of every column, bit for bit, as SQLite reports it.
TEST_F(AlignedResultTest, PackedColumnsKeepEveryValueExactly) {
  // Column by column: values that fit 1 byte / 4-byte micro-units at first,
  // then ones that need 2 and 4 bytes / doubles, then small ones again.
  std::vector<Align_Peak> peaks;
  const double reals[] = {0.0,         1.5,  301.123457, 4294.967294, 4294.967295,
                          4294.967296, 1e-7, -2.25,      12.3456789,  7.0};
  const std::uint32_t ids[] = {1, 127, 128, 40000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 3};
  for (std::uint32_t i = 0; i < 10; ++i) {
    Peak_Spec s = Spec(i, 1 + i, i + 1);
    s.eic_id = ids[i % 8];
    s.apex_mz = reals[i];
    s.apex_rt = reals[9 - i];
    s.height = 1000.0 + i;
    peaks.push_back(Make_Peak(s));
  }
  const std::string name = Write(peaks);
  // A few thousand values off the micro-unit grid in one column.
  Exec(name,
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
       "INSERT INTO Align_Peaklist(EIC_ID, Align_RT, Align_ID, Peak_SNR) "
       "SELECT i, i / 7.0, 100 + i, i * 0.5 FROM n;");
  const Aligned_Table table = Load(name);
  const std::string file = Join_Path(dir_.path(), name);
  CppSQLite3DB db;
  db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement expected = db.compileStatement(Aligned_Grid_Select().c_str());
  std::array<CppSQLite3Cell, kAlignedColumnCount> cells;
  std::size_t r = 0;
  for (; expected.step(); ++r) {
    ASSERT_LT(r, table.Row_Count());
    expected.fieldRow(cells.data(), kAlignedColumnCount);
    for (int c = 0; c < kAlignedColumnCount; ++c) {
      const CppSQLite3Cell& cell = cells[static_cast<std::size_t>(c)];
      SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
      switch (cell.type) {
        case SQLITE_INTEGER:
          ASSERT_EQ(table.Kind(r, c), Cell_Kind::kInteger);
          ASSERT_EQ(table.Integer(r, c), cell.integer);
          break;
        case SQLITE_FLOAT: {
          ASSERT_EQ(table.Kind(r, c), Cell_Kind::kReal);
          const double got = table.Real(r, c);
          ASSERT_EQ(std::memcmp(&cell.real, &got, sizeof got), 0) << got << " != " << cell.real;
          break;
        }
        case SQLITE_TEXT:
          ASSERT_EQ(table.Kind(r, c), Cell_Kind::kText);
          ASSERT_EQ(table.Text(r, c), std::string_view(cell.bytes, cell.length));
          break;
        default:
          ASSERT_EQ(table.Kind(r, c), Cell_Kind::kNull);
      }
    }
  }
  EXPECT_EQ(r, table.Row_Count());
  // Written columns stay narrow; one full of other values does not.
  EXPECT_EQ(table.Int_Column(kCol_Peak_ID).Width(), 1);
  EXPECT_EQ(table.Int_Column(kCol_EIC_ID).Width(), 4);
  EXPECT_EQ(table.Real_Column(kCol_Peak_SNR).Width(), 4);
  EXPECT_EQ(table.Real_Column(kCol_Align_RT).Width(), 8);
}

TEST_F(AlignedResultTest, LargeUnsignedIdsShowAsTheStoredSignedNumbers) {
  Peak_Spec a = Spec(0, 1, 1);
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
  const std::string name = Write({Make_Peak(Spec(0, 1, 1))});
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

// A large table is read in two halves side by side; joined, they are the rows
// and cells SQLite's own select gives, odd cells and ties at the split included.
TEST_F(AlignedResultTest, LargeTablesReadInHalvesGiveEveryCellInOrder) {
  std::vector<Align_Peak> peaks;
  for (std::uint32_t i = 0; i < 240000; ++i) {
    Peak_Spec s = Spec(i % 40, i, (i * 7919u) % 30011u);  // ties, out of order
    s.adduct = i % 3 ? "[M+H]+" : "[M+Na]+";
    peaks.push_back(Make_Peak(s));
  }
  const std::string name = Write(peaks);
  Exec(name,
       "update Align_Peaklist set Align_ID = NULL where rowid % 1000 = 1;"
       "update Align_Peaklist set Align_ID = 'x' where rowid % 1500 = 2;"
       "update Align_Peaklist set SAMPLE_NAME = NULL where rowid % 777 = 3;"
       "update Align_Peaklist set Apex_MZ = 'text', Group_ID = 5000000000 where rowid % 999 = 4;");
  const Aligned_Table table = Load(name);
  CppSQLite3DB db;
  db.open(Join_Path(dir_.path(), name).c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement q = db.compileStatement(Aligned_Grid_Select().c_str());
  std::size_t row = 0, differ = 0;
  for (; q.step(); ++row) {
    for (int c = 0; c < kAlignedColumnCount && row < table.Row_Count(); ++c) {
      bool same = false;
      switch (q.fieldDataType(c)) {
        case SQLITE_INTEGER:
          same =
              table.Kind(row, c) == Cell_Kind::kInteger && table.Integer(row, c) == q.fieldInt64(c);
          break;
        case SQLITE_FLOAT:
          same = table.Kind(row, c) == Cell_Kind::kReal && table.Real(row, c) == q.fieldDouble(c);
          break;
        case SQLITE_TEXT:
          same = table.Kind(row, c) == Cell_Kind::kText && table.Text(row, c) == q.fieldText(c);
          break;
        default:
          same = table.Kind(row, c) == Cell_Kind::kNull;
      }
      if (!same && ++differ < 5) ADD_FAILURE() << "row " << row << " column " << c;
    }
  }
  EXPECT_EQ(row, table.Row_Count());
  EXPECT_EQ(differ, 0u);
}

TEST_F(AlignedResultTest, SortIsStableAndTheHighlightFollowsTheAlignId) {
  // Align_ID 7 in samples 4, 0 and 2; others around it.
  std::vector<Align_Peak> peaks = {Make_Peak(Spec(1, 1, 2)), Make_Peak(Spec(4, 2, 7)),
                                   Make_Peak(Spec(0, 3, 7)), Make_Peak(Spec(3, 4, 9)),
                                   Make_Peak(Spec(2, 5, 7))};
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
      Write({Make_Peak(Spec(2, 1, 1)), Make_Peak(Spec(0, 2, 2)), Make_Peak(Spec(1, 3, 3))});
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
  Peak_Spec own = Spec(1, 20, 0);
  own.group_id = 5;
  own.compound_id = 0;
  Peak_Spec same_group = Spec(1, 21, 4);
  same_group.group_id = 5;
  same_group.compound_id = 8;
  Peak_Spec other = Spec(0, 20, 4);
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
