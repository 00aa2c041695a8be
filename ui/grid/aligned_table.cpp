#include "ui/grid/aligned_table.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "storage/path.h"
#include "storage/result_columns.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/grid/read_ahead_hints.h"

namespace {

static_assert(kAlignedColumnCount == kShownColumnCount);
static_assert(Column_Of("Align_ID") == kCol_Align_ID && Column_Of("EIC_ID") == kCol_EIC_ID &&
              Column_Of("SAMPLE_ID") == kCol_SAMPLE_ID && Column_Of("Align_RT") == kCol_Align_RT);

// The kind of each grid column, from the column table.
constexpr std::array<Cell_Kind, kAlignedColumnCount> kKinds = [] {
  std::array<Cell_Kind, kAlignedColumnCount> kinds{};
  for (std::size_t c = 0; c < kinds.size(); ++c) {
    switch (kAlignColumns[c].kind) {
      case Column_Kind::kInteger:
        kinds[c] = Cell_Kind::kInteger;
        break;
      case Column_Kind::kText:
        kinds[c] = Cell_Kind::kText;
        break;
      default:
        kinds[c] = Cell_Kind::kReal;
        break;
    }
  }
  return kinds;
}();

constexpr Cell_Kind Kind_Of(int column) { return kKinds[static_cast<std::size_t>(column)]; }

[[noreturn]] void Fail(const std::string& file, std::string_view what) {
  throw Aligned_Table_Error(file + ": " + std::string(what));
}

// Transparent hashing so that interning looks up a string_view without
// building a std::string for every row.
struct Text_Hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The table's row count, to size the columns once; 0 when it cannot be had
// (the load itself then reports what is wrong).
std::size_t Count_Rows(CppSQLite3DB& db) {
  try {
    CppSQLite3Statement count = db.compileStatement("SELECT count(*) FROM Align_Peaklist");
    if (!count.step()) return 0;
    return static_cast<std::size_t>(std::max<long long>(0, count.fieldInt64(0)));
  } catch (const CppSQLite3Exception&) {
    return 0;
  }
}

}  // namespace

const std::string& Aligned_Grid_Select() {
  static const std::string text = [] {
    std::string s = "SELECT ";
    for (int c = 0; c < kAlignedColumnCount; ++c) {
      if (c > 0) s += ",\t";
      s += kAlignColumns[static_cast<std::size_t>(c)].shown_name;
    }
    s += " FROM Align_Peaklist Order by Align_ID";
    return s;
  }();
  return text;
}

// Interns the texts of one text column.
struct Aligned_Table::Loader {
  std::unordered_map<std::string, std::uint32_t, Text_Hash, std::equal_to<>> index;
  std::uint32_t last_id = 0;
  bool has_last = false;

  std::uint32_t Intern(std::string_view text, std::vector<std::string>& pool) {
    if (has_last && pool[last_id] == text) return last_id;
    auto it = index.find(text);
    if (it == index.end()) {
      pool.emplace_back(text);
      it = index.emplace(std::string(text), static_cast<std::uint32_t>(pool.size() - 1)).first;
    }
    last_id = it->second;
    has_last = true;
    return last_id;
  }
};

namespace {

// Tables of this many rows and more are read in two halves side by side.
constexpr std::size_t kHalvesFrom = 200000;

// The grid select restricted to one side of a split value of Align_ID, through
// the Align_ID index: the first side holds NULL and the numbers below the
// value, the second the rest. The two, one after the other, are the whole
// select in its order (the index orders ties by rowid either way).
std::string Half_Select(bool first) {
  std::string s = Aligned_Grid_Select();
  const std::string from = " FROM Align_Peaklist ";
  const std::size_t at = s.find(from);
  s.insert(at + from.size(),
           first ? "INDEXED BY Align_Peaklist_Align_ID_index WHERE Align_ID IS NULL OR "
                   "Align_ID < ?1 "
                 : "INDEXED BY Align_Peaklist_Align_ID_index WHERE Align_ID >= ?1 ");
  return s;
}

// Opens file read-only for a scan of the grid. The connection waits for
// another program's write lock as every connection of the storage layer does.
// No memory map: the scan reads every page once, and mapped pages of a result
// of many GB would stay resident in the viewer (a hint only, so its result
// does not matter).
void Open_For_Scan(CppSQLite3DB& db, const std::string& file) {
  db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
  try {
    db.execDML("PRAGMA mmap_size=0;");
  } catch (const CppSQLite3Exception&) {
  }
}

// The Align_ID in the middle of the index's order, or false when there is
// none to split at (no such index, no integer there).
bool Middle_Align_Id(CppSQLite3DB& db, std::size_t rows, long long& middle) {
  try {
    CppSQLite3Statement q = db.compileStatement(
        "SELECT Align_ID FROM Align_Peaklist INDEXED BY Align_Peaklist_Align_ID_index "
        "WHERE Align_ID IS NOT NULL ORDER BY Align_ID LIMIT 1 OFFSET ?1");
    q.bindInt64(1, static_cast<long long>(rows / 2));
    if (!q.step() || q.fieldDataType(0) != SQLITE_INTEGER) return false;
    middle = q.fieldInt64(0);
    return true;
  } catch (const CppSQLite3Exception&) {
    return false;
  }
}

}  // namespace

Aligned_Table Aligned_Table::Load(std::string_view Path, std::string_view FileName) {
  const std::string file = Join_Path(Path, FileName);
  try {
    // Both connections a load in halves uses are opened first, one right
    // after the other, and only used when the name led to the same file
    // before and after: a result renamed over this one meanwhile (a new run)
    // must not give one half of each.
    struct stat before {};
    const bool named = ::stat(file.c_str(), &before) == 0;
    CppSQLite3DB db;
    Open_For_Scan(db, file);
    CppSQLite3DB second;
    bool same_file = false;
    try {
      Open_For_Scan(second, file);
      struct stat after {};
      same_file = named && ::stat(file.c_str(), &after) == 0 && after.st_dev == before.st_dev &&
                  after.st_ino == before.st_ino;
    } catch (const CppSQLite3Exception&) {
    }
    if (!db.tableExists("Align_Peaklist")) {
      // SQLite would say "no such table": say what the file is instead.
      Fail(file, db.tableExists("Annotate_Peaklist")
                     ? "not an aligned result: it is an annotated peak list (table "
                       "Annotate_Peaklist), an input of an alignment"
                     : "not an aligned result (it has no table Align_Peaklist)");
    }
    const std::size_t expected_rows = Count_Rows(db);
    // Fails for no such column.
    CppSQLite3Statement stmt = db.compileStatement(Aligned_Grid_Select().c_str());
    long long middle = 0;
    if (same_file && expected_rows >= kHalvesFrom && Middle_Align_Id(db, expected_rows, middle)) {
      stmt.finalize();
      return Load_Halves(db, second, file, expected_rows, middle);
    }
    second.close();
    Aligned_Table table;
    table.Fill(stmt, expected_rows, file);
    return table;
  } catch (const CppSQLite3Exception& e) {
    if (e.errorCode() == SQLITE_NOTADB) {
      Fail(file, "not an aligned result (" + std::string(e.errorDetail()) + ")");
    }
    Fail(file, e.errorDetail());
  }
}

// Reads the two halves of the select on the two connections at once
// (decoding the rows is what a load spends its time on) and joins them.
// The rows of a result lie in the file in Align_ID order, the first half in
// about the first half of the file: while the halves are read, the disk is
// asked for each half's next pages ahead of it, which matters when the file
// is not in memory (a result just written past the page cache): reading
// the halves alone waits for the disk a page at a time.
Aligned_Table Aligned_Table::Load_Halves(CppSQLite3DB& db, CppSQLite3DB& other,
                                         const std::string& file, std::size_t expected_rows,
                                         long long middle) {
  struct stat st {};
  const off_t size = ::stat(file.c_str(), &st) == 0 ? st.st_size : 0;
  constexpr off_t kAhead = off_t{256} << 20;
  Read_Ahead_Hints hints(file, {{0, size / 2}, {size / 2, size}}, kAhead);
  const std::size_t half_rows = std::max<std::size_t>(1, expected_rows / 2);
  Aligned_Table second;
  std::exception_ptr second_error;
  std::thread reader([&] {
    try {
      CppSQLite3Statement stmt = other.compileStatement(Half_Select(false).c_str());
      stmt.bindInt64(1, middle);
      second.Fill(stmt, expected_rows / 2, file,
                  [&](std::size_t rows) { hints.Reached(1, rows, half_rows); });
    } catch (...) {
      second_error = std::current_exception();
    }
  });
  Aligned_Table table;
  try {
    CppSQLite3Statement stmt = db.compileStatement(Half_Select(true).c_str());
    stmt.bindInt64(1, middle);
    table.Fill(stmt, expected_rows, file,  // room for both halves
               [&](std::size_t rows) { hints.Reached(0, rows, half_rows); });
  } catch (...) {
    reader.join();
    throw;
  }
  reader.join();
  if (second_error) std::rethrow_exception(second_error);
  table.Append(std::move(second));
  return table;
}

void Aligned_Table::Append(Aligned_Table&& other) {
  const std::size_t n = other.rows_;
  for (auto& v : ints_) v.Reserve(rows_ + n);
  for (auto& v : reals_) v.Reserve(rows_ + n);
  for (auto& v : text_ids_) v.Reserve(rows_ + n);
  for (int c = 0; c < kAlignedColumnCount; ++c) {
    const int slot = slot_[c];
    switch (Kind_Of(c)) {
      case Cell_Kind::kInteger: {
        Packed_Ints<std::int32_t>& to = ints_[slot];
        const Packed_Ints<std::int32_t>& from = other.ints_[slot];
        for (std::size_t i = 0; i < n; ++i) to.Push_Back(from[i]);
        other.ints_[slot] = {};  // given up column by column: less held at once
        break;
      }
      case Cell_Kind::kReal: {
        Packed_Reals& to = reals_[slot];
        const Packed_Reals& from = other.reals_[slot];
        for (std::size_t i = 0; i < n; ++i) to.Push_Back(from[i]);
        other.reals_[slot] = {};
        break;
      }
      default: {
        // The other pool's texts join this one in their order, after those
        // already here, as reading on would have added them.
        std::vector<std::string>& pool = text_pools_[slot];
        std::unordered_map<std::string_view, std::uint32_t> index;
        for (std::uint32_t i = 0; i < pool.size(); ++i) index.emplace(pool[i], i);
        std::vector<std::uint32_t> id_of;
        for (std::string& text : other.text_pools_[slot]) {
          auto it = index.find(text);
          if (it == index.end()) {
            pool.push_back(std::move(text));
            it = index.emplace(pool.back(), static_cast<std::uint32_t>(pool.size() - 1)).first;
          }
          id_of.push_back(it->second);
        }
        Packed_Ints<std::uint32_t>& to = text_ids_[slot];
        const Packed_Ints<std::uint32_t>& from = other.text_ids_[slot];
        const auto& odd = other.odd_[c];
        for (std::size_t i = 0; i < n; ++i) {
          // An odd cell keeps the pool's first text, as when read here.
          const bool is_odd = !odd.empty() && odd.count(static_cast<std::uint32_t>(i)) != 0;
          to.Push_Back(is_odd ? 0 : id_of[from[i]]);
        }
        other.text_ids_[slot] = {};
        if (pool.empty() && n > 0) pool.emplace_back();
        break;
      }
    }
    for (auto& [row, cell] : other.odd_[c]) {
      odd_[c].emplace(static_cast<std::uint32_t>(rows_ + row), std::move(cell));
    }
  }
  rows_ += n;
}

void Aligned_Table::Fill(CppSQLite3Statement& stmt, std::size_t expected_rows,
                         const std::string& file, const std::function<void(std::size_t)>& read) {
  int n_int = 0, n_real = 0, n_text = 0;
  for (int c = 0; c < kAlignedColumnCount; ++c) {
    const char* name = stmt.fieldName(c);
    names_[c] = name != nullptr ? name : kAlignColumns[static_cast<std::size_t>(c)].shown_name;
    switch (Kind_Of(c)) {
      case Cell_Kind::kInteger:
        slot_[c] = n_int++;
        break;
      case Cell_Kind::kReal:
        slot_[c] = n_real++;
        break;
      default:
        slot_[c] = n_text++;
        break;
    }
  }
  ints_.resize(n_int);
  reals_.resize(n_real);
  text_ids_.resize(n_text);
  text_pools_.resize(n_text);
  std::vector<Loader> loaders(n_text);
  for (auto& v : ints_) v.Reserve(expected_rows);
  for (auto& v : reals_) v.Reserve(expected_rows);
  for (auto& v : text_ids_) v.Reserve(expected_rows);

  std::array<CppSQLite3Cell, kAlignedColumnCount> cells;
  std::uint32_t row = 0;
  while (stmt.step()) {
    if (row == std::numeric_limits<std::uint32_t>::max()) Fail(file, "too many rows");
    if (read && row % 4096 == 0) read(row);
    stmt.fieldRow(cells.data(), kAlignedColumnCount);
    for (int c = 0; c < kAlignedColumnCount; ++c) {
      const CppSQLite3Cell& cell = cells[c];
      const int slot = slot_[c];
      bool regular = false;
      switch (Kind_Of(c)) {
        case Cell_Kind::kInteger: {
          std::int32_t value = 0;
          if (cell.type == SQLITE_INTEGER &&
              cell.integer >= std::numeric_limits<std::int32_t>::min() &&
              cell.integer <= std::numeric_limits<std::int32_t>::max()) {
            value = static_cast<std::int32_t>(cell.integer);
            regular = true;
          }
          ints_[slot].Push_Back(value);
          break;
        }
        case Cell_Kind::kReal:
          regular = cell.type == SQLITE_FLOAT;
          reals_[slot].Push_Back(regular ? cell.real : 0.0);
          break;
        default: {
          std::uint32_t id = 0;
          if (cell.type == SQLITE_TEXT) {
            id = loaders[slot].Intern(
                std::string_view(cell.bytes, static_cast<std::size_t>(cell.length)),
                text_pools_[slot]);
            regular = true;
          } else {
            if (text_pools_[slot].empty()) text_pools_[slot].emplace_back();
          }
          text_ids_[slot].Push_Back(id);
          break;
        }
      }
      if (regular) continue;
      Odd_Cell odd;
      switch (cell.type) {
        case SQLITE_NULL:
          odd.kind = Cell_Kind::kNull;
          break;
        case SQLITE_INTEGER:
          odd.kind = Cell_Kind::kInteger;
          odd.integer = cell.integer;
          break;
        case SQLITE_FLOAT:
          odd.kind = Cell_Kind::kReal;
          odd.real = cell.real;
          break;
        default:  // text in a numeric column, or a blob
          odd.kind = Cell_Kind::kText;
          if (cell.bytes != nullptr) {
            odd.text.assign(cell.bytes, static_cast<std::size_t>(cell.length));
          }
          break;
      }
      odd_[c].emplace(row, std::move(odd));
    }
    ++row;
  }
  rows_ = row;
}

Cell_Kind Aligned_Table::Column_Kind(int column) const { return Kind_Of(column); }

Cell_Kind Aligned_Table::Kind(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.kind;
  }
  return Kind_Of(column);
}

std::int64_t Aligned_Table::Integer(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.integer;
  }
  return Kind_Of(column) == Cell_Kind::kInteger ? ints_[slot_[column]][row] : 0;
}

double Aligned_Table::Real(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.real;
  }
  return Kind_Of(column) == Cell_Kind::kReal ? reals_[slot_[column]][row] : 0.0;
}

std::string_view Aligned_Table::Text(std::size_t row, int column) const {
  if (!odd_[column].empty()) {
    auto it = odd_[column].find(static_cast<std::uint32_t>(row));
    if (it != odd_[column].end()) return it->second.text;
  }
  if (Kind_Of(column) != Cell_Kind::kText) return {};
  const int slot = slot_[column];
  return text_pools_[slot][text_ids_[slot][row]];
}

namespace {
int Rank(Cell_Kind kind) {
  switch (kind) {
    case Cell_Kind::kNull:
      return 0;
    case Cell_Kind::kInteger:
    case Cell_Kind::kReal:
      return 1;
    default:
      return 2;
  }
}
template <typename T>
int Three_Way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

int Aligned_Table::Compare(std::size_t a, std::size_t b, int column) const {
  const Cell_Kind ka = Kind(a, column), kb = Kind(b, column);
  const int ra = Rank(ka), rb = Rank(kb);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case 0:
      return 0;
    case 1:
      if (ka == Cell_Kind::kInteger && kb == Cell_Kind::kInteger)
        return Three_Way(Integer(a, column), Integer(b, column));
      return Three_Way(
          ka == Cell_Kind::kInteger ? static_cast<double>(Integer(a, column)) : Real(a, column),
          kb == Cell_Kind::kInteger ? static_cast<double>(Integer(b, column)) : Real(b, column));
    default: {
      const int c = Text(a, column).compare(Text(b, column));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
  }
}

void Packed_Reals::Reserve(std::size_t n) {
  reserve_ = n;
  if (wide_)
    doubles_.reserve(n);
  else
    micros_.reserve(n);
}

void Packed_Reals::Push_Back(double value) {
  if (!wide_) {
    // The micro-unit count, when value is exactly that count / 1e6 (a
    // correctly rounded division, as a correctly rounded parse of a text of
    // six decimals is).
    const double scaled = value * 1e6;
    if (scaled >= 0.0 && scaled < static_cast<double>(kAside) && !std::signbit(value)) {
      const auto micros = static_cast<std::uint32_t>(std::nearbyint(scaled));
      if (micros != kAside && static_cast<double>(micros) / 1e6 == value) {
        micros_.push_back(micros);
        return;
      }
    }
    if (micros_.size() < kAside && aside_.size() < 1024 + micros_.size() / 64) {
      aside_.emplace(static_cast<std::uint32_t>(micros_.size()), value);
      micros_.push_back(kAside);
      return;
    }
    Widen();
  }
  doubles_.push_back(value);
}

void Packed_Reals::Widen() {
  doubles_.reserve(std::max(reserve_, micros_.size() + 1));
  for (std::size_t i = 0; i < micros_.size(); ++i) doubles_.push_back((*this)[i]);
  std::vector<std::uint32_t>().swap(micros_);
  std::unordered_map<std::uint32_t, double>().swap(aside_);
  wide_ = true;
}

const Packed_Ints<std::int32_t>& Aligned_Table::Int_Column(int column) const {
  return ints_[slot_[column]];
}
const Packed_Reals& Aligned_Table::Real_Column(int column) const { return reals_[slot_[column]]; }
const Packed_Ints<std::uint32_t>& Aligned_Table::Text_Ids(int column) const {
  return text_ids_[slot_[column]];
}
const std::vector<std::string>& Aligned_Table::Text_Pool(int column) const {
  return text_pools_[slot_[column]];
}
