#include "storage/btree_writer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/cppsqlite3.h"
#include "storage/number_text.h"
#include "storage/path.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A row of table t(a int, b double, c text, d int): a and d indexed.
struct Row {
  std::int32_t a;
  double b;  // NaN: NULL
  std::string c;
  std::int32_t d;
};

constexpr const char* kSchema =
    "create table t(a int, b double, c text, d int);"
    "create index t_a on t(a);"
    "create index t_d on t(d);";

void Create(const std::string& path, int page_size) {
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML(("PRAGMA page_size=" + std::to_string(page_size) + ";").c_str());
  db.execDML(kSchema);
}

// The rows written as pages; table root 2, index roots 3 and 4.
void Write_Pages(const std::string& path, const std::vector<Row>& rows, bool direct = true) {
  Btree_Writer tree(path, direct);
  Sqlite_Record record;
  std::vector<std::uint64_t> a, d;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    record.Clear();
    record.Add_Integer(r.a);
    if (std::isnan(r.b)) {
      record.Add_Null();
    } else {
      record.Add_Real(r.b);
    }
    record.Add_Text(r.c);
    record.Add_Integer(r.d);
    tree.Append_Row(2, record);
    a.push_back(Pack_Index_Entry(r.a, static_cast<std::uint32_t>(i + 1)));
    d.push_back(Pack_Index_Entry(r.d, static_cast<std::uint32_t>(i + 1)));
  }
  tree.Finish_Table();
  std::vector<std::uint64_t> scratch;
  Sort_Index_Entries(a, scratch);
  Sort_Index_Entries(d, scratch);
  tree.Write_Index(3, a);
  tree.Write_Index(4, d);
  tree.Finish();
}

// The same rows inserted by SQLite.
void Insert(const std::string& path, const std::vector<Row>& rows) {
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML("begin;");
  CppSQLite3Statement insert = db.compileStatement("insert into t values(?1, ?2, ?3, ?4);");
  for (const Row& r : rows) {
    insert.bind(1, r.a);
    if (std::isnan(r.b)) {
      insert.bindNull(2);
    } else {
      insert.bind(2, r.b);
    }
    insert.bind(3, r.c.c_str());
    insert.bind(4, r.d);
    insert.execDML();
    insert.reset();
  }
  insert.finalize();
  db.execDML("commit;");
}

// What SQL sees: each value's type and bits, the rows in rowid order and
// each index's entries in index order; then integrity_check.
std::string Dump(const std::string& path) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  std::string out;
  for (const char* sql : {"select rowid, * from t order by rowid",
                          "select a, rowid from t indexed by t_a order by a, rowid",
                          "select d, rowid from t indexed by t_d where d > -2147483649 order by d",
                          "pragma integrity_check"}) {
    CppSQLite3Statement q = db.compileStatement(sql);
    while (q.step()) {
      for (int c = 0; c < q.numFields(); ++c) {
        out += std::to_string(q.fieldDataType(c)) + ":";
        if (q.fieldDataType(c) == SQLITE_FLOAT) {
          char bits[40];
          std::snprintf(bits, sizeof bits, "%a", q.fieldDouble(c));
          out += bits;
        } else if (q.fieldDataType(c) != SQLITE_NULL) {
          out.append(q.fieldText(c), static_cast<std::size_t>(q.fieldBytes(c)));
        }
        out += "|";
      }
      out += "\n";
    }
  }
  return out;
}

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<Row> Random_Rows(std::size_t n, std::size_t max_text, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::vector<Row> rows;
  const double edges[] = {0.0,
                          -0.0,
                          1.0,
                          -1.0,
                          140737488355327.0,
                          140737488355328.0,
                          -140737488355328.0,
                          -140737488355329.0,
                          9007199254740993.0,
                          1e300,
                          -1e-300,
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::nan("")};
  const std::int32_t ints[] = {0,
                               1,
                               -1,
                               127,
                               128,
                               -128,
                               -129,
                               32767,
                               32768,
                               8388607,
                               8388608,
                               std::numeric_limits<std::int32_t>::max(),
                               std::numeric_limits<std::int32_t>::min()};
  for (std::size_t i = 0; i < n; ++i) {
    Row r;
    r.a = i % 3 == 0 ? ints[rng() % std::size(ints)] : static_cast<std::int32_t>(rng() % 50);
    r.b = i % 4 == 0 ? edges[rng() % std::size(edges)]
                     : std::ldexp(static_cast<double>(rng() % 1000000) - 5e5,
                                  static_cast<int>(rng() % 60) - 30);
    r.c.assign(rng() % (max_text + 1), 'a' + static_cast<char>(i % 26));
    r.d = static_cast<std::int32_t>(rng());
    rows.push_back(r);
  }
  return rows;
}

class BtreeWriterTest : public ::testing::Test {
 public:
  std::string File(const std::string& name) const { return Join_Path(dir_.path(), name); }
  // Writes rows both ways on pages of page_size; expects the same SQL view.
  void Expect_Same_As_Inserts(const std::vector<Row>& rows, int page_size) {
    fs::remove(File("pages.db"));
    fs::remove(File("inserts.db"));
    Create(File("pages.db"), page_size);
    Create(File("inserts.db"), page_size);
    try {
      Write_Pages(File("pages.db"), rows);
      Insert(File("inserts.db"), rows);
    } catch (const CppSQLite3Exception& e) {
      FAIL() << e.errorMessage();
    }
    const std::string dump = Dump(File("pages.db"));
    EXPECT_EQ(dump, Dump(File("inserts.db")));
    EXPECT_NE(dump.find("3:ok|"), std::string::npos) << dump.substr(dump.size() - 300);
  }
  TempDir dir_;
};

// Small pages give trees of several levels, overflow chains (texts up to
// 3000 bytes on 512-byte pages) and every kind of value at its limits.
TEST_F(BtreeWriterTest, TreesEqualWhatInsertsMake) {
  Expect_Same_As_Inserts(Random_Rows(3000, 3000, 1), 512);
  Expect_Same_As_Inserts(Random_Rows(3000, 40, 2), 1024);
  Expect_Same_As_Inserts(Random_Rows(500, 200000, 3), 65536);
}

// Every row count up to a few pages: one leaf as the root, the entry that
// would be left as a separator with nothing after it, the interior page
// that would get only a right child.
TEST_F(BtreeWriterTest, EveryRowCountGivesAValidTree) {
  const std::vector<Row> all = Random_Rows(400, 20, 4);
  for (std::size_t n = 0; n <= all.size(); n += n < 150 ? 1 : 7) {
    SCOPED_TRACE(n);
    const std::vector<Row> rows(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string path = File("n" + std::to_string(n) + ".db");
    Create(path, 512);
    Write_Pages(path, rows);
    CppSQLite3DB db;
    db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_STREQ(db.execQuery("pragma integrity_check").fieldValue(0), "ok");
    EXPECT_EQ(db.execScalar("select count(*) from t indexed by t_d where d > -2147483649"),
              static_cast<int>(n));
  }
}

TEST_F(BtreeWriterTest, DirectAndBufferedWritesGiveTheSameBytes) {
  const std::vector<Row> rows = Random_Rows(2000, 5000, 5);
  for (const char* name : {"direct.db", "buffered.db"}) {
    Create(File(name), 4096);
    Write_Pages(File(name), rows, std::string(name) == "direct.db");
  }
  EXPECT_TRUE(Read_File(File("direct.db")) == Read_File(File("buffered.db")));
}

// The page at the file's byte 2^30 is SQLite's lock page: no tree may use it.
TEST_F(BtreeWriterTest, TheLockPageStaysOutOfEveryTree) {
  std::vector<Row> rows(16500, Row{1, 2.5, std::string(64000, 'x'), 3});
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].a = static_cast<std::int32_t>(i % 97);
  Create(File("big.db"), 65536);
  Write_Pages(File("big.db"), rows);
  CppSQLite3DB db;
  db.open(File("big.db").c_str(), CppSQLite3OpenMode::kReadOnly);
  EXPECT_GT(db.execScalar("pragma page_count"), (1 << 30) / 65536 + 1);
  EXPECT_STREQ(db.execQuery("pragma integrity_check").fieldValue(0), "ok");
}

// Values of every size and sign, each with its rows in order.
TEST(SortIndexEntriesTest, GivesIndexOrder) {
  std::mt19937_64 rng(8);
  for (const std::size_t n : {0, 1, 2, 1000, 100000}) {
    std::vector<std::uint64_t> entries;
    for (std::size_t r = 1; r <= n; ++r) {
      const auto value = static_cast<std::int32_t>(r % 3 == 0 ? rng() : rng() % 7);
      entries.push_back(Pack_Index_Entry(value, static_cast<std::uint32_t>(r)));
    }
    std::vector<std::uint64_t> expected = entries;
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint64_t> scratch;
    Sort_Index_Entries(entries, scratch);
    EXPECT_EQ(entries, expected);
  }
}

TEST_F(BtreeWriterTest, FilesItCannotFillAreRefused) {
  std::ofstream(File("text.db")) << std::string(4096, 'x');
  EXPECT_THROW(Btree_Writer tree(File("text.db")), CppSQLite3Exception);
  EXPECT_THROW(Btree_Writer tree(File("missing.db")), CppSQLite3Exception);
  Create(File("full.db"), 4096);
  Insert(File("full.db"), Random_Rows(3, 10, 6));
  Btree_Writer tree(File("full.db"));
  Sqlite_Record record;
  record.Add_Integer(1);
  try {
    tree.Append_Row(2, record);
    ADD_FAILURE() << "a table with rows was filled";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_NE(std::string(e.errorMessage()).find("not empty"), std::string::npos);
  }
}

// The conversion of a "%f" text follows the library to the last bit, and
// with the libraries whose conversion it knows, without asking them.
TEST(SqliteDecimalRealTest, EqualsTheLibrarysConversion) {
  if (sqlite3_libversion_number() < 3043000) {
    EXPECT_TRUE(Sqlite_Decimal_Real_Is_Own());
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* cast = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select cast(?1 as real)", -1, &cast, nullptr), SQLITE_OK);
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"0.000000",
                                    "-0.000000",
                                    "1.000000",
                                    "-1.5",
                                    "0.1",
                                    "9223372036854775807.000000",
                                    "123456789012345678901234.5",
                                    "0.000000000000000000000000000123"};
  const std::size_t kFixedTexts = texts.size();
  std::vector<double> values = {-0.0, 0.0, -1e-9, 1e-7, 0.5e-6, 999999999.9999995, 1e300};
  for (int i = 0; i < 200000; ++i) {
    const double v =
        std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 140) - 90);
    values.push_back(i % 2 ? -v : v);
  }
  char buf[kMaxFixed6Chars];
  for (const double v : values) texts.emplace_back(buf, Write_Sqlite_Fixed6(v, buf));
  int differ = 0;
  std::size_t i = 0;
  for (const std::string& t : texts) {
    sqlite3_bind_text(cast, 1, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(cast), SQLITE_ROW);
    const double library = sqlite3_column_double(cast, 0);
    const double ours = Sqlite_Decimal_Real(t);
    if (std::memcmp(&library, &ours, sizeof ours) != 0 && ++differ < 5) {
      ADD_FAILURE() << t << ": " << library << " against " << ours;
    }
    // From the value itself, where the text was made from one.
    if (i >= kFixedTexts) {
      const double direct = Sqlite_Fixed6_Real(values[i - kFixedTexts]);
      if (std::memcmp(&library, &direct, sizeof direct) != 0 && ++differ < 5) {
        ADD_FAILURE() << t << ": " << library << " against " << direct << " from the value";
      }
    }
    ++i;
    sqlite3_reset(cast);
  }
  sqlite3_finalize(cast);
  sqlite3_close(db);
}

}  // namespace
