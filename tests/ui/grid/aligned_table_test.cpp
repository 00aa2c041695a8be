// The grid's load of a result: every cell as SQLite reports it, in the
// select's order, packed narrow where the values allow, read in two halves
// for a large table.
#include "ui/grid/aligned_table.h"

#include <sqlite3.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "tests/support/test_files.h"
#include "tests/ui/support/grid_result_test.h"
#include "tests/ui/support/viz_study.h"

namespace Varnel {
namespace {

using Test::Align_Peak;
using Test::Make_Peak;
using Test::Peak_Recipe;

using AlignedTableTest = Test::Grid_Result_Test;

TEST_F(AlignedTableTest, LoadsTheGridColumnsOrderedByAlignId) {
  Peak_Recipe a = Recipe(1, 10, 3), b = Recipe(0, 11, 1), c = Recipe(2, 12, 0);
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
TEST_F(AlignedTableTest, PackedColumnsKeepEveryValueExactly) {
  // Column by column: values that fit 1 byte / 4-byte micro-units at first,
  // then ones that need 2 and 4 bytes / doubles, then small ones again.
  std::vector<Align_Peak> peaks;
  const double reals[] = {0.0,         1.5,  301.123457, 4294.967294, 4294.967295,
                          4294.967296, 1e-7, -2.25,      12.3456789,  7.0};
  const std::uint32_t ids[] = {1, 127, 128, 40000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 3};
  for (std::uint32_t i = 0; i < 10; ++i) {
    Peak_Recipe s = Recipe(i, 1 + i, i + 1);
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

// A large table is read in two halves side by side; joined, they are the rows
// and cells SQLite's own select gives, odd cells and ties at the split included.
TEST_F(AlignedTableTest, LargeTablesReadInHalvesGiveEveryCellInOrder) {
  std::vector<Align_Peak> peaks;
  for (std::uint32_t i = 0; i < 240000; ++i) {
    Peak_Recipe s = Recipe(i % 40, i, (i * 7919u) % 30011u);  // ties, out of order
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

}  // namespace
}  // namespace Varnel
