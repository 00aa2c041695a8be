// Indexes built from kept values must be the indexes CREATE INDEX builds.
#include "storage/sorted_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "storage/cppsqlite3.h"
#include "temp_dir.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

const std::vector<Integer_Index> kIndexes = {{"T_a_index", "T", "a", "int"},
                                             {"T_b_index", "T", "b", "int"},
                                             {"T_c_index", "T", "c", "integer"}};

// Rows (a, b, c): a unsorted with ties and both limits, b ascending, c
// descending with ties.
std::vector<std::vector<std::int32_t>> Rows(std::size_t n) {
  std::mt19937 rng(7);
  std::vector<std::vector<std::int32_t>> rows;
  for (std::size_t r = 0; r < n; ++r) {
    std::int32_t a = static_cast<std::int32_t>(rng() % 41) - 20;
    if (r % 97 == 3) a = kMin;
    if (r % 89 == 5) a = kMax;
    rows.push_back({a, static_cast<std::int32_t>(r), -static_cast<std::int32_t>(r / 3)});
  }
  return rows;
}

// Writes T(a, b, c, pad) with the rows, its indexes either built by the
// builder or by CREATE INDEX, then a table after them.
void Write(const std::string& path, const std::vector<std::vector<std::int32_t>>& rows,
           bool sorted_builder) {
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; begin;");
  db.execDML("create table T(a int, b int, c integer, pad blob);");
  std::unique_ptr<Sorted_Index_Builder> builder;
  if (sorted_builder) builder = std::make_unique<Sorted_Index_Builder>(db, kIndexes);
  CppSQLite3Statement insert = db.compileStatement("insert into T values(?1, ?2, ?3, ?4);");
  const std::string pad(3000, 'x');  // rows over several pages
  for (const auto& row : rows) {
    for (int k = 0; k < 3; ++k) insert.bind(k + 1, static_cast<int>(row[k]));
    insert.bind(4, pad.c_str());
    insert.execDML();
    if (builder) builder->Add_Row(row.data());
  }
  insert.finalize();
  if (builder) {
    builder->Finish();
  } else {
    for (const Integer_Index& i : kIndexes) {
      db.execDML(("CREATE INDEX if not exists " + i.name + " ON T(" + i.column + ");").c_str());
    }
  }
  db.execDML("create table After(x int); insert into After values(1); commit;");
}

std::string Query(const std::string& path, const std::string& sql) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Query q = db.execQuery(sql.c_str());
  std::string out;
  for (; !q.eof(); q.nextRow()) {
    for (int c = 0; c < q.numFields(); ++c)
      out += std::string(q.fieldValue(c) ? q.fieldValue(c) : "") + "|";
    out += "\n";
  }
  return out;
}

TEST(SortedIndexTest, EqualsCreateIndexAndPassesTheIntegrityCheck) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{5000}}) {
    TempDir dir;
    const std::string built = dir.path() + "/built.db", reference = dir.path() + "/reference.db";
    const auto rows = Rows(n);
    Write(built, rows, true);
    Write(reference, rows, false);
    EXPECT_EQ(Query(built, "pragma integrity_check"), "ok|\n") << n;
    const std::string schema = "select type, name, tbl_name, sql from sqlite_master order by rowid";
    EXPECT_EQ(Query(built, schema), Query(reference, schema)) << n;
    EXPECT_EQ(Query(built, "pragma freelist_count"), "0|\n");
    for (const Integer_Index& i : kIndexes) {
      // Every entry in index order, read from the index alone.
      const std::string scan = "select " + i.column + ", rowid from T indexed by " + i.name +
                               " where " + i.column + " is not null order by " + i.column;
      EXPECT_EQ(Query(built, scan), Query(reference, scan)) << i.name << " " << n;
    }
    EXPECT_EQ(Query(built, "select count(*) from T indexed by T_a_index where a = -2147483648"),
              Query(reference, "select count(*) from T where a = -2147483648"));
  }
}

}  // namespace
