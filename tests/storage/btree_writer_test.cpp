#include "storage/sqlite/btree_writer.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"
#include "storage/sqlite/number_text.h"
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

// A fresh file with the schema; `reserved` bytes at the end of each page.
// setup: statements run before the schema (pragmas).
void Create(const std::string& path, int page_size, int reserved = 0,
            const std::string& setup = "") {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string pragmas =
      "PRAGMA synchronous=OFF; PRAGMA page_size=" + std::to_string(page_size) + ";" + setup;
  EXPECT_EQ(sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  if (reserved > 0) {
    EXPECT_EQ(sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved), SQLITE_OK);
  }
  EXPECT_EQ(sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

void Encode(const Row& r, Sqlite_Record& record) {
  record.Clear();
  record.Add_Integer(r.a);
  if (std::isnan(r.b)) {
    record.Add_Null();
  } else {
    record.Add_Real(r.b);
  }
  record.Add_Text(r.c);
  record.Add_Integer(r.d);
}

// The rows written as pages; table root 2, index roots 3 and 4.
void Write_Pages(const std::string& path, const std::vector<Row>& rows, bool direct = true) {
  Btree_Writer tree(path, direct);
  Sqlite_Record record;
  std::vector<std::uint64_t> a, d;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    Encode(r, record);
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

// The same pages with the index entries from a sorter of runs of run_rows
// rows; returns how many runs went to its file.
std::size_t Write_Pages_In_Runs(const std::string& path, const std::vector<Row>& rows,
                                std::size_t run_rows) {
  Btree_Writer tree(path);
  Index_Entry_Sorter entries(2, Own_Temporary_Pattern(Split_Path(path).folder), run_rows);
  Sqlite_Record record;
  for (const Row& r : rows) {
    Encode(r, record);
    tree.Append_Row(2, record);
    const std::int32_t values[2] = {r.a, r.d};
    entries.Add_Row(values);
  }
  tree.Finish_Table();
  tree.Write_Index(3, entries.Entries(0));
  tree.Write_Index(4, entries.Entries(1));
  tree.Finish();
  return entries.Spilled_Runs();
}

// The same rows inserted by SQLite.
void Insert(const std::string& path, const std::vector<Row>& rows) {
  CppSQLite3DB db;
  db.open(path.c_str());
  db.execDML("PRAGMA synchronous=OFF; begin;");
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

// The records of a file's trees, read from its bytes with the file format's
// own rules (how much of a payload stays in the cell, overflow chains):
// what SQL cannot see, such as the form a value is stored in.
class Stored_Records {
 public:
  explicit Stored_Records(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    size_ = static_cast<std::size_t>(lseek(fd, 0, SEEK_END));
    void* map = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) throw std::runtime_error("cannot map " + path);
    bytes_ = static_cast<const unsigned char*>(map);
    const unsigned char* h = bytes_;
    page_size_ = U16(h + 16) == 1 ? 65536 : U16(h + 16);
    usable_ = page_size_ - h[20];
    lock_page_ = static_cast<std::uint32_t>((std::uint64_t{1} << 30) / page_size_ + 1);
  }
  Stored_Records(const Stored_Records&) = delete;
  Stored_Records& operator=(const Stored_Records&) = delete;
  ~Stored_Records() { munmap(const_cast<unsigned char*>(bytes_), size_); }
  // Every record of the tree at root in key order, each after its rowid
  // (tables) as "rowid:" and its bytes in hex; false when a page or a chain
  // is broken (or uses the lock page).
  bool Read(std::uint32_t root, std::string& out) {
    out.clear();
    return Walk(root, out, 0);
  }
  // Overflow chains with pages on both sides of the lock page.
  int chains_across_lock_page = 0;

 private:
  static std::uint32_t U16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
  static std::uint32_t U32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  }
  static std::uint64_t Varint(const unsigned char*& p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
      v = (v << 7) | (*p & 0x7f);
      if ((*p++ & 0x80) == 0) return v;
    }
    return (v << 8) | *p++;
  }
  const unsigned char* Page(std::uint32_t n) const {
    if (n == 0 || n == lock_page_ || std::uint64_t{n} * page_size_ > size_) return nullptr;
    return bytes_ + std::uint64_t{n - 1} * page_size_;
  }
  bool Payload(const unsigned char* cell, std::uint64_t size, bool index, std::string& out) {
    const std::uint64_t u = usable_;
    const std::uint64_t x = index ? (u - 12) * 64 / 255 - 23 : u - 35;
    const std::uint64_t m = (u - 12) * 32 / 255 - 23;
    const std::uint64_t k = m + (size - m) % (u - 4);
    const std::uint64_t local = size <= x ? size : (k <= x ? k : m);
    std::string record(reinterpret_cast<const char*>(cell), local);
    std::uint32_t next = local < size ? U32(cell + local) : 0;
    bool before = false, after = false;
    while (record.size() < size) {
      const unsigned char* page = Page(next);
      if (page == nullptr) return false;
      (next < lock_page_ ? before : after) = true;
      const std::size_t take = std::min<std::uint64_t>(size - record.size(), u - 4);
      record.append(reinterpret_cast<const char*>(page + 4), take);
      next = U32(page);
    }
    if (before && after) ++chains_across_lock_page;
    static const char* kHex = "0123456789abcdef";
    for (const unsigned char c : record) {
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    out += '\n';
    return next == 0;
  }
  bool Walk(std::uint32_t n, std::string& out, int depth) {
    const unsigned char* page = Page(n);
    if (page == nullptr || depth > 10) return false;
    const unsigned char* h = page + (n == 1 ? 100 : 0);
    const unsigned char type = h[0];
    const bool interior = type == 2 || type == 5;
    const unsigned char* pointers = h + (interior ? 12 : 8);
    for (std::uint32_t i = 0; i < U16(h + 3); ++i) {
      const unsigned char* cell = page + U16(pointers + 2 * i);
      if (interior && !Walk(U32(cell), out, depth + 1)) return false;
      if (interior) cell += 4;
      if (type == 5) continue;  // a table's interior cell holds a key only
      const std::uint64_t size = Varint(cell);
      if (type == 13) out += std::to_string(Varint(cell)) + ":";
      if (!Payload(cell, size, type != 13, out)) return false;
    }
    return !interior || Walk(U32(h + 8), out, depth + 1);
  }

  const unsigned char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::uint32_t page_size_ = 0;
  std::uint32_t usable_ = 0;
  std::uint32_t lock_page_ = 0;
};

// Expects the same records in the same order in every tree of t.
void Expect_Same_Records(const std::string& pages, const std::string& inserts) {
  Stored_Records written(pages);
  Stored_Records inserted(inserts);
  for (const std::string name : {"t", "t_a", "t_d"}) {
    SCOPED_TRACE(name);
    auto root_of = [&name](const std::string& path) {
      CppSQLite3DB db;
      db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
      return static_cast<std::uint32_t>(db.execScalar(
          ("select rootpage from sqlite_master where name = '" + name + "'").c_str()));
    };
    std::string a, b;
    ASSERT_TRUE(written.Read(root_of(pages), a));
    ASSERT_TRUE(inserted.Read(root_of(inserts), b));
    if (a != b) {
      std::size_t line = 0, at = 0;
      while (at < a.size() && at < b.size() && a[at] == b[at]) line += a[at++] == '\n';
      ADD_FAILURE() << "records differ from record " << line << " on";
    }
  }
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
  // Writes rows both ways on pages of page_size (reserved bytes at each
  // page's end); expects the same SQL view and the same stored records.
  void Expect_Same_As_Inserts(const std::vector<Row>& rows, int page_size, int reserved = 0) {
    fs::remove(File("pages.db"));
    fs::remove(File("inserts.db"));
    Create(File("pages.db"), page_size, reserved);
    Create(File("inserts.db"), page_size, reserved);
    try {
      Write_Pages(File("pages.db"), rows);
      Insert(File("inserts.db"), rows);
    } catch (const CppSQLite3Exception& e) {
      FAIL() << e.errorMessage();
    }
    const std::string dump = Dump(File("pages.db"));
    EXPECT_EQ(dump, Dump(File("inserts.db")));
    EXPECT_NE(dump.find("3:ok|"), std::string::npos) << dump.substr(dump.size() - 300);
    Expect_Same_Records(File("pages.db"), File("inserts.db"));
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

// Index entries sorted in runs through a file and merged give the bytes of
// entries sorted at once: 3000 rows on 512-byte pages (indexes of three
// levels), equal keys across runs, in runs of 1, 7 and 1000 rows and of 2999
// (the last run one row), and of 3000 (no file). The file leaves nothing in
// the folder.
TEST_F(BtreeWriterTest, IndexesFromSortedRunsHaveTheBytesOfIndexesSortedAtOnce) {
  const std::vector<Row> rows = Random_Rows(3000, 24, 11);
  Create(File("whole.db"), 512);
  Write_Pages(File("whole.db"), rows);
  const std::string whole = Read_File(File("whole.db"));
  for (const std::size_t run_rows : {1, 7, 1000, 2999, 3000}) {
    SCOPED_TRACE(run_rows);
    fs::remove(File("runs.db"));
    Create(File("runs.db"), 512);
    EXPECT_EQ(Write_Pages_In_Runs(File("runs.db"), rows, run_rows),
              run_rows == rows.size() ? 0 : (rows.size() + run_rows - 1) / run_rows);
    EXPECT_TRUE(Read_File(File("runs.db")) == whole);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
  }
}

// The page at the file's byte 2^30 is SQLite's lock page: no tree and no
// overflow chain may use it. Rows of two overflow pages each, so that
// chains run across it; every record is compared with the record SQLite
// makes of the same values.
TEST_F(BtreeWriterTest, TheLockPageStaysOutOfEveryTree) {
  constexpr std::size_t kKinds = 97;
  std::vector<Row> rows(8000, Row{1, 2.5, std::string(140000, 'x'), 3});
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].a = static_cast<std::int32_t>(i % kKinds);
  // One chain of one page first: the chains that follow then meet the lock
  // page in their middle.
  rows[0].c.resize(70000);
  Create(File("big.db"), 65536);
  Write_Pages(File("big.db"), rows);
  // The reference: the first row, then one row of each kind (rows 97 on
  // hold the kinds 0, 1, ... in order).
  std::vector<Row> kinds = {rows[0]};
  kinds.insert(kinds.end(), rows.begin() + kKinds, rows.begin() + 2 * kKinds);
  Create(File("kinds.db"), 65536);
  Insert(File("kinds.db"), kinds);
  {
    CppSQLite3DB db;
    db.open(File("big.db").c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_GT(db.execScalar("pragma page_count"), (1 << 30) / 65536 + 1);
    EXPECT_STREQ(db.execQuery("pragma integrity_check").fieldValue(0), "ok");
  }
  Stored_Records big(File("big.db"));
  Stored_Records reference(File("kinds.db"));
  std::string written, expected;
  ASSERT_TRUE(big.Read(2, written));
  ASSERT_TRUE(reference.Read(2, expected));
  EXPECT_GE(big.chains_across_lock_page, 1);
  // "rowid:record" lines: row i > 0 holds the record of kind i % kKinds.
  std::vector<std::string> kind_records;
  for (std::size_t at = 0; at < expected.size();) {
    const std::size_t end = expected.find('\n', at);
    const std::size_t colon = expected.find(':', at);
    kind_records.push_back(expected.substr(colon + 1, end - colon - 1));
    at = end + 1;
  }
  ASSERT_EQ(kind_records.size(), kKinds + 1);
  std::size_t row = 0, differ = 0;
  for (std::size_t at = 0; at < written.size(); ++row) {
    const std::size_t end = written.find('\n', at);
    const std::size_t colon = written.find(':', at);
    if (written.compare(colon + 1, end - colon - 1,
                        kind_records[row == 0 ? 0 : 1 + row % kKinds]) != 0) {
      ++differ;
    }
    at = end + 1;
  }
  EXPECT_EQ(row, rows.size());
  EXPECT_EQ(differ, 0u);
}

// A row whose record is exactly `size` bytes: its text sized to fit, and a
// one-byte integer where the text's length alone cannot hit the size.
Row Row_Of_Size(std::size_t size) {
  Sqlite_Record record;
  for (const std::int32_t a : {1, 2}) {
    Row r{a, 2.5, "", 3};
    for (std::size_t n = size > 24 ? size - 24 : 0; n <= size; ++n) {
      r.c.assign(n, static_cast<char>('a' + size % 26));
      Encode(r, record);
      if (record.Size() == size) return r;
    }
  }
  ADD_FAILURE() << "no row of " << size << " bytes";
  return {};
}

// Records at every size where the format changes how it stores a payload,
// on pages of several sizes with and without reserved bytes at their end:
// the largest payload kept whole in its cell (X) and the sizes around it,
// the smallest kept part (M), and the payloads whose kept part K falls on M,
// on X and on X + 1. First a leaf filled exactly full.
TEST_F(BtreeWriterTest, RecordsEqualWhatInsertsMakeAtEveryPayloadThreshold) {
  struct Pages {
    int size;
    int reserved;
  };
  for (const Pages pages : {Pages{65536, 0}, Pages{65536, 255}, Pages{4096, 40}, Pages{1024, 0},
                            Pages{512, 0}, Pages{512, 32}}) {
    SCOPED_TRACE(std::to_string(pages.size) + " reserved " + std::to_string(pages.reserved));
    const std::size_t u = static_cast<std::size_t>(pages.size - pages.reserved);
    const std::size_t x = u - 35;
    const std::size_t m = (u - 12) * 32 / 255 - 23;
    // n cells that fill a leaf: each a 2-byte pointer, the payload's size
    // (a varint of v bytes), a 1-byte rowid and the payload.
    std::size_t n = 2, payload = 0;
    for (; n < 100 && payload == 0; ++n) {
      if ((u - 8) % n != 0) continue;
      for (std::size_t v = 1; v <= 3; ++v) {
        const std::size_t p = (u - 8) / n - 3 - v;
        if ((p < 128 ? 1u : p < 16384 ? 2u : 3u) == v && p > 20 && p <= x) payload = p;
      }
    }
    ASSERT_GT(payload, 0u);
    std::vector<Row> rows(n, Row_Of_Size(payload));
    for (const std::size_t size :
         {x - 2, x - 1, x, x + 1, x + 2, m - 1, m, m + 1, m + (u - 4) - 1, m + (u - 4),
          m + (u - 4) + 1, x + (u - 4), x + 1 + (u - 4), x + 2 + (u - 4), x + 2 * (u - 4)}) {
      rows.push_back(Row_Of_Size(size));
    }
    Expect_Same_As_Inserts(rows, pages.size, pages.reserved);
    CppSQLite3DB db;
    db.open(File("pages.db").c_str(), CppSQLite3OpenMode::kReadOnly);
    EXPECT_EQ(
        db.execScalar("select min(unused) from dbstat where name = 't' and pagetype = 'leaf'", -1),
        0);
  }
}

// Row counts up to trees of three levels on 512-byte pages, every key of an
// index equal (its entries in rowid order).
TEST_F(BtreeWriterTest, RowCountsUpToThreeLevelsEqualWhatInsertsMake) {
  std::vector<Row> all = Random_Rows(2600, 24, 9);
  for (Row& r : all) r.a = 5;
  for (std::size_t n = 0; n <= all.size(); n += n < 60 ? 1 : 97) {
    SCOPED_TRACE(n);
    Expect_Same_As_Inserts({all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)}, 512);
  }
  CppSQLite3DB db;
  db.open(File("pages.db").c_str(), CppSQLite3OpenMode::kReadOnly);
  for (const char* tree : {"t", "t_a", "t_d"}) {
    const std::string deepest =
        "select max(length(path)) from dbstat where name = '" + std::string(tree) + "'";
    EXPECT_GE(db.execScalar(deepest.c_str()), 9) << tree << ": fewer than three levels";
  }
}

// The file goes on living as a database: rows inserted, one updated to a
// larger size with an overflow chain, rows deleted, an index created, the
// file vacuumed; each step gives what it gives on the inserted file.
TEST_F(BtreeWriterTest, EditsAfterWritingWorkAsOnAnInsertedFile) {
  const std::vector<Row> rows = Random_Rows(1500, 300, 10);
  Create(File("pages.db"), 1024);
  Create(File("inserts.db"), 1024);
  Write_Pages(File("pages.db"), rows);
  Insert(File("inserts.db"), rows);
  for (const char* edit :
       {"insert into t select a + 1, b * 2, c || 'x', d - 1 from t where rowid % 7 = 0",
        "update t set c = printf('%.5000c', 'y') where rowid = 700",
        "delete from t where rowid % 5 = 1 or a = 3", "create index t_c on t(c)", "vacuum"}) {
    SCOPED_TRACE(edit);
    for (const char* name : {"pages.db", "inserts.db"}) {
      CppSQLite3DB db;
      db.open(File(name).c_str());
      db.execDML(edit);
    }
    const std::string dump = Dump(File("pages.db"));
    EXPECT_EQ(dump, Dump(File("inserts.db")));
    EXPECT_NE(dump.find("3:ok|"), std::string::npos);
  }
}

// Files the writer cannot fill as they are: each refused with its reason.
TEST_F(BtreeWriterTest, FilesOfOtherFormsAreRefused) {
  struct Case {
    const char* setup;  // run before the schema
    const char* after;  // run after it
    const char* reason;
  };
  const Case cases[] = {
      {"PRAGMA auto_vacuum=FULL;", "", "auto-vacuum"},
      {"PRAGMA encoding='UTF-16le';", "", "UTF-8"},
      {"", "create table junk(x); insert into junk values(zeroblob(9000)); drop table junk;",
       "free pages"},
      {"PRAGMA journal_mode=WAL;", "", "WAL"},
      {"", "", "schema format"},  // the header's format patched to 1 below
      {"", "", "journal"},        // a journal left beside the file
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const std::string path = File("refused" + std::to_string(i++) + ".db");
    Create(path, 4096, 0, c.setup);
    if (*c.after != 0) {
      CppSQLite3DB db;
      db.open(path.c_str());
      db.execDML(c.after);
    }
    if (std::string(c.reason) == "schema format") {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(44);
      file.write("\0\0\0\1", 4);
    }
    if (std::string(c.reason) == "journal") std::ofstream(path + "-journal") << "pages";
    try {
      Btree_Writer tree(path);
      ADD_FAILURE() << "not refused";
    } catch (const CppSQLite3Exception& e) {
      EXPECT_NE(std::string(e.errorMessage()).find(c.reason), std::string::npos)
          << e.errorMessage();
    }
  }
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

}  // namespace
